#include "crash/stack/image_file.h"

#include <algorithm>

#include "crash/stack/module.h"

namespace rvx {

bool ImageFile::Load(const std::string& bytes, const std::string& fileName, std::string& error) {
  image_.clear();
  spans_.clear();
  fileName_ = fileName;
  BufferReader file(0, bytes.data(), bytes.size());
  Address nt = PeNtHeaders(file, 0);
  if (!nt) {
    error = "not a PE file";
    return false;
  }
  uint16_t magic = PeOptionalMagic(file, nt), sections = 0, optionalSize = 0;
  uint32_t imageBase = 0, imageSize = 0, headerSize = 0;
  if (magic != kPe32Magic) {
    error = "not a 32-bit PE image";
    return false;
  }
  if (!file.Read16(nt + 6, sections) || !file.Read16(nt + 20, optionalSize) || !file.Read32(nt + 0x18 + 28, imageBase) ||
      !file.Read32(nt + 0x18 + 56, imageSize) || !file.Read32(nt + 0x18 + 60, headerSize)) {
    error = "truncated PE headers";
    return false;
  }
  if (imageSize == 0 || imageSize > (512u << 20) || uint64_t(imageBase) + imageSize > 0x100000000ull) {
    error = "implausible image size";
    return false;
  }
  base_ = imageBase;
  image_.assign(imageSize, 0);
  headerSize = std::min<uint32_t>({headerSize, imageSize, static_cast<uint32_t>(bytes.size())});
  std::copy_n(bytes.begin(), headerSize, image_.begin());
  spans_.push_back({0, headerSize, true, false});
  Address table = nt + 0x18 + optionalSize;
  for (uint32_t i = 0; i < sections; ++i) {
    uint32_t f[10];
    if (!file.Read(table + 40 * i, f, 40)) break;
    uint32_t vsize = f[2], va = f[3], rawSize = f[4], rawOffset = f[5], flags = f[9];
    uint32_t span = vsize ? vsize : rawSize;
    if (va >= imageSize) continue;
    span = std::min(span, imageSize - va);
    uint32_t copy = std::min(rawSize, span);
    if (rawOffset < bytes.size()) {
      copy = std::min<uint32_t>(copy, static_cast<uint32_t>(bytes.size() - rawOffset));
      std::copy_n(bytes.begin() + rawOffset, copy, image_.begin() + va);
    }
    bool readable = (flags & (kSectionRead | kSectionExecute)) != 0;
    bool code = (flags & (kSectionCode | kSectionExecute)) != 0;
    spans_.push_back({va, va + span, readable, code});
  }
  std::sort(spans_.begin(), spans_.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
  // Overlapping sections (malformed files) are cut back so that spans never overlap.
  for (size_t i = 1; i < spans_.size(); ++i)
    if (spans_[i].start < spans_[i - 1].end) spans_[i - 1].end = spans_[i].start;
  return true;
}

size_t ImageFile::Fetch(Address address, void* dest, size_t count) const {
  if (address < base_) return 0;
  uint32_t rva = address - base_;
  size_t done = 0;
  auto it = std::upper_bound(spans_.begin(), spans_.end(), rva, [](uint32_t v, const Span& s) { return v < s.start; });
  if (it == spans_.begin()) return 0;
  --it;
  while (done < count && it != spans_.end() && it->readable && rva >= it->start && rva < it->end) {
    size_t n = std::min<size_t>(count - done, it->end - rva);
    std::copy_n(image_.data() + rva, n, static_cast<uint8_t*>(dest) + done);
    done += n;
    rva += static_cast<uint32_t>(n);
    ++it;
  }
  return done;
}

bool ImageFile::Query(Address address, RegionInfo& out) const {
  if (address < base_ || address - base_ >= image_.size()) return false;
  out = {true, base_, base_, static_cast<uint32_t>(image_.size())};
  return true;
}

bool ImageFile::Module(Address address, ModuleInfo& out) const {
  if (address < base_ || address - base_ >= image_.size()) return false;
  out = {base_, fileName_, true};
  return true;
}

std::vector<std::pair<Address, Address>> ImageFile::CodeRanges() const {
  std::vector<std::pair<Address, Address>> out;
  for (const Span& s : spans_)
    if (s.code && s.readable && s.end > s.start) out.push_back({base_ + s.start, base_ + s.end});
  return out;
}

}  // namespace rvx

namespace rvx {

std::vector<std::string> ImageFile::BindImports(Address standInBase) {
  std::vector<std::string> names;
  uint32_t size = 0;
  Address dir = PeDataDirectory(*this, base_, 1, &size);
  if (!dir) return names;
  for (Address d = dir; names.size() < 65536; d += 20) {
    uint32_t desc[5];
    if (!Read(d, desc, sizeof desc) || (desc[3] == 0 && desc[4] == 0)) break;
    std::string library;
    ReadCString(base_ + desc[3], library, 256);
    Address lookup = base_ + (desc[0] ? desc[0] : desc[4]);
    Address slot = base_ + desc[4];
    for (uint32_t i = 0; i < 65536; ++i, lookup += 4, slot += 4) {
      uint32_t entry = 0;
      if (!Read32(lookup, entry) || entry == 0) break;
      std::string function;
      if (entry & 0x80000000u) {
        function = "#" + std::to_string(entry & 0xFFFF);
      } else if (!ReadCString(base_ + entry + 2, function, 512)) {
        continue;
      }
      uint8_t* p = slot >= base_ && slot - base_ + 4 <= image_.size() ? image_.data() + (slot - base_) : nullptr;
      if (!p) break;
      uint32_t standIn = standInBase + 16 * static_cast<uint32_t>(names.size());
      std::copy_n(reinterpret_cast<const uint8_t*>(&standIn), 4, p);
      names.push_back(function + " (" + library + ")");
    }
  }
  return names;
}

}  // namespace rvx
