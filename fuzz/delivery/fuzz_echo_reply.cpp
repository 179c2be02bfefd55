// CheckEchoReply on arbitrary datagrams from the raw socket. Input: 4 bytes of identifier and sequence
// number, then the datagram, copied to an exact-size buffer so that reads past it are caught. A match must
// really be an echo reply carrying them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "crash/delivery/online.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint16_t id = static_cast<uint16_t>(data[0] | data[1] << 8);
  const uint16_t seq = static_cast<uint16_t>(data[2] | data[3] << 8);
  const size_t n = size - 4;
  auto datagram = std::make_unique<uint8_t[]>(n ? n : 1);
  if (n) std::memcpy(datagram.get(), data + 4, n);
  rvx::EchoVerdict v = rvx::CheckEchoReply(n ? datagram.get() : nullptr, n, id, seq);
  if (v == rvx::EchoVerdict::Match) {
    const size_t header = static_cast<size_t>(datagram[0] & 15) * 4;
    const uint8_t* icmp = datagram.get() + header;
    if (n < header + rvx::kEchoSize || icmp[0] != 0 || (icmp[4] | icmp[5] << 8) != id || (icmp[6] | icmp[7] << 8) != seq)
      std::abort();
  }
  return 0;
}
