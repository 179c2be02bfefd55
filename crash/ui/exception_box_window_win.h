// The exception box's window object, shared by its creation and message handling
// (exception_box_win.cpp) and its painting (exception_box_paint_win.cpp). Windows only.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <memory>
#include <string>

#include "crash/core/exception_record.h"
#include "crash/ui/exception_box_layout.h"
#include "crash/ui/exception_box_logic.h"
#include "crash/ui/report_view.h"

namespace rvx::box_window {

inline constexpr UINT_PTR kCountdownTimer = 777;
inline constexpr int kButtonIdBase = 100;
inline constexpr int kMaxCaption = 29;

inline COLORREF Face() { return GetSysColor(COLOR_BTNFACE); }
inline COLORREF DarkShadow() { return GetSysColor(COLOR_3DDKSHADOW); }

// The report-changed callback may run in any thread while the box goes away: it reaches the window only
// through this slot, which outlives the box (a few bytes per box).
struct CallbackSlot {
  std::atomic<HWND> window{nullptr};
};

// A picture resource of the module (or of the program) as raw bytes: none when missing or wrongly sized.
struct PictureBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};
PictureBytes FindPicture(HMODULE module, int kind);

class TExceptionBox {
 public:
  TExceptionBox(IRVException* record, BoxForm form) : record_(record), form_(form) {}
  ~TExceptionBox() { Destroy(); }
  TExceptionBox(const TExceptionBox&) = delete;
  TExceptionBox& operator=(const TExceptionBox&) = delete;

  bool Create(bool beep);
  void RunModal();
  bool ReshowRequested() const { return reshow_; }

 private:
  static LRESULT CALLBACK MainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  void Prepare();
  std::string MessageText();
  std::string TitleText();
  void CreateFonts();
  void CreateScratch();
  void CreateChildren(const std::string& message);
  void Show(bool beep);
  void Destroy();

  void DrawItem(const DRAWITEMSTRUCT& item);
  void PaintButton(HWND button, COLORREF text, COLORREF background, int step, bool focus, bool pressed, int bar = -1);
  void Animate(HWND button, COLORREF textA, COLORREF backA, int stepA, COLORREF textC, COLORREF backD, int stepD);
  void PaintNormal(HWND button) { PaintButton(button, RGB(0, 0, 0), Face(), 0x10, false, false); }
  void PaintFocused(HWND button) { PaintButton(button, RGB(255, 255, 255), DarkShadow(), 0, false, false); }
  void PaintBigPicture(const DRAWITEMSTRUCT& item);
  void PaintFooter(HDC dc);
  void Tick();
  void StopCountdown();
  void Click(int kind);
  void CloseRequest();
  void Run(BoxAction action);
  void BeginAction();
  void EndAction();
  void CloseBox();
  void Resized(int width, int height);
  void OnMouseMove(int x, int y);
  bool HighColour() const { return bitsPerPixel_ >= 15; }
  int KindOf(HWND w) const { return static_cast<int>(GetWindowLongPtrA(w, GWLP_USERDATA)); }
  int PictureOf(HWND button) const {
    int kind = KindOf(button);
    return kind == kBoxContinue && continueDisabled_ ? kBoxCantContinue : kind;
  }

  IRVException* record_;
  BoxForm form_;
  bool expanded_ = false;
  BoxSettings settings_;
  BoxLayout layout_;
  HMODULE module_ = nullptr;

  HDC scratch_ = nullptr;
  HBITMAP scratchBitmap_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr, oldFont_ = nullptr;
  uint8_t* scratchBits_ = nullptr;
  int scratchWidth_ = 0;
  HFONT normalFont_ = nullptr, fixedFont_ = nullptr, smallFont_ = nullptr;

  HWND window_ = nullptr;
  HWND buttons_[kBoxButtons] = {};
  HWND countdownButton_ = nullptr;
  HWND picture_ = nullptr;
  std::unique_ptr<ReportView> view_;
  HIMAGELIST images_ = nullptr;

  DWORD lastAnimation_ = 0;
  bool plain_ = false;
  bool reshow_ = false;
  bool ugly_ = false;
  bool continueDisabled_ = false;
  int bitsPerPixel_ = 32;
  DWORD countdownStart_ = 0;
  int countdownBar_ = 0;
  int focusedKind_ = -1;
  HWND lastFocus_ = nullptr;  // the button that gets the focus back when the box is activated
  int minWidth_ = 0, minHeight_ = 0;
  bool layoutComplete_ = false;
  int clientWidth_ = 0, clientHeight_ = 0;
  bool shuttingDown_ = false;
  bool acting_ = false;             // an action (and the dialogs it opens) is running
  bool disabledForAction_ = false;  // the box was disabled for it
  int creditX_ = 0, creditWidth_ = 0;
  bool overCredit_ = false;
  CallbackSlot* callback_ = nullptr;
};

}  // namespace rvx::box_window
