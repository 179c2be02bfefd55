// Exception address correction: a recorded exception address that is not where an instruction of its
// routine starts (nor one of its calls) but lies 4 bytes before such a place is moved there. The routine is
// the public of the module's symbol data that contains the address.
#pragma once
#include "crash/stack/map_file.h"
#include "crash/stack/memory_reader.h"

namespace rvx {

// True when the address is a valid exception address of the analysed routine at entry: the recorded address
// of one of its far calls or calls with unknown target, or the start of an instruction of one of its code
// areas (decoded from the area's start).
bool IsValidExceptionAddress(const MemoryReader& memory, Address entry, Address address);

// The corrected address over given memory and symbol data; the address itself when nothing applies.
Address CorrectedExceptionAddress(const MemoryReader& memory, const TMapFile& map, Address address);

// The same for the running process (symbol data from the cache); unchanged on hosts without a process view.
Address CorrectExceptionAddress(Address address);

}  // namespace rvx
