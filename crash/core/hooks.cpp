#include "crash/core/hooks.h"

#include <cstring>

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

void ImageChecksummer::Add(const uint8_t* data, size_t size) {
  // One's-complement addition is associative and 2^16 counts as 1, so the file is summed as 32-bit words
  // into a wide total (four times fewer additions than 16-bit words; the check runs at every start) and the
  // carries are folded in at the end.
  size_t words = size / 4;
  for (size_t i = 0; i < words; ++i) {
    uint32_t w;
    std::memcpy(&w, data + 4 * i, 4);
    sum_ += w;
  }
  size_t done = words * 4;
  if (size - done >= 2) {
    sum_ += static_cast<uint32_t>(data[done] | data[done + 1] << 8);
    done += 2;
  }
  if (done < size) sum_ += data[done];
  // The checksum field does not count; a word is taken out with the weight it was added with, so the sum
  // stays exact (a folded zero stays zero).
  for (size_t skip : {skip_, skip_ + 2}) {
    if (skip < offset_ || skip % 2) continue;
    size_t at = skip - offset_;
    if (at + 1 >= size) continue;
    uint64_t word = static_cast<uint32_t>(data[at] | data[at + 1] << 8);
    sum_ -= at < words * 4 && at % 4 ? word << 16 : word;
  }
  offset_ += size;
}

uint32_t ImageChecksummer::Finish() const {
  uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint32_t>(sum + offset_);
}

uint32_t ImageChecksum(const uint8_t* data, size_t size, size_t checksumOffset) {
  ImageChecksummer sum(checksumOffset);
  sum.Add(data, size);
  return sum.Finish();
}

ChecksumOutcome ChecksumCheckOutcome(bool checksumOk, bool isProgramFile) {
  if (checksumOk) return ChecksumOutcome::Passed;
  return isProgramFile ? ChecksumOutcome::EndProcess : ChecksumOutcome::Disarm;
}

std::vector<uintptr_t> ModulesToChecksum(uintptr_t ownModule, uintptr_t settingsModule) {
  std::vector<uintptr_t> modules{ownModule};
  if (settingsModule && settingsModule != ownModule) modules.push_back(settingsModule);
  return modules;
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
