// The settings anchor, the settings mutex and the thread-name buffer when another program made them first:
// the objects are created here before the code under test opens them, as another program of the session
// could, with content that points into this process, held for ever, or as objects of another kind.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "crash/core/settings.h"
#include "crash/core/shared_objects.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/text.h"

using namespace rvx;

namespace {

std::string Named(const char* base) { return base + HexText(GetCurrentProcessId()); }

// A named section of one page whose first bytes are `words`.
HANDLE Section(const std::string& name, const std::vector<uint32_t>& words) {
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
  EXPECT_TRUE(h) << name;
  if (void* v = h ? MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, 0) : nullptr) {
    std::memcpy(v, words.data(), words.size() * 4);
    UnmapViewOfFile(v);
  }
  return h;
}

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Two settings objects of this program's module: valid, read the resource and share the module's entry.
void ExpectWorkingSharedSettings() {
  Ref<TIRVSettings> a(new TIRVSettings(settings_platform::ProgramModule()));
  Ref<TIRVSettings> b(new TIRVSettings(settings_platform::ProgramModule()));
  EXPECT_TRUE(a->Valid());
  EXPECT_EQ(a->SmtpPort(), 587);
  EXPECT_TRUE(a->SetSmtpPort(2525));
  EXPECT_EQ(b->SmtpPort(), 2525);
  a->Reload();
  EXPECT_EQ(b->SmtpPort(), 587);
}

}  // namespace

TEST(SharedObjectsWin, SettingsAnchorPointingIntoTheProcessIsNotFollowed) {
  // A zeroed block of this process's heap, and a reserved page where any access faults.
  std::vector<uint32_t> bait(256, 0);
  void* reserved = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_READWRITE);
  ASSERT_TRUE(reserved);
  for (uint32_t target : {AddressOf(bait.data()), AddressOf(reserved), 0x10u}) {
    for (bool marked : {false, true}) {
      HANDLE anchor = Section(Named("RavexSettingsBuf2"),
                              {target, marked ? kSettingsAnchorMarker : 0u, marked ? uint32_t(GetCurrentProcessId()) : 0u});
      ExpectWorkingSharedSettings();
      CloseHandle(anchor);
    }
  }
  for (uint32_t word : bait) ASSERT_EQ(word, 0u);
  VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST(SharedObjectsWin, SettingsNamesTakenByObjectsOfAnotherKind) {
  HANDLE anchorAsMutex = CreateMutexA(nullptr, FALSE, Named("RavexSettingsBuf2").c_str());
  HANDLE mutexAsSection = Section(Named("RavexSettingsMtx"), {1, 2, 3});
  ASSERT_TRUE(anchorAsMutex && mutexAsSection);
  ExpectWorkingSharedSettings();
  CloseHandle(anchorAsMutex);
  CloseHandle(mutexAsSection);
}

TEST(SharedObjectsWin, SettingsMutexAbandonedOrHeldForEver) {
  std::string name = Named("RavexSettingsMtx");
  // Abandoned: its owner ended without releasing it. The settings take it over and give it back.
  HANDLE abandoned = nullptr;
  std::thread([&] { abandoned = CreateMutexA(nullptr, TRUE, name.c_str()); }).join();
  ASSERT_TRUE(abandoned);
  ExpectWorkingSharedSettings();
  DWORD free = WAIT_FAILED;
  std::thread([&] {
    free = WaitForSingleObject(abandoned, 0);
    if (free == WAIT_OBJECT_0) ReleaseMutex(abandoned);
  }).join();
  EXPECT_EQ(free, static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(abandoned);

  // Held for ever by its owner: the settings still come.
  HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr), stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    HANDLE m = CreateMutexA(nullptr, TRUE, name.c_str());
    SetEvent(taken);
    WaitForSingleObject(stop, INFINITE);
    ReleaseMutex(m);
    CloseHandle(m);
  });
  WaitForSingleObject(taken, INFINITE);
  ExpectWorkingSharedSettings();
  SetEvent(stop);
  holder.join();
  CloseHandle(taken);
  CloseHandle(stop);
}

TEST(SharedObjectsWin, ThreadNameBufferMadeByAnotherProgram) {
  // Two events of this process whose handle values the buffer names as its mutexes.
  HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr), second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::string name = Named("RavexThreadNameBuf");
  uint32_t main = GetCurrentThreadId();
  uint32_t pid = GetCurrentProcessId();
  struct Case {
    const char* what;
    std::function<HANDLE()> make;
  } cases[] = {
      {"marked, naming handles of this process",
       [&] { return Section(name, {AddressOf(first), AddressOf(second), 0x10, 0, AddressOf(first), kThreadNameMarker, pid}); }},
      {"unmarked", [&] { return Section(name, {AddressOf(first), AddressOf(second), 0x10, 7, AddressOf(second)}); }},
      {"an event", [&] { return CreateEventA(nullptr, TRUE, FALSE, name.c_str()); }},
  };
  for (const Case& c : cases) {
    HANDLE object = c.make();
    ASSERT_TRUE(object) << c.what;
    SetMainThreadIdForNames(0);
    OpenThreadNameBuffer(main);
    EXPECT_EQ(MainThreadId(), main) << c.what;
    EXPECT_EQ(ThreadTitle(main, false), "main thread (" + HexText(main) + ")") << c.what;
    CloseThreadNameBuffer();
    // Nothing closed what it did not open.
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(first, &flags) && GetHandleInformation(second, &flags)) << c.what;
    CloseHandle(object);
  }
  CloseHandle(first);
  CloseHandle(second);
}
