// "JDBG" debug data: source files as code segments, symbols as publics, and line items.
#include <cstring>
#include <optional>
#include <vector>

#include "crash/stack/symbol_sources.h"

namespace rvx {
namespace {

constexpr uint32_t kEndOfList = 0x7FFFFFFF;

uint32_t Get32(std::string_view b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// Reads base-128 values from one list; stops at the end marker or at the end of the bytes.
class ValueList {
 public:
  ValueList(std::string_view bytes, uint32_t offset) : b_(bytes), pos_(offset < bytes.size() ? offset : bytes.size()) {}
  // nullopt at the end of the list (marker or bytes exhausted).
  std::optional<uint32_t> Next() {
    uint32_t v = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      if (pos_ >= b_.size()) return std::nullopt;
      uint8_t c = static_cast<uint8_t>(b_[pos_++]);
      v |= uint32_t(c & 0x7F) << shift;
      if (!(c & 0x80)) return v == kEndOfList ? std::nullopt : std::optional<uint32_t>(v);
    }
    return std::nullopt;
  }

 private:
  std::string_view b_;
  size_t pos_;
};

std::string NameAt(std::string_view bytes, uint32_t area, uint32_t offset) {
  if (offset == 0) return "";
  uint64_t at = uint64_t(area) + offset;
  if (at >= bytes.size()) return "";
  size_t end = bytes.find('\0', static_cast<size_t>(at));
  if (end == std::string_view::npos) return "";
  return std::string(bytes.substr(static_cast<size_t>(at), end - static_cast<size_t>(at)));
}

}  // namespace

bool ReadJdbg(std::string_view bytes, const ModuleBases& bases, TMapFile& map) {
  if (bytes.size() < kJdbgHeaderSize || bytes.size() % 4 != 0) return false;
  if (Get32(bytes, 0) != kJdbgSignature || static_cast<uint8_t>(bytes[4]) != 1) return false;
  const uint32_t sourceNames = Get32(bytes, 16), symbols = Get32(bytes, 20), lineNumbers = Get32(bytes, 24);
  const uint32_t words = Get32(bytes, 28), checksum = Get32(bytes, 8);
  if (bytes[5] != 0) {
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 4) sum += Get32(bytes, i);
    sum -= checksum;
    if (((sum >> 8) | (sum << 24)) != checksum) return false;
  }
  MapBuilder b(map);

  // Source files: one code segment each, from its address up to the next one (the last up to top of code).
  struct Source {
    Address start;
    std::string unit;
  };
  std::vector<Source> sources;
  {
    ValueList list(bytes, sourceNames);
    Address address = bases.codeBase;
    uint32_t nameOffset = 0;
    while (auto delta = list.Next()) {
      auto nameDelta = list.Next();
      if (!nameDelta) break;
      address += *delta;
      nameOffset += *nameDelta;
      sources.push_back({address, std::string(FileNamePart(NameAt(bytes, words, nameOffset)))});
    }
  }
  std::stable_sort(sources.begin(), sources.end(), [](const Source& x, const Source& y) { return x.start < y.start; });
  for (size_t i = 0; i < sources.size(); ++i) {
    Address end = i + 1 < sources.size() ? sources[i + 1].start : bases.codeTop;
    b.AddSegment(true, sources[i].start, end > sources[i].start ? end - sources[i].start : 0, sources[i].unit);
  }
  b.SortSegments();
  b.MergeSegments(MergeMode::Always);

  {
    ValueList list(bytes, symbols);
    Address address = bases.codeBase;
    uint32_t nameOffset = 0, qualifierOffset = 0;
    while (auto delta = list.Next()) {
      auto nameDelta = list.Next();
      auto qualifierDelta = nameDelta ? list.Next() : std::nullopt;
      if (!qualifierDelta) break;
      address += *delta;
      nameOffset += *nameDelta;
      qualifierOffset += *qualifierDelta;
      std::string name = NameAt(bytes, words, nameOffset);
      std::string qualifier = NameAt(bytes, words, qualifierOffset);
      if (!qualifier.empty()) name += "." + qualifier;
      if (!name.empty()) b.AddPublic(true, std::move(name), address);
    }
  }
  b.SortPublics();

  {
    ValueList list(bytes, lineNumbers);
    Address address = bases.codeBase;
    uint32_t line = 0;
    while (auto delta = list.Next()) {
      auto lineDelta = list.Next();
      if (!lineDelta) break;
      address += *delta;
      line += *lineDelta;
      b.AddLine(line, address);
    }
  }
  b.SortLines();
  return true;
}

}  // namespace rvx
