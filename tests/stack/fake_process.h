// A small 32-bit process made of byte blocks: a program image with PE headers and hand-assembled code, a
// stack, and whatever else a test maps. The stack walker sees it through the MemoryReader seam.
#pragma once
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "crash/stack/memory_reader.h"

namespace rvx::testing {

class FakeProcess : public MemoryReader {
 public:
  struct Block {
    Address base = 0;
    std::vector<uint8_t> bytes;
    std::string moduleFile;  // full file name when the block is a module image
    bool main = false;
  };

  Block& Map(Address base, size_t size, const std::string& moduleFile = {}, bool main = false, uint8_t fill = 0xCC) {
    Block b;
    b.base = base;
    b.bytes.assign(size, fill);
    b.moduleFile = moduleFile;
    b.main = main;
    return blocks_[base] = std::move(b);
  }

  // A module image at base with PE headers and one code section of codeSize bytes at base + 0x1000.
  Block& MapImage(Address base, uint32_t codeSize, const std::string& file, bool main) {
    Block& b = Map(base, 0x1000 + codeSize, file, main);
    std::memset(b.bytes.data(), 0, 0x1000);
    auto put16 = [&](uint32_t at, uint16_t v) { std::memcpy(&b.bytes[at], &v, 2); };
    auto put32 = [&](uint32_t at, uint32_t v) { std::memcpy(&b.bytes[at], &v, 4); };
    put16(0, 0x5A4D);
    put32(0x3C, 0x40);
    put32(0x40, 0x4550);
    put16(0x44, 0x14C);
    put16(0x46, 1);      // sections
    put16(0x54, 0xE0);   // optional header size
    put16(0x58, 0x10B);  // PE32
    put32(0x58 + 4, codeSize);
    put32(0x58 + 0x14, 0x1000);  // base of code
    put32(0x58 + 0x38, 0x1000 + codeSize);
    put32(0x58 + 0x5C, 16);
    std::memcpy(&b.bytes[0x138], ".text", 5);
    put32(0x138 + 8, codeSize);
    put32(0x138 + 12, 0x1000);
    put32(0x138 + 36, 0x60000020);
    return b;
  }

  void Put(Address a, std::initializer_list<int> bytes) {
    for (int v : bytes) Byte(a++) = static_cast<uint8_t>(v);
  }
  void Put32(Address a, uint32_t v) {
    for (int i = 0; i < 4; ++i) Byte(a + i) = static_cast<uint8_t>(v >> (8 * i));
  }
  // call rel32 at `at` to `target`; returns the return address.
  Address Call(Address at, Address target) {
    Put(at, {0xE8});
    Put32(at + 1, target - (at + 5));
    return at + 5;
  }
  // A framed routine at `at` that calls `target`: push ebp; mov ebp, esp; call target; pop ebp; ret.
  Address FramedCaller(Address at, Address target) {
    Put(at, {0x55, 0x8B, 0xEC});
    Address ret = Call(at + 3, target);
    Put(ret, {0x5D, 0xC3});
    return ret;
  }

  uint8_t& Byte(Address a) {
    for (auto& [base, b] : blocks_)
      if (a >= base && a - base < b.bytes.size()) return b.bytes[a - base];
    static uint8_t dummy;
    return dummy;
  }

  size_t Fetch(Address address, void* dest, size_t count) const override {
    const Block* b = Find(address);
    if (!b) return 0;
    size_t offset = address - b->base;
    size_t n = std::min(count, b->bytes.size() - offset);
    std::memcpy(dest, b->bytes.data() + offset, n);
    return n;
  }
  bool Query(Address address, RegionInfo& out) const override {
    const Block* b = Find(address);
    if (!b) return false;
    out = {true, b->base, b->base, static_cast<uint32_t>(b->bytes.size())};
    return true;
  }
  bool Module(Address address, ModuleInfo& out) const override {
    const Block* b = Find(address);
    if (!b || b->moduleFile.empty()) return false;
    out = {b->base, b->moduleFile, b->main};
    return true;
  }

 private:
  const Block* Find(Address a) const {
    auto it = blocks_.upper_bound(a);
    if (it == blocks_.begin()) return nullptr;
    --it;
    return a - it->first < it->second.bytes.size() ? &it->second : nullptr;
  }
  std::map<Address, Block> blocks_;
};

}  // namespace rvx::testing
