// The blocked-process test: the lock-count rules, and (Windows) a thread that holds the loader lock or the
// process-environment lock.
#include <gtest/gtest.h>

#include "crash/core/freeze.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

TEST(LockCountHeld, BothRules) {
  // Counting rule: -1 free, 0 and up held.
  EXPECT_FALSE(rvx::LockCountHeld(-1, false));
  EXPECT_TRUE(rvx::LockCountHeld(0, false));
  EXPECT_TRUE(rvx::LockCountHeld(3, false));
  // Lowest-bit rule: -1 free, -2 held, -6 held with waiters, -5 free with a waiter woken.
  EXPECT_FALSE(rvx::LockCountHeld(-1, true));
  EXPECT_TRUE(rvx::LockCountHeld(-2, true));
  EXPECT_TRUE(rvx::LockCountHeld(-6, true));
  EXPECT_FALSE(rvx::LockCountHeld(-5, true));
}

#ifdef _WIN32

using LockFn = LONG(WINAPI*)(ULONG flags, ULONG* state, ULONG_PTR* cookie);
using UnlockFn = LONG(WINAPI*)(ULONG flags, ULONG_PTR cookie);
using PebLockFn = void(WINAPI*)();

template <class F>
F NtdllRoutine(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// A thread that takes a lock, says so, and gives it back when told.
struct Holder {
  HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  bool peb = false;
  HANDLE thread = nullptr;

  static DWORD WINAPI Run(void* p) {
    auto* h = static_cast<Holder*>(p);
    if (h->peb) {
      NtdllRoutine<PebLockFn>("RtlAcquirePebLock")();
      SetEvent(h->taken);
      WaitForSingleObject(h->release, INFINITE);
      NtdllRoutine<PebLockFn>("RtlReleasePebLock")();
    } else {
      ULONG_PTR cookie = 0;
      NtdllRoutine<LockFn>("LdrLockLoaderLock")(0, nullptr, &cookie);
      SetEvent(h->taken);
      WaitForSingleObject(h->release, INFINITE);
      NtdllRoutine<UnlockFn>("LdrUnlockLoaderLock")(0, cookie);
    }
    return 0;
  }
  void Take() {
    thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    WaitForSingleObject(taken, INFINITE);
  }
  void Free() {
    SetEvent(release);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  ~Holder() {
    CloseHandle(taken);
    CloseHandle(release);
  }
};

TEST(ProcessBlocked, LoaderLockHeldByAnotherThread) {
  ASSERT_NE(NtdllRoutine<LockFn>("LdrLockLoaderLock"), nullptr);
  EXPECT_FALSE(rvx::ProcessBlocked(0));
  Holder h;
  h.Take();
  EXPECT_TRUE(rvx::ProcessBlocked(0));
  EXPECT_TRUE(rvx::ProcessBlocked(30));  // still held after the repeated looks
  h.Free();
  EXPECT_FALSE(rvx::ProcessBlocked(0));
  EXPECT_FALSE(rvx::ProcessBlocked(30));
}

TEST(ProcessBlocked, ProcessEnvironmentLockHeldByAnotherThread) {
  ASSERT_NE(NtdllRoutine<PebLockFn>("RtlAcquirePebLock"), nullptr);
  Holder h;
  h.peb = true;
  h.Take();
  EXPECT_TRUE(rvx::ProcessBlocked(0));
  h.Free();
  EXPECT_FALSE(rvx::ProcessBlocked(0));
}

TEST(ProcessBlocked, ReleasedDuringTheWait) {
  Holder h;
  // The helper exists before the lock is taken: a thread starting while the loader lock is held would wait
  // for it. It releases the lock a little later, while the test looks again every 10 ms.
  HANDLE helper = CreateThread(
      nullptr, 0,
      [](void* p) WINAPI -> DWORD {
        WaitForSingleObject(static_cast<Holder*>(p)->taken, INFINITE);
        Sleep(50);
        SetEvent(static_cast<Holder*>(p)->release);
        return 0;
      },
      &h, 0, nullptr);
  h.Take();
  EXPECT_FALSE(rvx::ProcessBlocked(60000));  // the bound is generous on purpose
  WaitForSingleObject(helper, INFINITE);
  CloseHandle(helper);
  h.Free();
}

#endif

}  // namespace
