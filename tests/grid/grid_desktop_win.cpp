#include "grid/grid_desktop.h"

#include <chrono>

#include <gtest/gtest.h>

#include "framework/component_text.h"
#include "support/desktop_win.h"

namespace gridtest {

using namespace fw;

TApplication& App() {
  static TApplication* app = [] {
    auto* a = new TApplication();
    a->Initialize();
    a->OnException = [](TComponent*) {
      try {
        throw;
      } catch (const std::exception& e) {
        Errors().push_back(e.what());
      } catch (...) {
        Errors().push_back("unknown exception");
      }
    };
    return a;
  }();
  return *app;
}

std::vector<std::string>& Errors() {
  static std::vector<std::string> errors;
  return errors;
}

bool LoadFormText(TForm& form, const std::string& text) {
  std::string binary, error;
  if (!CompileComponentText(text, binary, error)) {
    ADD_FAILURE() << error;
    return false;
  }
  form.LoadFromStream(binary);
  return true;
}

void Pump() {
  MSG msg;
  for (int round = 0; round < 3; ++round)
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
}

void SetModifiers(TShift shift) {
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = keys[VK_LSHIFT] = (shift & ssShift) ? 0x80 : 0;
  keys[VK_CONTROL] = keys[VK_LCONTROL] = (shift & ssCtrl) ? 0x80 : 0;
  keys[VK_MENU] = keys[VK_LMENU] = (shift & ssAlt) ? 0x80 : 0;
  SetKeyboardState(keys);
}

Host::Host(int width, int height) {
  App();
  Errors().clear();
  form = new TForm(&App());
  form->SetName("HostForm");
  form->SetBounds(40, 40, width + 40, height + 60);
  form->SetCaption("Grid test");
  ds = new TClientDataSet(form);
  ds->SetName("Items");
  ds->FieldDefs().Add("ID", ftInteger);
  ds->FieldDefs().Add("NAME", ftString, 20);
  ds->FieldDefs().Add("ACTIVE", ftBoolean);
  ds->FieldDefs().Add("PRICE", ftFloat);
  ds->FieldDefs().Add("NOTES", ftMemo);
  ds->FieldDefs().Add("PHOTO", ftBlob);
  ds->FieldDefs().Add("KIND", ftString, 10);
  ds->CreateDataSet();
  src = new TDataSource(form);
  src->SetDataSet(ds);
  grid = new TJvDBGrid(form);
  grid->SetName("Grid");
  grid->SetParent(form);
  grid->SetBounds(8, 8, width, height);
  grid->SetDataSource(src);
  form->Show();
  SetForegroundWindow(form->Handle());
  grid->SetFocus();
  Pump();
}

Host::~Host() {
  SetModifiers(0);
  Pump();
  delete form;
  Pump();
}

void Host::AddRows(int n) {
  static const char* names[] = {"Ana", "Bruno", "Carla", "Davi", "Eva", "Fabio", "Gil", "Helena"};
  for (int i = 0; i < n; ++i) {
    int id = Records() + 1;
    ds->Append();
    F("ID")->SetAsInteger(id);
    F("NAME")->SetAsString(std::string(names[i % 8]) + " " + std::to_string(id));
    if (i % 3 != 2) F("ACTIVE")->SetAsBoolean(i % 3 == 0);
    F("PRICE")->SetAsFloat(id * 1.25);
    F("NOTES")->SetAsString("Note of row " + std::to_string(id));
    if (i % 2 == 0) F("PHOTO")->SetAsString(std::string("\x01\x02\x03", 3));
    F("KIND")->SetAsString(i % 2 ? "Retail" : "Bulk");
    ds->Post();
  }
  ds->First();
  Pump();
}

static HWND Target(TJvDBGrid* grid) {
  HWND f = GetFocus();
  return f ? f : grid->Handle();
}

void Host::Key(WORD vk, TShift shift) {
  SetModifiers(shift);
  LPARAM data = 1 | ((shift & ssAlt) ? 0x20000000 : 0);
  PostMessageA(Target(grid), WM_KEYDOWN, vk, data);
  Pump();
  PostMessageA(Target(grid), WM_KEYUP, vk, data | 0xC0000000);
  Pump();
  SetModifiers(0);
}

void Host::Type(const std::string& text) {
  for (char c : text) {
    PostMessageA(Target(grid), WM_CHAR, static_cast<unsigned char>(c), 1);
    Pump();
  }
}

void Host::Click(int x, int y, TShift shift, bool right) {
  SetModifiers(shift);
  WPARAM mk = (shift & ssShift ? MK_SHIFT : 0) | (shift & ssCtrl ? MK_CONTROL : 0);
  POINT p{x, y};
  ClientToScreen(grid->Handle(), &p);
  SetCursorPos(p.x, p.y);
  PostMessageA(grid->Handle(), right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, mk | (right ? MK_RBUTTON : MK_LBUTTON),
               MAKELPARAM(x, y));
  Pump();
  PostMessageA(grid->Handle(), right ? WM_RBUTTONUP : WM_LBUTTONUP, mk, MAKELPARAM(x, y));
  Pump();
  SetModifiers(0);
}

void Host::Press(int x, int y, bool right) {
  POINT p{x, y};
  ClientToScreen(grid->Handle(), &p);
  SetCursorPos(p.x, p.y);
  PostMessageA(grid->Handle(), right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON,
               MAKELPARAM(x, y));
  Pump();
}

void Host::MoveTo(int x, int y, bool right) {
  POINT p{x, y};
  ClientToScreen(grid->Handle(), &p);
  SetCursorPos(p.x, p.y);
  PostMessageA(grid->Handle(), WM_MOUSEMOVE, right ? MK_RBUTTON : MK_LBUTTON,
               MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(static_cast<short>(y))));
  Pump();
}

void Host::Release(int x, int y, bool right) {
  PostMessageA(grid->Handle(), right ? WM_RBUTTONUP : WM_LBUTTONUP, 0,
               MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(static_cast<short>(y))));
  Pump();
}

void Host::DoubleClick(int x, int y) {
  POINT p{x, y};
  ClientToScreen(grid->Handle(), &p);
  SetCursorPos(p.x, p.y);
  Pump();
  PostMessageA(grid->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageA(grid->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  PostMessageA(grid->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageA(grid->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  Pump();
}

void Host::Wheel(int delta, TShift shift) {
  SetModifiers(shift);
  WPARAM mk = (shift & ssShift ? MK_SHIFT : 0) | (shift & ssCtrl ? MK_CONTROL : 0);
  RECT r;
  GetWindowRect(grid->Handle(), &r);
  // The system hands a wheel turn to the window with the focus (the cell editor while it is open).
  PostMessageA(Target(grid), WM_MOUSEWHEEL, MAKEWPARAM(mk, static_cast<WORD>(static_cast<short>(delta))),
               MAKELPARAM(r.left + 40, r.top + 40));
  Pump();
  SetModifiers(0);
}

void Host::SelectColumn(int columnIndex) {
  grid->SetSelectedIndex(columnIndex);
  Pump();
}

TRect Host::ScreenCell(int col, int row) { return grid->CellRect(col, row); }

COLORREF Host::PixelAt(int x, int y) {
  // Read from the window itself: the screen shows the window's surface only after the display was updated.
  grid->Update();
  HDC dc = GetDC(grid->Handle());
  COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(grid->Handle(), dc);
  return c;
}

std::vector<COLORREF> Host::Pixels(const TRect& r) {
  grid->Update();
  std::vector<COLORREF> out;
  HDC dc = GetDC(grid->Handle());
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) out.push_back(GetPixel(dc, x, y));
  ReleaseDC(grid->Handle(), dc);
  return out;
}

int Host::InkIn(const TRect& r, COLORREF background) {
  int n = 0;
  for (COLORREF c : Pixels(r)) n += c != background;
  return n;
}

void Host::Shot(const std::string& name) {
  Pump();
  grid->Update();
  Sleep(250);  // the display shows the windows' surfaces a moment after painting
  Pump();
  testsupport::SaveScreenshot(name, form->Handle());
}

namespace {
struct FindCtx {
  const std::string* cls;
  const std::string* caption;
  HWND found;
};
BOOL CALLBACK MatchWindow(HWND w, LPARAM l) {
  auto* c = reinterpret_cast<FindCtx*>(l);
  if (!IsWindowVisible(w)) return TRUE;
  if (!c->cls->empty() && testsupport::ClassNameOf(w) != *c->cls) return TRUE;
  if (!c->caption->empty() && testsupport::WindowText(w) != *c->caption) return TRUE;
  c->found = w;
  return FALSE;
}
HWND FindThreadWindow(DWORD thread, const std::string& className, const std::string& caption) {
  FindCtx ctx{&className, &caption, nullptr};
  EnumThreadWindows(thread, MatchWindow, reinterpret_cast<LPARAM>(&ctx));
  return ctx.found;
}
}  // namespace

HWND WaitWindow(DWORD thread, const std::string& className, const std::string& caption) {
  HWND found = nullptr;
  testsupport::WaitFor([&] { return (found = FindThreadWindow(thread, className, caption)) != nullptr; },
                       std::chrono::seconds(10));
  return found;
}

Watcher::Watcher(std::string className, std::string caption, Action action) {
  DWORD thread = GetCurrentThreadId();
  thread_ = std::thread([this, thread, className, caption, action] {
    while (!stop_) {
      HWND w = FindThreadWindow(thread, className, caption);
      if (w) {
        texts_ = testsupport::DialogTexts(w);
        texts_.push_back(testsupport::WindowText(w));
        seen_ = true;
        action(w);
        return;
      }
      Sleep(20);
    }
  });
}

Watcher::~Watcher() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::unique_ptr<Watcher> AnswerBox(int button) {
  return std::make_unique<Watcher>("#32770", "", [button](HWND w) { PostMessageA(w, WM_COMMAND, button, 0); });
}

}  // namespace gridtest
