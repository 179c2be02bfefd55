// The exception box as a user meets it: crashlab.exe shows it for real faults (its box-* scenarios); the test
// finds the box by its class, checks buttons, captions and layout through the window handles, drives it with
// posted clicks and keys, and checks afterwards what the program did (exit code, report file, a restarted
// instance). Screenshots: box-full.png, box-expanded.png, box-plain-details.png, box-plain.png.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "crashlab/crashlab_run.h"
#include "support/desktop_win.h"

using namespace testsupport;
using namespace std::chrono;

namespace {

constexpr const char* kBoxClass = "RavexWndClass";
const std::vector<std::string> kCaptions = {"send bug report",      "save bug report",     "print bug report",
                                            "show bug report",      "continue application", "restart application",
                                            "close application"};

// crashlab.exe running one box scenario in a fresh folder of its own.
struct Lab {
  std::string dir;
  std::unique_ptr<Program> program;
  HWND box = nullptr;

  explicit Lab(const std::string& scenario) : dir(Folder(scenario)) {
    CreateDirectoryA(dir.c_str(), nullptr);
    DeleteFileA((dir + "\\bugreport.txt").c_str());
    DeleteFileA((dir + "\\restarted.txt").c_str());
    EXPECT_TRUE(CopyFileA("crashlab.exe", (dir + "\\crashlab.exe").c_str(), FALSE));
    program = std::make_unique<Program>(dir + "\\crashlab.exe", scenario, dir);
  }
  // Waits for the box (a new one when `previous` is given: the box opened again).
  bool Open(HWND previous = nullptr) {
    box = nullptr;
    return WaitFor([&] { return (box = TopWindowOfClass(program->ProcessId(), kBoxClass, previous)) != nullptr; },
                   seconds(30));
  }
  std::vector<HWND> Buttons() const { return ChildrenOfClass(box, "Button"); }
  HWND Button(const std::string& caption) const { return FindChild(box, "Button", caption); }
  bool Ends(DWORD code) { return program->WaitExit(seconds(30)) && program->ExitCode() == code; }
};

void Click(HWND button) {
  RECT r{};
  GetClientRect(button, &r);
  PostClickAt(button, r.right / 2, r.bottom / 2);
}

std::string MessageOf(HWND box) {
  std::string all;
  for (HWND s : ChildrenOfClass(box, "Static")) all += WindowText(s);
  return all;
}

int TabCount(HWND box) {
  HWND tab = FindChild(box, "SysTabControl32");
  return tab ? static_cast<int>(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0)) : -1;
}

// The plain forms: OK (and Details), the program's name as the title, the exception's own message.
std::vector<HWND> PlainButtons(const Lab& lab, size_t count) {
  std::vector<HWND> b = lab.Buttons();
  EXPECT_EQ(b.size(), count);
  if (b.size() != count) return {};
  EXPECT_EQ(WindowText(b[0]), "&OK");
  if (count > 1) {
    EXPECT_EQ(WindowText(b[1]), "&Details");
  }
  EXPECT_EQ(WindowText(lab.box), "crashlab");
  EXPECT_NE(MessageOf(lab.box).find("thread failed"), std::string::npos) << MessageOf(lab.box);
  return b;
}

TEST(ExceptionBoxDesktop, FullBoxHasItsSevenButtonsInARowAndARightColumn) {
  Lab lab("box-full");
  ASSERT_TRUE(lab.Open());
  std::vector<HWND> b = lab.Buttons();
  ASSERT_EQ(b.size(), 7u);
  for (size_t k = 0; k < b.size(); ++k) EXPECT_EQ(WindowText(b[k]), kCaptions[k]) << k;
  EXPECT_NE(MessageOf(lab.box).find("crashlab: ELabError: thread failed"), std::string::npos) << MessageOf(lab.box);
  RECT r[7];
  for (int k = 0; k < 7; ++k) r[k] = RectIn(lab.box, b[k]);
  // Send, save, print, show from the left in one row, beside the bottom of the right column.
  for (int k = 1; k < 4; ++k) {
    EXPECT_EQ(r[k].top, r[0].top) << k;
    EXPECT_GT(r[k].left, r[k - 1].right - 1) << k;
  }
  EXPECT_EQ(r[0].left, 6);
  EXPECT_EQ(r[4].left, r[5].left);
  EXPECT_EQ(r[5].left, r[6].left);
  EXPECT_LT(r[4].top, r[5].top);
  EXPECT_LT(r[5].top, r[6].top);
  EXPECT_EQ(r[6].top, r[0].top);
  EXPECT_GE(r[4].top, 7);
  EXPECT_EQ(r[0].bottom - r[0].top, 22);
  EXPECT_TRUE(IsWindowEnabled(b[4]));  // the thread's exception can be continued
  EXPECT_EQ(FocusOf(lab.box), b[0]);   // FocusedBtn 0
  EXPECT_FALSE(GetWindowLongA(lab.box, GWL_STYLE) & WS_THICKFRAME);
  EXPECT_TRUE(GetWindowLongA(lab.box, GWL_EXSTYLE) & WS_EX_TOPMOST);
  SaveScreenshot("box-full.png", lab.box);
  // The title bar's close command does nothing.
  PostMessageA(lab.box, WM_SYSCOMMAND, SC_CLOSE, 0);
  Click(b[4]);  // continue: the box goes, the program goes on
  EXPECT_TRUE(lab.Ends(0));
  EXPECT_FALSE(IsWindow(lab.box));
}

// Save asks for the file in the system's save dialog, owned by the box: the box takes no clicks meanwhile (a
// click on close changes nothing), the name typed in is where the report goes, and the box stays.
TEST(ExceptionBoxDesktop, SaveWritesTheReportAndKeepsTheBoxEscapeContinues) {
  Lab lab("box-full");
  ASSERT_TRUE(lab.Open());
  Click(lab.Button("save bug report"));
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (dialog = lab.program->DialogWindow()) != nullptr; }, seconds(30)));
  EXPECT_EQ(GetWindow(dialog, GW_OWNER), lab.box) << "the save dialog belongs to the box";
  EXPECT_FALSE(IsWindowEnabled(lab.box));
  Click(lab.Button("close application"));
  lab.program->WaitExit(milliseconds(500));
  ASSERT_EQ(lab.program->ExitCode(), STILL_ACTIVE) << "the box took a click while its dialog was open";
  EXPECT_TRUE(IsWindow(dialog));

  const std::string target = lab.dir + "\\bugreport.txt";
  HWND name = GetDlgItem(dialog, 0x480);  // the file name field
  if (!name) name = FindChild(dialog, "Edit");
  ASSERT_NE(name, nullptr);
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  std::string report;
  EXPECT_TRUE(WaitFor([&] { return !(report = ReadAll(target)).empty(); }, seconds(30)));
  EXPECT_NE(report.find("thread failed"), std::string::npos) << report;
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog) && IsWindowEnabled(lab.box); }, seconds(10)));
  EXPECT_TRUE(IsWindow(lab.box));
  EXPECT_EQ(lab.program->ExitCode(), STILL_ACTIVE);
  PostKey(FocusOf(lab.box), VK_ESCAPE);
  EXPECT_TRUE(lab.Ends(0));
}

// Whether the credit label at the right end of the footer is drawn in its lit colour (client coordinates of
// the band around it).
bool CreditLit(HWND box, int bandTop) {
  RECT client{};
  GetClientRect(box, &client);
  POINT origin{0, bandTop};
  ClientToScreen(box, &origin);
  const int w = client.right, h = 12;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof bi.bmiHeader, w, -h, 1, 32, BI_RGB};
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  bool lit = false;
  const auto* px = static_cast<const unsigned char*>(bits);
  for (int i = 0; i < w * h && !lit; ++i) lit = px[i * 4 + 2] == 0x80 && px[i * 4 + 1] == 0x00 && px[i * 4] == 0x90;
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return lit;
}

// The credit link lights while the mouse is over it, and goes dark again when the mouse leaves the box
// straight from it.
TEST(ExceptionBoxDesktop, TheCreditLinkLightsOnlyWhileTheMouseIsOverIt) {
  Lab lab("box-full");
  ASSERT_TRUE(lab.Open());
  std::vector<HWND> b = lab.Buttons();
  ASSERT_EQ(b.size(), 7u);
  RECT client{};
  GetClientRect(lab.box, &client);
  const int footer = RectIn(lab.box, b[0]).top + 26;  // the footer begins one button step below the last row
  POINT over{client.right - 20, footer + 5};
  ClientToScreen(lab.box, &over);
  SetCursorPos(over.x, over.y);
  EXPECT_TRUE(WaitFor([&] { return CreditLit(lab.box, footer - 1); }, seconds(5)));
  RECT outer{};
  GetWindowRect(lab.box, &outer);
  SetCursorPos(outer.right + 40, outer.bottom + 40);  // off the box without crossing anything of it
  EXPECT_TRUE(WaitFor([&] { return !CreditLit(lab.box, footer - 1); }, seconds(5)));
  PostKey(FocusOf(lab.box), VK_ESCAPE);
  EXPECT_TRUE(lab.Ends(0));
}

TEST(ExceptionBoxDesktop, CloseEndsTheProgramWithExitCodeOne) {
  Lab lab("box-full");
  ASSERT_TRUE(lab.Open());
  Click(lab.Button("close application"));
  EXPECT_TRUE(lab.Ends(1));
}

TEST(ExceptionBoxDesktop, RestartStartsANewInstanceThatTakesOver) {
  Lab lab("box-full");
  ASSERT_TRUE(lab.Open());
  const DWORD oldId = lab.program->ProcessId();
  Click(lab.Button("restart application"));
  EXPECT_TRUE(lab.Ends(2));
  // The new instance runs the same scenario in the same folder and shows its own box.
  std::string restarted;
  ASSERT_TRUE(WaitFor([&] { return !(restarted = ReadAll(lab.dir + "\\restarted.txt")).empty(); }, seconds(30)));
  EXPECT_EQ(restarted, "restarted from " + std::to_string(oldId));
  HWND box = nullptr;
  DWORD newId = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        EnumWindows(
            [](HWND w, LPARAM l) WINAPI -> BOOL {
              if (ClassNameOf(w) != kBoxClass || !IsWindowVisible(w)) return TRUE;
              *reinterpret_cast<HWND*>(l) = w;
              return FALSE;
            },
            reinterpret_cast<LPARAM>(&box));
        if (box) GetWindowThreadProcessId(box, &newId);
        return box && newId != oldId;
      },
      seconds(30)));
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, newId);
  ASSERT_NE(process, nullptr);
  Click(FindChild(box, "Button", "close application"));
  EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  EXPECT_EQ(code, 1u);
  if (code == STILL_ACTIVE) TerminateProcess(process, 99);
  CloseHandle(process);
}

TEST(ExceptionBoxDesktop, AFaultThatCannotContinueDisablesContinueAndEscapeCloses) {
  Lab lab("box-fatal");
  ASSERT_TRUE(lab.Open());
  HWND cont = lab.Button("continue application");
  ASSERT_NE(cont, nullptr);
  EXPECT_FALSE(IsWindowEnabled(cont));
  Click(cont);  // nothing happens
  lab.program->WaitExit(milliseconds(500));
  EXPECT_EQ(lab.program->ExitCode(), STILL_ACTIVE);
  PostKey(FocusOf(lab.box), VK_ESCAPE);  // close is visible: the close operation
  EXPECT_TRUE(lab.Ends(1));
}

TEST(ExceptionBoxDesktop, TabMovesTheFocusAndEnterClicksTheFocusedButton) {
  Lab lab("box-full");
  ASSERT_TRUE(lab.Open());
  std::vector<HWND> b = lab.Buttons();
  ASSERT_EQ(b.size(), 7u);
  ASSERT_EQ(FocusOf(lab.box), b[0]);
  for (int k = 1; k <= 4; ++k) {
    PostKey(FocusOf(lab.box), VK_TAB);
    EXPECT_TRUE(WaitFor([&] { return FocusOf(lab.box) == b[k]; }, seconds(5))) << k;
  }
  PostKey(FocusOf(lab.box), VK_RETURN);  // continue has the focus
  EXPECT_TRUE(lab.Ends(0));
}

TEST(ExceptionBoxDesktop, PlainBoxWithDetailsOpensAgainExpandedByItsAccelerator) {
  Lab lab("box-plain-details");
  ASSERT_TRUE(lab.Open());
  std::vector<HWND> b = PlainButtons(lab, 2);
  ASSERT_EQ(b.size(), 2u);
  RECT ok = RectIn(lab.box, b[0]), details = RectIn(lab.box, b[1]), client{};
  GetClientRect(lab.box, &client);
  EXPECT_EQ(ok.top, details.top);
  EXPECT_EQ(ok.bottom - ok.top, 23);
  EXPECT_GE(ok.right - ok.left, 75);
  EXPECT_LE(std::abs((ok.left - client.left) - (client.right - details.right)), 12);  // centred
  EXPECT_EQ(FocusOf(lab.box), b[0]);
  SaveScreenshot("box-plain-details.png", lab.box);
  HWND first = lab.box;
  PostText(FocusOf(lab.box), "d");
  ASSERT_TRUE(lab.Open(first));
  EXPECT_NE(FindChild(lab.box, "SysTabControl32"), nullptr);
  EXPECT_EQ(lab.Button("show bug report"), nullptr);
  PostKey(FocusOf(lab.box), VK_ESCAPE);
  EXPECT_TRUE(lab.Ends(0));
}

TEST(ExceptionBoxDesktop, PlainBoxHasOnlyOkAndEnterContinues) {
  Lab lab("box-plain");
  ASSERT_TRUE(lab.Open());
  ASSERT_EQ(PlainButtons(lab, 1).size(), 1u);
  SaveScreenshot("box-plain.png", lab.box);
  PostKey(FocusOf(lab.box), VK_RETURN);
  EXPECT_TRUE(lab.Ends(0));
}

TEST(ExceptionBoxDesktop, ExpandedBoxShowsTheReportAndResizes) {
  Lab lab("box-expanded");
  ASSERT_TRUE(lab.Open());
  EXPECT_TRUE(GetWindowLongA(lab.box, GWL_STYLE) & WS_THICKFRAME);
  EXPECT_EQ(lab.Buttons().size(), 6u);  // no "show" button
  RECT outer{};
  GetWindowRect(lab.box, &outer);
  const int screen = GetSystemMetrics(SM_CXSCREEN) - 5 * GetSystemMetrics(SM_CYCAPTION);
  EXPECT_GE(outer.right - outer.left, std::min(664, screen));
  HWND tab = FindChild(lab.box, "SysTabControl32");
  ASSERT_NE(tab, nullptr);
  EXPECT_GE(TabCount(lab.box), 2);
  HWND list = FindChild(lab.box, "SysListView32");
  ASSERT_NE(list, nullptr);
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  EXPECT_GE(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 1);  // the header page: a list with columns
  RECT tab0 = RectIn(lab.box, tab);
  EXPECT_GE(tab0.bottom - tab0.top, 400);
  SaveScreenshot("box-expanded.png", lab.box);
  // Larger: continue, restart and close move right, the tabs grow.
  HWND cont = lab.Button("continue application"), send = lab.Button("send bug report");
  RECT c0 = RectIn(lab.box, cont), s0 = RectIn(lab.box, send);
  SetWindowPos(lab.box, nullptr, 0, 0, outer.right - outer.left + 100, outer.bottom - outer.top + 40,
               SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_TRUE(WaitFor([&] { return RectIn(lab.box, cont).left == c0.left + 100; }, seconds(5)));
  EXPECT_EQ(RectIn(lab.box, send).left, s0.left);
  RECT tab1 = RectIn(lab.box, tab);
  EXPECT_EQ(tab1.right - tab1.left, tab0.right - tab0.left + 100);
  EXPECT_EQ(tab1.bottom - tab1.top, tab0.bottom - tab0.top + 40);
  // Never smaller than its first size.
  SetWindowPos(lab.box, nullptr, 0, 0, 200, 100, SWP_NOMOVE | SWP_NOZORDER);
  RECT small{};
  GetWindowRect(lab.box, &small);
  EXPECT_GE(small.right - small.left, outer.right - outer.left);
  EXPECT_GE(small.bottom - small.top, outer.bottom - outer.top);
  Click(cont);
  EXPECT_TRUE(lab.Ends(0));
}

TEST(ExceptionBoxDesktop, CountdownContinuesByItself) {
  Lab lab("box-countdown");
  ASSERT_TRUE(lab.Open());
  EXPECT_EQ(FocusOf(lab.box), lab.Button("continue application"));  // FocusedBtn follows AutoContinue
  EXPECT_TRUE(lab.Ends(0));  // no input: the countdown clicked continue
}

TEST(ExceptionBoxDesktop, TheExpandedBoxFollowsAReportThatChanges) {
  Lab lab("box-report");
  ASSERT_TRUE(lab.Open());
  int before = -1;
  ASSERT_TRUE(WaitFor([&] { return (before = TabCount(lab.box)) >= 2; }, seconds(10)));
  // The report may still be completing: wait until the tabs stand still before the section is added.
  int stable = before;
  WaitFor(
      [&] {
        int now = TabCount(lab.box);
        bool same = now == stable;
        stable = now;
        return same;
      },
      seconds(5));
  before = stable;
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, ("RvxLabAddSection" + std::to_string(lab.program->ProcessId())).c_str());
  SetEvent(go);
  EXPECT_TRUE(WaitFor([&] { return TabCount(lab.box) == before + 1; }, seconds(10))) << before;
  CloseHandle(go);
  PostKey(FocusOf(lab.box), VK_ESCAPE);
  EXPECT_TRUE(lab.Ends(0));
}

}  // namespace
