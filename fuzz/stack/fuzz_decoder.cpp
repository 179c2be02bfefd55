// Decoding, the text form, the analysis and the listing of arbitrary bytes never read outside the memory
// they are given and never fault.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crash/stack/decoder.h"
#include "crash/stack/function_analyser.h"

namespace {

// A reader that aborts on any access outside its bytes, so that the fuzzer reports it.
class StrictReader : public rvx::MemoryReader {
 public:
  StrictReader(rvx::Address base, const uint8_t* data, size_t size) : base_(base), data_(data), size_(size) {}
  size_t Fetch(rvx::Address address, void* dest, size_t count) const override {
    if (address < base_ || address - base_ >= size_) return 0;
    size_t offset = address - base_;
    size_t n = count < size_ - offset ? count : size_ - offset;
    std::memcpy(dest, data_ + offset, n);  // ASan catches any copy beyond the input
    return n;
  }
  bool Query(rvx::Address address, rvx::RegionInfo& out) const override {
    if (address < base_ || address - base_ >= size_) return false;
    out = {true, base_, base_, static_cast<uint32_t>(size_)};
    return true;
  }

 private:
  rvx::Address base_;
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // A private copy of exactly the input's size: reads beyond it are caught.
  std::vector<uint8_t> copy(data, data + size);
  const rvx::Address base = 0x401000;
  StrictReader memory(base, copy.data(), copy.size());
  rvx::RegisterState regs;
  for (rvx::Address a = base; a < base + size;) {
    std::string text;
    rvx::InstructionInfo info;
    rvx::InstructionText(memory, a, text, &regs, info, true);
    if (info.valid && (info.nextInstruction <= a || info.nextInstruction - a > 15)) std::abort();
    a = info.valid ? info.nextInstruction : a + 1;
  }
  rvx::TFunctionInfo fi;
  std::string listing;
  rvx::AnalysisOptions options;
  options.routines.handleOnException = base + (size > 8 ? copy[0] : 0);
  options.routines.handleFinally = base + (size > 8 ? copy[1] : 0) + 1;
  rvx::DisassembleFunction(memory, base, listing, base + size / 2, fi, true, size % 7, options);
  if (fi.valid)
    for (const rvx::CodeArea& area : fi.codeAreas)
      if (area.end < area.start) std::abort();
  return 0;
}
