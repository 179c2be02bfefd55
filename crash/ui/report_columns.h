// Turning plain report text back into table rows: the line table of a text, separator columns that line up
// across lines, cells cut at those columns, and the column caption texts of the report view's lists.
// Portable: no system calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rvx {

// One list-view column: caption, alignment (0 left, 1 right, 2 centre), cell texts shown in upper case.
struct TColumn {
  std::string caption;
  int32_t alignment = 0;
  bool upperCase = false;
  friend bool operator==(const TColumn&, const TColumn&) = default;
};
using TColumns = std::vector<TColumn>;

// Row colours: 0 = none (banded columns), kSpecialRow = a thread headline or gap row that never shows a
// selection, anything else is the row's background (colour references, red in the low byte).
constexpr uint32_t kSpecialRow = 0xFFFFFF;
constexpr uint32_t kCrashLineRow = 0xD0D0FF;
constexpr uint32_t kLightBlue = 0xFFF8F0;
constexpr uint32_t kLightRed = 0xF4F4FF;

// One list row: cells separated by TAB, its colour and whether it is drawn as a bold headline with a rule.
struct TItem {
  std::string text;
  uint32_t colour = 0;
  bool headline = false;
  friend bool operator==(const TItem&, const TItem&) = default;
};
using TItems = std::vector<TItem>;

// Start (from 1) and length of every line of a text; lines end at CR (an LF right after it is skipped).
// A line beginning with ">>" is a marker line and has the length -1.
struct TLine {
  int32_t start = 0;
  int32_t length = 0;
};
using TDALine = std::vector<TLine>;

TDALine LineTable(std::string_view text);

// "a|^b| c": captions separated by "|"; "^" in front asks for upper case, a blank after that for right
// alignment.
TColumns ParseColumnCaptions(std::string_view captions);
// One caption of such a text (or of a list's own caption line) with its prefixes.
TColumn ParseCaption(std::string_view caption);

// The columns (from 1, within a line) at which every line that reaches them has the same blank, "=", "|" or
// ": " as the longest line. A run of neighbouring columns gives its last one. The separator characters are
// turned into blanks in `text`. With `ignoreSingleLines`, a column of a text with several non-empty lines
// counts only when at least two lines really change cells there (a non-blank, or a blank followed by a
// non-blank); marker lines never count.
std::vector<int32_t> FindSeparatorColumns(std::string& text, const TDALine& lines, bool ignoreSingleLines);

// The lines of a text (split at CR, leading LF and surrounding control characters and blanks other than TAB
// removed) with a TAB at each of the first columnCount - 1 separator positions that lie inside the line.
std::vector<std::string> LineCellsFromColumns(std::string_view text, const std::vector<int32_t>& separators,
                                              int columnCount);

// The lines of a text split at CR, each without the LF that follows the previous CR.
std::vector<std::string_view> SplitLinesAtCr(std::string_view text);

// The parts of a text between delimiters (one part when there is none).
std::vector<std::string_view> SplitAt(std::string_view text, char delimiter);

// Trims characters 0..32 at both ends; with keepTabs a TAB is kept as text.
std::string_view TrimControls(std::string_view text, bool keepTabs);

bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace rvx
