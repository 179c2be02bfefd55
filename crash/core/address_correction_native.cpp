// Hosts have no process of their own to correct addresses in.
#ifndef _WIN32
#include "crash/core/address_correction.h"

namespace rvx {
Address CorrectExceptionAddress(Address address) { return address; }
}  // namespace rvx
#endif
