// Running crashlab.exe with a scenario in a fresh folder of its own, under a time limit, and collecting its
// standard output, report file and exit code.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "crash/core/bugreport.h"

namespace {

struct Outcome {
  bool finished = false;
  DWORD exitCode = 0;
  std::string out;
  std::string report;  // content of bugreport.txt, empty when missing
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string Folder(const std::string& scenario) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + "crashlab_" + std::to_string(GetCurrentProcessId()) + "_" + scenario;
}

// Runs before the program's first instruction: the process is created suspended, and `stdoutHandle` is the
// value of its standard output handle (inherited, so the same value in both processes).
using BeforeStart = std::function<void(const PROCESS_INFORMATION& process, HANDLE stdoutHandle)>;

inline Outcome RunLab(const std::string& scenario, DWORD timeoutMs = 60000, const BeforeStart& beforeStart = {}) {
  Outcome o;
  std::string dir = Folder(scenario);
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string exe = dir + "\\crashlab.exe";
  DeleteFileA((dir + "\\bugreport.txt").c_str());
  EXPECT_TRUE(CopyFileA("crashlab.exe", exe.c_str(), FALSE)) << "copy to " << exe;
  CopyFileA("crashlab_late.dll", (dir + "\\crashlab_late.dll").c_str(), FALSE);  // loaded by some scenarios
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
  DWORD flags = beforeStart ? CREATE_SUSPENDED : 0;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, flags, nullptr, dir.c_str(), &si, &pi)) {
    CloseHandle(out);
    ADD_FAILURE() << "cannot start " << cmd;
    return o;
  }
  if (beforeStart) {
    beforeStart(pi, out);
    ResumeThread(pi.hThread);
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

// Whether `part` stands in `text` at `at` (false when `at` is npos or too close to the end).
inline bool StartsAt(const std::string& text, size_t at, const std::string& part) {
  return at <= text.size() && text.compare(at, part.size(), part) == 0;
}

inline std::string Value(const std::string& text, const char* name) {
  std::string v;
  rvx::FindHeaderValue(text, name, v);
  return v;
}

}  // namespace
