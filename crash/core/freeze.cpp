#include "crash/core/freeze.h"

namespace rvx {

bool LockCountHeld(int32_t lockCount, bool lowBitRule) { return lowBitRule ? (lockCount & 1) == 0 : lockCount >= 0; }

}  // namespace rvx
