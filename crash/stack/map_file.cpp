// Lookups over the sorted arrays of one module's symbol data, the two disassembler hooks over one object,
// and the rules shared by every source that builds such an object.
#include "crash/stack/map_file.h"

#include <algorithm>

#include "crash/stack/map_build.h"
#include "crash/stack/module.h"

namespace rvx {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The search every lookup uses. probe(i) answers -1 (the entry lies above the address: go down), +1 (the
// address lies beyond the entry: go up) or 0 (found). It starts in the middle with step (half + 2) / 2,
// halves the step rounding up after every move, and ends after one last probe made with step 1. On sorted
// entries it reaches every one; where ranges nest or share a start, the first probe that contains the
// address decides.
template <typename Probe>
long ProbeSearch(size_t count, Probe probe) {
  if (count == 0) return -1;
  const long n = static_cast<long>(count);
  long i = n / 2;
  long step = (n / 2 + 2) / 2;
  for (bool last = false;;) {
    int d = probe(static_cast<size_t>(i));
    if (d == 0) return i;
    if (last) return -1;
    i += d * step;
    if (i < 0) i = 0;
    if (i > n - 1) i = n - 1;
    if (step == 1) last = true;
    step = (step + 1) / 2;
  }
}

}  // namespace

bool SameTextNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string UnitWithoutPascalEnding(std::string unit) {
  if (unit.size() >= 4) {
    std::string_view tail(unit.data() + unit.size() - 4, 4);
    if (SameTextNoCase(tail, ".pas") || SameTextNoCase(tail, ".dpr")) unit.resize(unit.size() - 4);
  }
  return unit;
}

// ---- lookups ----

TMfSegment SegmentAt(const TMapFile& map, bool isCode, Address address) {
  const auto& s = map.segments;
  long i = ProbeSearch(s.size(), [&](size_t k) {
    const TMfSegment& e = s[k];
    if (e.isCode != isCode) return isCode ? -1 : 1;  // code segments come first
    if (e.start > address) return -1;
    if (address - e.start >= e.length) return 1;
    return 0;
  });
  if (i < 0) return {};
  TMfSegment result = s[static_cast<size_t>(i)];
  result.valid = true;
  return result;
}

TMfPublic PublicAt(const TMapFile& map, Address address) {
  const auto& p = map.publics;
  long i = ProbeSearch(p.size(), [&](size_t k) {
    if (p[k].address > address) return -1;
    if (k + 1 < p.size() && p[k + 1].address <= address) return 1;
    return 0;
  });
  if (i < 0) return {};
  if (static_cast<size_t>(i) + 1 == p.size() && map.codeTop != 0 && address >= map.codeTop) return {};
  TMfPublic result = p[static_cast<size_t>(i)];
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
  long i = ProbeSearch(l.size(), [&](size_t k) {
    if (l[k].address > address) return -1;
    if (k + 1 < l.size() && l[k + 1].address <= address) return 1;
    return 0;
  });
  if (i < 0) return result;
  size_t k = static_cast<size_t>(i);
  if (k + 1 == l.size() && map.codeTop != 0 && address >= map.codeTop) return result;
  TMfSegment s = SegmentAt(map, true, address);
  if (!s.valid || l[k].address < s.start) return result;
  result.line = static_cast<int32_t>(l[k].line);
  if (k + 1 < l.size()) result.nextAddress = l[k + 1].address;
  return result;
}

// ---- hooks over one object ----

std::string RoutineNameIn(const TMapFile& map, Address address) {
  TMfPublic p = PublicAt(map, address);
  if (!p.valid || p.address != address) return "";
  TMfSegment s = SegmentAt(map, p.isCode, address);
  std::string text = s.valid && !s.unit.empty() ? s.unit + "." + p.name : p.name;
  if (p.name.find('%') != std::string::npos) text += " (" + std::string(FileNamePart(map.moduleFileName)) + ")";
  return text;
}

void LineNumberIn(const TMapFile& map, Address address, uint32_t& line, Address& lowest, Address& next) {
  if (line != 0 && address >= lowest && address < next) return;
  LineResult r = LineAt(map, address);
  line = r.line < 0 ? 0 : static_cast<uint32_t>(r.line);
  lowest = address;
  next = r.nextAddress;
}

// ---- building ----

void MapBuilder::Grow(size_t needed, size_t& capacity) {
  while (capacity < needed) capacity = capacity < 16 ? 16 : capacity + capacity / 2;
}

void MapBuilder::AddSegment(bool isCode, Address start, uint32_t length, std::string unit, uint32_t hasLines) {
  Grow(map_.segments.size() + 1, segCap_);
  map_.segments.reserve(segCap_);
  TMfSegment s;
  s.valid = true;
  s.isCode = isCode;
  s.start = start;
  s.length = length;
  s.unit = UnitWithoutPascalEnding(std::move(unit));
  s.hasLineNumbers = hasLines;
  map_.segments.push_back(std::move(s));
  (isCode ? lastCode_ : lastData_) = static_cast<long>(map_.segments.size()) - 1;
}

void MapBuilder::JoinSegment(bool isCode, Address start, uint32_t length, std::string unit) {
  unit = UnitWithoutPascalEnding(std::move(unit));
  long last = isCode ? lastCode_ : lastData_;
  if (last >= 0) {
    TMfSegment& s = map_.segments[static_cast<size_t>(last)];
    uint64_t end = uint64_t(s.start) + s.length;
    if (s.unit == unit && start >= s.start && uint64_t(start) <= end + 2) {
      uint64_t newEnd = uint64_t(start) + length;
      if (newEnd > end) s.length = static_cast<uint32_t>(newEnd - s.start);
      return;
    }
  }
  AddSegment(isCode, start, length, std::move(unit));
}

namespace {
bool SegmentBefore(const TMfSegment& a, const TMfSegment& b) {
  if (a.isCode != b.isCode) return a.isCode;
  if (a.start != b.start) return a.start < b.start;
  return a.length > b.length;
}
}  // namespace

void MapBuilder::SortSegments() {
  if (!std::is_sorted(map_.segments.begin(), map_.segments.end(), SegmentBefore))
    std::stable_sort(map_.segments.begin(), map_.segments.end(), SegmentBefore);
  lastCode_ = lastData_ = -1;
}

void MapBuilder::MergeSegments(MergeMode mode) {
  auto& v = map_.segments;
  if (v.empty()) return;
  std::vector<TMfSegment> out;
  out.reserve(v.size());
  out.push_back(std::move(v[0]));
  for (size_t i = 1; i < v.size(); ++i) {
    TMfSegment& first = out.back();
    TMfSegment& second = v[i];
    if (first.length == 0 || (first.start == second.start && first.isCode == second.isCode)) {
      first = std::move(second);
      continue;
    }
    if (first.isCode == second.isCode) {
      uint64_t firstEnd = uint64_t(first.start) + first.length;
      if (mode == MergeMode::Always || firstEnd >= second.start) {
        first.length = second.start - first.start;
        if (SameTextNoCase(first.unit, second.unit)) {
          first.length += second.length;
          continue;
        }
      }
    }
    out.push_back(std::move(second));
  }
  v = std::move(out);
  lastCode_ = lastData_ = -1;
}

void MapBuilder::InsertSorted(const TMfSegment& s) {
  auto& v = map_.segments;
  auto it = std::upper_bound(v.begin(), v.end(), s, SegmentBefore);
  size_t at = static_cast<size_t>(it - v.begin());
  Grow(v.size() + 1, segCap_);
  v.reserve(segCap_);
  v.insert(v.begin() + static_cast<long>(at), s);
  for (long* last : {&lastCode_, &lastData_})
    if (*last >= static_cast<long>(at)) ++*last;
  (s.isCode ? lastCode_ : lastData_) = static_cast<long>(at);
}

void MapBuilder::AddPublic(bool isCode, std::string name, Address address, bool maintainSegments) {
  if (!isCode && map_.codeOnly) return;
  std::string unit;
  bool generated = name.size() >= 6 && name.compare(0, 3, "@$x") == 0 && name[4] == '$';
  if (!generated) {
    DemangleName(name, unit);
    if (name.compare(0, 2, "@@") == 0) name.erase(0, 2);
  }
  if (maintainSegments) {
    TMfSegment before = SegmentAt(map_, isCode, address);
    long& last = isCode ? lastCode_ : lastData_;
    bool inSegment = before.valid;
    if (last >= 0) {
      TMfSegment& s = map_.segments[static_cast<size_t>(last)];
      if (s.start == address) inSegment = true;
      if (uint64_t(s.start) + s.length < address) {
        // Grow up to the public, but not into the next segment of the class.
        Address limit = address;
        for (size_t k = static_cast<size_t>(last) + 1; k < map_.segments.size(); ++k) {
          const TMfSegment& n = map_.segments[k];
          if (n.isCode != isCode) break;
          if (n.start > s.start) {
            if (n.start < limit) limit = n.start;
            break;
          }
        }
        if (limit > s.start) s.length = limit - s.start;
      }
    }
    if (!inSegment && (last < 0 || !SameTextNoCase(unit, map_.segments[static_cast<size_t>(last)].unit))) {
      TMfSegment s;
      s.valid = true;
      s.isCode = isCode;
      s.start = address;
      s.length = 1;
      s.unit = UnitWithoutPascalEnding(unit);
      InsertSorted(s);
    }
  }
  TMfSegment seg = SegmentAt(map_, isCode, address);
  if (seg.valid && !generated) {
    if (SameTextNoCase(name, seg.unit)) {
      name = "initialization";
    } else {
      if (!unit.empty() && !SameTextNoCase(unit, seg.unit)) name = unit + "." + name;
      std::string prefix = seg.unit + ".";
      if (!seg.unit.empty() && name.size() > prefix.size() && SameTextNoCase(name.substr(0, prefix.size()), prefix))
        name.erase(0, prefix.size());
    }
  }
  Grow(map_.publics.size() + 1, pubCap_);
  map_.publics.reserve(pubCap_);
  TMfPublic p;
  p.valid = true;
  p.isCode = isCode;
  p.name = std::move(name);
  p.address = address;
  map_.publics.push_back(std::move(p));
}

void MapBuilder::SortPublics() {
  auto before = [](const TMfPublic& a, const TMfPublic& b) { return a.address < b.address; };
  if (!std::is_sorted(map_.publics.begin(), map_.publics.end(), before))
    std::stable_sort(map_.publics.begin(), map_.publics.end(), before);
}

void MapBuilder::SortLines() {
  auto before = [](const TMfLine& a, const TMfLine& b) { return a.address < b.address; };
  if (!std::is_sorted(map_.lines.begin(), map_.lines.end(), before))
    std::stable_sort(map_.lines.begin(), map_.lines.end(), before);
}

void MapBuilder::Reserve(size_t segments, size_t publics, size_t lines) {
  Grow(segments, segCap_);
  Grow(publics, pubCap_);
  map_.segments.reserve(segCap_);
  map_.publics.reserve(pubCap_);
  map_.lines.reserve(lines);
}

bool ReadModuleBases(const MemoryReader& memory, Address module, ModuleBases& out) {
  out = ModuleBases{};
  out.module = module;
  Address nt = PeNtHeaders(memory, module);
  if (!nt) return false;
  uint32_t baseOfCode = 0, sizeOfCode = 0, baseOfData = 0, sizeInit = 0, sizeUninit = 0;
  Address opt = nt + 24;
  if (!memory.Read32(opt + 4, sizeOfCode) || !memory.Read32(opt + 8, sizeInit) ||
      !memory.Read32(opt + 12, sizeUninit) || !memory.Read32(opt + 20, baseOfCode) ||
      !memory.Read32(opt + 24, baseOfData))
    return false;
  std::vector<SectionHeader> sections = PeSections(memory, nt);
  if (!sections.empty() && (sections[0].characteristics & kSectionCode)) {
    out.codeBase = module + sections[0].virtualAddress;
    out.codeTop = out.codeBase + sections[0].virtualSize;
    if (sections.size() > 1 && (sections[1].characteristics & kSectionCode)) {
      out.codeTop = module + sections[1].virtualAddress + sections[1].virtualSize;
      out.secondCode = true;
      out.secondOffset = sections[1].virtualAddress - sections[0].virtualAddress;
    }
  } else {
    out.codeBase = module + baseOfCode;
    out.codeTop = out.codeBase + sizeOfCode;
  }
  out.dataBase = module + baseOfData;
  out.dataTop = out.dataBase + sizeInit + sizeUninit;
  return true;
}

}  // namespace rvx
