// The report view's reading of report text on arbitrary bytes: the text is taken as a whole report (tabs and
// every page through its renderer) and as the text of each kind of page. Separators must lie inside the
// longest line in ascending order, every row must cut into exactly one cell per column, and the tab edits
// must always end with the wanted tabs.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crash/ui/report_view_model.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckPage(const rvx::ReportPage& page) {
  for (const rvx::TItem& item : page.items) {
    Check(rvx::RowCells(item.text, page.columns).size() == page.columns.size());
    for (size_t c = 0; c < page.columns.size(); ++c)
      rvx::CellBackground(static_cast<int>(c), static_cast<int>(page.columns.size()), item.colour, c % 2, c % 3 == 0);
  }
  for (int row = -1; row <= static_cast<int>(page.items.size()); ++row) {
    rvx::JumpText(page.items, page.columns, row);
    rvx::RowEdgeOf(page.items, row, row % 2 == 0, false);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  for (bool ignoreSingle : {false, true}) {
    std::string copy = text;
    rvx::TDALine lines = rvx::LineTable(copy);
    int32_t longest = 0;
    for (const rvx::TLine& l : lines) longest = std::max(longest, l.length);
    std::vector<int32_t> separators = rvx::FindSeparatorColumns(copy, lines, ignoreSingle);
    for (size_t i = 0; i < separators.size(); ++i) {
      Check(separators[i] >= 2 && separators[i] <= longest - 1);
      Check(i == 0 || separators[i] > separators[i - 1] + 1);
    }
    Check(copy.size() == text.size());
    rvx::LineCellsFromColumns(copy, separators, static_cast<int>(separators.size()) + 1);
  }

  for (rvx::RendererKind kind : {rvx::RendererKind::Header, rvx::RendererKind::CallStack, rvx::RendererKind::Registers,
                                 rvx::RendererKind::StackDump, rvx::RendererKind::Modules, rvx::RendererKind::Processes,
                                 rvx::RendererKind::Disassembly, rvx::RendererKind::Automatic})
    CheckPage(rvx::RenderPage(kind, text));

  rvx::NamedTexts header, sections;
  rvx::SplitReportText(text, header, sections);
  std::vector<std::string> wanted = rvx::WantedTabs(sections);
  std::vector<std::string> tabs{"general", "disasm", "call stack", "x"};
  rvx::ApplyTabEdits(tabs, rvx::PlanTabEdits(tabs, wanted));
  Check(tabs == wanted);
  rvx::ReportPageState state;
  for (int index = -1; index <= static_cast<int>(wanted.size()); ++index) {
    std::optional<rvx::ReportPage> page = state.Refresh(index, header, sections);
    Check(page.has_value() || index == -1);
    if (page) CheckPage(*page);
  }
  return 0;
}
