// Freeze detection and thread pausing. For now only the blocked-process test: whether a thread switch would
// deadlock because some thread holds the system's loader lock or the process-environment lock.
#pragma once

#include <cstdint>

namespace rvx {

// Whether a critical section with this lock count is held. Older systems count from -1 up (held when not
// negative); newer ones clear the lowest bit while the section is held.
bool LockCountHeld(int32_t lockCount, bool lowBitRule);

// Whether the loader lock or the process-environment lock is held by any thread, asked again every 10 ms
// while it is and at least 1 ms of the wait remains.
bool ProcessBlocked(uint32_t waitMs);

}  // namespace rvx
