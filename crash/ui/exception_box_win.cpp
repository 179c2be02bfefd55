// The exception box on Windows: window class, fonts, the shared drawing surface, owner-drawn buttons with
// their pictures and focus animation, the countdown, the footer with the credit link, the expanded state with
// the report view, resizing and the modal loop. Layout and decisions come from exception_box_layout.h and
// exception_box_logic.h.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "crash/core/pipeline.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/fault_guard.h"
#include "crash/ui/exception_box.h"
#include "crash/ui/exception_box_logic.h"
#include "crash/ui/report_view.h"

namespace rvx {

namespace {

constexpr UINT_PTR kCountdownTimer = 777;
constexpr int kButtonIdBase = 100;
constexpr int kMaxCaption = 29;

COLORREF Face() { return GetSysColor(COLOR_BTNFACE); }
COLORREF DarkShadow() { return GetSysColor(COLOR_3DDKSHADOW); }

// The report-changed callback may run in any thread while the box goes away: it reaches the window only
// through this slot, which outlives the box (a few bytes per box).
struct CallbackSlot {
  std::atomic<HWND> window{nullptr};
};

void ReportChanged(void* object, bool, const std::string&, IRVException*) {
  if (HWND w = static_cast<CallbackSlot*>(object)->window.load()) PostMessageA(w, kBoxMsgReportChanged, 1357, 2468);
}

// A picture resource of the module (or the program) as raw bytes and size.
struct PictureBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};
PictureBytes FindPicture(HMODULE module, int kind) {
  static const char* const kNames[] = {"RVISEND",  "RVISAVE",    "RVIPRINT",        "RVISHOW", "RVICONTINUE",
                                       "RVIRESTART", "RVICLOSE", "RVICANTCONTINUE", "RVIBIG"};
  if (kind < 0 || kind > kBoxBig) return {};
  for (HMODULE m : {module, GetModuleHandleA(nullptr)}) {
    HRSRC info = FindResourceA(m, kNames[kind], reinterpret_cast<LPCSTR>(RT_BITMAP));
    if (!info) continue;
    DWORD size = SizeofResource(m, info);
    HGLOBAL loaded = LoadResource(m, info);
    const auto* data = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (data && PictureSide(size) == (kind == kBoxBig ? 32 : 16)) return {data, size};
    return {};
  }
  return {};
}

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
  int creditX_ = 0, creditWidth_ = 0;
  bool overCredit_ = false;
  CallbackSlot* callback_ = nullptr;
};

// ---- creation -----------------------------------------------------------------------------------------

void TExceptionBox::Prepare() {
  IRVException& r = *record_;
  plain_ = form_ != kFormFull;
  BoxSettings s;
  s.visible = {r.SendBtnVis(), r.SaveBtnVis(), r.PrintBtnVis(), r.ShowBtnVis(),
               r.ContinueBtnVis(), r.RestartBtnVis(), r.CloseBtnVis()};
  s.focusedBtn = r.FocusedBtn();
  s.autoShowBugRep = r.AutoShowBugRep();
  s.autoContinue = r.AutoContinue();
  const int64_t now = pipeline_platform::NowSeconds1601();
  s.autoRestartApplies = AutoRuleApplies(r.AutoRestart(), ExceptionTimes(), now);
  s.autoCloseApplies = AutoRuleApplies(r.AutoClose(), ExceptionTimes(), now);
  s.autoDelay = r.AutoDelay();
  s.canContinue = r.CanContinue();
  settings_ = PrepareBox(s, form_);
  if (settings_.visible[kBoxShow] != s.visible[kBoxShow]) r.SetShowBtnVis(false);
  if (settings_.focusedBtn != s.focusedBtn) r.SetFocusedBtn(settings_.focusedBtn);
  ugly_ = !plain_ && r.UglyBtns();
  expanded_ = !plain_ && settings_.autoShowBugRep;
  continueDisabled_ = ContinueDisabled(settings_, form_);
}

std::string TExceptionBox::MessageText() {
  IRVException& r = *record_;
  const bool frozen = r.ExceptType() == kExceptFreeze;
  std::string message = AddSentenceBreaks(r.ExceptMessage());
  if (plain_ && !frozen) return message;
  std::string text = frozen ? r.FrozenMsg() : r.ExceptMsg();
  if (plain_) return text;  // arrives expanded
  const std::string cls = r.ExceptClass(), none;
  return ExpandPlaceholders(text, r.Module(), {&cls, &none, &message});
}

std::string TExceptionBox::TitleText() {
  if (!plain_) return record_->TitleBar();
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return ProgramTitle(path);
}

void TExceptionBox::CreateFonts() {
  auto make = [](int height, const char* face) {
    return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
  };
  normalFont_ = make(-11, "Tahoma");
  if (!normalFont_) normalFont_ = make(-12, "MS Sans Serif");
  fixedFont_ = make(-11, "Courier New");
  smallFont_ = make(-8, "Small Fonts");
}

void TExceptionBox::CreateScratch() {
  scratchWidth_ = std::max(1, layout_.scratchWidth);
  scratch_ = CreateCompatibleDC(nullptr);
  if (!scratch_) return;
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = scratchWidth_;
  bmi.bmiHeader.biHeight = -layout_.buttonHeight;  // top-down, like the blending expects
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  scratchBitmap_ = CreateDIBSection(scratch_, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!scratchBitmap_) return;
  scratchBits_ = static_cast<uint8_t*>(bits);
  oldBitmap_ = SelectObject(scratch_, scratchBitmap_);
  oldFont_ = SelectObject(scratch_, normalFont_);
}

bool TExceptionBox::Create(bool beep) {
  Prepare();
  module_ = reinterpret_cast<HMODULE>(record_->Module());
  CreateFonts();
  const std::string message = MessageText();
  const std::string title = TitleText();

  WNDCLASSA wc{};
  wc.style = 0x00C0;
  wc.lpfnWndProc = &TExceptionBox::MainProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kBoxClassName;
  RegisterClassA(&wc);  // registered again for every box; an existing class is fine
  DWORD style = WS_CAPTION | WS_SYSMENU;
  if (expanded_) style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  window_ = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kBoxClassName, title.c_str(), style, 0, 0, 100, 100,
                            nullptr, nullptr, wc.hInstance, this);
  if (!window_) return false;
  if (!expanded_) {
    HMENU menu = GetSystemMenu(window_, FALSE);
    for (UINT item : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE}) RemoveMenu(menu, item, MF_BYCOMMAND);
  }
  HDC screen = GetDC(nullptr);
  bitsPerPixel_ = screen ? GetDeviceCaps(screen, BITSPIXEL) : 32;

  // Measuring in the normal font.
  BoxLayoutInput in;
  in.form = form_;
  in.expanded = expanded_;
  in.ugly = ugly_;
  in.picture = FindPicture(module_, kBoxBig).data != nullptr;
  in.visible = settings_.visible;
  HGDIOBJ old = SelectObject(screen, normalFont_);
  auto textWidth = [&](const std::string& text) {
    SIZE size{};
    GetTextExtentPoint32A(screen, text.c_str(), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx);
  };
  if (plain_) {
    in.captionWidth[kBoxContinue] = textWidth(record_->OkBtnTxt());
    in.captionWidth[kBoxShow] = textWidth(record_->DetailsBtnTxt());
  } else {
    const std::string captions[kBoxButtons] = {record_->SendBtnTxt(),     record_->SaveBtnTxt(),
                                               record_->PrintBtnTxt(),    record_->ShowBtnTxt(),
                                               record_->ContinueBtnTxt(), record_->RestartBtnTxt(),
                                               record_->CloseBtnTxt()};
    for (int k = 0; k < kBoxButtons; ++k) in.captionWidth[k] = textWidth(captions[k].substr(0, kMaxCaption));
  }
  in.measureMessage = [&](int width) {
    RECT r{0, 0, width, 0};
    DrawTextA(screen, message.c_str(), static_cast<int>(message.size()), &r,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_LEFT);
    return PixelSize{static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top)};
  };
  in.metrics.screenWidth = GetSystemMetrics(SM_CXSCREEN);
  in.metrics.screenHeight = GetSystemMetrics(SM_CYSCREEN);
  in.metrics.titleBar = GetSystemMetrics(SM_CYCAPTION);
  in.metrics.sizeFrameX = GetSystemMetrics(SM_CXFRAME);
  in.metrics.sizeFrameY = GetSystemMetrics(SM_CYFRAME);
  in.metrics.dialogFrameX = GetSystemMetrics(SM_CXDLGFRAME);
  in.metrics.dialogFrameY = GetSystemMetrics(SM_CYDLGFRAME);
  layout_ = LayoutExceptionBox(in);
  SelectObject(screen, old);
  if (screen) ReleaseDC(nullptr, screen);

  CreateScratch();
  CreateChildren(message);
  SetWindowPos(window_, nullptr, layout_.left, layout_.top, layout_.outerWidth, layout_.outerHeight,
               SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client{};
  GetClientRect(window_, &client);
  clientWidth_ = client.right;
  clientHeight_ = client.bottom;
  minWidth_ = layout_.outerWidth;
  minHeight_ = layout_.outerHeight;
  layoutComplete_ = true;
  Show(beep);
  return true;
}

void TExceptionBox::CreateChildren(const std::string& message) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  const int defaultKind = DefaultButton(settings_, form_);
  bool defaultGiven = false;
  const std::string plainCaptions[kBoxButtons] = {{}, {}, {}, record_->DetailsBtnTxt(), record_->OkBtnTxt(), {}, {}};
  const std::string fullCaptions[kBoxButtons] = {record_->SendBtnTxt(),     record_->SaveBtnTxt(),
                                                 record_->PrintBtnTxt(),    record_->ShowBtnTxt(),
                                                 record_->ContinueBtnTxt(), record_->RestartBtnTxt(),
                                                 record_->CloseBtnTxt()};
  static const int kPlainOrder[] = {kBoxContinue, kBoxShow};
  static const int kFullOrder[] = {kBoxSend, kBoxSave, kBoxPrint, kBoxShow, kBoxContinue, kBoxRestart, kBoxClose};
  const int* order = plain_ ? kPlainOrder : kFullOrder;
  const int count = plain_ ? 2 : kBoxButtons;
  HWND focus = nullptr;
  for (int i = 0; i < count; ++i) {
    const int kind = order[i];
    const BoxButtonPlace& place = layout_.buttons[kind];
    if (!place.visible) continue;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (plain_ ? BS_PUSHBUTTON : BS_OWNERDRAW);
    const bool isDefault = !defaultGiven && kind == defaultKind;
    if (isDefault && plain_) style = (style & ~BS_PUSHBUTTON) | BS_DEFPUSHBUTTON;
    const std::string& caption = plain_ ? plainCaptions[kind] : fullCaptions[kind];
    HWND b = CreateWindowExA(0, "BUTTON", caption.c_str(), style, place.rect.x, place.rect.y, place.rect.width,
                             place.rect.height, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonIdBase + kind)),
                             instance, nullptr);
    if (!b) continue;
    SetWindowLongPtrA(b, GWLP_USERDATA, kind);
    SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), FALSE);
    buttons_[kind] = b;
    if (isDefault) {
      defaultGiven = true;
      focus = b;
    }
  }
  if (continueDisabled_ && buttons_[kBoxContinue]) EnableWindow(buttons_[kBoxContinue], FALSE);
  if (layout_.picture) {
    picture_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | WS_DISABLED | SS_OWNERDRAW,
                               layout_.pictureRect.x, layout_.pictureRect.y, 32, 32, window_, nullptr, instance, nullptr);
    if (picture_) SetWindowLongPtrA(picture_, GWLP_USERDATA, kBoxBig);
  }
  HWND text = CreateWindowExA(0, "STATIC", message.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                              layout_.message.x, layout_.message.y, layout_.message.width, layout_.message.height,
                              window_, nullptr, instance, nullptr);
  if (text) SendMessageA(text, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), FALSE);
  if (layout_.tab) {
    images_ = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
    const PixelRect& t = layout_.tabRect;
    view_ = ReportView::Create(window_, t, {normalFont_, fixedFont_}, images_, window_);
    if (view_) view_->SetReportSource(record_->BugReportHeader(), record_->BugReportSections());
  }
  if (focus) {
    focusedKind_ = KindOf(focus);
    lastFocus_ = focus;
    SetFocus(focus);
  }
}

void TExceptionBox::Show(bool beep) {
  const int countdown = CountdownButton(settings_, form_);
  if (countdown >= 0 && buttons_[countdown]) {
    countdownButton_ = buttons_[countdown];
    countdownStart_ = GetTickCount() | 1;  // 0 means no countdown
    countdownBar_ = 0;
    SetTimer(window_, kCountdownTimer, 10, nullptr);
  }
  if (beep) MessageBeep(MB_ICONHAND);
  ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOWNORMAL);
  BringWindowToTop(window_);
  SetForegroundWindow(window_);
  callback_ = new CallbackSlot;
  callback_->window = window_;
  record_->RegisterBugReportCallback(BugReportMethod{&ReportChanged, callback_}, false);
}

void TExceptionBox::Destroy() {
  if (callback_) {
    callback_->window = nullptr;
    record_->UnregisterBugReportCallback(BugReportMethod{&ReportChanged, callback_});
    callback_ = nullptr;  // left to a callback that may still be running
  }
  if (window_ && IsWindow(window_)) {
    shuttingDown_ = true;
    if (view_) view_->Shutdown();
    DestroyWindow(window_);
  }
  view_.reset();
  if (images_) ImageList_Destroy(std::exchange(images_, nullptr));
  if (scratch_) {
    if (oldFont_) SelectObject(scratch_, oldFont_);
    if (oldBitmap_) SelectObject(scratch_, oldBitmap_);
    DeleteDC(std::exchange(scratch_, nullptr));
  }
  if (scratchBitmap_) DeleteObject(std::exchange(scratchBitmap_, nullptr));
  for (HFONT* f : {&normalFont_, &fixedFont_, &smallFont_})
    if (*f) DeleteObject(std::exchange(*f, nullptr));
}

// ---- painting -----------------------------------------------------------------------------------------

void TExceptionBox::PaintButton(HWND button, COLORREF text, COLORREF background, int step, bool focus, bool pressed,
                                int bar) {
  if (!button || !scratch_ || !scratchBits_) return;
  RECT rc{};
  GetClientRect(button, &rc);
  rc.right = std::min<LONG>(rc.right, scratchWidth_);
  rc.bottom = std::min<LONG>(rc.bottom, layout_.buttonHeight);
  const bool enabled = IsWindowEnabled(button);
  const int w = rc.right, h = rc.bottom;
  if (HighColour() && step) background = ColourStep(background, enabled ? step : step / 2);
  COLORREF barColour;
  int inset;
  if (ugly_) {
    DrawFrameControl(scratch_, &rc, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
    barColour = DarkShadow();
    inset = 2;
  } else {
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(scratch_, &rc, brush);
    DeleteObject(brush);
    barColour = Face();
    inset = 0;
  }
  if (button == countdownButton_ && countdownStart_) {
    if (bar >= 0) countdownBar_ = bar;
    const int x = countdownBar_;
    auto line = [&](int at, COLORREF colour) {
      HPEN pen = CreatePen(PS_SOLID, 1, colour);
      HGDIOBJ old = SelectObject(scratch_, pen);
      MoveToEx(scratch_, at, 2 * inset, nullptr);
      LineTo(scratch_, at, h - 2 * inset);
      SelectObject(scratch_, old);
      DeleteObject(pen);
    };
    if (HighColour()) {
      for (int i = 3; i >= 1; --i) {
        line(x - i, BarShade(barColour, background, i));
        line(x + i, BarShade(barColour, background, i));
      }
    }
    line(x, barColour);
  }
  if (ugly_ && focus) {
    RECT f{3, 3, w - 3, h - 3};
    DrawFocusRect(scratch_, &f);
  }
  GdiFlush();
  PictureBytes picture = FindPicture(module_, PictureOf(button));
  PixelSurface surface{scratchBits_, scratchWidth_, layout_.buttonHeight};
  if (picture.data) BlendPictureOnto(picture.data, picture.size, surface, inset + 3, inset + 3);
  char caption[kMaxCaption + 1] = {};
  int length = GetWindowTextA(button, caption, sizeof caption);
  SIZE size{};
  GetTextExtentPoint32A(scratch_, caption, length, &size);
  const int x = (w - static_cast<int>(size.cx) - 35) / 2 + 27, y = inset + 4;
  SetBkMode(scratch_, TRANSPARENT);
  if (!enabled) {
    SetTextColor(scratch_, RGB(255, 255, 255));
    TextOutA(scratch_, x + 1, y + 1, caption, length);
    SetTextColor(scratch_, DarkShadow());
  } else {
    SetTextColor(scratch_, text);
  }
  TextOutA(scratch_, x, y, caption, length);
  GdiFlush();
  if (HDC dc = GetDC(button)) {
    BitBlt(dc, 0, 0, w, h, scratch_, 0, 0, SRCCOPY);
    ReleaseDC(button, dc);
  }
}

void TExceptionBox::Animate(HWND button, COLORREF textA, COLORREF backA, int stepA, COLORREF textC, COLORREF backD,
                            int stepD) {
  auto frames = FocusFrames(textA, backA, stepA, textC, backD, stepD, HighColour());
  bool first = true;
  for (const FrameColours& f : frames) {
    if (!first) Sleep(10);
    first = false;
    PaintButton(button, f.text, f.background, 0, false, false);
  }
  lastAnimation_ = GetTickCount();
}

void TExceptionBox::DrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlType == ODT_STATIC) {
    PaintBigPicture(item);
    return;
  }
  HWND b = item.hwndItem;
  const bool focus = item.itemState & ODS_FOCUS;
  if (item.itemAction == ODA_FOCUS && focus) {
    // The first move of the focus to another button ends the countdown.
    if (KindOf(b) != focusedKind_) StopCountdown();
    focusedKind_ = KindOf(b);
    lastFocus_ = b;
  }
  if (ugly_) {
    PaintButton(b, RGB(0, 0, 0), Face(), 0x10, focus, item.itemState & ODS_SELECTED);
    return;
  }
  if (item.itemAction == ODA_FOCUS) {
    if (focus)
      Animate(b, RGB(0, 0, 0), Face(), 0x10, RGB(255, 255, 255), DarkShadow(), 0);
    else
      Animate(b, RGB(255, 255, 255), DarkShadow(), 0, RGB(0, 0, 0), Face(), 0x10);
    return;
  }
  if (focus || (b == countdownButton_ && countdownStart_))
    PaintFocused(b);
  else
    PaintNormal(b);
}

void TExceptionBox::PaintBigPicture(const DRAWITEMSTRUCT& item) {
  PictureBytes picture = FindPicture(module_, kBoxBig);
  if (!picture.data) return;
  std::vector<uint8_t> pixels(32 * 32 * 4);
  const COLORREF face = Face();
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = GetBValue(face), pixels[i + 1] = GetGValue(face), pixels[i + 2] = GetRValue(face);
  }
  PixelSurface surface{pixels.data(), 32, 32};
  BlendPictureOnto(picture.data, picture.size, surface, 0, 0);
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = 32;
  bmi.bmiHeader.biHeight = -32;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(item.hDC, 0, 0, 32, 32, 0, 0, 0, 32, pixels.data(), &bmi, DIB_RGB_COLORS);
}

void TExceptionBox::PaintFooter(HDC dc) {
  const int F = layout_.footerY;
  const int count = clientWidth_ - 6;
  const COLORREF face = Face(), shadow = DarkShadow();
  for (int i = 0; i < count; ++i) SetPixelV(dc, i, F + 5, GradientColour(face, shadow, i, count));
  const std::string credit = CreditText();
  HGDIOBJ old = SelectObject(dc, smallFont_ ? smallFont_ : normalFont_);
  SIZE size{};
  GetTextExtentPoint32A(dc, credit.c_str(), static_cast<int>(credit.size()), &size);
  creditWidth_ = size.cx;
  creditX_ = clientWidth_ - creditWidth_ - 15;
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, face);
  SetTextColor(dc, overCredit_ ? RGB(0x80, 0x00, 0x90) : shadow);
  TextOutA(dc, creditX_, F, credit.c_str(), static_cast<int>(credit.size()));
  SelectObject(dc, old);
}

// ---- countdown, clicks and actions --------------------------------------------------------------------

void TExceptionBox::Tick() {
  if (!countdownStart_ || !countdownButton_ || settings_.autoDelay <= 0) return;
  RECT rc{};
  GetClientRect(countdownButton_, &rc);
  const int w = rc.right;
  const int x = CountdownPosition(GetTickCount() - countdownStart_, w, settings_.autoDelay, ugly_);
  if (x == countdownBar_) return;
  if (CountdownExpired(x, w, ugly_)) {
    KillTimer(window_, kCountdownTimer);  // one click only
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(countdownButton_), BN_CLICKED),
                 reinterpret_cast<LPARAM>(countdownButton_));
  }
  if (ugly_)
    PaintButton(countdownButton_, RGB(0, 0, 0), Face(), 0x10, true, false, x);
  else
    PaintButton(countdownButton_, RGB(255, 255, 255), DarkShadow(), 0, false, false, x);
}

void TExceptionBox::StopCountdown() {
  if (!countdownStart_) return;
  countdownStart_ = 0;
  KillTimer(window_, kCountdownTimer);
  if (countdownButton_) InvalidateRect(countdownButton_, nullptr, FALSE);
}

void TExceptionBox::Click(int kind) {
  StopCountdown();
  HWND b = kind >= 0 && kind < kBoxButtons ? buttons_[kind] : nullptr;
  if (!plain_ && !ugly_ && b && (kind == kBoxShow || GetTickCount() - lastAnimation_ > 200)) {
    if (kind == kBoxShow) {
      Animate(b, RGB(255, 255, 255), DarkShadow(), 0, Face(), Face(), 0);
    } else {
      Animate(b, RGB(255, 255, 255), DarkShadow(), 0, RGB(0, 0, 0), Face(), 0x10);
      Sleep(10);
      Animate(b, RGB(0, 0, 0), Face(), 0x10, RGB(255, 255, 255), DarkShadow(), 0);
    }
  }
  Run(ClickAction(kind, record_->CanContinue()));
}

void TExceptionBox::CloseRequest() {
  StopCountdown();
  BoxSettings s = settings_;
  s.canContinue = record_->CanContinue();
  Run(CloseRequestAction(s, form_));
}

void TExceptionBox::Run(BoxAction action) {
  HWND owner = window_;
  switch (action) {
    case BoxAction::Send: record_->SendBugReport(owner); break;
    case BoxAction::Save: record_->SaveBugReport(owner); break;
    case BoxAction::Print: record_->PrintBugReport(owner); break;
    case BoxAction::Details: {
      const RecordHooks& hooks = GetRecordHooks();
      if (hooks.fireActionHandlers) hooks.fireActionHandlers(record_, kActionShowBugRep);
      reshow_ = true;
      CloseBox();
      break;
    }
    case BoxAction::Continue: record_->ContinueApplication(owner); break;
    case BoxAction::Restart: record_->RestartApplication(owner); break;
    case BoxAction::Close: record_->CloseApplication(owner); break;
    case BoxAction::None: break;
  }
}

void TExceptionBox::CloseBox() {
  if (shuttingDown_ || !window_ || !IsWindow(window_)) return;
  shuttingDown_ = true;
  if (view_) view_->Shutdown();
  DestroyWindow(window_);
}

// ---- resizing and the credit link ---------------------------------------------------------------------

void TExceptionBox::Resized(int width, int height) {
  if (!layoutComplete_ || !expanded_) return;
  const int dx = width - clientWidth_, dy = height - clientHeight_;
  if (dx == 0 && dy == 0) return;
  clientWidth_ = width;
  clientHeight_ = height;
  for (int k : {kBoxContinue, kBoxRestart, kBoxClose}) {
    if (!buttons_[k]) continue;
    RECT r{};
    GetWindowRect(buttons_[k], &r);
    POINT p{r.left, r.top};
    ScreenToClient(window_, &p);
    SetWindowPos(buttons_[k], nullptr, p.x + dx, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (view_) {
    layout_.tabRect.width += dx;
    layout_.tabRect.height += dy;
    view_->Resize(layout_.tabRect);
  }
  RECT band{0, layout_.footerY, width, layout_.footerY + 10};
  InvalidateRect(window_, &band, TRUE);
}

void TExceptionBox::OnMouseMove(int x, int y) {
  const bool over = InsideCredit(x, y, creditX_, layout_.footerY, creditWidth_);
  if (over == overCredit_) return;
  overCredit_ = over;
  RECT band{0, layout_.footerY, clientWidth_, layout_.footerY + 10};
  InvalidateRect(window_, &band, TRUE);
}

// ---- window procedure and modal loop ------------------------------------------------------------------

LRESULT CALLBACK TExceptionBox::MainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* box = static_cast<TExceptionBox*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
    SetWindowLongPtrA(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(box));
    box->window_ = w;
  }
  auto* box = reinterpret_cast<TExceptionBox*>(GetWindowLongPtrA(w, GWLP_USERDATA));
  if (!box) return DefWindowProcA(w, msg, wp, lp);
  LRESULT result = 0;
  // A fault while painting or acting must not take the failing program's last window with it.
  if (FaultGuarded([&] { result = box->Handle(msg, wp, lp); })) return result;
  return DefWindowProcA(w, msg, wp, lp);
}

LRESULT TExceptionBox::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_NULL:
      if (wp == kBoxCloseParam && lp == kBoxCloseParam) CloseBox();
      return 0;
    case kBoxMsgReportChanged:
      if (view_ && !shuttingDown_) view_->Refresh();
      return 0;
    case kBoxMsgShowDetails:
      if (!plain_ || form_ == kFormPlainDetails) Click(kBoxShow);
      return 0;
    case kBoxMsgClose:
      CloseBox();
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      if (HIWORD(wp) == BN_CLICKED && id >= kButtonIdBase && id < kButtonIdBase + kBoxButtons) {
        if (IsWindowEnabled(buttons_[id - kButtonIdBase])) Click(id - kButtonIdBase);
      }
      return 0;
    }
    case DM_GETDEFID: {
      const int k = DefaultButton(settings_, form_);
      return k >= 0 && buttons_[k] ? MAKELRESULT(kButtonIdBase + k, DC_HASDEFID) : 0;
    }
    case WM_DRAWITEM:
      DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
      return TRUE;
    case WM_TIMER:
      if (wp == kCountdownTimer) Tick();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window_, &ps);
      if (dc) PaintFooter(dc);
      EndPaint(window_, &ps);
      return 0;
    }
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_CLOSE) return 0;  // the title bar's close command is ignored
      return DefWindowProcA(window_, msg, wp, lp);
    case WM_CLOSE:
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      return 0;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wp) == window_ && overCredit_) {
        SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
        return TRUE;
      }
      return DefWindowProcA(window_, msg, wp, lp);
    case WM_LBUTTONDOWN:
      if (overCredit_) ShellExecuteA(window_, "open", CreditLink().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      return 0;
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED) Resized(LOWORD(lp), HIWORD(lp));
      return 0;
    case WM_GETMINMAXINFO:
      if (layoutComplete_) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lp);
        info->ptMinTrackSize = {minWidth_, minHeight_};
      }
      return 0;
    case WM_NOTIFY:
      if (view_ && view_->HandleNotify(reinterpret_cast<const void*>(lp))) return 0;
      return DefWindowProcA(window_, msg, wp, lp);
    case WM_ACTIVATE:
      // Like a dialog: the focus stays on the buttons, not on the box itself.
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND f = GetFocus();
        if (f && IsChild(window_, f)) lastFocus_ = f;
      } else if (lastFocus_ && IsWindow(lastFocus_)) {
        SetFocus(lastFocus_);
      }
      return 0;
    case WM_SETFOCUS:
      if (lastFocus_ && IsWindow(lastFocus_)) SetFocus(lastFocus_);
      return 0;
    case WM_DESTROY:
      if (callback_) callback_->window = nullptr;
      KillTimer(window_, kCountdownTimer);
      return 0;
    default:
      return DefWindowProcA(window_, msg, wp, lp);
  }
}

void TExceptionBox::RunModal() {
  while (window_ && IsWindow(window_)) {
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // the program's own loop ends too
      break;
    }
    if (got < 0) break;
    if (msg.message == WM_KEYDOWN) {
      if (msg.wParam == VK_ESCAPE) {
        CloseRequest();
        continue;
      }
      if (msg.wParam == VK_F1) {
        const RecordHooks& hooks = GetRecordHooks();
        if (hooks.fireActionHandlers) hooks.fireActionHandlers(record_, kActionHelp);
        continue;
      }
      if (msg.wParam == 'C' && GetKeyState(VK_CONTROL) < 0) {
        pipeline_platform::CopyToClipboard(record_->AutoShowBugRep() ? record_->BugReport(false)
                                                                     : record_->ExceptMessage());
        continue;
      }
      if (msg.wParam == VK_RETURN && !plain_) {
        // Enter clicks the focused owner-drawn button (the dialog handling would pick the default one).
        HWND focus = GetFocus();
        for (int k = 0; k < kBoxButtons; ++k) {
          if (focus && focus == buttons_[k]) {
            PostMessageA(window_, WM_COMMAND, MAKEWPARAM(kButtonIdBase + k, BN_CLICKED), reinterpret_cast<LPARAM>(focus));
            focus = nullptr;
          }
        }
        if (!focus) continue;
      }
    }
    if (msg.message == WM_NULL && !msg.hwnd && GetCurrentThreadId() == MainThreadId()) RunIdleHook();
    HWND content = view_ ? static_cast<HWND>(view_->ContentWindow()) : nullptr;
    if ((content && msg.hwnd == content) || !IsDialogMessageA(window_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  window_ = nullptr;
}

void BoxRunner(IRVException* record, int show) {
  if (show == 1) {
    Ref<INVAssistant> assistant = record->Assistant(record->ShowAssistant());
    if (assistant) {
      if (assistant->ShowModal(nullptr) == 1) {
        Ref<IRVFields> header = record->BugReportHeader(), sections = record->BugReportSections();
        if (header && sections) assistant->PutIntoReport(*header, *sections);
      }
      return;
    }
    show = kFormFull;
  }
  RunExceptionBox(record, true, show == kFormPlain ? kFormPlain : show == kFormPlainDetails ? kFormPlainDetails : kFormFull);
}

}  // namespace

void RunExceptionBox(IRVException* record, bool beep, BoxForm form) {
  if (!record) return;
  for (;;) {
    bool reshow = false;
    {
      TExceptionBox box(record, form);
      if (box.Create(beep)) box.RunModal();
      reshow = box.ReshowRequested();
    }
    if (!ReshowsExpanded(reshow, form)) return;
    record->SetAutoShowBugRep(true);
    record->SetAutoContinue(false);
    record->SetAutoRestart(0);
    record->SetAutoClose(0);
    form = kFormFull;
    beep = false;
  }
}

void InstallExceptionBox() {
  static bool once = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    return true;
  }();
  (void)once;
  SetExceptionBoxRunner(&BoxRunner);
}

}  // namespace rvx
