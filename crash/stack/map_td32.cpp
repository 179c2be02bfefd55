// Compiler symbol tables: names, modules, source lines and global symbols, walked through the subsection
// directory chain.
#include <cstring>
#include <set>
#include <vector>

#include "crash/stack/symbol_sources.h"

namespace rvx {
namespace {

constexpr uint16_t kNames = 0x130, kModule = 0x120, kSourceLines = 0x127, kGlobalsOld = 0x125, kGlobals = 0x129;

class Bytes {
 public:
  explicit Bytes(std::string_view b) : b_(b) {}
  bool Has(uint64_t at, uint64_t n) const { return at <= b_.size() && n <= b_.size() - at; }
  uint32_t U32(uint64_t at) const {
    if (!Has(at, 4)) return 0;
    uint32_t v;
    std::memcpy(&v, b_.data() + at, 4);
    return v;
  }
  uint16_t U16(uint64_t at) const {
    if (!Has(at, 2)) return 0;
    uint16_t v;
    std::memcpy(&v, b_.data() + at, 2);
    return v;
  }
  uint8_t U8(uint64_t at) const { return Has(at, 1) ? static_cast<uint8_t>(b_[at]) : 0; }
  std::string_view Span(uint64_t at, uint64_t n) const { return Has(at, n) ? b_.substr(at, n) : std::string_view(); }

 private:
  std::string_view b_;
};

struct Subsection {
  uint16_t type;
  uint32_t offset, size;
};

}  // namespace

bool ReadTd32(std::string_view data, const ModuleBases& bases, bool acceptOld, TMapFile& map) {
  if (data.size() < 8) return false;
  std::string_view sig = data.substr(0, 4);
  bool old = sig == "FB09";
  if (!(sig == "FB0A" || (acceptOld && old))) return false;
  Bytes b(data);

  // The directory chain; a directory seen twice ends it.
  std::vector<Subsection> subs;
  std::set<uint32_t> seen;
  for (uint32_t dir = b.U32(4); dir != 0 && b.Has(dir, 16) && seen.insert(dir).second;) {
    uint16_t headerSize = b.U16(dir), entrySize = b.U16(dir + 2);
    uint32_t count = b.U32(dir + 4);
    if (entrySize < 12 || headerSize < 16) return false;
    if (count > data.size() / entrySize) return false;
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t e = uint64_t(dir) + headerSize + uint64_t(i) * entrySize;
      if (!b.Has(e, 12)) return false;
      Subsection s{b.U16(e), b.U32(e + 4), b.U32(e + 8)};
      if (b.Has(s.offset, s.size)) subs.push_back(s);
    }
    dir = b.U32(dir + 8);
  }
  if (subs.empty()) return false;

  std::vector<std::string> names;  // index 0 unused
  names.emplace_back();
  for (const Subsection& s : subs) {
    if (s.type != kNames) continue;
    uint64_t at = s.offset, end = uint64_t(s.offset) + s.size;
    uint32_t count = b.U32(at);
    at += 4;
    for (uint32_t i = 0; i < count && at < end; ++i) {
      uint8_t n = b.U8(at);
      if (at + 1 + n + 1 > end) break;
      names.emplace_back(b.Span(at + 1, n));
      at += 1 + n + 1;
    }
  }
  auto nameOf = [&](uint32_t index) -> std::string { return index < names.size() ? names[index] : ""; };

  MapBuilder mb(map);
  for (const Subsection& s : subs) {
    if (s.type != kModule || s.size < 8) continue;
    uint16_t count = b.U16(s.offset);
    std::string unit(FileNamePart(nameOf(b.U32(s.offset + 4))));
    bool dataTaken = false;
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t e = uint64_t(s.offset) + 8 + uint64_t(i) * 12;
      if (e + 12 > uint64_t(s.offset) + s.size) break;
      uint16_t segment = b.U16(e);
      uint32_t offset = b.U32(e + 4), length = b.U32(e + 8);
      if (length == 0) continue;
      bool isCode = segment == 1;
      if (!isCode) {
        if (dataTaken) continue;
        dataTaken = true;
      }
      mb.JoinSegment(isCode, (isCode ? bases.codeBase : bases.dataBase) + offset, length, unit);
    }
  }
  for (const Subsection& s : subs) {
    if (s.type != kSourceLines || s.size < 4) continue;
    uint64_t at = s.offset, end = uint64_t(s.offset) + s.size;
    uint32_t files = b.U32(at);
    at += 4;
    for (uint32_t f = 0; f < files && at + 8 <= end; ++f) {
      std::string unit(FileNamePart(nameOf(b.U32(at))));
      uint32_t lines = b.U32(at + 4);
      at += 8;
      if (lines > (end - at) / 8) break;
      Address first = 0, last = 0;
      for (uint32_t k = 0; k < lines; ++k, at += 8) {
        Address a = bases.codeBase + b.U32(at);
        mb.AddLine(b.U32(at + 4), a);
        if (k == 0 || a < first) first = a;
        if (k == 0 || a > last) last = a;
      }
      if (lines > 0) mb.JoinSegment(true, first, last - first + 1, unit);
    }
  }
  mb.SortSegments();
  mb.MergeSegments(MergeMode::Checking);

  const uint16_t globals = old ? kGlobalsOld : kGlobals;
  const uint32_t skip = old ? 4 : 32;
  for (const Subsection& s : subs) {
    if (s.type != globals || s.size < skip) continue;
    uint64_t at = uint64_t(s.offset) + skip, end = uint64_t(s.offset) + s.size;
    while (at + 4 <= end) {
      uint16_t length = b.U16(at), type = b.U16(at + 2);
      uint64_t next = at + 2 + length;
      if (length < 2 || next > end) break;
      bool isCode = false, take = false;
      switch (type) {
        case 0x204: case 0x205: isCode = true; take = length >= 44; break;
        case 0x201: case 0x202: take = length >= 20; break;
        case 0x20: isCode = true; take = length > 25; break;
        case 0x21: take = length > 23; break;
        default: break;
      }
      uint32_t nameIndex = b.U32(at + 12);
      if (take && nameIndex != 0 && at + 16 <= next) {
        uint32_t offset = b.U32(at + 4);
        std::string name = nameOf(nameIndex);
        if (!name.empty()) mb.AddPublic(isCode, name, (isCode ? bases.codeBase : bases.dataBase) + offset, true);
      }
      at = next;
    }
  }
  mb.SortPublics();
  mb.MergeSegments(MergeMode::Always);
  mb.SortLines();
  return true;
}

}  // namespace rvx
