// The window of a shown assistant page: creating it and its item windows from the layout, painting the page
// and its owner-drawn buttons and check boxes, the modal loop with its keyboard rules, and the messages that
// reach the page's command logic.
#include <windows.h>

#include <algorithm>
#include <string>

#include "crash/ui/assistant_layout.h"
#include "crash/ui/assistant_model.h"
#include "crash/ui/assistant_paint.h"
#include "crash/ui/screenshot.h"

namespace rvx {

namespace {

constexpr UINT_PTR kTimerId = 777;
constexpr int kFirstItemId = 100;
const char kClassName[] = "rvxNVAssistantWnd";

HFONT MakeFont(const char* face, int size, bool bold) {
  HFONT font = CreateFontA(-size, 0, 0, 0, bold ? 700 : 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, face);
  if (!font) font = CreateFontA(-size, 0, 0, 0, bold ? 700 : 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
  return font;
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

RECT Inset(RECT r, int by) {
  InflateRect(&r, -by, -by);
  return r;
}

RECT ToRect(const NVRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// Text in a font, transparent; centred in `box` when its width is given; with a white halo when asked.
void DrawTextAt(HDC dc, HFONT font, const std::string& text, RECT box, bool centred, COLORREF colour, bool halo) {
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  UINT flags = DT_NOPREFIX | DT_SINGLELINE | (centred ? DT_CENTER | DT_VCENTER : 0);
  if (halo) {
    SetTextColor(dc, RGB(255, 255, 255));
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy) {
        if (!dx && !dy) continue;
        RECT moved = box;
        OffsetRect(&moved, dx, dy);
        DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &moved, flags);
      }
  }
  SetTextColor(dc, colour);
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &box, flags);
  SelectObject(dc, old);
}

void DottedFrame(HDC dc, RECT r, COLORREF colour) {
  HPEN pen = CreatePen(PS_DOT, 1, colour);
  HGDIOBJ old = SelectObject(dc, pen);
  SetBkMode(dc, TRANSPARENT);
  MoveToEx(dc, r.left, r.top, nullptr);
  LineTo(dc, r.right - 1, r.top);
  LineTo(dc, r.right - 1, r.bottom - 1);
  LineTo(dc, r.left, r.bottom - 1);
  LineTo(dc, r.left, r.top);
  SelectObject(dc, old);
  DeleteObject(pen);
}

// Text measurement with the page's fonts on a memory context.
class GdiMeasure final : public INVTextMeasure {
 public:
  GdiMeasure(HFONT tahoma, HFONT arial, HFONT arialBold) : dc_(CreateCompatibleDC(nullptr)) {
    fonts_[0] = tahoma;
    fonts_[1] = arial;
    fonts_[2] = arialBold;
  }
  ~GdiMeasure() {
    if (dc_) DeleteDC(dc_);
  }
  NVTextSize Measure(NVFont font, std::string_view text) override {
    NVTextSize s;
    SIZE size;
    if (!dc_) return s;
    HGDIOBJ old = SelectObject(dc_, fonts_[static_cast<int>(font)]);
    if (GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size)) s = {size.cx, size.cy};
    SelectObject(dc_, old);
    return s;
  }
  NVTextSize MeasureWrapped(NVFont font, std::string_view text, int width) override {
    if (!dc_) return {};
    RECT r{0, 0, width, 0};
    HGDIOBJ old = SelectObject(dc_, fonts_[static_cast<int>(font)]);
    DrawTextA(dc_, text.data(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc_, old);
    return {r.right - r.left, r.bottom - r.top};
  }

 private:
  HDC dc_;
  HFONT fonts_[3];
};

class FormWindow final : public INVFormHost {
 public:
  FormWindow(TNVForm& form, HWND owner) : form_(form), owner_(owner) {
    tahoma_ = MakeFont("Tahoma", 11, false);
    arial_ = MakeFont("Arial", 15, false);
    arialBold_ = MakeFont("Arial", 15, true);
    marlett_ = MakeFont("Marlett", 13, false);
  }
  ~FormWindow() {
    if (wnd_ && IsWindow(wnd_)) ::DestroyWindow(wnd_);
    form_.DetachHost();
    for (HFONT f : {tahoma_, arial_, arialBold_, marlett_})
      if (f) DeleteObject(f);
  }
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  int Run();

  // INVFormHost
  std::string WindowText(TNVItem& item) override {
    HWND w = static_cast<HWND>(item.window_);
    int length = static_cast<int>(SendMessageA(w, WM_GETTEXTLENGTH, 0, 0));
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = static_cast<int>(SendMessageA(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    text.resize(static_cast<size_t>(std::clamp(got, 0, length)));
    return text;
  }
  void SetWindowText(TNVItem& item, std::string_view text) override {
    std::string t(text);
    SendMessageA(static_cast<HWND>(item.window_), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t.c_str()));
  }
  void SetWindowEnabled(TNVItem& item, bool enabled) override {
    EnableWindow(static_cast<HWND>(item.window_), enabled);
  }
  void SetWindowChecked(TNVItem& item, bool checked) override {
    SendMessageA(static_cast<HWND>(item.window_), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  void Focus(TNVItem& item) override {
    HWND w = static_cast<HWND>(item.window_);
    ::SetFocus(w);
    if (item.Kind() == NVItemKind::Edit) SendMessageA(w, EM_SETSEL, 0, -1);
  }
  void Repaint(TNVItem& item) override {
    RECT band = Inset(ToRect(item.rect), -3);
    InvalidateRect(wnd_, &band, TRUE);
    if (item.window_) InvalidateRect(static_cast<HWND>(item.window_), nullptr, TRUE);
  }
  void StopTimer() override {
    if (timer_) KillTimer(wnd_, kTimerId);
    timer_ = false;
  }
  void DestroyWindow() override {
    HWND w = wnd_;
    form_.DetachHost();
    if (w && IsWindow(w)) ::DestroyWindow(w);
  }

  static LRESULT CALLBACK Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  bool Create();
  void CreateItemWindows();
  HWND CreateChild(TNVItem& item, const char* cls, DWORD style, const NVRect& r, const std::string& text);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  TNVItem* ItemOfWindow(HWND w) const;
  TNVImage* ImageAt(POINT p) const;
  void Paint(HDC dc);
  void PaintStandardButton(const DRAWITEMSTRUCT& d, int index);
  void PaintCheckBox(const DRAWITEMSTRUCT& d, TNVCheckBox& box);
  void PaintEditFrame(HDC dc, TNVItem& edit);
  void PaintImage(HDC dc, TNVImage& image);
  void MoveFocus(TNVItem* from, bool forward);

  TNVForm& form_;
  Ref<TNVForm> keep_{&form_};
  HWND owner_;
  HWND wnd_ = nullptr;
  HFONT tahoma_, arial_, arialBold_, marlett_;
  NVFormLayout layout_;
  bool timer_ = false;
};

LRESULT CALLBACK FormWindow::Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<FormWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongA(wnd, GWL_USERDATA, static_cast<LONG>(reinterpret_cast<LONG_PTR>(self)));
    self->wnd_ = wnd;
  }
  auto* self = reinterpret_cast<FormWindow*>(static_cast<LONG_PTR>(GetWindowLongA(wnd, GWL_USERDATA)));
  if (message == WM_NCDESTROY) {
    SetWindowLongA(wnd, GWL_USERDATA, 0);
    if (self && self->wnd_ == wnd) self->wnd_ = nullptr;
    return DefWindowProcA(wnd, message, wParam, lParam);
  }
  if (!self || self->wnd_ != wnd) return DefWindowProcA(wnd, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

bool FormWindow::Create() {
  WNDCLASSA wc{};
  wc.style = 0x00C0;
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassA(&wc);  // fails harmlessly when already registered
  std::string title = form_.Title();
  CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName, title.c_str(),
                  WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, owner_,
                  nullptr, wc.hInstance, this);
  if (!wnd_) return false;
  if (HMENU menu = GetSystemMenu(wnd_, FALSE))
    for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE}) RemoveMenu(menu, command, MF_BYCOMMAND);
  form_.AttachHost(this, wnd_);
  return true;
}

HWND FormWindow::CreateChild(TNVItem& item, const char* cls, DWORD style, const NVRect& r, const std::string& text) {
  HWND w = CreateWindowExA(0, cls, text.c_str(), WS_CHILD | style, r.left, r.top, r.Width(), r.Height(), wnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstItemId + item.Index())),
                           GetModuleHandleA(nullptr), nullptr);
  if (!w) return nullptr;
  SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(tahoma_), FALSE);
  item.window_ = w;
  EnableWindow(w, item.WindowEnabled());
  return w;
}

void FormWindow::CreateItemWindows() {
  for (const Ref<TNVItem>& ref : form_.Items()) {
    TNVItem& item = *ref;
    switch (item.Kind()) {
      case NVItemKind::Button: {
        auto& b = static_cast<TNVButton&>(item);
        bool standard = item.Index() < kFirstContentIndex;
        DWORD style = BS_NOTIFY | WS_TABSTOP | (standard && !b.NoOwnerDraw() ? BS_OWNERDRAW : BS_PUSHBUTTON);
        if (!b.Invisible()) style |= WS_VISIBLE;
        CreateChild(item, "BUTTON", style, item.rect, b.ShownCaption(b.Caption()));
        break;
      }
      case NVItemKind::Label: {
        auto& l = static_cast<TNVLabel&>(item);
        CreateChild(item, "STATIC", SS_LEFT | SS_NOPREFIX | WS_VISIBLE, item.rect, l.ShownCaption(l.Caption()));
        break;
      }
      case NVItemKind::Edit: {
        auto& e = static_cast<TNVEdit&>(item);
        DWORD style = WS_TABSTOP | WS_VISIBLE | ES_AUTOHSCROLL;
        if (e.MultiLine()) style = WS_TABSTOP | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL;
        std::string text = e.StoredText();
        CreateChild(item, "EDIT", style, EditWindowRect(item), text);
        break;
      }
      case NVItemKind::CheckBox: {
        auto& c = static_cast<TNVCheckBox&>(item);
        if (HWND w = CreateChild(item, "BUTTON", BS_OWNERDRAW | BS_NOTIFY | WS_TABSTOP | WS_VISIBLE, item.rect, c.Caption()))
          SendMessageA(w, BM_SETCHECK, c.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
      }
      case NVItemKind::Image:
        break;  // painted by the form
    }
  }
}

int FormWindow::Run() {
  bool ownerWasEnabled = owner_ && IsWindowEnabled(owner_);
  if (ownerWasEnabled) EnableWindow(owner_, FALSE);
  int result = nvmrCancel;
  if (Create()) {
    // pictures named by file are loaded before the layout sizes the images
    for (const Ref<TNVItem>& item : form_.Items())
      if (item->Kind() == NVItemKind::Image) {
        auto& image = static_cast<TNVImage&>(*item);
        if (!image.Picture() && !image.File().empty()) image.StorePicture(LoadBitmapFile(image.File()));
      }
    GdiMeasure measure(tahoma_, arial_, arialBold_);
    NVMetrics metrics;
    metrics.checkWidth = GetSystemMetrics(SM_CXMENUCHECK);
    metrics.checkHeight = GetSystemMetrics(SM_CYMENUCHECK);
    metrics.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    layout_ = LayoutForm(form_, measure, metrics);
    CreateItemWindows();
    form_.ContinueCheck();
    TNVItem* first = form_.FirstFocus();
    if (first && first->window_) {
      Focus(*first);
      form_.lastFocus = first->window_;  // activation gives it back when the window appears
    }

    // outer size for a client area of W x H, centred on the screen
    RECT outer, client;
    GetWindowRect(wnd_, &outer);
    GetClientRect(wnd_, &client);
    int w = layout_.width + (outer.right - outer.left) - (client.right - client.left);
    int h = layout_.height + (outer.bottom - outer.top) - (client.bottom - client.top);
    SetWindowPos(wnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h,
                 SWP_NOZORDER | SWP_NOACTIVATE);

    if (!form_.PrepareToAppear()) {
      DestroyWindow();
      result = nvmrSkip;
    } else {
      ShowWindow(wnd_, SW_SHOW);
      if (IsIconic(wnd_)) ShowWindow(wnd_, SW_RESTORE);
      BringWindowToTop(wnd_);
      SetForegroundWindow(wnd_);
      if (first && first->window_ && IsWindow(static_cast<HWND>(first->window_))) Focus(*first);
      if (form_.TimerInterval() != 0) timer_ = SetTimer(wnd_, kTimerId, static_cast<UINT>(form_.TimerInterval()), nullptr) != 0;
      MSG msg;
      while (wnd_ && IsWindow(wnd_)) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
          // the program is ending: the quit request stays for the program's own loop
          if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
          break;
        }
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
          TNVItem* cancel = form_.StandardButton(kCancelIndex);
          if (!cancel->window_ || !IsWindowEnabled(static_cast<HWND>(cancel->window_))) continue;
          msg.hwnd = wnd_;
          msg.message = WM_CLOSE;
          msg.wParam = msg.lParam = 0;
          DispatchMessageA(&msg);
          continue;
        }
        if ((msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) || (msg.message == WM_CHAR && msg.wParam == '\t')) {
          if (msg.message == WM_KEYDOWN) MoveFocus(ItemOfWindow(GetFocus()), GetKeyState(VK_SHIFT) >= 0);
          continue;
        }
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
          TNVItem* item = ItemOfWindow(msg.hwnd);
          if (item && item->Kind() != NVItemKind::Button) {
            if (item->Kind() == NVItemKind::Edit && static_cast<TNVEdit*>(item)->MultiLine()) {
              // The line break goes in at once, in the order of the keys: a character made from the key would
              // be queued behind what was typed after it.
              if (!(GetWindowLongA(static_cast<HWND>(item->window_), GWL_STYLE) & ES_READONLY))
                SendMessageA(static_cast<HWND>(item->window_), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("\r\n"));
            } else {
              MoveFocus(item, true);
            }
            continue;
          }
        }
        if (wnd_ && IsDialogMessageA(wnd_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      result = form_.ModalResult() == nvmrNone ? nvmrCancel : form_.ModalResult();
    }
  }
  StopTimer();
  if (ownerWasEnabled) {
    EnableWindow(owner_, TRUE);
    SetActiveWindow(owner_);
  }
  return result;
}

TNVItem* FormWindow::ItemOfWindow(HWND w) const {
  if (!w) return nullptr;
  for (const Ref<TNVItem>& item : form_.Items())
    if (item->window_ == w || (item->window_ && IsChild(static_cast<HWND>(item->window_), w))) return item.get();
  return nullptr;
}

TNVImage* FormWindow::ImageAt(POINT p) const {
  for (const Ref<TNVItem>& item : form_.Items())
    if (item->Kind() == NVItemKind::Image) {
      RECT r = ToRect(item->rect);
      if (PtInRect(&r, p) && static_cast<TNVImage&>(*item).Clickable()) return static_cast<TNVImage*>(item.get());
    }
  return nullptr;
}

void FormWindow::MoveFocus(TNVItem* from, bool forward) {
  if (!from) from = form_.StandardButton(kCancelIndex);
  TNVItem* to = form_.FocusTarget(from, forward);
  if (to && to->window_) Focus(*to);
}

LRESULT FormWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the whole client area is painted by WM_PAINT
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(wnd_, &ps);
      Paint(dc);
      EndPaint(wnd_, &ps);
      return 0;
    }
    case WM_DRAWITEM: {
      const auto& d = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      TNVItem* item = ItemOfWindow(d.hwndItem);
      if (!item) break;
      if (item->Kind() == NVItemKind::CheckBox) PaintCheckBox(d, static_cast<TNVCheckBox&>(*item));
      else if (item->Index() < kFirstContentIndex) PaintStandardButton(d, item->Index());
      return TRUE;
    }
    case WM_COMMAND: {
      HWND control = reinterpret_cast<HWND>(lParam);
      WORD code = HIWORD(wParam);
      TNVItem* item = control ? ItemOfWindow(control) : nullptr;
      if (!control && LOWORD(wParam) == IDOK) {
        // Enter without a control: the focused standard button
        TNVItem* focused = ItemOfWindow(GetFocus());
        if (focused && focused->Index() < kFirstContentIndex) form_.Click(*focused);
        return 0;
      }
      if (!item) break;
      if (item->Kind() == NVItemKind::Edit) {
        if (code == EN_CHANGE) form_.EditChanged(static_cast<TNVEdit&>(*item));
        else if (code == EN_SETFOCUS || code == EN_KILLFOCUS) Repaint(*item);
      } else if (code == BN_CLICKED) {
        form_.Click(*item);
      } else if (code == BN_SETFOCUS && item->Kind() == NVItemKind::Button) {
        // a push button with the focus is the default button
        for (int i = 0; i < form_.ItemCount(); ++i) {
          TNVItem* b = form_.ItemAt(i);
          if (b->Kind() != NVItemKind::Button || !b->window_) continue;
          LONG style = GetWindowLongA(static_cast<HWND>(b->window_), GWL_STYLE);
          if ((style & BS_TYPEMASK) == BS_OWNERDRAW) continue;
          SendMessageA(static_cast<HWND>(b->window_), BM_SETSTYLE, b == item ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
        }
      }
      return 0;
    }
    case WM_CTLCOLOREDIT: {
      TNVItem* item = ItemOfWindow(reinterpret_cast<HWND>(lParam));
      HDC dc = reinterpret_cast<HDC>(wParam);
      if (item && item->Kind() == NVItemKind::Edit) SetTextColor(dc, EditTextColour(static_cast<TNVEdit&>(*item)));
      SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        form_.lastFocus = GetFocus();
      } else if (form_.lastFocus && IsWindow(static_cast<HWND>(form_.lastFocus))) {
        ::SetFocus(static_cast<HWND>(form_.lastFocus));
        return 0;
      }
      break;
    case WM_SETCURSOR: {
      POINT p;
      GetCursorPos(&p);
      ScreenToClient(wnd_, &p);
      if (IsWindowEnabled(wnd_) && ImageAt(p)) {
        SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONDOWN: {
      POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (TNVImage* image = ImageAt(p)) {
        form_.capturedImage = image;
        SetCapture(wnd_);
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      TNVImage* captured = form_.capturedImage;
      if (!captured) return 0;
      form_.capturedImage = nullptr;
      ReleaseCapture();
      POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (ImageAt(p) == captured) form_.ImageClicked(*captured);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kTimerId) form_.TimerTick();
      return 0;
    case WM_CLOSE:
      form_.CloseRequest();
      return 0;
    default:
      break;
  }
  return DefWindowProcA(wnd_, message, wParam, lParam);
}

// ---- painting -----------------------------------------------------------------------------------------

void FormWindow::Paint(HDC dc) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const int W = layout_.width;
  RECT client;
  GetClientRect(wnd_, &client);
  Fill(dc, client, ColourStep(face, 0x08));
  // the content panel, bordered by a dotted line 2 pixels wide
  RECT panel{layout_.panel.left, layout_.panel.top, layout_.panel.right + 1, layout_.panel.bottom + 1};
  Fill(dc, panel, face);
  COLORREF border = ColourStep(face, 0x10, true);
  DottedFrame(dc, panel, border);
  DottedFrame(dc, Inset(panel, 1), border);
  // message and step indicator
  DrawTextAt(dc, arialBold_, form_.Message(), RECT{11, 6, W, 25}, false, GetSysColor(COLOR_3DDKSHADOW), true);
  const COLORREF window = GetSysColor(COLOR_WINDOW);
  NVStepBox box = StepBox(W, form_.Step(), form_.StepCount());
  Fill(dc, RECT{box.left, 2, box.right + 1, 23}, GetSysColor(COLOR_BTNSHADOW));
  Fill(dc, RECT{box.left + 2, 4, box.left + 19, 8}, window);
  for (int y = 7; y <= 19; ++y) Fill(dc, RECT{box.left + 2, y, box.left + 19, y + 1}, StepBoxRowColour(window, y));
  for (int n = 1; n <= form_.StepCount(); ++n) {
    int x = StepNumberX(W, form_.StepCount(), n);
    bool current = n == form_.Step();
    DrawTextAt(dc, arialBold_, std::to_string(n), RECT{x, 4, x + 19, 21}, true,
               GetSysColor(current ? COLOR_WINDOWTEXT : COLOR_BTNSHADOW), current);
  }
  for (const Ref<TNVItem>& item : form_.Items()) {
    if (item->Kind() == NVItemKind::Edit) PaintEditFrame(dc, *item);
    else if (item->Kind() == NVItemKind::Image) PaintImage(dc, static_cast<TNVImage&>(*item));
  }
}

void FormWindow::PaintEditFrame(HDC dc, TNVItem& edit) {
  RECT r = ToRect(edit.rect);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  if (edit.window_ && GetFocus() == edit.window_) {
    Fill(dc, Inset(r, -1), GetSysColor(COLOR_BTNSHADOW));
    Fill(dc, RECT{r.left - 1, r.bottom, r.right + 1, r.bottom + 1}, GetSysColor(COLOR_WINDOW));
    Fill(dc, RECT{r.right, r.top - 1, r.right + 1, r.bottom + 1}, GetSysColor(COLOR_WINDOW));
    Fill(dc, r, face);
    Fill(dc, Inset(r, 1), GetSysColor(COLOR_WINDOW));
  } else {
    Fill(dc, r, LightTint(face));
  }
}

void FormWindow::PaintImage(HDC dc, TNVImage& image) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  RECT area = ToRect(image.rect);
  if (image.Clickable()) {
    Fill(dc, area, LightTint(face));
    Fill(dc, Inset(area, 2), face);
    area = Inset(area, 3);
  }
  if (image.Border()) {
    HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_WINDOWTEXT));
    FrameRect(dc, &area, brush);
    DeleteObject(brush);
    area = Inset(area, 1);
  }
  Fill(dc, area, face);
  INVBitmap picture = image.Picture();
  if (picture) {
    HRGN clip = CreateRectRgnIndirect(&area);
    SelectClipRgn(dc, clip);
    DrawBitmap(dc, *picture, area.left, area.top);
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
  }
}

void FormWindow::PaintStandardButton(const DRAWITEMSTRUCT& d, int index) {
  HDC dc = d.hDC;
  RECT r = d.rcItem;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  TNVButton& button = *form_.StandardButton(index);
  std::string caption = button.ShownCaption(button.Caption());
  NVRect nr{r.left, r.top, r.right, r.bottom};
  if (d.itemState & ODS_DISABLED) {
    Fill(dc, r, face);
    Fill(dc, Inset(r, 2), ColourStep(face, 0x10));
    DrawTextAt(dc, arial_, caption, r, true, ColourStep(face, 0x14, true), false);
  } else if (d.itemState & ODS_FOCUS) {
    Fill(dc, r, GetSysColor(COLOR_WINDOWTEXT));
    for (const NVRow& row : ButtonRows(index, NVButtonState::Focused, nr))
      Fill(dc, RECT{row.left, row.y, row.right, row.y + 1}, row.colour);
    DottedFrame(dc, Inset(r, 3), StandardButtonLook(index).accent);
    DrawTextAt(dc, arial_, caption, r, true, GetSysColor(COLOR_WINDOW), false);
  } else {
    Fill(dc, r, GetSysColor(COLOR_BTNSHADOW));
    Fill(dc, Inset(r, 2), face);
    for (const NVRow& row : ButtonRows(index, NVButtonState::Normal, nr))
      Fill(dc, RECT{row.left, row.y, row.right, row.y + 1}, row.colour);
    DrawTextAt(dc, arial_, caption, r, true, GetSysColor(COLOR_WINDOWTEXT), true);
  }
}

void FormWindow::PaintCheckBox(const DRAWITEMSTRUCT& d, TNVCheckBox& box) {
  HDC dc = d.hDC;
  RECT r = d.rcItem;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const bool disabled = d.itemState & ODS_DISABLED;
  Fill(dc, r, face);
  int side = r.bottom - r.top;
  RECT square{r.left, r.top, r.left + side, r.bottom};
  Fill(dc, square, LightTint(face));
  Fill(dc, Inset(square, 2), (d.itemState & ODS_SELECTED) || disabled ? face : GetSysColor(COLOR_WINDOW));
  COLORREF ink = GetSysColor(disabled ? COLOR_BTNSHADOW : COLOR_WINDOWTEXT);
  if (box.Checked()) {
    RECT mark = square;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    // one pixel higher from Windows XP on
    if (GetVersionExA(&version) &&
        (version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1)))
      OffsetRect(&mark, 0, -1);
    DrawTextAt(dc, marlett_, "a", mark, true, ink, false);
  }
  std::string caption = box.Caption();
  RECT text{r.left + side + 5, r.top, r.right, r.bottom};
  if (disabled) {
    RECT shadow = text;
    OffsetRect(&shadow, 1, 1);
    DrawTextAt(dc, tahoma_, caption, shadow, false, GetSysColor(COLOR_WINDOW), false);
  }
  HGDIOBJ old = SelectObject(dc, tahoma_);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ink);
  DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &text, DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER);
  SelectObject(dc, old);
  if (d.itemState & ODS_FOCUS) DrawFocusRect(dc, &text);
}

}  // namespace

namespace assistant_platform {

int RunFormWindow(TNVForm& form, NVWindow owner) {
  FormWindow window(form, static_cast<HWND>(owner));
  return window.Run();
}

void ShowMessage(const std::string& text) { MessageBoxA(nullptr, text.c_str(), "Ravex", MB_OK); }

bool DisableOwner(NVWindow owner) {
  HWND w = static_cast<HWND>(owner);
  if (!w || !IsWindow(w) || !IsWindowEnabled(w)) return false;
  EnableWindow(w, FALSE);
  return true;
}

void EnableOwner(NVWindow owner) {
  HWND w = static_cast<HWND>(owner);
  if (w && IsWindow(w)) EnableWindow(w, TRUE);
}

}  // namespace assistant_platform

}  // namespace rvx
