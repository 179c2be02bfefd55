// Symbol data reader on arbitrary bytes: td32 input never faults, and the lookups over
// whatever it built stay inside their arrays.
#include <cstdint>
#include <string_view>

#include "crash/stack/symbol_container.h"
#include "crash/stack/symbol_sources.h"
#include "fuzz/stack/fuzz_symbol_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rvx;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TMapFile m;
  ReadTd32(bytes, FuzzBases(), true, m);
  ExerciseLookups(m);
  return 0;
}
