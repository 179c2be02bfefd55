// The freeze watch on Windows: the probe handler on the main thread's hidden message window, the watch thread
// and its answers in its own message queue. And the blocked-process test: the loader lock and the
// process-environment fast lock are critical sections that the process environment block points to.
#include <windows.h>

#include <atomic>

#include "crash/core/freeze.h"
#include "crash/core/message_fetch_win.h"
#include "crash/core/pipeline.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/module.h"

namespace rvx {

namespace {

// ---- the freeze watch ---------------------------------------------------------------------------------

std::atomic<bool> g_running{false};
std::atomic<DWORD> g_watchThreadId{0};
std::atomic<HWND> g_window{nullptr};
std::atomic<UINT> g_message{0};
HANDLE g_watchThread = nullptr;
HANDLE g_stop = nullptr;  // manual-reset: set when the watch ends
DWORD g_mainThreadId = 0;

// On the main thread: an answer to the watch thread, or, when the probe names a window (an exception box
// showing the freeze), the message that tells that window the main thread answers again.
void ProbeHandler(void*, uint32_t, uintptr_t wParam, intptr_t, intptr_t& result) {
  HWND box = reinterpret_cast<HWND>(wParam);
  if (box && IsWindow(box)) {
    PostMessageA(box, WM_NULL, kFreezeProbeAnswer, kFreezeProbeAnswer);
  } else if (DWORD watcher = g_watchThreadId.load()) {
    PostThreadMessageA(watcher, WM_NULL, kFreezeProbeAnswer, kFreezeProbeAnswer);
  }
  result = kFreezeProbeAnswer;
}

MessageHandler ProbeRoutine() {
  MessageHandler h;
  h.proc = ProbeHandler;
  return h;
}

class WindowProbe : public FreezeProbe {
 public:
  WindowProbe(FreezeWatch& watch, HWND window, UINT message) : watch_(watch), window_(window), message_(message) {}
  void Post() override { PostMessageA(window_, message_, 0, 0); }
  bool Sleep(uint32_t ms) override { return watch_.Rest(ms); }
  bool TakeAnswers() override {
    bool any = false;
    MSG m;
    while (peek_ && peek_(&m, nullptr, 0, 0, PM_REMOVE))
      if (!m.hwnd && m.message == WM_NULL && m.wParam == static_cast<WPARAM>(kFreezeProbeAnswer) &&
          m.lParam == kFreezeProbeAnswer)
        any = true;
    return any;
  }
  void ReportFreeze() override {
    HandleParams p;
    p.type = kExceptFreeze;
    p.source = kSourceFreeze;
    p.canContinue = true;
    HandleException(p);
  }

 private:
  FreezeWatch& watch_;
  HWND window_;
  UINT message_;
  // Never the import slot: the watch must not stand still at a pause point.
  PeekMessageRoutine peek_ = SystemPeekMessageA();
};

DWORD WINAPI WatchThread(void*) {
  WindowProbe probe(ProcessFreezeWatch(), g_window.load(), g_message.load());
  MSG m;
  PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);  // the queue for the answers exists before the first probe
  // Only one watch per process, even when several modules carry the crash reporter: the first one holds
  // mutex 1 of the thread-name buffer until it ends.
  HANDLE mutex = static_cast<HANDLE>(FreezeWatchMutex());
  bool owned = false;
  if (mutex) {
    HANDLE waits[2] = {g_stop, mutex};
    DWORD r = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0) return 0;
    owned = r == WAIT_OBJECT_0 + 1 || r == WAIT_ABANDONED_0 + 1;
  }
  RunFreezeWatch(ProcessFreezeWatch(), probe);
  if (owned) ReleaseMutex(mutex);
  return 0;
}

// ---- the blocked-process test -------------------------------------------------------------------------

// Offsets in the 32-bit process environment block.
constexpr uint32_t kFastPebLockOffset = 0x1C;
constexpr uint32_t kLoaderLockOffset = 0xA0;

// -1 not known yet, 0 count rule, 1 lowest-bit rule: found once by locking a fresh critical section.
std::atomic<int> g_lowBitRule{-1};

bool LowBitRule() {
  int rule = g_lowBitRule.load();
  if (rule < 0) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    rule = cs.LockCount < 0 ? 1 : 0;  // held: 0 by counting, -2 with the lowest bit cleared
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
    g_lowBitRule = rule;
  }
  return rule == 1;
}

bool SectionHeld(const RTL_CRITICAL_SECTION* cs, bool lowBitRule) {
  if (!cs || IsBadReadPtr(cs, sizeof *cs)) return false;
  return LockCountHeld(cs->LockCount, lowBitRule);
}

// The process's loader lock or process-environment lock (critical sections the environment block refers to).
const RTL_CRITICAL_SECTION* ProcessLock(uint32_t offset) {
  const uint8_t* peb;
  asm volatile("movl %%fs:0x30, %0" : "=r"(peb));
  return peb ? *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(peb + offset) : nullptr;
}

bool BlockedNow() {
  bool lowBit = LowBitRule();
  return SectionHeld(ProcessLock(kLoaderLockOffset), lowBit) || SectionHeld(ProcessLock(kFastPebLockOffset), lowBit);
}

bool OwnedByThisThread(const RTL_CRITICAL_SECTION* cs) {
  if (!cs || IsBadReadPtr(cs, sizeof *cs)) return false;
  return reinterpret_cast<uintptr_t>(cs->OwningThread) == GetCurrentThreadId() && cs->RecursionCount > 0;
}

}  // namespace

bool StartFreezeWatch(uint32_t timeoutMs) {
  if (g_running) return true;
  HWND window = static_cast<HWND>(ThreadMessageWindow());
  if (!window) return false;  // no window, no freeze detection
  UINT message = AddThreadMessageHandler(ProbeRoutine());
  if (!message) return false;
  ProcessFreezeWatch().Reset(timeoutMs);
  g_window = window;
  g_message = message;
  g_mainThreadId = GetCurrentThreadId();
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // Created through the system's routine: the crash reporter's own thread needs no creator record.
  using CreateThreadFn = HANDLE(WINAPI*)(SECURITY_ATTRIBUTES*, SIZE_T, LPTHREAD_START_ROUTINE, void*, DWORD, DWORD*);
  auto create = reinterpret_cast<CreateThreadFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateThread")));
  DWORD id = 0;
  HANDLE thread = g_stop && create ? create(nullptr, 0, WatchThread, nullptr, CREATE_SUSPENDED, &id) : nullptr;
  if (!thread) {
    RemoveThreadMessageHandler(ProbeRoutine(), message);
    if (g_stop) CloseHandle(g_stop);
    g_stop = nullptr;
    g_window = nullptr;
    g_message = 0;
    return false;
  }
  g_watchThread = thread;
  g_watchThreadId = id;
  RegisterThreadName(id, "Ravex - AntiFreezeThread");
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  g_running = true;
  ResumeThread(thread);
  return true;
}

void StopFreezeWatch() {
  if (!g_running.exchange(false)) return;
  ProcessFreezeWatch().Stop();  // lifts a pause and wakes the resting thread
  SetEvent(g_stop);
  RemoveThreadMessageHandler(ProbeRoutine(), g_message.exchange(0), g_mainThreadId);
  g_window = nullptr;
  // A watch that is reporting a freeze right now may not come back soon: it is ended after a while.
  if (WaitForSingleObject(g_watchThread, 2000) == WAIT_TIMEOUT) TerminateThread(g_watchThread, 0);
  CloseHandle(g_watchThread);
  CloseHandle(g_stop);
  g_watchThread = g_stop = nullptr;
  UpdateThreadEntry(g_watchThreadId.exchange(0), "");
}

bool FreezeWatchRunning() { return g_running.load(); }

void TellFreezeWatchBox(void* window) {
  HWND main = g_window.load();
  UINT message = g_message.load();
  if (main && message && window) PostMessageA(main, message, reinterpret_cast<WPARAM>(window), 0);
}

namespace freeze_platform {
uint32_t WatchThreadId() { return g_watchThreadId.load(); }
bool HoldsProcessLocks() {
  return OwnedByThisThread(ProcessLock(kLoaderLockOffset)) || OwnedByThisThread(ProcessLock(kFastPebLockOffset));
}
}  // namespace freeze_platform

bool ProcessBlocked(uint32_t waitMs) {
  uint32_t start = GetTickCount();
  for (;;) {
    if (!BlockedNow()) return false;
    if (GetTickCount() - start >= waitMs) return true;  // less than 1 ms of the wait left
    Sleep(10);
  }
}

}  // namespace rvx
