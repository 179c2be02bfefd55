// What the report view shows, without any window: the tabs a report asks for (header, all call stacks, every
// further section) and the edits that bring an existing tab row there, the text and renderer of each tab,
// whether a page must be rebuilt, the cells of a list row, how a row is painted (banded column colours,
// special rows, frames and rules, reduced-colour screens) and the text of a development environment jump.
// Portable: no system calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crash/core/bugreport.h"
#include "crash/core/ide_link.h"
#include "crash/ui/report_renderers.h"

namespace rvx {

// A rendered report read back into header items and sections (the inverse of RenderReport as far as the
// text allows: "." lines become empty lines again).
void SplitReportText(std::string_view report, NamedTexts& header, NamedTexts& sections);

// The items of a header or section list as they are now, read under the list's lock.
class IRVFields;
NamedTexts ReadFields(IRVFields* fields);

// ---- tabs ---------------------------------------------------------------------------------------------

// "general", "call stack" or "call stacks", then one name per section after the thread sections.
std::vector<std::string> WantedTabs(const NamedTexts& sections);

struct TabEdit {
  enum Kind { Delete, Insert } kind;
  int index;
  std::string text;  // for Insert
  friend bool operator==(const TabEdit&, const TabEdit&) = default;
};
// The edits, in order, that turn the tab row `existing` into `wanted`: tabs whose text is not wanted go
// (from the last one to the first), then every missing name is inserted at its place.
std::vector<TabEdit> PlanTabEdits(const std::vector<std::string>& existing, const std::vector<std::string>& wanted);
void ApplyTabEdits(std::vector<std::string>& tabs, const std::vector<TabEdit>& edits);

// The number of thread sections: the first section and every following one whose name holds "$".
int ThreadSectionCount(const NamedTexts& sections);

// The text of tab `index` and the name of its section (empty for the first two tabs).
std::string PageText(int index, const NamedTexts& header, const NamedTexts& sections, std::string* sectionName);

// The page state of a view: which tab is shown with which text. Refresh answers the new page when the tab or
// its text changed, nothing otherwise; index -1 drops the page (answered as an empty page).
class ReportPageState {
 public:
  std::optional<ReportPage> Refresh(int index, const NamedTexts& header, const NamedTexts& sections);
  int Index() const { return index_; }
  const std::string& Text() const { return text_; }

 private:
  int index_ = -1;
  std::string text_;
};

// ---- rows ---------------------------------------------------------------------------------------------

// The cells of a row as the list holds them: one per column, each but the last ending at the first TAB, a
// marker row (">>...") reduced to ">>", trimmed and upper-cased by its column.
std::vector<std::string> RowCells(std::string_view rowText, const TColumns& columns);

// Cell texts are read back from the list with at most this many characters.
constexpr size_t kCellTextLimit = 260;

// The text sent to the development environment for a double-click on row `row` of the call stack list; none
// for the first row, rows outside the list and empty or ">" texts. TABs become blanks.
std::optional<std::string> JumpText(const TItems& items, const TColumns& columns, int row);

// The environment's message window: IdeJumpWindowPrefix, IsIdeJumpWindowClass (crash/core/ide_link.h).

// ---- painting -----------------------------------------------------------------------------------------

constexpr uint32_t kWhite = 0xFFFFFF;

// Background of cell `column` of a row with `rowColour` in a list of `columnCount` columns. lowColour: the
// screen has fewer than 15 bits per pixel.
uint32_t CellBackground(int column, int columnCount, uint32_t rowColour, bool selected, bool lowColour);

// How a row ends: a frame when selected, a 1-pixel line at its bottom when it is the last row or the next row
// is no headline, nothing else.
struct RowEdge {
  enum Kind { None, Frame, BottomLine } kind = None;
  uint32_t colour = 0;
};
RowEdge RowEdgeOf(const TItems& items, int row, bool selected, bool lowColour);

// Special rows are never shown selected.
bool ShowsSelection(const TItem& item, bool listSelected);

// A text drawn with the path ellipsis: at least three characters, a letter, ":" and "\".
bool IsPathText(std::string_view text);

// The text of a marker row as painted across the row (its own text without ">> "), and its colours.
std::string MarkerRowText(std::string_view itemText);
constexpr uint32_t kMarkerTextColour = 0x606060;
uint32_t HeadlineRuleColour(bool selected);

}  // namespace rvx
