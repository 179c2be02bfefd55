// Exception address correction over any memory and symbol data.
#include "crash/core/address_correction.h"

#include "crash/stack/decoder.h"
#include "crash/stack/function_analyser.h"

namespace rvx {
namespace {

bool ValidIn(const MemoryReader& memory, const TFunctionInfo& f, Address address) {
  // A call's return address counts as well: an exception raised by a call that does not come back (the
  // last instruction of its area) is recorded at the return address, which lies outside every area.
  for (const FarCall& c : f.farCalls)
    if (c.instructionStart == address || (c.isCall && c.nextInstruction == address)) return true;
  for (const UnresolvedBranch& b : f.unresolvedBranches)
    if (b.isCall && (b.instructionStart == address || b.nextInstruction == address)) return true;
  for (const CodeArea& area : f.codeAreas) {
    if (area.isCaseTable || area.isExceptionTable || area.end == 0) continue;
    if (address < area.start || address > area.end) continue;
    for (Address a = area.start; a <= area.end && a <= address;) {
      if (a == address) return true;
      InstructionInfo info{};
      if (!DecodeInstruction(memory, a, info) || !info.valid || info.nextInstruction <= a) break;
      a = info.nextInstruction;
    }
  }
  return false;
}

}  // namespace

bool IsValidExceptionAddress(const MemoryReader& memory, Address entry, Address address) {
  TFunctionInfo f;
  return AnalyseFunction(memory, entry, f) && ValidIn(memory, f, address);
}

Address CorrectedExceptionAddress(const MemoryReader& memory, const TMapFile& map, Address address) {
  if (address == 0 || !map.valid) return address;
  TMfPublic p = PublicAt(map, address);
  if (!p.valid || !p.isCode) return address;
  TFunctionInfo f;
  if (!AnalyseFunction(memory, p.address, f)) return address;
  if (!ValidIn(memory, f, address) && ValidIn(memory, f, address + 4)) return address + 4;
  return address;
}

}  // namespace rvx
