// The progress window's interface: areas with texts and weights, a position in thousandths within the current
// area, driven from the window's own thread or from any other. The object's logic lives in progress_alert.cpp
// (areas and bar values in progress_model.h), the window in progress_alert_win.cpp; callers that run without a
// window (tests, the native build) pass null or their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crash/core/refobject.h"

namespace rvx {

using ProgressWindowHandle = void*;

class IProgressAlert : public virtual IRefCounted {
 public:
  virtual std::string GetCaptionText() = 0;
  virtual void SetCaptionText(std::string_view text) = 0;
  virtual int32_t GetBarPosition() = 0;
  virtual void SetBarPosition(int32_t position) = 0;  // 0..1000 within the current area
  virtual void AppendArea(std::string_view text, int64_t weight) = 0;
  virtual void RemoveAllAreas() = 0;
  virtual void FinishArea() = 0;
  virtual int32_t GetActiveArea() = 0;
  virtual void SetActiveArea(int32_t index) = 0;
  virtual void PumpMessages() = 0;
  virtual bool OpenAlert(ProgressWindowHandle parent, bool activate) = 0;
  virtual void CloseAlert() = 0;
};

// Creates the object (not yet shown). The picture is a 32 x 32 bitmap resource of the module (none: no
// picture). Without a desktop (the native build) the window never opens.
Ref<IProgressAlert> CreateProgressAlert(std::string_view title, uintptr_t pictureModule, std::string_view pictureName);

// The window side of a progress window: one per object, opened and closed again as often as asked. The object
// calls it without holding any lock of its own.
class ProgressWindowPort {
 public:
  virtual ~ProgressWindowPort() = default;
  virtual bool IsOpen() = 0;
  // Disables the parent, creates and places the window for the texts of the current and every later area
  // (the first one is shown); false when it could not be created (the parent is enabled again then).
  virtual bool Open(ProgressWindowHandle parent, bool activate, const std::string& title,
                    const std::vector<std::string>& texts) = 0;
  // Whether the calling thread owns the open window.
  virtual bool InOwnThread() = 0;
  virtual void SetCaption(const std::string& title) = 0;
  virtual void SetLabel(const std::string& text) = 0;
  virtual void SendBar(int32_t value) = 0;  // in the owning thread
  virtual void PostBar(int32_t value) = 0;  // from any other thread
  virtual void Pump() = 0;                  // pending messages of the owning thread, never waiting
  // Destroys the window (through the owning thread when called from another one), enables and activates the
  // parent.
  virtual void Close() = 0;
};

// The platform's window side (Win32; natively one that never opens).
std::unique_ptr<ProgressWindowPort> MakeProgressWindowPort(uintptr_t pictureModule, std::string_view pictureName);
// An object over a given window side (tests drive the logic through their own).
Ref<IProgressAlert> CreateProgressAlertOn(std::string_view title, std::unique_ptr<ProgressWindowPort> port);

}  // namespace rvx
