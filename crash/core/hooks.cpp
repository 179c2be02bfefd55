#include "crash/core/hooks.h"

#include "crash/stack/function_analyser.h"

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

Address FindRelativeCall(const MemoryReader& memory, Address routine, Address oldTarget) {
  TFunctionInfo info;
  if (!AnalyseFunction(memory, routine, info)) return 0;
  Address found = 0, foundAt = 0;
  for (const FarCall& call : info.farCalls) {
    if (!call.isCall || !call.targetIsRelative || call.nextInstruction - call.targetOperandAddress != 4) continue;
    uint8_t opcode = 0;
    uint32_t distance = 0;
    // The target as the instruction encodes it (the analysis may have followed a jump at the target).
    if (!memory.Read(call.instructionStart, &opcode, 1) || opcode != 0xE8 ||
        !memory.Read32(call.targetOperandAddress, distance) || call.nextInstruction + distance != oldTarget)
      continue;
    if (!found || call.instructionStart < foundAt) {
      found = call.targetOperandAddress;
      foundAt = call.instructionStart;
    }
  }
  return found;
}

}  // namespace rvx
