// Exception address correction in the running process: the symbol data of the address's module.
#include "crash/core/address_correction.h"
#include "crash/stack/safe_read.h"

namespace rvx {

Address CorrectExceptionAddress(Address address) {
  if (address == 0) return address;
  try {
    auto map = SymbolDataFor(address);
    if (!map->valid) return address;
    ProcessReader memory;
    return CorrectedExceptionAddress(memory, *map, address);
  } catch (...) {
    return address;
  }
}

}  // namespace rvx
