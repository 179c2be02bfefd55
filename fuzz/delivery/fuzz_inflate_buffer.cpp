// InflateBuffer on arbitrary streams. Input: 3 bytes of destination length (little-endian, at most 256 KiB),
// then the stream. The destination is allocated to the exact length, so any write past it is caught; a
// successful result must survive a second decode of our own compression of it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "crash/delivery/deflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int32_t length = static_cast<int32_t>((data[0] | (data[1] << 8) | (data[2] << 16)) & 0x3FFFF);
  const auto stream = std::make_unique<uint8_t[]>(size - 3);  // exact size: reads past the end are caught
  std::memcpy(stream.get(), data + 3, size - 3);
  const auto out = std::make_unique<uint8_t[]>(static_cast<size_t>(length) + 1);
  const int32_t n = rvx::InflateBuffer(stream.get(), out.get(), static_cast<int32_t>(size - 3), length);
  if (n != 0 && n != length) std::abort();
  if (rvx::InflateExact(stream.get(), static_cast<int32_t>(size - 3), out.get(), length) != (n == length && n > 0) &&
      length > 0)
    std::abort();
  rvx::InflateExact(stream.get(), static_cast<int32_t>(size - 3), nullptr, 0);
  if (n > 0) {
    const auto packed = std::make_unique<uint8_t[]>(static_cast<size_t>(rvx::DeflateCapacity(n)));
    const int32_t p = rvx::DeflateBuffer(out.get(), packed.get(), n, static_cast<int32_t>(rvx::DeflateCapacity(n)));
    const auto back = std::make_unique<uint8_t[]>(static_cast<size_t>(n));
    if (p <= 0 || rvx::InflateBuffer(packed.get(), back.get(), p, n) != n ||
        std::memcmp(back.get(), out.get(), static_cast<size_t>(n)) != 0)
      std::abort();
  }
  return 0;
}
