#include "crash/core/process_list.h"

#include <cstring>

namespace rvx {

namespace {
template <class T>
bool At(const uint8_t* data, size_t size, uint64_t offset, T& out) {
  if (offset > size || size - offset < sizeof(T)) return false;
  std::memcpy(&out, data + offset, sizeof(T));
  return true;
}
}  // namespace

std::vector<ProcessRecord> ParseSystemProcesses(const uint8_t* data, size_t size, uint32_t bufferAddress,
                                                uint32_t threadRecordOffset) {
  std::vector<ProcessRecord> out;
  uint64_t offset = 0;
  for (int guard = 0; guard < 65536; ++guard) {
    uint32_t next = 0, threads = 0, processId = 0, sessionId = 0, namePointer = 0;
    uint16_t nameLength = 0;
    if (!At(data, size, offset, next) || !At(data, size, offset + 4, threads) ||
        !At(data, size, offset + 0x38, nameLength) || !At(data, size, offset + 0x3C, namePointer) ||
        !At(data, size, offset + 0x44, processId) || !At(data, size, offset + 0x50, sessionId))
      break;
    ProcessRecord p;
    p.processId = processId;
    p.sessionId = sessionId;
    // The name is UTF-16 somewhere in the buffer; only characters below 0x100 are kept as they are.
    if (namePointer && nameLength && namePointer >= bufferAddress) {
      uint64_t nameOffset = uint64_t(namePointer) - bufferAddress;
      for (uint32_t i = 0; i + 1 < nameLength && i < 1024; i += 2) {
        uint16_t c = 0;
        if (!At(data, size, nameOffset + i, c)) break;
        p.imageName += static_cast<char>(c < 0x100 ? c : '?');
      }
    }
    for (uint32_t t = 0; t < threads && t < 65536; ++t) {
      uint32_t id = 0;
      if (!At(data, size, offset + threadRecordOffset + uint64_t(t) * 64 + 0x24, id)) break;
      p.threadIds.push_back(id);
    }
    out.push_back(std::move(p));
    if (next == 0) break;
    offset += next;
  }
  return out;
}

}  // namespace rvx
