// The progress window and the bug report view on the desktop, driven by posted clicks and checked through the
// windows' own data afterwards; screenshots go to the artefacts folder (progress.png, report-view-*.png).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "crash/core/bugreport.h"
#include "crash/core/exception_record.h"
#include "crash/core/report_plugins.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/stack_trace.h"
#include "crash/ui/exception_box.h"
#include "crash/ui/exception_box_layout.h"
#include "crash/ui/progress_alert.h"
#include "crash/ui/report_view.h"
#include "support/desktop_win.h"

namespace rvx {
namespace {

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& condition) {
  return testsupport::WaitFor([&] {
    Pump();
    return condition();
  });
}

struct FindWindowOfClass {
  const char* cls;
  HWND found = nullptr;
};

BOOL CALLBACK MatchClass(HWND w, LPARAM p) {
  auto* f = reinterpret_cast<FindWindowOfClass*>(p);
  if (testsupport::ClassNameOf(w) != f->cls) return TRUE;
  f->found = w;
  return FALSE;
}

HWND FindOwnTopWindow(const char* className) {
  FindWindowOfClass find{className};
  EnumThreadWindows(GetCurrentThreadId(), MatchClass, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

TEST(ProgressWindow, ShowsAreasRefusesTheUserAndClosesForItsOwner) {
  Ref<IProgressAlert> alert =
      CreateProgressAlert("Ravex", reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)), "RVIPLWAIT");
  alert->AppendArea("Collecting the call stacks of all threads...", 100);
  alert->AppendArea("Disassembling the function of the exception, which may take a little longer than the rest",
                    200);
  alert->AppendArea("", 100);
  ASSERT_TRUE(alert->OpenAlert(nullptr, true));
  EXPECT_FALSE(alert->OpenAlert(nullptr, true));
  HWND main = FindOwnTopWindow("prgrAlertWndClass");
  ASSERT_TRUE(main);
  EXPECT_EQ(testsupport::WindowText(main), "Ravex");
  HWND label = testsupport::FindChild(main, "Static");
  HWND bar = testsupport::FindChild(main, "msctls_progress32");
  ASSERT_TRUE(label && bar);
  EXPECT_TRUE(testsupport::FindChild(main, "Button")) << "the picture resource exists";
  EXPECT_EQ(testsupport::WindowText(label), "Collecting the call stacks of all threads...");
  RECT before{};
  GetWindowRect(main, &before);

  // Weights 100, 200, 100: the start of the second area is a quarter, its middle a half.
  alert->FinishArea();
  EXPECT_EQ(testsupport::WindowText(label).rfind("Disassembling", 0), 0u);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 250);
  alert->SetBarPosition(500);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 500);
  // From another thread the position is posted and arrives when this thread pumps.
  std::thread([&] { alert->SetBarPosition(1000); }).join();
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 500);
  EXPECT_TRUE(PumpUntil([&] { return SendMessageA(bar, PBM_GETPOS, 0, 0) == 750; }));
  // The user cannot close it; the size never changes.
  PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageA(main, WM_CLOSE, 0, 0);
  Pump();
  EXPECT_TRUE(IsWindow(main));
  RECT after{};
  GetWindowRect(main, &after);
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
  testsupport::SaveScreenshot("progress.png", main);

  alert->CloseAlert();
  EXPECT_FALSE(IsWindow(main));
  // Reopened without activation: bottom right of the work area, without the focus.
  HWND focus = GetForegroundWindow();
  ASSERT_TRUE(alert->OpenAlert(nullptr, false));
  main = FindOwnTopWindow("prgrAlertWndClass");
  ASSERT_TRUE(main);
  RECT work{}, r{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(main, &r);
  EXPECT_EQ(r.right, work.right - 2);
  EXPECT_EQ(r.bottom, work.bottom - 2);
  EXPECT_EQ(GetForegroundWindow(), focus);
  alert.reset();
  EXPECT_FALSE(IsWindow(main)) << "the last reference closes the window";
}

// A quit request that arrives while the box is open ends the box together with its window (none is left
// behind with a countdown timer that reaches a box already gone), and stays for the program's own loop.
TEST(ExceptionBoxWindow, AQuitRequestEndsTheBoxWithItsWindowAndStaysForTheProgram) {
  ExceptionParams p;
  p.settings = SettingsOfModule(reinterpret_cast<ModuleHandle>(GetModuleHandleA(nullptr)));
  p.dontCompleteYet = true;
  Ref<TIRVException> record = NewExceptionRecord(p);
  record->SetCanContinue(true);
  record->SetContinueBtnVis(true);
  record->SetAutoContinue(true);
  record->SetAutoDelay(60);  // the countdown runs
  PostQuitMessage(3);
  RunExceptionBox(record.get(), false, kFormFull);
  EXPECT_EQ(FindOwnTopWindow(kBoxClassName), nullptr);
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
  Sleep(50);
  Pump();  // a timer of a window left behind would reach the gone box here
}

// A top-level window hosting the view, forwarding the tab control's notifications to it.
ReportView* g_view = nullptr;
LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY && g_view && g_view->HandleNotify(reinterpret_cast<const void*>(lParam))) return 0;
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The development environment's message window of this thread: remembers the line it was asked to show.
std::string g_jumped;
UINT g_jumpMessage = 0;
LRESULT CALLBACK JumpProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == g_jumpMessage && wParam == GetCurrentProcessId()) g_jumped = reinterpret_cast<const char*>(lParam);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND MakeWindow(const char* cls, WNDPROC proc, const char* caption, DWORD style, int w, int h) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = cls;
  RegisterClassA(&wc);
  return CreateWindowExA(0, cls, caption, style, 20, 20, w, h, nullptr, nullptr, wc.hInstance, nullptr);
}

void ClickTab(HWND tab, int index) {
  RECT r{};
  SendMessageA(tab, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
  testsupport::PostClickAt(tab, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  Pump();
}

std::string CellText(HWND list, int row, int column) {
  char text[261] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

TEST(ReportView, TabsListsTextAndTheSourceJump) {
  std::vector<StackLine> stack{{0x45a2b3, 0x45a2b3 - 0x1c, "contacts.exe", "Unit1", "TForm1.btnSaveClick", 42, 2},
                               {0x4b1c2e, 0x4b1c2e - 0x3e, "contacts.exe", "Controls", "TControl.Click", 7255, 5}};
  TContext context{};
  context.Eax = 0x1234;
  NamedTexts header{{"date/time", "2026-12-09, 18:00:00, 5ms"}, {"executable", "contacts.exe"},
                    {"exception class", "EAccessViolation"}};
  NamedTexts sections{{"main thread ($a10)", FormatStackLines(stack, true, true).text},
                      {"worker ($b20)", FormatStackLines(stack, false, false).text},
                      {"modules", ">> will be calculated soon"},
                      {"cpu registers", CpuRegistersText(context)}};

  HWND host = MakeWindow("ReportViewHost", HostProc, "report", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 420);
  ASSERT_TRUE(host);
  std::unique_ptr<ReportView> view = ReportView::Create(host, {8, 8, 670, 360}, {});
  ASSERT_TRUE(view);
  g_view = view.get();
  view->SetReportText(RenderReport(header, sections));
  HWND tab = static_cast<HWND>(view->TabControl());
  EXPECT_EQ(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0), 4);  // general, call stacks, modules, cpu regs
  HWND general = static_cast<HWND>(view->ContentWindow());
  ASSERT_EQ(testsupport::ClassNameOf(general), "SysListView32");
  EXPECT_EQ(CellText(general, 2, 1), "EAccessViolation");

  ClickTab(tab, 1);
  HWND stacks = static_cast<HWND>(view->ContentWindow());
  ASSERT_NE(stacks, general);
  EXPECT_EQ(CellText(stacks, 1, 3), "Unit1");
  testsupport::SaveScreenshot("report-view-stacks.png", host);

  // Double-clicks: the first row does nothing, a stack line asks the environment's window of its thread;
  // the row double-clicked counts, not the one selected before (here the last line).
  HWND ide = MakeWindow("TAppBuilder", DefWindowProcA, "ide", WS_POPUP, 10, 10);
  std::string cls = "rvxToolsMsgHandlerWindow$" + [] {
    char hex[16];
    wsprintfA(hex, "%lx", GetCurrentThreadId());
    return std::string(hex);
  }() + "$1";
  g_jumpMessage = RegisterWindowMessageA("RavexIdeJumpCommand");
  HWND receiver = MakeWindow(cls.c_str(), JumpProc, "", WS_POPUP, 0, 0);
  ASSERT_TRUE(ide && receiver);
  LVITEMA selectLast{};
  selectLast.stateMask = selectLast.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(stacks, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&selectLast));
  for (int row : {0, 1}) {
    RECT r{LVIR_BOUNDS};
    SendMessageA(stacks, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
    PostMessageA(stacks, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(r.left + 20, (r.top + r.bottom) / 2));
    Pump();
    if (row == 0) {
      EXPECT_EQ(g_jumped, "") << "the thread's headline row";
    }
  }
  EXPECT_TRUE(PumpUntil([] { return !g_jumped.empty(); }));
  EXPECT_EQ(g_jumped, "0045A2B3 +1C contacts.exe Unit1 42 +2 TForm1.btnSaveClick");

  // The modules tab shows its placeholder as text, then the list once the report is complete.
  ClickTab(tab, 2);
  HWND modules = static_cast<HWND>(view->ContentWindow());
  EXPECT_EQ(testsupport::ClassNameOf(modules), "Edit");
  sections[2].second = ModulesText({{0x400000, "contacts.exe", "C:\\lab", "1.0.0.0"},
                                    {0x7c800000, "kernel32.dll", "C:\\WINDOWS\\system32", "5.1.2600.5781"}});
  view->SetReport(header, sections);
  modules = static_cast<HWND>(view->ContentWindow());
  ASSERT_EQ(testsupport::ClassNameOf(modules), "SysListView32");
  EXPECT_EQ(CellText(modules, 1, 1), "kernel32.dll");
  HWND same = modules;
  view->Refresh();
  EXPECT_EQ(view->ContentWindow(), same) << "nothing changed: the page stays";
  testsupport::SaveScreenshot("report-view-modules.png", host);

  view->Shutdown();
  EXPECT_EQ(view->ContentWindow(), nullptr);
  g_view = nullptr;
  view.reset();
  DestroyWindow(receiver);
  DestroyWindow(ide);
  DestroyWindow(host);
}

}  // namespace
}  // namespace rvx
