#include "crash/core/import_slots.h"

#include "crash/stack/module.h"

namespace rvx {

std::vector<ImportSlot> ImportSlotsHoldingAny(const MemoryReader& memory, Address base,
                                              const std::vector<Address>& routines) {
  std::vector<ImportSlot> slots;
  Address nt = base ? PeNtHeaders(memory, base) : 0;
  uint32_t imageSize = nt ? PeImageSize(memory, nt) : 0;
  uint32_t directory[2];
  constexpr uint32_t kImportDirectory = 0x80;  // data directory 1 of a PE32 optional header
  if (routines.empty() || !nt || !memory.Read(nt + kImportDirectory, directory, sizeof directory) ||
      !directory[0] || !directory[1] || directory[0] >= imageSize)
    return slots;
  constexpr uint32_t kDescriptorSize = 20;  // original first thunk, time stamp, forwarder, name, first thunk
  for (Address d = base + directory[0]; d - base + kDescriptorSize <= imageSize; d += kDescriptorSize) {
    uint32_t descriptor[5];
    if (!memory.Read(d, descriptor, sizeof descriptor) || !descriptor[3]) break;
    const uint32_t firstThunk = descriptor[4];
    if (firstThunk >= imageSize) break;
    for (Address slot = base + firstThunk; slot - base + 4 <= imageSize; slot += 4) {
      uint32_t value;
      if (!memory.Read32(slot, value) || !value) break;
      for (size_t i = 0; i < routines.size(); ++i)
        if (value == routines[i]) {
          slots.push_back({slot, i});
          break;
        }
    }
  }
  return slots;
}

std::vector<Address> ImportSlotsHolding(const MemoryReader& memory, Address base, Address routine) {
  std::vector<Address> slots;
  for (const ImportSlot& s : ImportSlotsHoldingAny(memory, base, {routine})) slots.push_back(s.slot);
  return slots;
}

bool IsKernelModuleFile(std::string_view path) {
  size_t slash = path.find_last_of("\\/");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  auto same = [&](std::string_view wanted) {
    if (name.size() != wanted.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != wanted[i]) return false;
    }
    return true;
  };
  return same("kernel32.dll") || same("kernelbase.dll") || same("ntdll.dll");
}

}  // namespace rvx
