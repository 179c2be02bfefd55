#include "crash/core/hooks.h"

namespace rvx {

bool PeChecksumOffset(const uint8_t* data, size_t size, size_t& offset) {
  if (!data || size < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
  uint32_t pe = data[0x3c] | data[0x3d] << 8 | data[0x3e] << 16 | static_cast<uint32_t>(data[0x3f]) << 24;
  // Signature (4), file header (20), then the checksum at 64 bytes into the optional header.
  if (pe > size || size - pe < 4 + 20 + 68) return false;
  if (data[pe] != 'P' || data[pe + 1] != 'E' || data[pe + 2] || data[pe + 3]) return false;
  offset = pe + 4 + 20 + 64;
  return true;
}

uint32_t ImageChecksum(const uint8_t* data, size_t size, size_t checksumOffset) {
  // One's-complement addition is associative: the words are summed wide and the carries folded in at the end.
  uint64_t sum = 0;
  size_t words = size / 2;
  for (size_t i = 0; i < words; ++i) sum += static_cast<uint32_t>(data[2 * i] | data[2 * i + 1] << 8);
  for (size_t skip : {checksumOffset, checksumOffset + 2})
    if (skip + 1 < size && skip % 2 == 0) sum -= static_cast<uint32_t>(data[skip] | data[skip + 1] << 8);
  if (size & 1) sum += data[size - 1];
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

}  // namespace rvx
