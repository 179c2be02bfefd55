// Symbol container on arbitrary bytes: the header and enciphered payload, and (since a damaged payload
// rarely gets past its checksum) the unpacked stream directly, in full and in minimal mode. The first byte
// chooses which; nothing faults, and the lookups over the result stay inside their arrays.
#include <cstdint>
#include <string_view>

#include "crash/stack/symbol_container.h"
#include "fuzz/stack/fuzz_symbol_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rvx;
  if (size == 0) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  TMapFile m;
  switch (data[0] % 3) {
    case 0: ReadContainer(bytes, FuzzBases(), m); break;
    case 1: ReadContainerStream(bytes, false, FuzzBases(), m); break;
    default: ReadContainerStream(bytes, true, FuzzBases(), m); break;
  }
  ExerciseLookups(m);
  return 0;
}
