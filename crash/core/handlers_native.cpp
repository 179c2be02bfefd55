// Host build: there is no main-thread message window, so synchronous handlers count as unreachable.
#ifndef _WIN32
#include "crash/core/handlers.h"

namespace rvx {
namespace handlers_platform {
void OpenRouting() {}
void CloseRouting() {}
bool CallOnMainThread(TFireHandlersParams&) { return false; }
bool MainThreadReachable() { return false; }
bool DropTopmost(WindowHandle) { return false; }
void RestoreTopmost(WindowHandle) {}
}  // namespace handlers_platform
}  // namespace rvx
#endif
