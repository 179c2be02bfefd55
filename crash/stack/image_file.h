// A PE file laid out as a loaded image: headers and sections at their virtual addresses from the image base,
// readable according to the section flags. Tools and tests use it as the memory that the decoder, the module
// helpers and the function analyser look at.
#pragma once
#include <string>
#include <vector>

#include "crash/stack/memory_reader.h"

namespace rvx {

class ImageFile : public MemoryReader {
 public:
  // Lays out the file's bytes; false (with a reason) when they are not a usable 32-bit PE image.
  bool Load(const std::string& fileBytes, const std::string& fileName, std::string& error);

  size_t Fetch(Address address, void* dest, size_t count) const override;
  bool Query(Address address, RegionInfo& out) const override;
  bool Module(Address address, ModuleInfo& out) const override;

  Address base() const { return base_; }
  uint32_t size() const { return static_cast<uint32_t>(image_.size()); }
  const std::string& fileName() const { return fileName_; }
  // Ranges of the sections that hold code (start, end exclusive).
  std::vector<std::pair<Address, Address>> CodeRanges() const;
  // Points every import slot at a stand-in address base + 16 * i and returns the name of import i as
  // "function (library)", so that calls through the slots can be named like loaded imports.
  std::vector<std::string> BindImports(Address standInBase);
  const uint8_t* Bytes(Address address) const {
    return address >= base_ && address - base_ < image_.size() ? image_.data() + (address - base_) : nullptr;
  }

 private:
  struct Span {
    uint32_t start, end;  // RVAs, end exclusive
    bool readable, code;
  };
  std::vector<uint8_t> image_;
  std::vector<Span> spans_;  // sorted, non-overlapping
  Address base_ = 0;
  std::string fileName_;
};

}  // namespace rvx
