#include "crash/stack/safe_read.h"

namespace rvx {

bool MemoryReader::ReadCString(Address address, std::string& out, size_t max) const {
  out.clear();
  char chunk[64];
  while (out.size() < max) {
    size_t want = sizeof chunk;
    // Stay within the current 64-byte block so that a string ending just before unreadable memory is read.
    size_t toBoundary = 64 - (address & 63);
    if (want > toBoundary) want = toBoundary;
    size_t got = Fetch(address, chunk, want);
    for (size_t i = 0; i < got; ++i) {
      if (chunk[i] == 0) return true;
      out += chunk[i];
      if (out.size() >= max) return false;
    }
    if (got < want) return false;
    address += static_cast<Address>(want);
  }
  return false;
}

uint8_t SnapshotAccess(const TDATryRead& snapshot, Address address, uint32_t count) {
  size_t n = snapshot.size();
  if (n == 0 || count == 0) return kNotReadable;
  uint64_t last = uint64_t(address) + count;
  // Binary search: the step halves (rounding up) until it is 1, then one last probe.
  ptrdiff_t i = static_cast<ptrdiff_t>(n / 2);
  size_t step = (n / 2 + 2) / 2;
  for (;;) {
    const TryReadRegion& r = snapshot[static_cast<size_t>(i)];
    if (r.start > address) {
      i -= static_cast<ptrdiff_t>(step);
    } else if (r.end < last) {
      i += static_cast<ptrdiff_t>(step);
    } else {
      return r.access;
    }
    if (i < 0) i = 0;
    if (i >= static_cast<ptrdiff_t>(n)) i = static_cast<ptrdiff_t>(n) - 1;
    if (step == 1) break;
    step = (step + 1) / 2;
  }
  // Walk the rest of the way: the halving search may stop one or two regions short.
  while (i > 0 && snapshot[static_cast<size_t>(i)].start > address) --i;
  while (i + 1 < static_cast<ptrdiff_t>(n) && snapshot[static_cast<size_t>(i)].end <= address) ++i;
  const TryReadRegion& r = snapshot[static_cast<size_t>(i)];
  if (r.start <= address && r.end >= last) return r.access;
  return kNotReadable;
}

uint8_t ClassifyRegion(uint32_t state, uint32_t protect) {
  const uint32_t kCommit = 0x1000, kExecute = 0x10, kGuard = 0x100, kReadMask = 0x6E;
  if (state != kCommit) return kNotReadable;
  if (protect & kGuard) return kNotReadable;
  if (protect & kReadMask) return kReadable;
  if ((protect & 0xFF) == kExecute) return kExecuteOnly;
  return kNotReadable;
}

void AppendSnapshotRegion(TDATryRead& snapshot, Address start, Address end, uint8_t access) {
  if (!snapshot.empty() && snapshot.back().access == access && snapshot.back().end == start) {
    snapshot.back().end = end;
    return;
  }
  if (snapshot.size() == snapshot.capacity()) snapshot.reserve(snapshot.capacity() + snapshot.capacity() / 2 + 1);
  snapshot.push_back({start, end, access});
}

}  // namespace rvx
