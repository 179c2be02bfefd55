// The portable part of the guards: which codes are contained, and the guard of builds without system
// exceptions (C++ exceptions only; there the processor's faults are signals that end the program).
#include "crash/stack/fault_guard.h"

namespace rvx {

bool IsContainedFaultCode(uint32_t code) {
  // Error (0xC...) and warning (0x8...) severity: the processor's faults, guard-page hits, breakpoints
  // outside a debugger and failures raised by system libraries. Informational codes are left alone.
  return (code & 0x80000000u) != 0;
}

#ifndef _WIN32
bool RunFaultGuarded(void (*body)(void*), void* data, FaultObserver, void*) {
  try {
    body(data);
    return true;
  } catch (...) {
    return false;
  }
}
#endif

}  // namespace rvx
