// The import address tables of a loaded module, read through a memory reader: which slots hold a given
// routine, and which modules the crash reporter patches at all.
#pragma once

#include <string_view>
#include <vector>

#include "crash/stack/memory_reader.h"

namespace rvx {

// Addresses of the import slots of the module at `base` that hold `routine`. The descriptors are walked until
// one without a name; a descriptor whose address table lies outside the image ends the walk, and so does
// anything unreadable.
std::vector<Address> ImportSlotsHolding(const MemoryReader& memory, Address base, Address routine);
// The same for several routines in one walk: each slot with the index of the routine it holds.
struct ImportSlot {
  Address slot = 0;
  size_t routine = 0;
  bool operator==(const ImportSlot&) const = default;
};
std::vector<ImportSlot> ImportSlotsHoldingAny(const MemoryReader& memory, Address base,
                                              const std::vector<Address>& routines);

// The system's own kernel libraries, whose imports are never patched: the file name part of the path is
// kernel32.dll, kernelbase.dll or ntdll.dll (any case).
bool IsKernelModuleFile(std::string_view path);

}  // namespace rvx
