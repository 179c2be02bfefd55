// Host versions of the pipeline's platform layer (Linux builds): no handling thread, no windows; requests
// are handled in the raising thread and a console program is assumed.
#ifndef _WIN32
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "crash/core/pipeline.h"

namespace rvx {

bool StartHandlingThread() { return false; }
void StopHandlingThread() {}
uint32_t HandlingThreadId() { return 0; }

namespace pipeline_platform {
bool IsConsoleProgram() { return true; }
void WriteStdOut(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}
void PlainMessageBox(IRVException* record) { WriteStdOut(record->ExceptMessage() + "\n"); }
int64_t NowSeconds1601() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count() +
         11644473600LL;
}
void ReleaseEmergencyMemory() {}
void TakeEmergencyMemory() {}
void RemoveTempFolder() {}
void CopyToClipboard(const std::string&) {}
void WaitForSendThread(void*) {}  // host send threads are detached
void EndProgram(IRVException*) { std::_Exit(1); }
void RestartProgram(IRVException*) { std::_Exit(2); }
bool HandOverToNewInstance(void*, uint32_t) { return false; }
bool SendRequest(THandlingRequest&, bool) { return false; }
bool ProcessBlocked() { return false; }
ModuleHandle ModuleOfAddress(uintptr_t) { return 0; }
}  // namespace pipeline_platform

}  // namespace rvx
#endif
