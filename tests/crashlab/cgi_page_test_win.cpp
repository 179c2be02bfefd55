// crashlab.exe started as a web server starts a CGI program: a fault gives the HTML page on standard output
// (after the content type and an empty line) and no window appears.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "crashlab/crashlab_run.h"

namespace {

struct WindowWatch {
  DWORD processId = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> seen{0};
  std::thread thread;

  static BOOL CALLBACK Visit(HWND w, LPARAM p) {
    auto* self = reinterpret_cast<WindowWatch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == self->processId && IsWindowVisible(w)) ++self->seen;
    return TRUE;
  }
  void Start(DWORD pid) {
    processId = pid;
    thread = std::thread([this] {
      while (!stop) {
        EnumWindows(&Visit, reinterpret_cast<LPARAM>(this));
        Sleep(5);
      }
    });
  }
  ~WindowWatch() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
};

struct CgiEnvironment {
  CgiEnvironment() {
    SetEnvironmentVariableA("GATEWAY_INTERFACE", "CGI/1.1");
    SetEnvironmentVariableA("REQUEST_METHOD", "GET");
    SetEnvironmentVariableA("SERVER_PROTOCOL", "HTTP/1.1");
  }
  ~CgiEnvironment() {
    SetEnvironmentVariableA("GATEWAY_INTERFACE", nullptr);
    SetEnvironmentVariableA("REQUEST_METHOD", nullptr);
    SetEnvironmentVariableA("SERVER_PROTOCOL", nullptr);
  }
};

TEST(CrashlabCgi, FaultGivesThePageOnStandardOutputAndNoWindow) {
  WindowWatch watch;
  Outcome o;
  {
    CgiEnvironment cgi;
    o = RunLab("av-read", 60000, [&](const PROCESS_INFORMATION& pi, HANDLE) { watch.Start(pi.dwProcessId); });
  }
  watch.stop = true;
  if (watch.thread.joinable()) watch.thread.join();
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.exitCode, 1u) << o.out;
  EXPECT_EQ(o.out.rfind("Content-Type: text/html\r\n\r\n<html><head><title>crashlab.exe</title></head><body>\r\n", 0), 0u)
      << o.out;
  EXPECT_NE(o.out.find("margin-left:4px;\">crashlab: RvxException: Access violation at address"), std::string::npos)
      << o.out;
  // The report in the text area is the saved one, and the page ends the output.
  ASSERT_FALSE(o.report.empty());
  size_t area = o.out.find("visibility:hidden;\">\r\n");
  ASSERT_NE(area, std::string::npos);
  EXPECT_EQ(o.out.compare(area + 22, 9, "date/time"), 0) << o.out.substr(area, 80);
  const std::string end = "</textarea></td></tr></table></body></html>";
  ASSERT_GE(o.out.size(), end.size());
  EXPECT_EQ(o.out.substr(o.out.size() - end.size()), end);
  EXPECT_EQ(watch.seen.load(), 0);
}

TEST(CrashlabCgi, WithoutTheGatewayVariableTheConsoleLineComesBack) {
  Outcome o = RunLab("av-read");
  ASSERT_TRUE(o.finished);
  // The scenario line, then the exception's console line.
  EXPECT_EQ(o.out.rfind("crashlab: av-read\r\ncrashlab: RvxException: ", 0), 0u) << o.out;
  EXPECT_EQ(o.out.find("Content-Type:"), std::string::npos);
}

}  // namespace
