// Runs every crashlab scenario in a fresh folder under a time limit and checks standard output, the report
// file and the exit code.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include <fstream>
#include <sstream>
#include <string>

#include "crash/core/bugreport.h"
#include "crash/core/hooks.h"

namespace {

struct Outcome {
  bool finished = false;
  DWORD exitCode = 0;
  std::string out;
  std::string report;  // content of bugreport.txt, empty when missing
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Folder(const std::string& scenario) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + "crashlab_" + std::to_string(GetCurrentProcessId()) + "_" + scenario;
}

Outcome RunLab(const std::string& scenario, DWORD timeoutMs = 60000) {
  Outcome o;
  std::string dir = Folder(scenario);
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string exe = dir + "\\crashlab.exe";
  DeleteFileA((dir + "\\bugreport.txt").c_str());
  EXPECT_TRUE(CopyFileA("crashlab.exe", exe.c_str(), FALSE)) << "copy to " << exe;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  std::string outPath = dir + "\\stdout.txt";
  HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + exe + "\" " + scenario;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &si, &pi)) {
    CloseHandle(out);
    ADD_FAILURE() << "cannot start " << cmd;
    return o;
  }
  CloseHandle(out);
  o.finished = WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0;
  if (!o.finished) TerminateProcess(pi.hProcess, 99);
  GetExitCodeProcess(pi.hProcess, &o.exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  o.out = ReadAll(outPath);
  o.report = ReadAll(dir + "\\bugreport.txt");
  return o;
}

std::string Value(const std::string& text, const char* name) {
  std::string v;
  rvx::FindHeaderValue(text, name, v);
  return v;
}

// A saved report: header items in order, aligned, with a complete checksum and the thread sections.
void CheckReport(const std::string& report, const std::string& cls, const std::string& message) {
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report.rfind("date/time", 0), 0u);
  const char* order[] = {"date/time", "computer name", "user name", "operating system", "physical memory",
                         "process id", "executable", "exec. date/time", "compiled with", "Ravex version",
                         "callstack crc", "exception number", "exception class"};
  size_t last = 0;
  for (const char* n : order) {
    size_t at = std::string(n) == "date/time" ? 0 : report.find(std::string("\r\n") + n);
    ASSERT_NE(at, std::string::npos) << n << "\n" << report;
    EXPECT_GE(at, last) << n;
    last = at;
  }
  size_t column = report.find(": ");
  size_t end = report.find("\r\n\r\n");
  for (size_t p = 0; p < end;) {
    size_t e = report.find("\r\n", p);
    EXPECT_EQ(report.find(": ", p), p + column) << report.substr(p, e - p);
    p = e + 2;
  }
  EXPECT_EQ(Value(report, "callstack crc").size(), 31u) << report;
  EXPECT_EQ(Value(report, "executable"), "crashlab.exe");
  EXPECT_EQ(Value(report, "Ravex version"), "3.0o");
  EXPECT_EQ(Value(report, "exception class"), cls);
  if (!message.empty()) EXPECT_NE(Value(report, "exception message").find(message), std::string::npos) << report;
  EXPECT_NE(report.find("\r\n\r\nmain thread ($"), std::string::npos) << report;
  EXPECT_EQ(report.substr(report.size() - 4), "\r\n\r\n");
}

void CheckFault(const char* scenario, const std::string& message) {
  Outcome o = RunLab(scenario);
  ASSERT_TRUE(o.finished) << scenario;
  EXPECT_EQ(o.exitCode, 1u) << o.out;
  size_t line = o.out.find("crashlab: RvxException: ");
  ASSERT_NE(line, std::string::npos) << o.out;
  EXPECT_LT(o.out.find(message, line), o.out.find("\r\n", line)) << o.out;
  EXPECT_EQ(o.out.find("survived"), std::string::npos);
  CheckReport(o.report, "RvxException", message);
  EXPECT_NE(o.report.find("\r\ncpu registers:\r\neax = "), std::string::npos) << o.report;
  EXPECT_NE(o.report.find("\r\nstack dump:\r\n"), std::string::npos);
  // The console shows the same report.
  EXPECT_NE(o.out.find(o.report.substr(0, o.report.find("\r\n"))), std::string::npos);
}

TEST(Crashlab, ProcessorFaults) {
  CheckFault("av-read", "Access violation at address");
  CheckFault("av-write", "Write of address 00000000");
  CheckFault("av-exec", "Access Violation");
  CheckFault("div-zero", "Integer division by zero");
  CheckFault("illegal", "External exception c000001d");
  CheckFault("privileged", "Privileged instruction");
  CheckFault("stack-overflow", "Stack overflow");
}

TEST(Crashlab, UncaughtExceptions) {
  struct Case {
    const char* scenario;
    const char* cls;
    const char* message;
  } cases[] = {{"throw-own", "(anonymous namespace)::ELabError", "our own error."},
               {"throw-std", "std::runtime_error", "standard error."},
               {"throw-int", "int", ""},
               {"dtor-throw", "(anonymous namespace)::ELabError", "first."}};
  for (const auto& c : cases) {
    Outcome o = RunLab(c.scenario);
    ASSERT_TRUE(o.finished) << c.scenario;
    EXPECT_EQ(o.exitCode, 1u) << c.scenario << "\n" << o.out;
    CheckReport(o.report, c.cls, c.message);
    EXPECT_EQ(o.report.find("cpu registers"), std::string::npos);
  }
}

TEST(Crashlab, RuntimeErrors) {
  struct Case {
    const char* scenario;
    const char* message;
  } cases[] = {{"abort", "Abnormal program termination."}, {"pure-virtual", "Pure virtual function call."}};
  for (const auto& c : cases) {
    Outcome o = RunLab(c.scenario);
    ASSERT_TRUE(o.finished) << c.scenario;
    EXPECT_EQ(o.exitCode, 1u) << c.scenario << "\n" << o.out;
    CheckReport(o.report, "RvxException", c.message);
  }
}

TEST(Crashlab, ThreadsFailAndTheProgramGoesOn) {
  for (const char* s : {"thread-throw", "thread-fault"}) {
    Outcome o = RunLab(s);
    ASSERT_TRUE(o.finished) << s;
    EXPECT_EQ(o.exitCode, 0u) << s << "\n" << o.out;
    EXPECT_NE(o.out.find("thread exit code ffffffff"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("survived"), std::string::npos);
    ASSERT_FALSE(o.report.empty()) << s;
    EXPECT_NE(o.report.find(">> created by main thread ($"), std::string::npos) << o.report;
  }
  for (const char* s : {"std-thread", "work-item"}) {
    Outcome o = RunLab(s);
    ASSERT_TRUE(o.finished) << s;
    EXPECT_EQ(o.exitCode, 0u) << s << "\n" << o.out;
    EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
    EXPECT_NE(Value(o.report, "exception message").find("failed."), std::string::npos) << s << "\n" << o.report;
  }
}

TEST(Crashlab, TwentyThreadsAtOnceMergeIntoOneReport) {
  // Every thread's fault context must reach its own record: a shared copy let one thread's record walk the
  // stack of another, already ended thread, so that report stopped at the first frame and was not merged.
  Outcome o = RunLab("threads20", 120000);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.exitCode, 0u) << o.out;
  EXPECT_NE(o.out.find("failed threads 20"), std::string::npos) << o.out;
  EXPECT_EQ(Value(o.report, "count"), "20") << o.report;
}

TEST(Crashlab, ContinuedExceptionsCountUp) {
  Outcome o = RunLab("loop100", 300000);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.exitCode, 0u);
  EXPECT_NE(o.out.find("survived"), std::string::npos);
  CheckReport(o.report, "(anonymous namespace)::ELabError", "continued exception.");
  EXPECT_EQ(Value(o.report, "count"), "100");
  // "count" right after "callstack crc", aligned with it.
  size_t crc = o.report.find("\r\ncallstack crc");
  size_t next = o.report.find("\r\n", crc + 2);
  EXPECT_EQ(o.report.compare(next, 7, "\r\ncount"), 0);
  EXPECT_EQ(o.report.find(": ", next + 2) - next, o.report.find(": ", crc + 2) - crc);
}

TEST(Crashlab, SilentAndFilteredExceptions) {
  Outcome a = RunLab("eabort");
  ASSERT_TRUE(a.finished);
  EXPECT_EQ(a.exitCode, 0u);
  EXPECT_EQ(a.out, "crashlab: eabort\r\nsurvived\r\n");
  EXPECT_TRUE(a.report.empty());
  Outcome d = RunLab("dbedit");
  ASSERT_TRUE(d.finished);
  EXPECT_EQ(d.exitCode, 0u);
  EXPECT_NE(d.out.find("crashlab: EDBEditError: 'abc' is not a valid integer value."), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("survived"), std::string::npos);
  EXPECT_TRUE(d.report.empty()) << d.report;
}

TEST(Crashlab, ProgramFileCarriesItsChecksum) {
  std::string file = ReadAll("crashlab.exe");
  size_t offset = 0;
  auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  ASSERT_TRUE(rvx::PeChecksumOffset(bytes, file.size(), offset));
  uint32_t stored;
  memcpy(&stored, file.data() + offset, 4);
  EXPECT_NE(stored, 0u);
  EXPECT_EQ(stored, rvx::ImageChecksum(bytes, file.size(), offset));
}

}  // namespace
