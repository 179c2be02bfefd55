#include "framework/controls.h"

#include <algorithm>

#include "framework/exceptions.h"
#include "framework/forms.h"

namespace fw {

namespace {
constexpr char kWindowClass[] = "FwWindow";
constexpr char kControlProp[] = "FwControl";

void RegisterFrameworkClass() {
  static bool done = false;
  if (done) return;
  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = FrameworkWndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = kWindowClass;
  RegisterClassA(&wc);
  done = true;
}

// The control being created, for the messages that arrive before CreateWindowEx returns.
thread_local TWinControl* t_creating = nullptr;
}  // namespace

TShift KeyboardShift() {
  TShift s = 0;
  if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
  if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

TShift KeyDataToShift(LPARAM keyData) {
  TShift s = KeyboardShift();
  if (keyData & 0x20000000) s |= ssAlt;
  return s;
}

TShift MouseShift(WPARAM w) {
  TShift s = 0;
  if (w & MK_SHIFT) s |= ssShift;
  if (w & MK_CONTROL) s |= ssCtrl;
  if (w & MK_LBUTTON) s |= ssLeft;
  if (w & MK_RBUTTON) s |= ssRight;
  if (w & MK_MBUTTON) s |= ssMiddle;
  if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
  return s;
}

// ---------------------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* owner) : TComponent(owner), font_(std::make_unique<TFont>()) {
  font_->OnChange = [this] { FontChanged(); };
}

TControl::~TControl() {
  if (parent_) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_) parent_->RemoveControl(this);
  if (parent) parent->InsertControl(this);
  if (parent_ && parentFont_) ParentFontChanged();
  if (parent_ && parentColor_) color_ = parent_->Color();
}

void TControl::SetParentComponent(TComponent* parent) {
  if (auto* w = dynamic_cast<TWinControl*>(parent)) SetParent(w);
}

void TControl::SetBounds(int l, int t, int w, int h) {
  left_ = l;
  top_ = t;
  width_ = w;
  height_ = h;
}

void TControl::SetVisible(bool v) { visible_ = v; }
void TControl::SetEnabled(bool e) { enabled_ = e; }
void TControl::SetCaption(const std::string& c) { caption_ = c; }
void TControl::SetColor(TColor c) {
  color_ = c;
  parentColor_ = false;
}

void TControl::SetParentFont(bool value) {
  parentFont_ = value;
  if (value && parent_) ParentFontChanged();
}

void TControl::FontChanged() { parentFont_ = false; }

void TControl::ParentFontChanged() {
  if (!parentFont_ || !parent_) return;
  font_->OnChange = nullptr;
  font_->Assign(parent_->Font());
  font_->OnChange = [this] { FontChanged(); };
  bool keep = parentFont_;
  FontChanged();
  parentFont_ = keep;
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::Loaded() { TComponent::Loaded(); }

void TControl::ScaleBy(int to, int from) {
  SetBounds(ScaleValue(left_, to, from), ScaleValue(top_, to, from), ScaleValue(width_, to, from),
            ScaleValue(height_, to, from));
  if (!parentFont_) font_->SetHeight(ScaleValue(font_->Height(), to, from));
}

TPersistent* TControl::SubObject(std::string_view name) {
  if (name == "Font") {
    parentFont_ = false;
    return font_.get();
  }
  return nullptr;
}

bool TControl::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "Left") {
    SetBounds(static_cast<int>(IntegerValue(v)), top_, width_, height_);
  } else if (name == "Top") {
    SetBounds(left_, static_cast<int>(IntegerValue(v)), width_, height_);
  } else if (name == "Width") {
    SetBounds(left_, top_, static_cast<int>(IntegerValue(v)), height_);
  } else if (name == "Height") {
    SetBounds(left_, top_, width_, static_cast<int>(IntegerValue(v)));
  } else if (name == "Caption" || name == "Text") {
    SetCaption(StringValue(v));
  } else if (name == "Visible") {
    SetVisible(BoolValue(v));
  } else if (name == "Enabled") {
    SetEnabled(BoolValue(v));
  } else if (name == "Color") {
    SetColor(ColorValue(v));
  } else if (name == "ParentFont") {
    SetParentFont(BoolValue(v));
  } else if (name == "ParentColor") {
    parentColor_ = BoolValue(v);
  } else if (name == "Hint") {
    hint_ = StringValue(v);
  } else if (name == "ShowHint" || name == "ParentShowHint") {
    BoolValue(v);
  } else if (name == "OnClick" || name == "OnMouseDown" || name == "OnMouseUp") {
    const Method method = EventMethod(v, reader);
    if (name == "OnClick") {
      OnClick = method;
    } else if (name == "OnMouseDown") {
      OnMouseDown = [method](TComponent* s, TMouseButton, TShift, int, int) { method(s); };
    } else {
      OnMouseUp = [method](TComponent* s, TMouseButton, TShift, int, int) { method(s); };
    }
  } else {
    return TComponent::ReadProperty(name, v, reader);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  SetDestroying();
  // Children that belong to other owners lose their parent; their windows die with ours.
  for (auto* c : std::vector<TControl*>(controls_)) c->SetParent(nullptr);
  DestroyHandle();
}

TWinControl* TWinControl::FromHandle(HWND h) {
  return h ? static_cast<TWinControl*>(GetPropA(h, kControlProp)) : nullptr;
}

void TWinControl::InsertControl(TControl* c) {
  controls_.push_back(c);
  c->parent_ = this;
  if (auto* w = dynamic_cast<TWinControl*>(c)) {
    tabList_.push_back(w);
    if (handle_ && !w->handle_) w->CreateWnd();
  }
}

void TWinControl::RemoveControl(TControl* c) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), c), controls_.end());
  if (auto* w = dynamic_cast<TWinControl*>(c)) {
    tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), w), tabList_.end());
    w->DestroyHandle();
  }
  c->parent_ = nullptr;
}

int TWinControl::TabOrder() const {
  if (!parent_) return -1;
  auto& list = parent_->tabList_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int order) {
  if (!parent_) return;
  auto& list = parent_->tabList_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  order = std::clamp(order, 0, static_cast<int>(list.size()));
  list.insert(list.begin() + order, this);
  if (handle_) {
    HWND after = order == 0 ? HWND_TOP : list[static_cast<size_t>(order - 1)]->handle_;
    if (after) SetWindowPos(handle_, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void TWinControl::SetTabStop(bool value) {
  tabStop_ = value;
  if (handle_) {
    LONG style = GetWindowLongA(handle_, GWL_STYLE);
    SetWindowLongA(handle_, GWL_STYLE, value ? style | WS_TABSTOP : style & ~WS_TABSTOP);
  }
}

void TWinControl::CreateParamsFor(CreateParams& p) {
  p.caption = caption_;
  p.style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  if (visible_) p.style |= WS_VISIBLE;
  if (!enabled_) p.style |= WS_DISABLED;
  if (tabStop_) p.style |= WS_TABSTOP;
  p.x = left_;
  p.y = top_;
  p.width = width_;
  p.height = height_;
  p.parent = parent_ ? parent_->Handle() : nullptr;
}

void TWinControl::CreateWindowHandle(const CreateParams& p) {
  RegisterFrameworkClass();
  t_creating = this;
  HWND h = CreateWindowExA(p.exStyle, p.windowClass ? p.windowClass : kWindowClass, p.caption.c_str(), p.style,
                           p.x, p.y, p.width, p.height, p.parent, nullptr, GetModuleHandleA(nullptr), this);
  t_creating = nullptr;
  if (!h) throw EOSError("Error creating window (" + std::to_string(GetLastError()) + ")", GetLastError());
  if (p.windowClass) {
    // A system control: subclass it so that its messages reach WndProc first.
    handle_ = h;
    SetPropA(h, kControlProp, this);
    defWndProc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassWndProc)));
  }
}

void TWinControl::CreateWnd() {
  if (handle_) return;
  CreateParams p;
  CreateParamsFor(p);
  CreateWindowHandle(p);
  SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(*font_)), 0);
  for (auto* w : std::vector<TWinControl*>(tabList_)) w->CreateWnd();
  AfterCreateHandle();
}

HWND TWinControl::Handle() {
  if (!handle_) {
    if (parent_) parent_->Handle();
    if (!handle_) CreateWnd();
  }
  return handle_;
}

void TWinControl::DestroyHandle() {
  if (!handle_) return;
  for (auto* w : tabList_) w->DestroyHandle();
  HWND h = handle_;
  if (defWndProc_) SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(defWndProc_));
  RemovePropA(h, kControlProp);
  handle_ = nullptr;
  defWndProc_ = nullptr;
  DestroyWindow(h);
}

void TWinControl::SetBounds(int l, int t, int w, int h) {
  TControl::SetBounds(l, t, w, h);
  if (handle_) SetWindowPos(handle_, nullptr, l, t, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWinControl::UpdateBounds() {
  RECT r;
  GetWindowRect(handle_, &r);
  HWND p = GetParent(handle_);
  if (p && (GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD)) MapWindowPoints(nullptr, p, reinterpret_cast<POINT*>(&r), 2);
  left_ = r.left;
  top_ = r.top;
  width_ = r.right - r.left;
  height_ = r.bottom - r.top;
}

int TWinControl::ClientWidth() const {
  if (!handle_) return width_;
  RECT r;
  GetClientRect(handle_, &r);
  return r.right;
}

int TWinControl::ClientHeight() const {
  if (!handle_) return height_;
  RECT r;
  GetClientRect(handle_, &r);
  return r.bottom;
}

void TWinControl::SetVisible(bool v) {
  TControl::SetVisible(v);
  if (handle_) ShowWindow(handle_, v ? SW_SHOWNA : SW_HIDE);
}

void TWinControl::SetEnabled(bool e) {
  TControl::SetEnabled(e);
  if (handle_) EnableWindow(handle_, e);
}

void TWinControl::SetCaption(const std::string& c) {
  TControl::SetCaption(c);
  if (handle_) SetWindowTextA(handle_, c.c_str());
}

void TWinControl::SetColor(TColor c) {
  TControl::SetColor(c);
  Invalidate();
}

bool TWinControl::Focused() const { return handle_ && GetFocus() == handle_; }

bool TWinControl::ContainsWindow(HWND window) const {
  return handle_ && window && (window == handle_ || IsChild(handle_, window));
}

// A control is entered when the focus comes into it (itself or one of its children) from a window outside
// it, and left when the focus goes from inside it to a window outside it. The focus moving between a control
// and its own children (a grid and its cell editor) neither enters nor leaves it. The outermost control is
// entered first and left last.
void TWinControl::FocusEntered(HWND from) {
  std::vector<TWinControl*> entered;
  for (TWinControl* c = this; c && !c->ContainsWindow(from); c = c->Parent()) entered.push_back(c);
  for (auto it = entered.rbegin(); it != entered.rend(); ++it) (*it)->DoEnter();
}

void TWinControl::FocusLeft(HWND to) {
  std::vector<TWinControl*> left;
  for (TWinControl* c = this; c && !c->ContainsWindow(to); c = c->Parent()) left.push_back(c);
  for (TWinControl* c : left) c->DoExit();
}

bool TWinControl::CanFocus() const {
  for (const TControl* c = this; c; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

void TWinControl::SetFocus() {
  if (auto* form = dynamic_cast<TForm*>(this); !form) {
    for (TWinControl* p = parent_; p; p = p->Parent())
      if (auto* f = dynamic_cast<TForm*>(p)) f->SetActiveControl(this);
  }
  ::SetFocus(Handle());
}

void TWinControl::Invalidate() {
  if (handle_) ::InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::InvalidateRect(const TRect& r) {
  if (!handle_) return;
  RECT rc{r.left, r.top, r.right, r.bottom};
  ::InvalidateRect(handle_, &rc, FALSE);
}

void TWinControl::Update() {
  if (handle_) UpdateWindow(handle_);
}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  if (handle_) SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(*font_)), TRUE);
  for (auto* c : controls_) c->ParentFontChanged();
}

void TWinControl::ParentFontChanged() { TControl::ParentFontChanged(); }

void TWinControl::ScaleBy(int to, int from) {
  TControl::ScaleBy(to, from);
  for (auto* c : controls_) c->ScaleBy(to, from);
}

bool TWinControl::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "TabOrder") {
    // Applied after loading, once every sibling exists (stored order may differ from tab order).
    int order = static_cast<int>(IntegerValue(v));
    reader.AddFixup([this, order] { SetTabOrder(order); });
  } else if (name == "TabStop") {
    SetTabStop(BoolValue(v));
  } else if (name == "DragKind" || name == "DragMode") {
    if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
    bool kind = name == "DragKind";
    if (kind && (v.text == "dkDrag" || v.text == "dkDock")) dragKind_ = v.text == "dkDock" ? dkDock : dkDrag;
    else if (!kind && (v.text == "dmManual" || v.text == "dmAutomatic"))
      dragMode_ = v.text == "dmAutomatic" ? dmAutomatic : dmManual;
    else throw EReadError("Invalid property value");
  } else if (name == "OnMouseMove" || name == "OnResize" || name == "OnContextPopup") {
    const Method method = EventMethod(v, reader);
    if (name == "OnResize") OnResize = method;
    else if (name == "OnMouseMove") OnMouseMove = [method](TComponent* s, TShift, int, int) { method(s); };
    else OnContextPopup = [method](TComponent* s, TPoint, bool&) { method(s); };
  } else if (name == "OnKeyDown" || name == "OnKeyUp" || name == "OnKeyPress" || name == "OnEnter" ||
             name == "OnExit") {
    const Method method = EventMethod(v, reader);
    if (name == "OnEnter") OnEnter = method;
    else if (name == "OnExit") OnExit = method;
    else if (name == "OnKeyPress") OnKeyPress = [method](TComponent* s, char&) { method(s); };
    else if (name == "OnKeyDown") OnKeyDown = [method](TComponent* s, WORD&, TShift) { method(s); };
    else OnKeyUp = [method](TComponent* s, WORD&, TShift) { method(s); };
  } else {
    return TControl::ReadProperty(name, v, reader);
  }
  return true;
}

LRESULT TWinControl::DefaultHandler(TMessage& m) {
  if (!handle_) return 0;
  m.result = defWndProc_ ? CallWindowProcA(defWndProc_, handle_, m.msg, m.wParam, m.lParam)
                         : DefWindowProcA(handle_, m.msg, m.wParam, m.lParam);
  return m.result;
}

void TWinControl::KeyDown(WORD& key, TShift shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
}
void TWinControl::KeyUp(WORD& key, TShift shift) {
  if (OnKeyUp) OnKeyUp(this, key, shift);
}
void TWinControl::KeyPress(char& key) {
  if (OnKeyPress) OnKeyPress(this, key);
}
void TWinControl::MouseDown(TMouseButton b, TShift s, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, b, s, x, y);
}
void TWinControl::MouseUp(TMouseButton b, TShift s, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, b, s, x, y);
}
void TWinControl::DoEnter() {
  if (OnEnter) OnEnter(this);
}
void TWinControl::DoExit() {
  if (OnExit) OnExit(this);
}

void TWinControl::BeginDrag() {
  if (dragging_ || !HandleAllocated()) return;
  POINT p;
  GetCursorPos(&p);
  dragStart_ = dragPos_ = TPoint{p.x, p.y};
  dragging_ = true;
  SetCapture(handle_);
}

void TWinControl::EndDrag(bool drop) {
  if (!dragging_) return;
  dragging_ = false;
  if (handle_ && GetCapture() == handle_) ReleaseCapture();
  int x = drop ? dragPos_.x : -1, y = drop ? dragPos_.y : -1;
  const TEndDragEvent& event = dragKind_ == dkDock ? OnEndDock : OnEndDrag;
  if (event) event(this, nullptr, x, y);
}

// Mouse and key messages while the control itself is dragged; true when the message was used.
bool TWinControl::DragMessage(TMessage& m) {
  switch (m.msg) {
    case WM_MOUSEMOVE: {
      POINT p{static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam))};
      ClientToScreen(handle_, &p);
      dragPos_ = TPoint{p.x, p.y};
      return true;
    }
    case WM_LBUTTONUP: {
      POINT p{static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam))};
      ClientToScreen(handle_, &p);
      dragPos_ = TPoint{p.x, p.y};
      EndDrag(true);
      return true;
    }
    case WM_KEYDOWN:
      if (m.wParam != VK_ESCAPE) return false;
      EndDrag(false);
      return true;
    case WM_CANCELMODE:
      EndDrag(false);
      return false;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(m.lParam) != handle_) EndDrag(false);
      return false;
    default:
      return false;
  }
}

void TWinControl::WndProc(TMessage& m) {
  if (dragging_ && DragMessage(m)) {
    m.result = 0;
    return;
  }
  switch (m.msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      WORD key = static_cast<WORD>(m.wParam);
      KeyDown(key, KeyDataToShift(m.lParam));
      if (key == 0) return;
      m.wParam = key;
      break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      WORD key = static_cast<WORD>(m.wParam);
      KeyUp(key, KeyDataToShift(m.lParam));
      if (key == 0) return;
      m.wParam = key;
      break;
    }
    case WM_CHAR: {
      char c = static_cast<char>(m.wParam);
      KeyPress(c);
      if (c == 0) return;
      m.wParam = static_cast<unsigned char>(c);
      break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK: {
      TMouseButton b = (m.msg == WM_LBUTTONDOWN || m.msg == WM_LBUTTONDBLCLK) ? TMouseButton::mbLeft
                       : (m.msg == WM_MBUTTONDOWN)                          ? TMouseButton::mbMiddle
                                                                            : TMouseButton::mbRight;
      TShift s = MouseShift(m.wParam);
      if (m.msg == WM_LBUTTONDBLCLK || m.msg == WM_RBUTTONDBLCLK) {
        s |= ssDouble;
        DblClick();
      }
      DefaultHandler(m);
      MouseDown(b, s, static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam)));
      return;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      TMouseButton b = m.msg == WM_LBUTTONUP ? TMouseButton::mbLeft
                       : m.msg == WM_MBUTTONUP ? TMouseButton::mbMiddle
                                               : TMouseButton::mbRight;
      DefaultHandler(m);
      MouseUp(b, MouseShift(m.wParam), static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam)));
      return;
    }
    case WM_MOUSEMOVE:
      MouseMove(MouseShift(m.wParam), static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam)));
      break;
    case WM_MOUSEWHEEL: {
      POINT pt{static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam))};
      ScreenToClient(handle_, &pt);
      if (DoMouseWheel(MouseShift(LOWORD(m.wParam)), static_cast<short>(HIWORD(m.wParam)), TPoint{pt.x, pt.y})) {
        m.result = 0;
        return;
      }
      break;
    }
    case WM_SETFOCUS:
      DefaultHandler(m);
      FocusEntered(reinterpret_cast<HWND>(m.wParam));
      return;
    case WM_KILLFOCUS:
      DefaultHandler(m);
      FocusLeft(reinterpret_cast<HWND>(m.wParam));
      return;
    case WM_SIZE:
      if (handle_) UpdateBounds();
      DefaultHandler(m);
      Resize();
      if (OnResize) OnResize(this);
      return;
    case WM_CONTEXTMENU:
      if (OnContextPopup) {
        POINT p{static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam))};
        if (p.x != -1 || p.y != -1) ScreenToClient(handle_, &p);
        bool handled = false;
        OnContextPopup(this, TPoint{p.x, p.y}, handled);
        if (handled) {
          m.result = 0;
          return;
        }
      }
      break;
    case WM_MOVE:
      if (handle_) UpdateBounds();
      break;
    case WM_COMMAND:
    case WM_NOTIFY:
      if (m.lParam) {
        HWND child = m.msg == WM_COMMAND ? reinterpret_cast<HWND>(m.lParam)
                                         : reinterpret_cast<NMHDR*>(m.lParam)->hwndFrom;
        if (TWinControl* c = FromHandle(child); c && c != this) {
          TMessage reflected{CN_BASE + m.msg, m.wParam, m.lParam, 0};
          c->Dispatch(reflected);
          m.result = reflected.result;
          return;
        }
      }
      break;
    case WM_ERASEBKGND:
      if (!defWndProc_) {
        RECT r;
        GetClientRect(handle_, &r);
        HBRUSH b = CreateSolidBrush(ColorToRGB(color_));
        FillRect(reinterpret_cast<HDC>(m.wParam), &r, b);
        DeleteObject(b);
        m.result = 1;
        return;
      }
      break;
    default:
      break;
  }
  DefaultHandler(m);
}

void TWinControl::Dispatch(TMessage& m) {
  try {
    WndProc(m);
  } catch (...) {
    if (Application) Application->HandleException(this);
  }
}

LRESULT CALLBACK FrameworkWndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  TWinControl* c = TWinControl::FromHandle(h);
  if (!c && t_creating) {
    c = t_creating;
    c->handle_ = h;
    SetPropA(h, kControlProp, c);
  }
  if (!c) return DefWindowProcA(h, msg, w, l);
  if (msg == WM_NCDESTROY) {
    RemovePropA(h, kControlProp);
    if (c->handle_ == h) c->handle_ = nullptr;
    return DefWindowProcA(h, msg, w, l);
  }
  TMessage m{msg, w, l, 0};
  c->Dispatch(m);
  return m.result;
}

LRESULT CALLBACK SubclassWndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  TWinControl* c = TWinControl::FromHandle(h);
  if (!c) return DefWindowProcA(h, msg, w, l);
  TMessage m{msg, w, l, 0};
  c->Dispatch(m);
  return m.result;
}

// ---------------------------------------------------------------------------------------------------------
// TCustomControl

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner) {}

void TCustomControl::WndProc(TMessage& m) {
  if (m.msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    canvas_.SetHandle(dc);
    canvas_.Font().Assign(Font());
    try {
      Paint();
    } catch (...) {
      canvas_.SetHandle(nullptr);
      EndPaint(Handle(), &ps);
      throw;
    }
    canvas_.SetHandle(nullptr);
    EndPaint(Handle(), &ps);
    m.result = 0;
    return;
  }
  TWinControl::WndProc(m);
}

// ---------------------------------------------------------------------------------------------------------
// TButton

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  width_ = 75;
  height_ = 25;
  tabStop_ = true;
}

void TButton::CreateParamsFor(CreateParams& p) {
  TWinControl::CreateParamsFor(p);
  p.windowClass = "BUTTON";
  p.style |= (default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
  p.style &= ~WS_CLIPCHILDREN;
}

void TButton::WndProc(TMessage& m) {
  if (m.msg == CN_COMMAND) {
    if (HIWORD(m.wParam) == BN_CLICKED) Click();
    return;
  }
  TWinControl::WndProc(m);
}

bool TButton::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "Default") {
    default_ = BoolValue(v);
  } else if (name == "Cancel") {
    cancel_ = BoolValue(v);
  } else if (name == "ModalResult") {
    IntegerValue(v);
  } else {
    return TWinControl::ReadProperty(name, v, reader);
  }
  return true;
}


}  // namespace fw
