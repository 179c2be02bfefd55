// A library that crashlab loads while it runs, long after the crash reporter was armed: it starts a thread
// that faults.
#include <windows.h>

namespace {
int* volatile g_null = nullptr;

DWORD WINAPI FaultingThread(void*) {
  *g_null = 1;
  return 0;
}
}  // namespace

extern "C" __declspec(dllexport) HANDLE StartFaultingThread() {
  return CreateThread(nullptr, 0, FaultingThread, nullptr, 0, nullptr);
}
