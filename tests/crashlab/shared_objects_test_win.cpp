// Another program of the session (this test) creates the crash reporter's named objects for crashlab.exe
// before its first instruction runs: filled with content that points into the program or names its
// handles and other processes, held for ever, or as objects of another kind. The program must still start,
// report its exception with the right main thread and end, and keep its own handles.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "crash/core/pipeline.h"
#include "crash/core/shared_objects.h"
#include "crash/stack/text.h"
#include "crashlab/crashlab_run.h"

namespace {

std::string Named(const char* base, DWORD pid) { return base + rvx::HexText(pid); }

uint32_t Value(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// What the other program keeps open while crashlab runs.
struct Held {
  std::vector<HANDLE> handles;
  ~Held() {
    for (HANDLE h : handles) CloseHandle(h);
  }
  void Keep(HANDLE h) {
    EXPECT_TRUE(h);
    if (h) handles.push_back(h);
  }
  // A named section of one page whose first bytes are `words`.
  HANDLE Section(const std::string& name, const std::vector<uint32_t>& words) {
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
    Keep(h);
    Fill(h, words);
    return h;
  }
  static void Fill(HANDLE section, const std::vector<uint32_t>& words) {
    if (void* v = section ? MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0) : nullptr) {
      std::memcpy(v, words.data(), words.size() * 4);
      UnmapViewOfFile(v);
    }
  }
};

using Plant = std::function<void(Held& held, const PROCESS_INFORMATION& lab, HANDLE labStdout)>;

Outcome RunPlanted(const std::string& scenario, const Plant& plant) {
  Held held;
  return RunLab(scenario, 30000, [&](const PROCESS_INFORMATION& lab, HANDLE out) { plant(held, lab, out); });
}

// An exception in the main thread, handled as usual: the console line of its class, a report that names the
// main thread, exit code 1. A processor fault is one of the crash reporter's own exceptions.
void ExpectMainThreadFaultHandled(const Outcome& o, const char* what,
                                  const std::string& exceptionClass = "RvxException") {
  ASSERT_TRUE(o.finished) << what << "\n" << o.out;
  EXPECT_EQ(o.exitCode, 1u) << what << "\n" << o.out;
  EXPECT_NE(o.out.find("crashlab: " + exceptionClass + ": "), std::string::npos) << what << "\n" << o.out;
  EXPECT_NE(o.report.find("\r\n\r\nmain thread ($"), std::string::npos) << what << "\n" << o.report;
}

// Memory of the suspended program: a committed zeroed page, or a reserved one where any access faults.
uint32_t PageIn(HANDLE process, bool committed) {
  void* p = VirtualAllocEx(process, nullptr, 4096, committed ? MEM_RESERVE | MEM_COMMIT : MEM_RESERVE, PAGE_READWRITE);
  EXPECT_TRUE(p);
  return Value(p);
}

}  // namespace

TEST(SharedObjects, SettingsObjectsMadeByAnotherProgram) {
  struct Case {
    const char* what;
    Plant plant;
  } cases[] = {
      {"mutex held for ever, anchor pointing at reserved memory of the program",
       [](Held& held, const PROCESS_INFORMATION& lab, HANDLE) {
         held.Keep(CreateMutexA(nullptr, TRUE, Named("RavexSettingsMtx", lab.dwProcessId).c_str()));
         held.Section(Named("RavexSettingsBuf2", lab.dwProcessId),
                      {PageIn(lab.hProcess, false), rvx::kSettingsAnchorMarker, lab.dwProcessId});
       }},
      {"abandoned mutex, anchor pointing at a zeroed page of the program",
       [](Held& held, const PROCESS_INFORMATION& lab, HANDLE) {
         HANDLE m = nullptr;
         std::thread([&] { m = CreateMutexA(nullptr, TRUE, Named("RavexSettingsMtx", lab.dwProcessId).c_str()); })
             .join();
         held.Keep(m);
         held.Section(Named("RavexSettingsBuf2", lab.dwProcessId), {PageIn(lab.hProcess, true)});
       }},
      {"names taken by objects of another kind",
       [](Held& held, const PROCESS_INFORMATION& lab, HANDLE) {
         held.Section(Named("RavexSettingsMtx", lab.dwProcessId), {1, 2, 3});
         held.Keep(CreateMutexA(nullptr, FALSE, Named("RavexSettingsBuf2", lab.dwProcessId).c_str()));
       }},
  };
  for (const Case& c : cases) ExpectMainThreadFaultHandled(RunPlanted("av-write", c.plant), c.what);
}

TEST(SharedObjects, ThreadNameBufferMadeByAnotherProgram) {
  struct Case {
    const char* what;
    Plant plant;
  } cases[] = {
      {"marked, naming the program's standard output as its mutexes",
       [](Held& held, const PROCESS_INFORMATION& lab, HANDLE out) {
         held.Section(Named("RavexThreadNameBuf", lab.dwProcessId),
                      {Value(out), Value(out), PageIn(lab.hProcess, false), 0, Value(out), rvx::kThreadNameMarker,
                       lab.dwProcessId});
       }},
      {"unmarked", [](Held& held, const PROCESS_INFORMATION& lab,
                      HANDLE) { held.Section(Named("RavexThreadNameBuf", lab.dwProcessId), {4, 8, 0x10, 7, 12}); }},
      {"an event", [](Held& held, const PROCESS_INFORMATION& lab, HANDLE) {
         held.Keep(CreateEventA(nullptr, TRUE, FALSE, Named("RavexThreadNameBuf", lab.dwProcessId).c_str()));
       }},
  };
  // A C++ exception that nobody catches in the main thread ends the program; in any other thread only that
  // thread would end.
  for (const Case& c : cases)
    ExpectMainThreadFaultHandled(RunPlanted("throw-own", c.plant), c.what, "ELabError");
}

TEST(SharedObjects, RestartBlockMadeByAnotherProgram) {
  // A process that stays alive (suspended) while crashlab runs: a forged block names it as the old instance.
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION other{};
  std::string cmd = "crashlab.exe none";
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                             &other));
  auto block = [](uint32_t oldPid, HANDLE handle, bool marked, uint32_t newPid) {
    rvx::TRestartHandOver b{};
    b.oldProcessId = oldPid;
    b.handle = Value(handle);
    for (int i = 0; i < 10; ++i) b.history[i] = 13000000000LL;
    if (marked) b.marker = rvx::kRestartMarker;
    b.newProcessId = newPid;
    std::vector<uint32_t> words(sizeof b / 4);
    std::memcpy(words.data(), &b, sizeof b);
    return words;
  };
  struct Case {
    const char* what;
    Plant plant;
  } cases[] = {
      {"unmarked, naming this test and the program's standard output",
       [&](Held& held, const PROCESS_INFORMATION& lab, HANDLE out) {
         held.Section(rvx::RestartHandOverName(lab.dwProcessId), block(GetCurrentProcessId(), out, false, 0));
       }},
      {"handed over as an old instance would, naming a process that did not start the program",
       [&](Held& held, const PROCESS_INFORMATION& lab, HANDLE) {
         HANDLE section = held.Section(rvx::RestartHandOverName(lab.dwProcessId), {});
         HANDLE given = nullptr;
         ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), section, lab.hProcess, &given, 0, FALSE, DUPLICATE_SAME_ACCESS));
         Held::Fill(section, block(other.dwProcessId, given, true, lab.dwProcessId));
       }},
      {"marked, naming this test, with a handle that does not reach the block",
       [&](Held& held, const PROCESS_INFORMATION& lab, HANDLE out) {
         held.Section(rvx::RestartHandOverName(lab.dwProcessId),
                      block(GetCurrentProcessId(), out, true, lab.dwProcessId));
       }},
  };
  for (const Case& c : cases) {
    Outcome o = RunPlanted("restarted", c.plant);
    ASSERT_TRUE(o.finished) << c.what;
    EXPECT_EQ(o.exitCode, 0u) << c.what << "\n" << o.out;
    // Its standard output stayed open to the end.
    EXPECT_NE(o.out.find("not restarted\r\nsurvived"), std::string::npos) << c.what << "\n" << o.out;
  }
  TerminateProcess(other.hProcess, 0);
  CloseHandle(other.hThread);
  CloseHandle(other.hProcess);
}

TEST(SharedObjects, OldInstanceThatDoesNotEndOnlyDelaysTheStart) {
  // This test hands over like an old instance would, and stays alive while the new one starts.
  Outcome o = RunPlanted("restarted", [](Held&, const PROCESS_INFORMATION& lab, HANDLE) {
    EXPECT_TRUE(rvx::pipeline_platform::HandOverToNewInstance(lab.hProcess, lab.dwProcessId));
  });
  ASSERT_TRUE(o.finished) << o.out;
  EXPECT_NE(o.out.find("restarted: old process running, handle closed"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
}
