#include "crash/core/bugreport.h"

#include <algorithm>

#include "crash/stack/text.h"

namespace rvx {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kReportStart = "\ndate/time";

std::string TwoDigits(int v) { return DecimalText(v, 2, '0'); }

bool IsControl(unsigned char c) { return c < 32; }

}  // namespace

std::string HeaderValueText(std::string_view value) {
  std::string s(value);
  ReplaceText(s, "\r\n", " ");
  ReplaceText(s, "\r", " ");
  ReplaceText(s, "\n", " ");
  while (ReplaceText(s, "  ", " ")) {
  }
  return s;
}

std::vector<std::string> SectionLines(std::string_view content) {
  std::vector<std::string> lines;
  size_t i = 0;
  for (;;) {
    size_t end = content.find_first_of("\r\n", i);
    std::string_view line = content.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
    size_t keep = line.size();
    while (keep > 0 && (line[keep - 1] == ' ' || IsControl(static_cast<unsigned char>(line[keep - 1])))) --keep;
    lines.emplace_back(keep ? std::string(line.substr(0, keep)) : std::string("."));
    if (end == std::string_view::npos) break;
    i = end + ((content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

std::string RenderReport(const NamedTexts& header, const NamedTexts& sections) {
  size_t width = 0;
  for (const auto& [name, value] : header) width = std::max(width, name.size());
  std::string out;
  bool first = true;
  auto line = [&](std::string_view text) {
    if (!first) out += kCrLf;
    first = false;
    out += text;
  };
  for (const auto& [name, value] : header) {
    std::string l = name;
    l.resize(width + 1, ' ');
    l += ": ";
    l += HeaderValueText(value);
    line(l);
  }
  for (const auto& [name, content] : sections) {
    line("");
    line(name.find(':') == std::string::npos ? name + ":" : name);
    for (const auto& l : SectionLines(content)) line(l);
  }
  return out;
}

std::string ReportMessageText(std::string_view message) {
  std::string s;
  s.reserve(message.size() + 1);
  for (char c : message)
    if (!IsControl(static_cast<unsigned char>(c)) || c == '\r' || c == '\n') s += c;
  s = TrimText(s);
  if (s.empty()) s = "Unknown";
  size_t last = s.find_last_not_of(".!");
  s.resize(last == std::string::npos ? 0 : last + 1);
  return s + ".";
}

std::string ReportDateTimeText(const ReportTime& t) {
  return DecimalText(t.year, 4, '0') + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day) + ", " + TwoDigits(t.hour) +
         ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second) + ", " + DecimalText(t.millisecond) + "ms";
}

std::string FileDateTimeText(const ReportTime& t) {
  return DecimalText(t.year, 4, '0') + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day) + " " + TwoDigits(t.hour) +
         ":" + TwoDigits(t.minute);
}

bool FindHeaderValue(std::string_view text, std::string_view name, std::string& value) {
  if (name.empty()) return false;
  std::string key = "\n" + std::string(name);
  size_t at = text.find(key);
  size_t p;
  if (text.substr(0, name.size()) == name) {
    p = name.size();  // the first line of a report has no line break before it
  } else if (at != std::string_view::npos) {
    p = at + key.size();
  } else {
    return false;
  }
  while (p < text.size() && text[p] == ' ') ++p;
  if (text.substr(p, 2) != ": ") return false;
  p += 2;
  size_t end = text.find_first_of("\r\n", p);
  value = std::string(text.substr(p, end == std::string_view::npos ? std::string_view::npos : end - p));
  return true;
}

std::string InsertCountItem(std::string_view report, int64_t count) {
  std::string r(report);
  size_t crc = r.find("\ncallstack crc");
  size_t lineStart = crc == std::string::npos ? (r.compare(0, 13, "callstack crc") == 0 ? 0 : std::string::npos) : crc + 1;
  if (lineStart == std::string::npos) return r;
  size_t colon = r.find(": ", lineStart);
  size_t lineEnd = r.find("\r\n", lineStart);
  if (lineEnd == std::string::npos) lineEnd = r.size();
  size_t width = colon != std::string::npos && colon < lineEnd ? colon - lineStart : 6;
  std::string item = "count";
  if (item.size() < width) item.resize(width, ' ');
  item += ": " + DecimalText(count);
  r.insert(lineEnd, "\r\n" + item);
  return r;
}

namespace {

// Start of the report that encloses position `at`: just after the nearest earlier "\n" followed by
// "date/time", else the first "date/time" of the file.
size_t ReportStartBefore(std::string_view text, size_t at) {
  size_t p = at >= 1 ? text.rfind(kReportStart, at - 1) : std::string_view::npos;
  if (p != std::string_view::npos) return p + 1;
  size_t first = text.find("date/time");
  return first == std::string_view::npos || first > at ? 0 : first;
}

size_t ReportEndAfter(std::string_view text, size_t at) {
  size_t p = text.find(kReportStart, at);
  return p == std::string_view::npos ? text.size() : p + 1;
}

bool SameItem(std::string_view a, std::string_view b, std::string_view name) {
  std::string va, vb;
  bool ha = FindHeaderValue(a, name, va), hb = FindHeaderValue(b, name, vb);
  return ha == hb && va == vb;
}

// Whether the hit at `at` is the value of the "callstack crc" item of its line.
bool IsChecksumLine(std::string_view text, size_t at) {
  size_t lineStart = at == 0 ? 0 : text.rfind('\n', at - 1);
  lineStart = lineStart == std::string_view::npos ? 0 : lineStart + 1;
  std::string_view line = text.substr(lineStart, at - lineStart);
  if (line.substr(0, 13) != "callstack crc") return false;
  return line.find_first_not_of(' ', 13) == std::string_view::npos;
}

}  // namespace

namespace {

// The new end of the report file. `old` holds the file's last bytes; `skipped` bytes in front of them were
// not read. The result replaces the file from `writeAt` on.
struct FileUpdate {
  uint64_t writeAt = 0;
  std::string bytes;
};

FileUpdate ComposeUpdate(std::string_view old, uint64_t skipped, std::string_view report, const ReportFileRules& rules,
                         int64_t* merged) {
  if (merged) *merged = 0;
  FileUpdate update;
  if (!rules.append) {
    update.bytes = std::string(report) + "\r\n\r\n";
    return update;
  }
  std::string file(old);
  std::string newReport(report);
  // Behind unread bytes the text starts inside a report: only reports that start after it are whole.
  size_t firstWhole = 0;
  if (skipped > 0) {
    size_t boundary = file.find(kReportStart);
    firstWhole = boundary == std::string::npos ? file.size() : boundary + 1;
  }
  std::string crc;
  if (FindHeaderValue(report, "callstack crc", crc) && crc.size() == 31) {
    std::string dummy;
    bool isException = FindHeaderValue(report, "exception class", dummy);
    bool on = isException ? rules.noDupExcepts : rules.noDupFreezes;
    uint32_t def = isException ? rules.dupExceptDef : rules.dupFreezeDef;
    size_t keyLength = def == 0 ? 9 : def == 1 ? 20 : 31;
    if (on) {
      std::string key = ": " + crc.substr(0, keyLength);
      size_t from = file.size();
      while (from > 0) {
        size_t hit = std::string_view(file).rfind(key, from - 1);
        if (hit == std::string::npos || hit < firstWhole) break;
        from = hit;
        // A hit inside another item's value (a message quoting a checksum) is no duplicate.
        if (!IsChecksumLine(file, hit)) continue;
        size_t start = ReportStartBefore(file, hit);
        size_t end = ReportEndAfter(file, hit);
        std::string_view oldReport = std::string_view(file).substr(start, end - start);
        bool match = SameItem(oldReport, report, "executable") && SameItem(oldReport, report, "current module") &&
                     SameItem(oldReport, report, "exception class") && SameItem(oldReport, report, "version");
        std::string v;
        if (match && !FindHeaderValue(oldReport, "version", v))
          match = SameItem(oldReport, report, "exec. date/time") && SameItem(oldReport, report, "module date/time");
        if (!match) continue;
        int64_t count = 1;
        if (FindHeaderValue(oldReport, "count", v)) count = std::max<int64_t>(1, ParseInteger(false, TrimText(v)));
        if (count < INT64_MAX) ++count;
        newReport = InsertCountItem(report, count);
        if (merged) *merged = count;
        file.erase(start, end - start);
        break;
      }
    }
  }
  bool cut = false;
  const uint64_t sizeAtOpen = skipped + old.size();
  if (rules.sizeLimit > 0 && sizeAtOpen > static_cast<uint64_t>(rules.sizeLimit)) {
    size_t keep = static_cast<size_t>(rules.sizeLimit - rules.sizeLimit / 4);
    // With bytes left unread, a boundary among them could come first; only a read part at least as long as
    // what is kept settles it.
    if (skipped == 0 || file.size() >= keep) {
      size_t p = 0;
      while ((p = file.find(kReportStart, p)) != std::string::npos) {
        if (file.size() - (p + 1) < keep) {
          file.erase(0, p + 1);
          cut = true;
          break;
        }
        ++p;
      }
    }
  }
  update.writeAt = cut ? 0 : skipped;
  update.bytes = std::move(file);
  update.bytes += newReport;
  update.bytes += "\r\n\r\n";
  return update;
}

}  // namespace

std::string ComposeReportFile(std::string_view old, std::string_view report, const ReportFileRules& rules,
                              int64_t* merged) {
  return ComposeUpdate(old, 0, report, rules, merged).bytes;
}

uint64_t ReportFileReadWindow(const ReportFileRules& rules) {
  if (rules.sizeLimit > 0 && static_cast<uint64_t>(rules.sizeLimit) < kReportFileReadLimit)
    return static_cast<uint64_t>(rules.sizeLimit);
  return kReportFileReadLimit;
}

bool SaveReportToFile(ReportFile& file, std::string_view report, const ReportFileRules& rules, int64_t* merged) {
  if (merged) *merged = 0;
  uint64_t size = 0;
  if (!file.Size(size)) return false;
  uint64_t length = rules.append ? std::min(size, ReportFileReadWindow(rules)) : 0;
  uint64_t skipped = size - length;
  std::string old;
  FileUpdate update;
  try {
    old.resize(static_cast<size_t>(length));
    if (length > 0 && !file.ReadAt(skipped, old.data(), old.size())) return false;
    update = ComposeUpdate(old, skipped, report, rules, merged);
  } catch (...) {
    return false;  // no memory for it: the file stays as it is
  }
  return file.WriteAt(update.writeAt, update.bytes) && file.Truncate(update.writeAt + update.bytes.size());
}

std::wstring FolderPart(std::wstring_view path) {
  size_t p = path.find_last_of(L"\\/");
  return p == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, p + 1));
}

std::wstring AbsoluteReportName(std::wstring_view name, std::wstring_view programPath) {
  std::wstring n(name);
  bool startsWithSlash = !n.empty() && n[0] == L'\\';
  bool hasDrive = n.size() >= 2 && n[1] == L':';
  if (n.size() < 3 || (!startsWithSlash && !hasDrive)) {
    n = FolderPart(programPath) + n;
  } else if (startsWithSlash && (n.size() < 2 || n[1] != L'\\')) {
    std::wstring root;
    if (programPath.size() >= 2 && programPath[1] == L':') {
      root = std::wstring(programPath.substr(0, 2));
    } else if (programPath.substr(0, 2) == L"\\\\") {
      size_t server = programPath.find(L'\\', 2);
      size_t share = server == std::wstring_view::npos ? server : programPath.find(L'\\', server + 1);
      root = std::wstring(programPath.substr(0, share));
    }
    n = root + n;
  }
  ReplaceText(n, L"\\.\\", L"\\", false, true);
  for (;;) {
    size_t up = n.find(L"\\..\\");
    if (up == std::wstring::npos) break;
    size_t folder = up == 0 ? std::wstring::npos : n.rfind(L'\\', up - 1);
    size_t from = folder == std::wstring::npos ? 0 : folder + 1;
    // A drive or the start of the path has no folder to remove: just drop the "..\".
    if (folder == std::wstring::npos && n.size() >= 2 && n[1] == L':') {
      n.erase(up + 1, 3);
      continue;
    }
    n.erase(from, up + 4 - from);
  }
  return n;
}

}  // namespace rvx
