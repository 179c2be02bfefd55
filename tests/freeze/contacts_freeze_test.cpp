// The contact editor with its freeze watch on: its main thread is stopped from outside, where it stands in
// its message loop. The watch reports the freeze: the user is told by the box, and the saved report starts
// with the main thread's stack.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "crash/core/bugreport.h"
#include "support/desktop_win.h"

using namespace testsupport;
using namespace std::chrono;

namespace {

// The contact editor's FrozenMsg, in the program's code page.
const std::string kFrozen = "A Aplica\xe7\xe3o n\xe3o est\xe1 respondendo.";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A folder of its own with the program and its engine library, so the report file is this test's alone.
std::string FreshFolder() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string dir = std::string(temp) + "contacts_freeze_" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  for (const char* f : {"contacts_freeze.exe", "MIDAS.DLL"})
    CopyFileA(f, (dir + "\\" + f).c_str(), FALSE);
  DeleteFileA((dir + "\\bugreport.txt").c_str());
  return dir;
}

}  // namespace

TEST(ContactsFreeze, FrozenMainThreadIsReportedAndTheUserTold) {
  std::string dir = FreshFolder();
  Program program(dir + "\\contacts_freeze.exe", "", dir);
  ASSERT_TRUE(program.Started());
  HWND form = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (form = program.TopWindow("Form1")) != nullptr; }));
  HANDLE main = OpenThread(THREAD_SUSPEND_RESUME, FALSE, program.ThreadId());
  ASSERT_NE(main, nullptr);
  ASSERT_NE(SuspendThread(main), static_cast<DWORD>(-1));

  // Ten unanswered probes of 300 ms: the exception box comes from the handling thread while the main thread
  // stays stopped, and tells the user so.
  HWND box = nullptr;
  bool shown = WaitFor([&] { return (box = TopWindowOfClass(program.ProcessId(), "RavexWndClass")) != nullptr; },
                       seconds(30));
  bool told = false;
  if (shown) {
    UpdateWindow(box);  // painted by its own thread before the picture is taken
    SaveScreenshot("contacts-freeze-box", box);
    for (const std::string& t : DialogTexts(box)) told = told || t.find(kFrozen) != std::string::npos;
  }
  ResumeThread(main);
  CloseHandle(main);
  ASSERT_TRUE(shown) << "no box for the freeze";
  EXPECT_TRUE(told);
  // The main thread answers again: the box goes by itself.
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(box); }, seconds(20)));

  std::string report;
  ASSERT_TRUE(WaitFor([&] { return !(report = ReadAll(dir + "\\bugreport.txt")).empty(); }, seconds(20)));
  std::string message;
  EXPECT_TRUE(rvx::FindHeaderValue(report, "exception message", message));
  EXPECT_EQ(message, kFrozen) << report;
  EXPECT_EQ(report.find("\r\nexception class"), std::string::npos) << report;
  size_t first = report.find("\r\n\r\n") + 4;
  const std::string mainThread = "main thread ($";
  EXPECT_EQ(report.compare(first, mainThread.size(), mainThread), 0) << report;
  // Where it hangs: in the application's message loop.
  size_t end = report.find("\r\n\r\n", first);
  EXPECT_LT(report.find("TApplication", first), end) << report;
}
