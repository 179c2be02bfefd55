// The progress window's interface: areas with texts and weights, a position in thousandths within the current
// area, driven from the window's own thread or from any other. The window itself lives in progress_alert.cpp /
// progress_alert_win.cpp; callers that run without a window (tests, the native build) pass null or their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

}  // namespace rvx
