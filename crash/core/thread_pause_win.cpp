// Thread pausing on Windows: the message-fetch hooks that make every thread fetching window messages pass a
// pause point, the test of which threads are the program's own, and waking the main thread.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "crash/core/freeze.h"
#include "crash/core/message_fetch_win.h"
#include "crash/core/thread_stack.h"

namespace rvx {

namespace {

using GetMessageFn = BOOL(WINAPI*)(MSG*, HWND, UINT, UINT);
using PeekMessageFn = PeekMessageRoutine;

template <class F>
F User32Routine(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

// The system's routines, found before any import slot is replaced.
const GetMessageFn g_getMessageA = User32Routine<GetMessageFn>("GetMessageA");
const GetMessageFn g_getMessageW = User32Routine<GetMessageFn>("GetMessageW");
const PeekMessageFn g_peekMessageA = User32Routine<PeekMessageFn>("PeekMessageA");
const PeekMessageFn g_peekMessageW = User32Routine<PeekMessageFn>("PeekMessageW");

// The caller of a message fetch must find its last error value as it left it.
void PausePoint() {
  DWORD error = GetLastError();
  PauseMeEventually();
  SetLastError(error);
}

BOOL WINAPI HookGetMessageA(MSG* m, HWND w, UINT first, UINT last) {
  PausePoint();
  return g_getMessageA(m, w, first, last);
}
BOOL WINAPI HookGetMessageW(MSG* m, HWND w, UINT first, UINT last) {
  PausePoint();
  return g_getMessageW(m, w, first, last);
}
BOOL WINAPI HookPeekMessageA(MSG* m, HWND w, UINT first, UINT last, UINT remove) {
  PausePoint();
  return g_peekMessageA(m, w, first, last, remove);
}
BOOL WINAPI HookPeekMessageW(MSG* m, HWND w, UINT first, UINT last, UINT remove) {
  PausePoint();
  return g_peekMessageW(m, w, first, last, remove);
}

std::atomic<ImportPatcher> g_patcher{nullptr};
std::once_flag g_hooksOnce;

}  // namespace

void SetImportPatcher(ImportPatcher patcher) { g_patcher = patcher; }

PeekMessageRoutine SystemPeekMessageA() { return g_peekMessageA; }

namespace freeze_platform {

void InstallMessageFetchHooks() {
  ImportPatcher patch = g_patcher.load();
  if (!patch) return;
  std::call_once(g_hooksOnce, [patch] {
    if (!g_getMessageA || !g_getMessageW || !g_peekMessageA || !g_peekMessageW) return;
    patch("user32.dll", "GetMessageA", reinterpret_cast<void*>(&HookGetMessageA), nullptr);
    patch("user32.dll", "PeekMessageA", reinterpret_cast<void*>(&HookPeekMessageA), nullptr);
    patch("user32.dll", "GetMessageW", reinterpret_cast<void*>(&HookGetMessageW), nullptr);
    patch("user32.dll", "PeekMessageW", reinterpret_cast<void*>(&HookPeekMessageW), nullptr);
  });
}

bool IsProgramThread(uint32_t threadId) {
  uint32_t creator = 0;
  // The crash reporter's own threads (an empty title) never pause.
  if (ThreadTitle(threadId, false, &creator).empty() || !creator) return false;
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(creator)), &module))
    return false;
  return FindResourceA(module, "EXCEPT", "RVX") != nullptr;
}

void WakeMainThread() {
  // Any message ends a wait in its message fetch; the next fetch is its pause point.
  if (uint32_t main = MainThreadId()) PostThreadMessageA(main, WM_NULL, 0, 0);
}

}  // namespace freeze_platform

}  // namespace rvx
