#include "crash/ui/report_renderers.h"

#include <algorithm>

namespace rvx {

namespace {

const char kNbsp = static_cast<char>(0xA0);

std::vector<std::string> PlainLines(std::string_view text) {
  std::vector<std::string> out;
  for (std::string_view l : SplitLinesAtCr(text)) out.emplace_back(l);
  return out;
}

TItems ItemsOf(const std::vector<std::string>& lines) {
  TItems items;
  items.reserve(lines.size());
  for (const auto& l : lines) items.push_back(TItem{l, 0, false});
  return items;
}

// Renderers that find separators by themselves and cut every line at them.
ReportPage ColumnsFromSeparators(std::string_view text, std::string_view captions) {
  std::string copy(text);
  std::vector<int32_t> separators = FindSeparatorColumns(copy, LineTable(copy), true);
  ReportPage page;
  page.columns = ParseColumnCaptions(captions);
  page.items = ItemsOf(LineCellsFromColumns(copy, separators, static_cast<int>(page.columns.size())));
  return page;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsIdentifier(std::string_view s) {
  if (s.empty()) return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!letter(s[0])) return false;
  for (char c : s)
    if (!letter(c) && !IsDigit(c)) return false;
  return true;
}

// Characters of a line between columns from and to (from 1, both included), clipped to the line.
std::string_view Columns(std::string_view line, int64_t from, int64_t to) {
  if (from < 1) from = 1;
  if (to > static_cast<int64_t>(line.size())) to = static_cast<int64_t>(line.size());
  if (from > to) return {};
  return line.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from + 1));
}

// The non-marker lines of a piece (markers and empty lines never decide a column's kind).
std::vector<std::string_view> TextLines(const std::string& text) {
  std::vector<std::string_view> out;
  for (std::string_view l : SplitLinesAtCr(text))
    if (!l.starts_with(">>")) out.push_back(l);
  return out;
}

}  // namespace

RendererKind ChooseRenderer(int index, std::string_view sectionName, std::string_view text) {
  if (StartsWithNoCase(text, ">> will be")) return RendererKind::Automatic;
  if (StartsWithNoCase(text, ">> internal")) return RendererKind::CallStack;
  if (index == 0) return RendererKind::Header;
  if (index == 1) return RendererKind::CallStack;
  if (sectionName == "modules") return RendererKind::Modules;
  if (sectionName == "cpu registers") return RendererKind::Registers;
  if (sectionName == "stack dump") return RendererKind::StackDump;
  if (sectionName == "processes") return RendererKind::Processes;
  if (sectionName == "disassembling") return RendererKind::Disassembly;
  return RendererKind::Automatic;
}

ReportPage RenderPage(RendererKind kind, std::string_view text) {
  switch (kind) {
    case RendererKind::Header: return RenderHeader(text);
    case RendererKind::CallStack: return RenderCallStack(text);
    case RendererKind::Registers: return RenderRegisters(text);
    case RendererKind::StackDump: return RenderStackDump(text);
    case RendererKind::Modules: return RenderModules(text);
    case RendererKind::Processes: return RenderProcesses(text);
    case RendererKind::Disassembly: return RenderDisassembly(text);
    case RendererKind::Automatic: break;
  }
  return RenderAutomatic(text);
}

ReportPage RenderHeader(std::string_view text) {
  ReportPage page;
  page.columns = ParseColumnCaptions("description|value");
  page.items = ItemsOf(PlainLines(text));
  return page;
}

ReportPage RenderRegisters(std::string_view text) {
  ReportPage page = ColumnsFromSeparators(text, "reg.|content");
  page.mono = true;
  return page;
}

ReportPage RenderStackDump(std::string_view text) {
  ReportPage page;
  page.mono = true;
  page.columns = ParseColumnCaptions("address|data - hexadecimal|data - chars");
  page.items = ItemsOf(LineCellsFromColumns(text, {10, 61}, 3));
  return page;
}

ReportPage RenderModules(std::string_view text) { return ColumnsFromSeparators(text, "^handle|file name| version|path"); }

ReportPage RenderProcesses(std::string_view text) {
  std::string copy(text);
  std::vector<int32_t> separators = FindSeparatorColumns(copy, LineTable(copy), true);
  const char* captions = nullptr;
  switch (separators.size()) {
    case 3: captions = "^id|file name|priority|path"; break;
    case 4: captions = "^id|file name|session|priority|path"; break;
    case 5: captions = "^id|file name|gdi objects|user objects|priority|path"; break;
    case 6: captions = "^id|file name|session|gdi objects|user objects|priority|path"; break;
    default: return {};  // a table of another width is shown as text
  }
  ReportPage page;
  page.columns = ParseColumnCaptions(captions);
  page.items = ItemsOf(LineCellsFromColumns(copy, separators, static_cast<int>(page.columns.size())));
  return page;
}

ReportPage RenderDisassembly(std::string_view text) {
  ReportPage page;
  page.mono = true;
  // The marker column of the crash line: the first ">" within the first 26 characters of a line.
  int32_t marker = 0;
  for (std::string_view line : SplitLinesAtCr(text)) {
    if (line.starts_with(">>")) continue;
    size_t at = line.substr(0, 26).find('>');
    if (at != std::string_view::npos) {
      marker = static_cast<int32_t>(at + 1);
      break;
    }
  }
  // Separators at column 9 and, with a line column, right before the marker column.
  bool lineColumn = marker > 10;
  page.columns = ParseColumnCaptions(lineColumn ? "address|line|asm code|comments" : "address|asm code|comments");

  // Comments get a column of their own; the delimiter lines ("; ----") stay whole.
  std::string body(text);
  std::string edited;
  edited.reserve(body.size() + body.size() / 8);
  for (size_t i = 0; i < body.size(); ++i) {
    if (body.compare(i, 4, "; --") == 0) {
      edited += "; --";
      i += 3;
    } else if (body[i] == ';') {
      edited += "\t;";
    } else {
      edited += body[i];
    }
  }
  for (std::string_view raw : SplitLinesAtCr(edited)) {
    std::string line(TrimControls(raw, false));
    // Label lines have no line number: their text starts where the line column does and must not be cut
    // there, so they get an empty line cell instead.
    bool label = lineColumn && static_cast<size_t>(marker - 1) <= line.size() && line[static_cast<size_t>(marker - 2)] != ' ';
    if (line.size() >= 9) line[8] = '\t';
    if (lineColumn && static_cast<size_t>(marker - 1) <= line.size()) {
      if (label)
        line.insert(9, 1, '\t');
      else
        line[static_cast<size_t>(marker - 2)] = '\t';
    }
    uint32_t colour = 0;
    if (marker > 0 && !label && static_cast<size_t>(marker) <= line.size()) {
      char& c = line[static_cast<size_t>(marker - 1)];
      if (c == '>') colour = kCrashLineRow;
      if (c == ' ' || c == '>') c = kNbsp;
    }
    size_t delimiter = line.find("; --");
    if (delimiter != std::string::npos) line.erase(delimiter + 2, 28);
    page.items.push_back(TItem{std::move(line), colour, false});
  }
  return page;
}

TDAPiece CutPieces(std::string_view text) {
  std::vector<std::string_view> lines = SplitLinesAtCr(text);
  auto hasText = [](std::string_view l) { return !l.empty() && !l.starts_with(">>"); };
  TDAPiece pieces;
  std::string current;
  for (size_t i = 0; i < lines.size(); ++i) {
    bool boundary = i > 0 && hasText(lines[i - 1]) && !hasText(lines[i]) && !lines[i].starts_with(">> created");
    if (boundary) {
      pieces.push_back(TPiece{std::move(current), {}});
      current.clear();
    } else if (i > 0) {
      current += "\r\n";
    }
    current += lines[i];
  }
  pieces.push_back(TPiece{std::move(current), {}});
  return pieces;
}

void AnalysePiece(TPiece& piece) {
  piece.separators = FindSeparatorColumns(piece.text, LineTable(piece.text), false);
  const std::vector<int32_t>& sep = piece.separators;
  const int32_t n = static_cast<int32_t>(sep.size());
  piece.module = 1;
  piece.relAddress = piece.unit = piece.line = piece.relLine = piece.function = -1;
  std::vector<std::string_view> lines = TextLines(piece.text);

  // "+1c": the offset into the routine, right after the address.
  if (n >= 2) {
    bool all = true;
    int checked = 0;
    for (std::string_view l : lines) {
      if (static_cast<int64_t>(l.size()) < sep[1] - 1) continue;
      ++checked;
      std::string_view digits = Columns(l, sep[0] + 2, sep[1] - 1);
      if (Columns(l, sep[0] + 1, sep[0] + 1) != "+" || digits.empty() ||
          !std::all_of(digits.begin(), digits.end(), IsHexDigit)) {
        all = false;
        break;
      }
    }
    if (all && checked > 0) {
      piece.relAddress = 1;
      piece.module = 2;
    }
  }
  if (piece.module > n) piece.module = -1;

  // The line number: blanks followed by digits only.
  for (int32_t k = piece.relAddress >= 0 ? 3 : 2; k <= n - 1; ++k) {
    bool last = k == n - 1;
    bool all = true;
    int checked = 0;
    for (std::string_view l : lines) {
      int64_t len = static_cast<int64_t>(l.size());
      if (len <= sep[k] || (!last && len < sep[k + 1] - 1)) continue;
      std::string_view cell = last ? Columns(l, sep[k] + 1, len - 1) : Columns(l, sep[k] + 1, sep[k + 1] - 1);
      size_t i = 0;
      while (i < cell.size() && cell[i] == ' ') ++i;
      size_t digits = i;
      while (i < cell.size() && IsDigit(cell[i])) ++i;
      if (i != cell.size()) {
        all = false;
        break;
      }
      if (i > digits) ++checked;
    }
    if (all && checked > 0) {
      piece.unit = k;
      piece.line = k + 1;
      int32_t rest = n - k - 1;
      if (rest >= 2) {
        piece.relLine = k + 2;
        piece.function = k + 3;
      } else if (rest == 1) {
        piece.function = k + 2;
      }
      return;
    }
  }

  // Without line numbers: the first column of plain identifiers is the routine (or unit and routine).
  if (n > (piece.relAddress >= 0 ? 2 : 1)) {
    for (int32_t j = piece.relAddress >= 0 ? 2 : 1; j <= n - 1; ++j) {
      bool all = true;
      for (std::string_view l : lines) {
        int64_t len = static_cast<int64_t>(l.size());
        if (len <= sep[j]) continue;
        std::string_view cell = j + 1 < n ? Columns(l, sep[j] + 1, sep[j + 1]) : Columns(l, sep[j] + 1, len);
        cell = TrimControls(cell, false);
        if (cell.empty() || IsIdentifier(cell) || StartsWithNoCase(cell, "public%") ||
            StartsWithNoCase(cell, "segment%"))
          continue;
        all = false;
        break;
      }
      if (all) {
        if (n - j == 2) {
          piece.unit = j + 1;
          piece.function = j + 2;
        } else {
          piece.function = j + 1;
        }
        return;
      }
    }
  }
}

ReportPage RenderCallStack(std::string_view text) {
  TDAPiece pieces = CutPieces(text);
  for (TPiece& p : pieces) AnalysePiece(p);
  auto any = [&](int32_t TPiece::*field) {
    return std::any_of(pieces.begin(), pieces.end(), [&](const TPiece& p) { return p.*field >= 0; });
  };
  // The shown columns, in their order, with the piece field that gives each.
  struct Shown {
    int32_t TPiece::*field;
    const char* caption;
  };
  std::vector<Shown> shown;
  const Shown all[] = {{&TPiece::relAddress, "|^ rel."}, {&TPiece::module, "|module"}, {&TPiece::unit, "|unit"},
                       {&TPiece::line, "| line"},         {&TPiece::relLine, "| rel."}, {&TPiece::function, "|function"}};
  std::string captions = "^address";
  for (const Shown& s : all)
    if (any(s.field)) {
      shown.push_back(s);
      captions += s.caption;
    }
  ReportPage page;
  page.columns = ParseColumnCaptions(captions);

  bool firstLine = true, previousEmpty = false;
  bool internalError = !pieces.empty() && pieces.front().text.starts_with(">> internal error");
  for (const TPiece& p : pieces) {
    const std::vector<int32_t>& sep = p.separators;
    const int32_t n = static_cast<int32_t>(sep.size());
    // The display column that runs to the end of the line: the rightmost one the piece has.
    int32_t lastShown = -1;
    for (const Shown& s : shown) lastShown = std::max(lastShown, p.*(s.field));
    for (std::string_view raw : SplitLinesAtCr(p.text)) {
      std::string_view trimmed = TrimControls(raw, false);
      if (trimmed.empty() || trimmed.starts_with(">>")) {
        bool headline = previousEmpty || (firstLine && !internalError);
        page.items.push_back(TItem{std::string(trimmed), kSpecialRow, headline});
        previousEmpty = trimmed.empty();
        firstLine = false;
        continue;
      }
      firstLine = false;
      previousEmpty = false;
      int64_t len = static_cast<int64_t>(raw.size());
      auto cellOf = [&](int32_t d, bool toEnd, int32_t endColumn) -> std::string {
        if (d < 0 || d > n) return {};
        int64_t from = d == 0 ? 1 : sep[static_cast<size_t>(d - 1)] + 1;
        int64_t to = toEnd || d == n ? len : sep[static_cast<size_t>(d)] - 1;
        if (endColumn >= 0 && endColumn <= n && endColumn > d) to = sep[static_cast<size_t>(endColumn - 1)] - 1;
        return std::string(TrimControls(Columns(raw, from, to), false));
      };
      std::string row = cellOf(0, n == 0, -1);
      for (const Shown& s : shown) {
        int32_t d = p.*(s.field);
        row += '\t';
        if (d < 0) continue;
        int32_t end = s.field == &TPiece::module ? p.unit : -1;
        row += cellOf(d, d == lastShown, end);
      }
      page.items.push_back(TItem{std::move(row), 0, false});
    }
  }
  return page;
}

ReportPage RenderAutomatic(std::string_view text) {
  ReportPage page;
  TDALine table = LineTable(text);
  int shortLines = 0, longLines = 0;
  for (const TLine& l : table) (l.length <= 80 ? shortLines : longLines)++;
  bool headers = text.starts_with('^');
  // "+"/"-" lists (the first line may start with "!") are shown in the fixed font, one column.
  bool mono = false;
  {
    bool allSigned = true;
    int signedLines = 0;
    std::vector<std::string_view> lines = SplitLinesAtCr(text);
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string_view l = lines[i];
      size_t first = l.find_first_not_of(' ');
      if (first == std::string_view::npos) continue;
      char c = l[first];
      bool ok = c == '+' || c == '-' || (i == 0 && first == 0 && c == '!');
      if (!ok) {
        allSigned = false;
        break;
      }
      ++signedLines;
    }
    mono = allSigned && signedLines > 0;
  }
  if (!((table.size() >= 2 && longLines * 5 < shortLines) || headers)) return page;
  page.mono = mono;
  page.columnHeaders = headers;

  std::string body(text);
  std::vector<int32_t> separators;
  int columnCount = 1;
  if (mono) {
    for (const TLine& l : table)
      if (l.length > 0 && body[static_cast<size_t>(l.start - 1)] == ' ') body[static_cast<size_t>(l.start - 1)] = kNbsp;
  } else if (body.find('\t') == std::string::npos) {
    separators = FindSeparatorColumns(body, table, true);
    columnCount = static_cast<int>(separators.size()) + 1;
  } else {
    for (std::string_view l : SplitLinesAtCr(body))
      columnCount = std::max(columnCount, static_cast<int>(std::count(l.begin(), l.end(), '\t')) + 1);
  }
  std::vector<std::string> lines = LineCellsFromColumns(body, separators, columnCount);
  page.columns.assign(static_cast<size_t>(columnCount), TColumn{});
  size_t first = 0;
  if (headers && !lines.empty()) {
    std::string_view captions = lines.front();
    if (captions.starts_with('^')) captions.remove_prefix(1);
    TColumns named;
    for (std::string_view caption : SplitAt(captions, '\t')) named.push_back(ParseCaption(caption));
    for (size_t i = 0; i < named.size() && i < page.columns.size(); ++i) page.columns[i] = named[i];
    first = 1;
  }
  for (size_t i = first; i < lines.size(); ++i) {
    TItem item{lines[i], 0, false};
    if (mono) {
      if (item.text.starts_with('+')) item.colour = kLightBlue;
      if (item.text.starts_with('!')) {
        item.colour = kLightRed;
        if (i == first) item.text.erase(0, 1);
      }
    }
    page.items.push_back(std::move(item));
  }
  return page;
}

}  // namespace rvx
