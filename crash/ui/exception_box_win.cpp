// The exception box on Windows: window class, fonts, the shared drawing surface, children and layout, the
// countdown, clicks and actions, resizing, the credit link and the modal loop. Layout and decisions come from
// exception_box_layout.h and exception_box_logic.h, painting is in exception_box_paint_win.cpp.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "crash/core/freeze.h"
#include "crash/core/handlers.h"
#include "crash/core/pipeline.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/fault_guard.h"
#include "crash/ui/exception_box.h"
#include "crash/ui/exception_box_window_win.h"

namespace rvx {

namespace box_window {

void ReportChanged(void* object, bool, const std::string&, IRVException*) {
  if (HWND w = static_cast<CallbackSlot*>(object)->window.load()) PostMessageA(w, kBoxMsgReportChanged, 1357, 2468);
}

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
  return BoxMessageText(form_, frozen, frozen ? r.FrozenMsg() : r.ExceptMsg(), r.ExceptClass(), r.ExceptMessage(),
                        r.Module());
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
    for (int k = 0; k < kBoxButtons; ++k) in.captionWidth[k] = textWidth(captions[k]);
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
  // Without a delay nothing moves and nothing is clicked: no countdown at all.
  if (countdown >= 0 && buttons_[countdown] && settings_.autoDelay > 0) {
    countdownButton_ = buttons_[countdown];
    countdownStart_ = GetTickCount() | 1;  // 0 means no countdown
    countdownBar_ = 0;
    SetTimer(window_, kCountdownTimer, 10, nullptr);
  }
  if (beep) MessageBeep(MB_ICONHAND);
  ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOWNORMAL);
  BringWindowToTop(window_);
  SetForegroundWindow(window_);
  // The freeze watch closes this box once the main thread answers again.
  if (record_->ExceptType() == kExceptFreeze) TellFreezeWatchBox(window_);
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
  // The actions open dialogs of their own (the save dialog, the print dialog, assistants, messages), owned by
  // the box and running their own message loops: meanwhile the box is disabled and starts no other action,
  // also not for a click that reaches one of its buttons directly.
  if (acting_ || action == BoxAction::None) return;
  HWND owner = window_;
  BeginAction();
  switch (action) {
    case BoxAction::Send: record_->SendBugReport(owner); break;
    case BoxAction::Save: record_->SaveBugReport(owner); break;
    case BoxAction::Print: record_->PrintBugReport(owner); break;
    case BoxAction::Details: {
      const RecordHooks& hooks = GetRecordHooks();
      if (hooks.fireActionHandlers) hooks.fireActionHandlers(record_, kActionShowBugRep, owner);
      reshow_ = true;
      CloseBox();
      break;
    }
    case BoxAction::Continue: record_->ContinueApplication(owner); break;
    case BoxAction::Restart: record_->RestartApplication(owner); break;
    case BoxAction::Close: record_->CloseApplication(owner); break;
    case BoxAction::None: break;
  }
  EndAction();
}

void TExceptionBox::BeginAction() {
  acting_ = true;
  disabledForAction_ = window_ && IsWindowEnabled(window_);
  if (disabledForAction_) EnableWindow(window_, FALSE);
}

void TExceptionBox::EndAction() {
  acting_ = false;
  if (!disabledForAction_) return;
  disabledForAction_ = false;
  if (!window_ || !IsWindow(window_) || shuttingDown_) return;
  EnableWindow(window_, TRUE);
  // The dialog that closed could not hand the activation back to a disabled box.
  if (GetForegroundWindow() != window_) SetForegroundWindow(window_);
  if (lastFocus_ && IsWindow(lastFocus_)) SetFocus(lastFocus_);
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
  if (over) {
    // The box hears of the mouse leaving it only when it asks: otherwise the link stays lit once the mouse
    // leaves the box straight from the link.
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window_, 0};
    TrackMouseEvent(&track);
  }
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
  if (msg == WM_NCDESTROY) {
    // From here on the window no longer reaches the object (which may go before a window that is left).
    KillTimer(w, kCountdownTimer);
    SetWindowLongPtrA(w, GWLP_USERDATA, 0);
    if (box->callback_) box->callback_->window = nullptr;
    if (box->window_ == w) box->window_ = nullptr;
    return DefWindowProcA(w, msg, wp, lp);
  }
  LRESULT result = 0;
  // A fault while painting or acting must not take the failing program's last window with it. The fault
  // skips what the handling had still to undo: a running action gives the box back.
  if (FaultGuarded([&] { result = box->Handle(msg, wp, lp); })) return result;
  if (box->acting_ && box->window_ == w) box->EndAction();
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
    case WM_MOUSELEAVE:
      OnMouseMove(-1, -1);
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
        if (hooks.fireActionHandlers) hooks.fireActionHandlers(record_, kActionHelp, window_);
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
    if ((content && msg.hwnd == content) || !window_ || !IsDialogMessageA(window_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

}  // namespace box_window

namespace {
using box_window::TExceptionBox;

void BoxRunner(IRVException* record, int show) {
  if (show == 1) {
    // The assistant takes the box's place; its entries reach the report and the form cache as with the
    // send, save and print assistants. Without such an assistant the full box is shown.
    std::string name = record->ShowAssistant();
    if (Ref<INVAssistant> assistant = record->Assistant(name)) {
      RunAssistant(*record, name, nullptr);
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
