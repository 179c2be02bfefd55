#include "crash/ui/report_columns.h"

#include <algorithm>

namespace rvx {

namespace {

bool IsControlOrBlank(char c, bool keepTabs) {
  auto u = static_cast<unsigned char>(c);
  return u <= 32 && !(keepTabs && c == '\t');
}

// The characters of line `line` (from 1) in column c (from 1); 0 beyond its end.
char At(const std::string& text, const TLine& line, int32_t c) {
  if (c < 1 || c > line.length) return 0;
  return text[static_cast<size_t>(line.start - 1 + c - 1)];
}

}  // namespace

std::string_view TrimControls(std::string_view text, bool keepTabs) {
  size_t b = 0, e = text.size();
  while (b < e && IsControlOrBlank(text[b], keepTabs)) ++b;
  while (e > b && IsControlOrBlank(text[e - 1], keepTabs)) --e;
  return text.substr(b, e - b);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

TDALine LineTable(std::string_view text) {
  TDALine lines;
  for (std::string_view l : SplitLinesAtCr(text)) {
    TLine line;
    line.start = static_cast<int32_t>(l.data() - text.data() + 1);
    line.length = l.starts_with(">>") ? -1 : static_cast<int32_t>(l.size());
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string_view> SplitLinesAtCr(std::string_view text) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (;;) {
    size_t cr = text.find('\r', start);
    size_t end = cr == std::string_view::npos ? text.size() : cr;
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.front() == '\n') line.remove_prefix(1);
    out.push_back(line);
    if (cr == std::string_view::npos) break;
    start = cr + 1;
  }
  return out;
}

TColumn ParseCaption(std::string_view caption) {
  TColumn column;
  if (caption.starts_with('^')) {
    column.upperCase = true;
    caption.remove_prefix(1);
  }
  if (caption.starts_with(' ')) {
    column.alignment = 1;
    caption.remove_prefix(1);
  }
  column.caption = std::string(caption);
  return column;
}

std::vector<std::string_view> SplitAt(std::string_view text, char delimiter) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(delimiter, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? text.npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

TColumns ParseColumnCaptions(std::string_view captions) {
  TColumns columns;
  for (std::string_view caption : SplitAt(captions, '|')) columns.push_back(ParseCaption(caption));
  return columns;
}

std::vector<int32_t> FindSeparatorColumns(std::string& text, const TDALine& lines, bool ignoreSingleLines) {
  std::vector<int32_t> found;
  // The longest line (the first of equal ones); marker lines have the length -1 and never win.
  int longest = -1;
  int32_t width = 0;
  int nonEmpty = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].length > 0) ++nonEmpty;
    if (lines[i].length > width) {
      width = lines[i].length;
      longest = static_cast<int>(i);
    }
  }
  if (longest < 0 || width < 3) return found;
  const TLine& top = lines[static_cast<size_t>(longest)];
  for (int32_t c = 2; c <= width - 1; ++c) {
    char ch = At(text, top, c);
    bool candidate = ch == ' ' || ch == '=' || ch == '|' || (ch == ':' && At(text, top, c + 1) == ' ');
    if (!candidate) continue;
    bool holds = true;
    int confirmations = 0;
    for (const TLine& line : lines) {
      if (line.length < c) continue;  // too short, or a marker line
      char here = At(text, line, c);
      if (here != ch) {
        holds = false;
        break;
      }
      char next = At(text, line, c + 1);
      if (here != ' ' || (next != 0 && next != ' ')) ++confirmations;
    }
    if (!holds) continue;
    if (ignoreSingleLines && nonEmpty != 1 && confirmations < 2) continue;
    for (const TLine& line : lines)
      if (line.length >= c) text[static_cast<size_t>(line.start - 1 + c - 1)] = ' ';
    if (!found.empty() && found.back() == c - 1)
      found.back() = c;
    else
      found.push_back(c);
  }
  return found;
}

std::vector<std::string> LineCellsFromColumns(std::string_view text, const std::vector<int32_t>& separators,
                                              int columnCount) {
  std::vector<std::string> out;
  size_t usable = columnCount > 1 ? std::min(separators.size(), static_cast<size_t>(columnCount - 1)) : 0;
  for (std::string_view raw : SplitLinesAtCr(text)) {
    std::string line(raw);
    size_t b = 0, e = line.size();
    while (b < e && IsControlOrBlank(line[b], true)) ++b;
    while (e > b && IsControlOrBlank(line[e - 1], true)) --e;
    for (size_t i = 0; i < usable; ++i) {
      int32_t p = separators[i];
      if (p >= 1 && static_cast<size_t>(p - 1) >= b && static_cast<size_t>(p - 1) < e) line[static_cast<size_t>(p - 1)] = '\t';
    }
    out.push_back(line.substr(b, e - b));
  }
  return out;
}

}  // namespace rvx
