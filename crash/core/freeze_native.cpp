// Host build: no loader lock to ask about.
#ifndef _WIN32
#include "crash/core/freeze.h"

namespace rvx {
bool ProcessBlocked(uint32_t) { return false; }
}  // namespace rvx
#endif
