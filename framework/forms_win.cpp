#include "framework/forms.h"
#include "framework/sysutils.h"

#include <condition_variable>
#include <vector>

#include "framework/classinfo.h"
#include "framework/component_stream.h"
#include "framework/exceptions.h"

namespace fw {

TApplication* Application = nullptr;

// ---------------------------------------------------------------------------------------------------------
// TForm

TForm::TForm(TComponent* owner) : TWinControl(owner) {
  visible_ = false;
  font_->SetName("MS Sans Serif");
  font_->SetHeight(-11);
  parentFont_ = false;
  color_ = clBtnFace;
  width_ = 320;
  height_ = 240;
}

TForm::~TForm() { DestroyHandle(); }

void TForm::LoadFromResource(const char* resourceName, HMODULE module) {
  if (!module) module = GetModuleHandleA(nullptr);
  HRSRC res = FindResourceA(module, resourceName, MAKEINTRESOURCEA(10) /* RCDATA */);
  if (!res) throw EResNotFound(std::string("Resource ") + resourceName + " not found");
  HGLOBAL g = LoadResource(module, res);
  const char* data = static_cast<const char*>(LockResource(g));
  DWORD size = SizeofResource(module, res);
  if (!data) throw EResNotFound(std::string("Resource ") + resourceName + " not found");
  LoadFromStream(std::string_view(data, size));
}

void TForm::LoadFromStream(std::string_view data) {
  ComponentNode node = ReadComponentStream(data);
  LoadComponent(this, node);
}

void TForm::Loaded() {
  TWinControl::Loaded();
  int screen = ScreenPixelsPerInch();
  if (scaled_ && pixelsPerInch_ != screen) {
    for (auto* c : controls_) c->ScaleBy(screen, pixelsPerInch_);
    font_->SetHeight(ScaleValue(font_->Height(), screen, pixelsPerInch_));
    if (clientWidth_ >= 0) clientWidth_ = ScaleValue(clientWidth_, screen, pixelsPerInch_);
    if (clientHeight_ >= 0) clientHeight_ = ScaleValue(clientHeight_, screen, pixelsPerInch_);
    width_ = ScaleValue(width_, screen, pixelsPerInch_);
    height_ = ScaleValue(height_, screen, pixelsPerInch_);
  }
  if (!activeControlName_.empty())
    if (auto* c = dynamic_cast<TWinControl*>(FindComponent(activeControlName_))) activeControl_ = c;
  if (OnCreate) OnCreate(this);
}

bool TForm::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "PixelsPerInch") {
    pixelsPerInch_ = static_cast<int>(IntegerValue(v));
  } else if (name == "TextHeight") {
    textHeight_ = static_cast<int>(IntegerValue(v));
  } else if (name == "Scaled") {
    scaled_ = BoolValue(v);
  } else if (name == "ClientWidth") {
    clientWidth_ = static_cast<int>(IntegerValue(v));
  } else if (name == "ClientHeight") {
    clientHeight_ = static_cast<int>(IntegerValue(v));
  } else if (name == "ActiveControl") {
    if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
    activeControlName_ = v.text;
  } else if (name == "OldCreateOrder" || name == "Position" || name == "BorderStyle" || name == "FormStyle") {
    // Stored for compatibility; the form is shown at its stored place and always as a sizeable window.
  } else if (name == "OnCreate" || name == "OnShow" || name == "OnClose") {
    (name == "OnCreate" ? OnCreate : name == "OnShow" ? OnShow : OnClose) = EventMethod(v, reader);
  } else {
    return TWinControl::ReadProperty(name, v, reader);
  }
  return true;
}

void TForm::CreateParamsFor(CreateParams& p) {
  TWinControl::CreateParamsFor(p);
  p.style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  p.exStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
  p.parent = nullptr;
  if (clientWidth_ >= 0 || clientHeight_ >= 0) {
    RECT r{0, 0, clientWidth_ >= 0 ? clientWidth_ : width_, clientHeight_ >= 0 ? clientHeight_ : height_};
    AdjustWindowRectEx(&r, p.style, FALSE, p.exStyle);
    if (clientWidth_ >= 0) p.width = r.right - r.left;
    if (clientHeight_ >= 0) p.height = r.bottom - r.top;
  }
}

int TForm::ClientWidth() const {
  if (HandleAllocated() || clientWidth_ < 0) return TWinControl::ClientWidth();
  return clientWidth_;
}

int TForm::ClientHeight() const {
  if (HandleAllocated() || clientHeight_ < 0) return TWinControl::ClientHeight();
  return clientHeight_;
}

void TForm::SetActiveControl(TWinControl* control) { activeControl_ = control; }

void TForm::Show() {
  HWND h = Handle();
  visible_ = true;
  ShowWindow(h, SW_SHOWNORMAL);
  if (activeControl_ && activeControl_->CanFocus()) {
    activeControl_->SetFocus();
  } else if (!tabList_.empty()) {
    for (auto* w : tabList_)
      if (w->TabStop() && w->CanFocus()) {
        w->SetFocus();
        break;
      }
  }
  UpdateWindow(h);
  if (OnShow) OnShow(this);
}

void TForm::Close() {
  if (HandleAllocated()) PostMessageA(Handle(), WM_CLOSE, 0, 0);
}

namespace {
BOOL CALLBACK CollectEnabledWindow(HWND w, LPARAM l) {
  auto* list = reinterpret_cast<std::vector<HWND>*>(l);
  if (IsWindowVisible(w) && IsWindowEnabled(w)) list->push_back(w);
  return TRUE;
}
}  // namespace

int TForm::ShowModal() {
  modalResult_ = mrNone;
  HWND self = Handle();
  // Every other window of this thread is disabled while the form runs.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
  std::erase(disabled, self);
  for (HWND w : disabled) EnableWindow(w, FALSE);
  inModal_ = true;
  auto finish = [&] {
    inModal_ = false;
    for (HWND w : disabled) EnableWindow(w, TRUE);
    ShowWindow(self, SW_HIDE);
    visible_ = false;
  };
  try {
    Show();
    SetForegroundWindow(self);
    ModalShown();
    MSG msg;
    while (modalResult_ == mrNone) {
      BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got <= 0) {
        if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
        modalResult_ = mrCancel;
        break;
      }
      if (msg.message == WM_KEYDOWN && (msg.hwnd == self || IsChild(self, msg.hwnd)) &&
          (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN)) {
        char key = msg.wParam == VK_ESCAPE ? 27 : '\r';
        ModalKeyPreview(key);
        if (key == 0) continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    ModalEnded();
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return modalResult_;
}

void TForm::WndProc(TMessage& m) {
  switch (m.msg) {
    case WM_CLOSE:
      if (inModal_) {
        // Closing a modal form cancels it; the modal loop hides it.
        if (modalResult_ == mrNone) modalResult_ = mrCancel;
        m.result = 0;
        return;
      }
      if (OnClose) OnClose(this);
      if (Application && Application->MainForm() == this) Application->Terminate();
      SetVisible(false);
      m.result = 0;
      return;
    case WM_ACTIVATE:
      if (LOWORD(m.wParam) != WA_INACTIVE && activeControl_ && activeControl_->HandleAllocated()) {
        ::SetFocus(activeControl_->Handle());
        m.result = 0;
        return;
      }
      break;
    default:
      break;
  }
  TWinControl::WndProc(m);
}

// ---------------------------------------------------------------------------------------------------------
// TApplication

struct TApplication::Pending {
  std::function<void()> call;
  std::exception_ptr error;
  bool done = false;
  std::condition_variable cv;
};

namespace {
LRESULT CALLBACK AppWndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_NULL && Application) {
    Application->CheckSynchronize();
    return 0;
  }
  return DefWindowProcA(h, msg, w, l);
}
}  // namespace

TApplication::TApplication() : TComponent(nullptr) {
  Application = this;
  mainThreadId_ = GetCurrentThreadId();
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  title_ = path;
  size_t slash = title_.find_last_of("\\/");
  if (slash != std::string::npos) title_ = title_.substr(slash + 1);
  size_t dot = title_.rfind('.');
  if (dot != std::string::npos) title_ = title_.substr(0, dot);
}

TApplication::~TApplication() {
  // Forms go first (reverse order of creation), while the application window still exists.
  while (ComponentCount() > 0) delete Component(ComponentCount() - 1);
  if (handle_) DestroyWindow(handle_);
  if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
  HDC dc = GetDC(nullptr);
  SetScreenPixelsPerInch(GetDeviceCaps(dc, LOGPIXELSY));
  ReleaseDC(nullptr, dc);
  WNDCLASSA wc{};
  wc.lpfnWndProc = AppWndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TApplication";
  RegisterClassA(&wc);
  handle_ = CreateWindowExA(0, "TApplication", title_.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
}

void TApplication::Run() {
  if (!mainForm_) return;
  try {
    mainForm_->Show();
  } catch (...) {
    HandleException(mainForm_);
  }
  MSG msg;
  while (!terminated_) {
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      terminated_ = true;
      break;
    }
    if (got < 0) break;
    ProcessMessage(msg);
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) CheckSynchronize();
  }
}

bool TApplication::ProcessMessage(MSG& msg) {
  if (msg.message == WM_NULL && msg.hwnd == handle_) {
    CheckSynchronize();
    return true;
  }
  // Tab moves between the form's controls unless the focused control wants the key itself.
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) {
    HWND focus = GetFocus();
    LRESULT code = focus ? SendMessageA(focus, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&msg)) : 0;
    if (focus && !(code & (DLGC_WANTTAB | DLGC_WANTALLKEYS | DLGC_WANTMESSAGE))) {
      HWND top = GetAncestor(focus, GA_ROOT);
      HWND next = GetNextDlgTabItem(top, focus, GetKeyState(VK_SHIFT) < 0);
      if (next) ::SetFocus(next);
      return true;
    }
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    ProcessMessage(msg);
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  PostQuitMessage(0);
}

void TApplication::HandleException(TComponent* sender) {
  if (OnException) {
    OnException(sender);
    return;
  }
  const std::type_info* type = CurrentExceptionType();
  if (type && InheritsFrom(*type, "EAbort")) return;
  std::exception_ptr p = std::current_exception();
  const std::exception* e = nullptr;
  std::string message = CurrentExceptionMessage();
  try {
    if (p) std::rethrow_exception(p);
  } catch (const std::exception& ex) {
    e = &ex;
    ShowException(e, message);
    return;
  } catch (...) {
  }
  // A thrown value of no exception class goes to the framework's last resort.
  if (p) return ShowExceptionMessage(p, nullptr);
  ShowException(nullptr, message);
}

void TApplication::ShowException(const std::exception*, const std::string& message) {
  std::string text = message;
  if (!text.empty() && text.back() != '.') text += '.';
  HWND owner = mainForm_ && mainForm_->HandleAllocated() ? mainForm_->Handle() : nullptr;
  MessageBoxA(owner, text.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

void TApplication::Synchronize(std::function<void()> call) {
  if (GetCurrentThreadId() == mainThreadId_) {
    call();
    return;
  }
  Pending p;
  p.call = std::move(call);
  std::unique_lock<std::mutex> lock(syncLock_);
  syncQueue_.push_back(&p);
  PostMessageA(handle_, WM_NULL, 0, 0);
  p.cv.wait(lock, [&] { return p.done; });
  if (p.error) std::rethrow_exception(p.error);
}

__attribute__((noipa)) void TakeOverSyncException(std::exception_ptr* slot) { *slot = std::current_exception(); }

bool TApplication::CheckSynchronize() {
  if (GetCurrentThreadId() != mainThreadId_) return false;
  bool any = false;
  for (;;) {
    Pending* p;
    {
      std::lock_guard<std::mutex> lock(syncLock_);
      if (syncQueue_.empty()) break;
      p = syncQueue_.front();
      syncQueue_.pop_front();
    }
    any = true;
    try {
      p->call();
    } catch (...) {
      TakeOverSyncException(&p->error);
    }
    std::lock_guard<std::mutex> lock(syncLock_);
    p->done = true;
    p->cv.notify_all();
  }
  return any;
}

}  // namespace fw
