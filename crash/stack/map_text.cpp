// The linker's text map file: segment classes, the detailed segment map, publics by value, line numbers
// and the entry point. Lines that do not have the expected shape are skipped one by one.
#include <optional>
#include <vector>

#include "crash/stack/symbol_sources.h"

namespace rvx {
namespace {

std::optional<uint32_t> Hex(std::string_view s, size_t at, size_t digits) {
  if (at + digits > s.size()) return std::nullopt;
  uint32_t v = 0;
  for (size_t i = at; i < at + digits; ++i) {
    char c = s[i];
    uint32_t d;
    if (c >= '0' && c <= '9') d = uint32_t(c - '0');
    else if (c >= 'a' && c <= 'f') d = uint32_t(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = uint32_t(c - 'A' + 10);
    else return std::nullopt;
    v = v * 16 + d;
  }
  return v;
}

bool At(std::string_view s, size_t pos1, char c) { return pos1 >= 1 && pos1 <= s.size() && s[pos1 - 1] == c; }

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

std::string_view TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

enum class Section { None, Classes, Detailed, Publics, Lines };

class TextMapReader {
 public:
  TextMapReader(const ModuleBases& bases, TMapFile& map) : bases_(bases), b_(map) {}

  void Run(std::string_view text) {
    size_t pos = 0;
    while (pos <= text.size()) {
      size_t end = text.find("\r\n", pos);
      std::string_view raw = text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
      pos = end == std::string_view::npos ? text.size() + 1 : end + 2;
      Line(raw);
    }
    b_.SortSegments();
    b_.MergeSegments(MergeMode::Checking);
    for (const Pending& p : publics_) b_.AddPublic(p.isCode, p.name, p.address);
    b_.SortPublics();
    b_.SortLines();
  }

 private:
  struct Pending {
    bool isCode;
    std::string name;
    Address address;
  };

  // The address of segment:offset, and whether the segment holds code; nullopt for other segments.
  std::optional<std::pair<Address, bool>> Place(uint32_t segment, uint32_t offset) const {
    if (segment < 1 || segment > dataSegment_) return std::nullopt;
    if (segment == dataSegment_) return std::make_pair(bases_.dataBase + offset, false);
    Address a = bases_.codeBase + offset;
    if (segment == 3 && bases_.secondCode) a = bases_.codeBase + bases_.secondOffset + offset;
    else if (segment > 1) a += codeOffset_;
    return std::make_pair(a, true);
  }

  void Line(std::string_view raw) {
    std::string_view line = TrimLeft(raw);
    if (line.empty()) {
      // A section's heading is followed by an empty line; the empty line after its content ends it.
      if (sectionHasContent_) section_ = Section::None;
      return;
    }
    if (StartsWith(line, "Start         Length     Name                   Class")) return Enter(Section::Classes);
    if (StartsWith(line, "Detailed map of segments")) return Enter(Section::Detailed);
    if (line.find("Publics by Value") != std::string_view::npos) return Enter(Section::Publics);
    if (StartsWith(line, "Line numbers for ")) {
      lastLineAddress_.reset();
      return Enter(Section::Lines);
    }
    if (StartsWith(line, "Program entry point at ")) {
      if (line.size() >= 35 && line.size() > 27 && line[27] == ':')
        if (auto v = Hex(line, 28, 8)) b_.map().entryPoint = bases_.codeBase + *v;
      return;
    }
    sectionHasContent_ = section_ != Section::None;
    switch (section_) {
      case Section::Classes: ClassLine(line); break;
      case Section::Detailed: DetailedLine(line); break;
      case Section::Publics: PublicLine(line); break;
      case Section::Lines: LineNumbers(line); break;
      default: break;
    }
  }

  void Enter(Section s) {
    section_ = s;
    sectionHasContent_ = false;
  }

  void ClassLine(std::string_view line) {
    if (!At(line, 5, ':') || !At(line, 14, ' ') || !At(line, 23, 'H')) return;
    if (line.find(".text") != std::string_view::npos) {
      if (auto size = Hex(line, 14, 8)) codeOffset_ = (*size + 4095u) & ~4095u;
    } else if (line.find(".data") != std::string_view::npos) {
      auto n = Hex(line, 0, 4);
      dataSegment_ = n && *n >= 2 && *n <= 9 ? *n : 2;
    }
  }

  void DetailedLine(std::string_view line) {
    if (line.size() <= 72 || !At(line, 5, ':') || !At(line, 14, ' ') || !At(line, 23, ' ') || !At(line, 24, 'C') ||
        !At(line, 25, '='))
      return;
    auto seg = Hex(line, 0, 4), start = Hex(line, 5, 8), length = Hex(line, 14, 8);
    if (!seg || !start || !length) return;
    std::string_view rest = TrimRight(line);
    size_t blank = rest.find_last_of(' ');
    if (blank == std::string_view::npos) return;
    rest = TrimRight(rest.substr(0, blank));
    size_t cut = rest.find_last_of("=\\|");
    std::string_view unit = cut == std::string_view::npos ? rest : rest.substr(cut + 1);
    auto place = Place(*seg, *start);
    if (!place) return;
    b_.AddSegment(place->second, place->first, *length, std::string(unit));
  }

  void PublicLine(std::string_view line) {
    if (line.size() <= 13 || !At(line, 5, ':')) return;
    auto seg = Hex(line, 0, 4), offset = Hex(line, 5, 8);
    if (!seg || !offset) return;
    std::string_view rest = TrimRight(line);
    if (!rest.empty() && rest.back() == ')') {
      size_t open = rest.find_last_of('(');
      if (open != std::string_view::npos) rest = TrimRight(rest.substr(0, open));
    }
    size_t blank = rest.find_last_of(' ');
    size_t nameAt = blank == std::string_view::npos ? 0 : blank + 1;
    if (nameAt < 13 || nameAt >= rest.size()) return;
    auto place = Place(*seg, *offset);
    if (!place) return;
    publics_.push_back({place->second, std::string(rest.substr(nameAt)), place->first});
  }

  void LineNumbers(std::string_view line) {
    // Groups of: decimal line, blanks, "ssss:oooooooo".
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && line[i] == ' ') ++i;
      size_t digits = i;
      uint64_t number = 0;
      while (i < line.size() && line[i] >= '0' && line[i] <= '9' && number <= 0xFFFFFFFFu)
        number = number * 10 + uint64_t(line[i++] - '0');
      if (i == digits || i >= line.size() || line[i] != ' ' || number > 0xFFFFFFFFu) return;
      while (i < line.size() && line[i] == ' ') ++i;
      auto seg = Hex(line, i, 4);
      if (!seg || i + 4 >= line.size() || line[i + 4] != ':') return;
      auto offset = Hex(line, i + 5, 8);
      if (!offset) return;
      i += 13;
      auto place = Place(*seg, *offset);
      if (!place || !place->second) continue;
      if (lastLineAddress_ && place->first <= *lastLineAddress_) continue;
      lastLineAddress_ = place->first;
      b_.AddLine(static_cast<uint32_t>(number), place->first);
    }
  }

  const ModuleBases& bases_;
  MapBuilder b_;
  Section section_ = Section::None;
  bool sectionHasContent_ = false;
  uint32_t codeOffset_ = 0;
  uint32_t dataSegment_ = 2;
  std::optional<Address> lastLineAddress_;
  std::vector<Pending> publics_;
};

}  // namespace

bool ReadTextMap(std::string_view text, const ModuleBases& bases, TMapFile& map) {
  TextMapReader reader(bases, map);
  reader.Run(text);
  return !map.segments.empty() || !map.publics.empty();
}

}  // namespace rvx
