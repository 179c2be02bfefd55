// Lookups over the sorted arrays of one module's symbol data.
#include "crash/stack/map_file.h"

#include <algorithm>

namespace rvx {
namespace {

bool SameTextNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

TMfSegment SegmentAt(const TMapFile& map, bool isCode, Address address) {
  // Segments of one class are sorted by start (code first); ranges may nest when a merge left them so, and
  // then the one starting last below the address decides, as a binary search would find it.
  auto first = map.segments.begin(), last = map.segments.end();
  auto classBegin = std::partition_point(first, last, [](const TMfSegment& s) { return s.isCode; });
  auto lo = isCode ? first : classBegin, hi = isCode ? classBegin : last;
  auto it = std::upper_bound(lo, hi, address, [](Address a, const TMfSegment& s) { return a < s.start; });
  if (it == lo) return {};
  const TMfSegment& s = *(it - 1);
  if (address - s.start >= s.length) return {};
  TMfSegment result = s;
  result.valid = true;
  return result;
}

TMfPublic PublicAt(const TMapFile& map, Address address) {
  const auto& p = map.publics;
  auto it = std::upper_bound(p.begin(), p.end(), address, [](Address a, const TMfPublic& x) { return a < x.address; });
  if (it == p.begin()) return {};
  if (it == p.end() && map.codeTop != 0 && address >= map.codeTop) return {};
  TMfPublic result = *(it - 1);
  result.valid = true;
  return result;
}

Address PublicByName(const TMapFile& map, bool isCode, const std::string& unit, bool caseSensitive,
                     const std::string& name) {
  auto find = [&](const std::string& u) -> Address {
    for (const TMfPublic& p : map.publics) {
      if (p.isCode != isCode) continue;
      if (caseSensitive ? p.name != name : !SameTextNoCase(p.name, name)) continue;
      TMfSegment s = SegmentAt(map, isCode, p.address);
      if (s.valid && SameTextNoCase(s.unit, u)) return p.address;
    }
    return 0;
  };
  if (Address a = find(unit)) return a;
  if (unit.find('.') != std::string::npos) return 0;
  for (const char* ext : {".cpp", ".h", ".c"})
    if (Address a = find(unit + ext)) return a;
  return 0;
}

LineResult LineAt(const TMapFile& map, Address address) {
  LineResult result;
  result.nextAddress = address + 1;
  const auto& l = map.lines;
  if (l.empty()) {
    TMfSegment s = SegmentAt(map, true, address);
    if (s.valid && s.hasLineNumbers) result.line = -1;
    return result;
  }
  auto it = std::upper_bound(l.begin(), l.end(), address, [](Address a, const TMfLine& x) { return a < x.address; });
  if (it == l.begin()) return result;
  if (it == l.end() && map.codeTop != 0 && address >= map.codeTop) return result;
  const TMfLine& item = *(it - 1);
  TMfSegment s = SegmentAt(map, true, address);
  if (!s.valid || item.address < s.start) return result;
  result.line = static_cast<int32_t>(item.line);
  if (it != l.end()) result.nextAddress = it->address;
  return result;
}

}  // namespace rvx
