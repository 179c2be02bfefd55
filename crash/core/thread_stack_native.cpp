// Host stand-ins for thread lists and memory of the process (Linux builds).
#ifndef _WIN32
#include <pthread.h>
#include <unistd.h>
#include <sys/syscall.h>

#include <cstring>

#include "crash/core/thread_stack.h"

namespace rvx {

std::vector<uint32_t> ListThreadIds() { return {CurrentThreadId()}; }
bool ThreadState(uint32_t, ThreadStateInfo&) { return false; }
uint32_t RegionEnd(uint32_t) { return 0; }
uint32_t StackEnd(uint32_t) { return 0; }
// The host build has no 32-bit address space to inspect.
bool ReadProcessMemorySafe(uint32_t, void*, uint32_t) { return false; }
std::string ModuleNameOfAddress(uint32_t) { return {}; }
uint32_t CallSiteOf(uint32_t returnAddress) { return returnAddress; }
uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
bool OpenThreadNameBuffer(uint32_t mainThreadId) {
  SetMainThreadIdForNames(mainThreadId);
  UpdateThreadEntry(mainThreadId, "main thread");
  return true;
}
void CloseThreadNameBuffer() {}
void* FreezeWatchMutex() { return nullptr; }
// Host threads are not watched: their entries stay until they are removed.
uintptr_t WatchThread(uint32_t) { return 0; }
bool ThreadHasEnded(uintptr_t) { return false; }
void ForgetThreadWatch(uintptr_t) {}

}  // namespace rvx
#endif
