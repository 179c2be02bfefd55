// Host build: no loader lock to ask about, no main-thread window to probe and no message fetches to hook.
#ifndef _WIN32
#include "crash/core/freeze.h"

namespace rvx {

bool ProcessBlocked(uint32_t) { return false; }

bool StartFreezeWatch(uint32_t) { return false; }
void StopFreezeWatch() {}
bool FreezeWatchRunning() { return false; }
void TellFreezeWatchBox(void*) {}
void SetImportPatcher(ImportPatcher) {}

namespace freeze_platform {
uint32_t WatchThreadId() { return 0; }
void InstallMessageFetchHooks() {}
bool IsProgramThread(uint32_t) { return false; }
void WakeMainThread() {}
bool HoldsProcessLocks() { return false; }
}  // namespace freeze_platform

}  // namespace rvx
#endif
