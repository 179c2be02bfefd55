// InflateCheckedString on arbitrary packed strings: never crashes, never allocates beyond what the input
// could expand to, and a non-empty result always matches its stated length and CRC.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crash/delivery/deflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string packed(reinterpret_cast<const char*>(data), size);
  const std::string out = rvx::InflateCheckedString(packed);
  if (!out.empty()) {
    uint32_t length = 0, crc = 0;
    std::memcpy(&length, data, 4);
    std::memcpy(&crc, data + 8, 4);
    if (out.size() != length || rvx::Crc32Of(out) != crc) std::abort();
  }
  return 0;
}
