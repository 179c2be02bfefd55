// Memory that the decoder, the module helpers and the function analyser look at. In the crashing process
// it is the process's own address space read through the safe reader; in tools and tests it is a PE file
// laid out as a loaded image, or a plain byte buffer. Addresses are 32-bit throughout.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace rvx {

using Address = uint32_t;

// What the address space says about one address (the answer of a region query).
struct RegionInfo {
  bool committed = false;
  Address allocationBase = 0;  // the module handle for addresses inside a loaded image
  Address regionBase = 0;
  uint32_t regionSize = 0;
};

// The module that owns an address.
struct ModuleInfo {
  Address base = 0;
  std::string fileName;  // full file name of the module
  bool isMainModule = false;
};

class MemoryReader {
 public:
  virtual ~MemoryReader() = default;
  // Copies the readable prefix of [address, address + count) to dest and returns its length.
  virtual size_t Fetch(Address address, void* dest, size_t count) const = 0;
  // Describes the memory at an address; false when the address lies in no known allocation.
  virtual bool Query(Address address, RegionInfo& out) const { return false; }
  // The module that owns the address; false when there is none.
  virtual bool Module(Address address, ModuleInfo& out) const { return false; }

  bool Read(Address address, void* dest, size_t count) const { return Fetch(address, dest, count) == count; }
  bool Read32(Address address, uint32_t& value) const { return Read(address, &value, 4); }
  bool Read16(Address address, uint16_t& value) const { return Read(address, &value, 2); }
  // A zero-terminated byte string of at most max bytes; false when unreadable or unterminated.
  bool ReadCString(Address address, std::string& out, size_t max = 4096) const;
};

// A block of bytes at a fixed address: code given on a command line, benchmark buffers, tests.
class BufferReader : public MemoryReader {
 public:
  BufferReader(Address base, const void* data, size_t size)
      : base_(base), data_(static_cast<const uint8_t*>(data)), size_(size) {}
  size_t Fetch(Address address, void* dest, size_t count) const override {
    if (address < base_ || address - base_ >= size_) return 0;
    size_t offset = address - base_;
    size_t n = count < size_ - offset ? count : size_ - offset;
    std::memcpy(dest, data_ + offset, n);
    return n;
  }
  bool Query(Address address, RegionInfo& out) const override {
    if (address < base_ || address - base_ >= size_) return false;
    out = {true, base_, base_, static_cast<uint32_t>(size_)};
    return true;
  }

 private:
  Address base_;
  const uint8_t* data_;
  size_t size_;
};

}  // namespace rvx
