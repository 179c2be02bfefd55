// CRC-32 (reflected polynomial 0xEDB88320), eight bytes per step with eight derived tables.
#include <array>
#include <bit>

#include "crash/delivery/deflate.h"
#include "crash/delivery/deflate_tables.h"

namespace rvx {
namespace {

static_assert(std::endian::native == std::endian::little, "the word-wise CRC assumes little-endian loads");

using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  // t[k][i]: the CRC of byte i followed by k zero bytes.
  for (int k = 1; k < 8; ++k)
    for (int i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr CrcTables kCrc = MakeCrcTables();

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* buffer, int32_t length) {
  if (length <= 0 || !buffer) return crc;
  const auto* p = static_cast<const uint8_t*>(buffer);
  size_t n = static_cast<size_t>(length);
  while (n >= 8) {
    const uint32_t a = deflate::Load32(p) ^ crc;
    const uint32_t b = deflate::Load32(p + 4);
    crc = kCrc[7][a & 0xFF] ^ kCrc[6][(a >> 8) & 0xFF] ^ kCrc[5][(a >> 16) & 0xFF] ^ kCrc[4][a >> 24] ^
          kCrc[3][b & 0xFF] ^ kCrc[2][(b >> 8) & 0xFF] ^ kCrc[1][(b >> 16) & 0xFF] ^ kCrc[0][b >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) crc = kCrc[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t Crc32Of(const void* buffer, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  const auto* p = static_cast<const uint8_t*>(buffer);
  constexpr size_t kStep = 0x40000000;
  while (length > 0) {
    const size_t n = length < kStep ? length : kStep;
    crc = Crc32Update(crc, p, static_cast<int32_t>(n));
    p += n;
    length -= n;
  }
  return ~crc;
}

}  // namespace rvx
