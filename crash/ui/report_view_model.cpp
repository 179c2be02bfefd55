#include "crash/ui/report_view_model.h"

#include <algorithm>

#include "crash/delivery/fields.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {

bool HasDollar(const std::string& name) { return name.find('$') != std::string::npos; }

std::string TabNameOf(const std::string& section) {
  if (section == "cpu registers") return "cpu regs";
  if (section == "disassembling") return "disasm";
  return section;
}

// Upper case in the ANSI code page (Western): ASCII and the accented letters.
char UpperChar(char ch) {
  auto u = static_cast<unsigned char>(ch);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 32);
  return ch;
}

}  // namespace

void SplitReportText(std::string_view report, NamedTexts& header, NamedTexts& sections) {
  header.clear();
  sections.clear();
  std::vector<std::string_view> lines = SplitLinesAtCr(report);
  size_t i = 0;
  for (; i < lines.size() && !lines[i].empty(); ++i) {
    std::string_view l = lines[i];
    size_t colon = l.find(" : ");
    size_t valueAt = colon == std::string_view::npos ? l.npos : colon + 3;
    if (colon == std::string_view::npos) {
      colon = l.find(": ");
      valueAt = colon == std::string_view::npos ? l.npos : colon + 2;
    }
    if (colon == std::string_view::npos) {
      header.emplace_back(std::string(TrimControls(l, false)), std::string());
      continue;
    }
    header.emplace_back(std::string(TrimControls(l.substr(0, colon), false)), std::string(l.substr(valueAt)));
  }
  while (i < lines.size()) {
    // An empty line, the title, the content lines up to the next empty line.
    while (i < lines.size() && lines[i].empty()) ++i;
    if (i >= lines.size()) break;
    std::string name(lines[i++]);
    if (name.ends_with(':') && name.find(':') == name.size() - 1) name.pop_back();
    std::string content;
    bool first = true;
    for (; i < lines.size() && !lines[i].empty(); ++i) {
      if (!first) content += "\r\n";
      first = false;
      if (lines[i] != ".") content += lines[i];
    }
    sections.emplace_back(std::move(name), std::move(content));
  }
}

std::vector<std::string> WantedTabs(const NamedTexts& sections) {
  std::vector<std::string> tabs{"general", "call stack"};
  if (sections.size() > 1 && HasDollar(sections[1].first)) tabs[1] += "s";
  bool threads = true;
  for (size_t i = 1; i < sections.size(); ++i) {
    if (threads && HasDollar(sections[i].first)) continue;
    threads = false;
    tabs.push_back(TabNameOf(sections[i].first));
  }
  return tabs;
}

std::vector<TabEdit> PlanTabEdits(const std::vector<std::string>& existing, const std::vector<std::string>& wanted) {
  std::vector<TabEdit> edits;
  std::vector<std::string> tabs = existing;
  for (int i = static_cast<int>(tabs.size()) - 1; i >= 0; --i) {
    if (std::find(wanted.begin(), wanted.end(), tabs[static_cast<size_t>(i)]) != wanted.end()) continue;
    edits.push_back({TabEdit::Delete, i, {}});
    tabs.erase(tabs.begin() + i);
  }
  // Kept tabs that stand out of order (or repeat) are replaced, so the row always ends up as wanted.
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (i < tabs.size() && tabs[i] == wanted[i]) continue;
    edits.push_back({TabEdit::Insert, static_cast<int>(i), wanted[i]});
    tabs.insert(tabs.begin() + static_cast<std::ptrdiff_t>(i), wanted[i]);
  }
  for (int i = static_cast<int>(tabs.size()) - 1; i >= static_cast<int>(wanted.size()); --i)
    edits.push_back({TabEdit::Delete, i, {}});
  return edits;
}

void ApplyTabEdits(std::vector<std::string>& tabs, const std::vector<TabEdit>& edits) {
  for (const TabEdit& e : edits) {
    if (e.kind == TabEdit::Delete) {
      if (e.index >= 0 && static_cast<size_t>(e.index) < tabs.size()) tabs.erase(tabs.begin() + e.index);
    } else {
      size_t at = std::min(static_cast<size_t>(std::max(e.index, 0)), tabs.size());
      tabs.insert(tabs.begin() + static_cast<std::ptrdiff_t>(at), e.text);
    }
  }
}

int ThreadSectionCount(const NamedTexts& sections) {
  if (sections.empty()) return 0;
  int n = 1;
  while (static_cast<size_t>(n) < sections.size() && HasDollar(sections[static_cast<size_t>(n)].first)) ++n;
  return n;
}

std::string PageText(int index, const NamedTexts& header, const NamedTexts& sections, std::string* sectionName) {
  if (sectionName) sectionName->clear();
  std::string text;
  if (index == 0) {
    for (size_t i = 0; i < header.size(); ++i) {
      if (i) text += "\r\n";
      text += header[i].first + "\t" + header[i].second;
    }
  } else if (index == 1) {
    int threads = ThreadSectionCount(sections);
    for (int i = 0; i < threads; ++i) {
      if (i) text += "\r\n\r\n";
      text += ">> " + sections[static_cast<size_t>(i)].first + "\r\n" + sections[static_cast<size_t>(i)].second;
    }
  } else if (index >= 2) {
    size_t at = static_cast<size_t>(index) + static_cast<size_t>(ThreadSectionCount(sections)) - 2;
    if (at < sections.size()) {
      text = sections[at].second;
      if (sectionName) *sectionName = sections[at].first;
    }
  }
  return text;
}

std::optional<ReportPage> ReportPageState::Refresh(int index, const NamedTexts& header, const NamedTexts& sections) {
  std::string name;
  std::string text = index >= 0 ? PageText(index, header, sections, &name) : std::string();
  if (index == index_ && text == text_) return std::nullopt;
  index_ = index;
  text_ = text;
  if (index < 0) return ReportPage{};
  return RenderPage(ChooseRenderer(index, name, text), text);
}

std::vector<std::string> RowCells(std::string_view rowText, const TColumns& columns) {
  std::vector<std::string> cells;
  if (rowText.starts_with(">>")) rowText = ">>";
  for (size_t c = 0; c < columns.size(); ++c) {
    std::string_view cell;
    if (c + 1 < columns.size()) {
      size_t tab = rowText.find('\t');
      cell = rowText.substr(0, tab);
      rowText = tab == std::string_view::npos ? std::string_view() : rowText.substr(tab + 1);
    } else {
      cell = rowText;
    }
    std::string text(TrimControls(cell, false));
    if (columns[c].upperCase)
      for (char& ch : text) ch = UpperChar(ch);
    cells.push_back(std::move(text));
  }
  return cells;
}

std::optional<std::string> JumpText(const TItems& items, const TColumns& columns, int row) {
  if (row < 1 || static_cast<size_t>(row) >= items.size()) return std::nullopt;
  std::string text;
  std::vector<std::string> cells = RowCells(items[static_cast<size_t>(row)].text, columns);
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i) text += ' ';
    text += cells[i].substr(0, kCellTextLimit - 1);
  }
  std::replace(text.begin(), text.end(), '\t', ' ');
  if (TrimControls(text, false).empty() || text == ">") return std::nullopt;
  return text;
}

NamedTexts ReadFields(IRVFields* fields) {
  NamedTexts out;
  if (!fields) return out;
  fields->Lock();
  for (int i = 0, n = fields->Count(); i < n; ++i) {
    std::string name = fields->ItemName(i);
    std::string content;
    fields->GetContent(name, content);
    out.emplace_back(std::move(name), std::move(content));
  }
  fields->Unlock();
  return out;
}

uint32_t CellBackground(int column, int columnCount, uint32_t rowColour, bool selected, bool lowColour) {
  uint32_t colour = kWhite;
  if (rowColour != 0)
    colour = rowColour;
  else if (columnCount > 1 && column % 4 == 0)
    colour = kLightBlue;
  else if (columnCount > 1 && column % 4 == 2)
    colour = kLightRed;
  if (lowColour) {
    switch (colour) {
      case kCrashLineRow: return selected ? 0x000080 : 0x0000FF;
      case kLightRed: return selected ? 0x808000 : 0xFFFF80;
      case kLightBlue: return selected ? 0x008080 : 0xC0FFFF;
      case kWhite: return selected ? 0xC0C0C0 : kWhite;
      default: return colour;
    }
  }
  if (!selected) return colour;
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    uint32_t channel = (colour >> shift) & 0xFF;
    out |= (channel >= 0x10 ? channel - 0x10 : 0) << shift;
  }
  return out;
}

bool ShowsSelection(const TItem& item, bool listSelected) { return listSelected && item.colour != kSpecialRow; }

RowEdge RowEdgeOf(const TItems& items, int row, bool selected, bool lowColour) {
  RowEdge edge;
  if (row < 0 || static_cast<size_t>(row) >= items.size()) return edge;
  if (selected) return {RowEdge::Frame, lowColour ? 0x808080u : 0xB0B0B0u};
  bool last = static_cast<size_t>(row) + 1 == items.size();
  if (last || !items[static_cast<size_t>(row) + 1].headline) return {RowEdge::BottomLine, lowColour ? kWhite : 0xE0E0E0u};
  return edge;
}

bool IsPathText(std::string_view text) {
  if (text.size() < 3) return false;
  char c = text[0];
  bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return letter && text[1] == ':' && text[2] == '\\';
}

std::string MarkerRowText(std::string_view itemText) {
  return itemText.size() > 3 ? std::string(itemText.substr(3)) : std::string();
}

uint32_t HeadlineRuleColour(bool selected) { return selected ? 0xA0A0A0 : 0xC0C0C0; }

}  // namespace rvx
