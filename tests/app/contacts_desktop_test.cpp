#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/desktop_win.h"

using namespace testsupport;
using namespace std::chrono;

namespace {

struct Editor {
  Program program{"contacts.exe"};
  HWND form = nullptr, insert = nullptr, save = nullptr, grid = nullptr;
  double shownMs = 0;

  bool Open() {
    auto start = steady_clock::now();
    if (!program.Started()) return false;
    if (!WaitFor([&] { return (form = program.TopWindow("Form1")) != nullptr; })) return false;
    shownMs = duration<double, std::milli>(steady_clock::now() - start).count();
    insert = FindChild(form, "Button", "Insert");
    save = FindChild(form, "Button", "Save");
    grid = FindChild(form, "FwWindow");
    return insert && save && grid;
  }
  bool InsertEnabled() const { return IsWindowEnabled(insert); }
  bool SaveEnabled() const { return IsWindowEnabled(save); }
  // Waits until the buttons show the expected states.
  bool Buttons(bool insertOn, bool saveOn) {
    return WaitFor([&] { return InsertEnabled() == insertOn && SaveEnabled() == saveOn; }, seconds(5));
  }
  // The message box the program shows, if any.
  HWND MessageBoxWindow() const {
    HWND found = nullptr;
    WaitFor([&] { return (found = program.DialogWindow()) != nullptr; }, seconds(5));
    return found;
  }
};

}  // namespace

TEST(ContactsDesktop, InsertTypeSaveFollowsTheTableState) {
  Editor e;
  ASSERT_TRUE(e.Open()) << "contacts.exe did not show its window";
  std::printf("contacts.exe window shown after %.0f ms\n", e.shownMs);

  // Window geometry as stored.
  RECT wr;
  GetWindowRect(e.form, &wr);
  EXPECT_EQ(wr.right - wr.left, 677);
  EXPECT_EQ(wr.bottom - wr.top, 302);
  RECT gr;
  GetWindowRect(e.grid, &gr);
  MapWindowPoints(nullptr, e.form, reinterpret_cast<POINT*>(&gr), 2);
  EXPECT_EQ(gr.left, 8);
  EXPECT_EQ(gr.top, 8);
  EXPECT_EQ(gr.right - gr.left, 553);
  EXPECT_EQ(gr.bottom - gr.top, 249);

  // At start the table is browsing: Insert on, Save off.
  EXPECT_TRUE(e.Buttons(true, false));
  SaveScreenshot("contacts-start", e.form);

  // Insert: the table inserts, the grid takes the focus on the ID cell.
  PostClick(e.insert);
  ASSERT_TRUE(e.Buttons(false, true));
  ASSERT_TRUE(WaitFor([&] { HWND f = e.program.FocusWindow(); return f == e.grid || GetParent(f) == e.grid; }));

  // Type an ID, a name and a phone, moving between the cells with Tab.
  PostText(e.program.FocusWindow(), "7");
  e.program.Settle();
  PostKey(e.program.FocusWindow(), VK_TAB);
  e.program.Settle();
  PostText(e.program.FocusWindow(), "Ana Lima");
  e.program.Settle();
  PostKey(e.program.FocusWindow(), VK_TAB);
  e.program.Settle();
  PostText(e.program.FocusWindow(), "555-0100");
  e.program.Settle();
  EXPECT_TRUE(e.Buttons(false, true));
  SaveScreenshot("contacts-typed", e.form);

  // Save posts the record: back to browse.
  PostClick(e.save);
  EXPECT_TRUE(e.Buttons(true, false));
  e.program.Settle();
  SaveScreenshot("contacts-saved", e.form);
  EXPECT_EQ(e.program.ExitCode(), STILL_ACTIVE);

  PostMessageA(e.form, WM_CLOSE, 0, 0);
  EXPECT_TRUE(e.program.WaitExit(seconds(10)));
  EXPECT_EQ(e.program.ExitCode(), 0u);
}

TEST(ContactsDesktop, TextInTheIntegerColumnIsRefusedAndTheRecordStaysInInsert) {
  // An edit error is shown plainly and writes no bug report.
  DeleteFileA("bugreport.txt");
  Editor e;
  ASSERT_TRUE(e.Open());
  PostClick(e.insert);
  ASSERT_TRUE(e.Buttons(false, true));
  ASSERT_TRUE(WaitFor([&] { HWND f = e.program.FocusWindow(); return f == e.grid || GetParent(f) == e.grid; }));
  PostText(e.program.FocusWindow(), "abc");
  e.program.Settle();
  PostClick(e.save);
  HWND box = e.MessageBoxWindow();
  ASSERT_NE(box, nullptr) << "no conversion error shown";
  bool found = false;
  for (const auto& t : DialogTexts(box)) found |= t.find("'abc' is not a valid integer value") != std::string::npos;
  EXPECT_TRUE(found);
  SaveScreenshot("contacts-conversion-error");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }));
  // Still inserting, not crashed.
  EXPECT_TRUE(e.Buttons(false, true));
  EXPECT_EQ(e.program.ExitCode(), STILL_ACTIVE);
  EXPECT_EQ(GetFileAttributesA("bugreport.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST(ContactsDesktop, AFaultInAnyThreadSavesABugReportBesideTheProgram) {
  DeleteFileA("bugreport.txt");
  Editor e;
  ASSERT_TRUE(e.Open());
  // A thread started from outside that jumps to address 16: an access violation nobody handles.
  HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, e.program.ProcessId());
  ASSERT_NE(process, nullptr);
  HANDLE thread = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(16), nullptr, 0,
                                     nullptr);
  ASSERT_NE(thread, nullptr);
  CloseHandle(thread);
  CloseHandle(process);
  HWND box = e.MessageBoxWindow();
  ASSERT_NE(box, nullptr) << "the fault was not shown";
  bool found = false;
  // Address 16 lies in no module: the short form of the text.
  for (const auto& t : DialogTexts(box)) found |= t.find("Access Violation") != std::string::npos;
  EXPECT_TRUE(found);
  SaveScreenshot("contacts-fault");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  // The fault cannot be continued: the program ends after the box.
  EXPECT_TRUE(e.program.WaitExit(seconds(20)));
  std::ifstream in("bugreport.txt", std::ios::binary);
  std::stringstream report;
  report << in.rdbuf();
  EXPECT_NE(report.str().find("exception message : Access Violation."), std::string::npos) << report.str();
  EXPECT_NE(report.str().find("executable        : contacts.exe"), std::string::npos) << report.str();
  EXPECT_NE(report.str().find("\r\n00000010 ???"), std::string::npos) << report.str();
}

TEST(ContactsDesktop, WithoutTheDatasetEngineNoWindowAppearsAndTheProgramFails) {
  // A copy of the program in a folder of its own, without MIDAS.DLL beside it.
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string dir = std::string(temp) + "contacts-no-engine";
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string exe = dir + "\\contacts.exe";
  ASSERT_TRUE(CopyFileA("contacts.exe", exe.c_str(), FALSE));
  DeleteFileA((dir + "\\MIDAS.DLL").c_str());
  Program p(exe, "", dir);  // not the test's folder, which has the engine
  ASSERT_TRUE(p.Started());
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = p.DialogWindow()) != nullptr; }, seconds(10)));
  bool found = false;
  for (const auto& t : DialogTexts(box)) found |= t.find("Erro carregando MIDAS.DLL") != std::string::npos;
  EXPECT_TRUE(found);
  EXPECT_EQ(p.TopWindow("Form1"), nullptr);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(p.WaitExit(seconds(10)));
  EXPECT_NE(p.ExitCode(), 0u);
  DeleteFileA(exe.c_str());
  RemoveDirectoryA(dir.c_str());
}
