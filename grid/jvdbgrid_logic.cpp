#include "grid/jvdbgrid_logic.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace fw::jvgrid {

const char* const kGlyphNames[kGlyphCount] = {
    "JvDBGridBLOB",  "JvDBGridMEMO",     "JvDBGridPICT",  "JvDBGridOLE",     "JvDBGridOBJECT",    "JvDBGridDATA",
    "JvDBGridNOTEMPTY", "JvDBGridSMDOWN", "JvDBGridSMUP", "JvDBGridCHECKED", "JvDBGridUNCHECKED", "JvDBGridPOPUP",
};
const char* const kMultiSelectGlyphNames[2] = {"JvDBGridMSDOT", "JvDBGridMSARROW"};

CellColours DecideCellColours(const CellColourInput& in) {
  CellColours out{in.columnColor, in.columnFontColor};
  if (in.fixed) {
    out.background = in.fixedColor;
  } else if ((in.gridRow + in.fixedRows) % 2 != 0) {
    // The colour follows the screen row; a column with a colour of its own keeps it unless that colour is
    // the column's default.
    bool columnAllows = !in.columnColorAssigned || in.columnColor == in.columnDefaultColor;
    if (columnAllows && in.alternateRowColor != clNone && in.alternateRowColor != in.gridColor)
      out.background = in.alternateRowColor;
    if (columnAllows && in.alternateRowFontColor != clNone) out.font = in.alternateRowFontColor;
  }
  if (in.highlight) out = {clHighlight, clHighlightText};
  return out;
}

bool UseReadOnlyColour(const ReadOnlyColourInput& in) {
  if (in.readOnlyCellColor == clDefault || in.highlight || !in.hasField) return false;
  if (in.fieldEditable) return false;
  if (in.rowSelected && in.focused != in.multiSelect) return false;
  if (in.lookupKeyEditable) return false;
  return true;
}

bool IsStringType(TFieldType t) { return t == ftString || t == ftWideString || t == ftFixedChar; }

bool IsNumericLogicalType(TFieldType t) {
  switch (t) {
    case ftSmallint: case ftInteger: case ftWord: case ftBCD: case ftLargeint: case ftFMTBcd: return true;
    default: return false;
  }
}

bool MayBeLogicalLike(TFieldType t) { return t == ftString || t == ftWideString || IsNumericLogicalType(t); }

bool HasNoEditor(TFieldType t) {
  // Unknown, the binary family from bytes to cursor, ADT, and reference to Oracle clob.
  if (t == ftUnknown || t == ftADT) return true;
  if (t >= ftBytes && t <= ftCursor) return true;
  if (t >= ftReference && t <= ftOraClob) return true;
  return false;
}

int FieldGlyph(const GlyphInput& in) {
  if (!in.showGlyphs) return kGlyphNone;
  TFieldType t = in.type;
  if ((t == ftString || t == ftWideString) && in.logicalLike) {
    if (in.isNull) return kGlyphNone;
    return in.textIsFalse ? kGlyphUnchecked : kGlyphChecked;
  }
  if (IsNumericLogicalType(t) && in.logicalLike) {
    if (in.isNull) return kGlyphNone;
    return in.intValue != 0 ? kGlyphChecked : kGlyphUnchecked;
  }
  switch (t) {
    case ftBoolean:
      if (!in.booleanEditor || in.isNull) return kGlyphNone;
      return in.boolValue ? kGlyphChecked : kGlyphUnchecked;
    case ftBytes: case ftVarBytes: case ftBlob: case ftTypedBinary: case ftOraBlob: case ftOraClob:
      return kGlyphBlob;
    case ftMemo: case ftFmtMemo:
      return in.showMemos ? kGlyphNone : kGlyphMemo;
    case ftGraphic: return kGlyphPict;
    case ftParadoxOle: case ftDBaseOle: return kGlyphOle;
    case ftCursor: case ftReference: case ftDataSet: return kGlyphData;
    default: return kGlyphNone;
  }
}

int BoundColumnWidth(int width, int minWidth, int maxWidth) {
  if (maxWidth > 0 && width > maxWidth) width = maxWidth;
  if (minWidth > 0 && width < minWidth) width = minWidth;
  return width;
}

std::vector<int> AutoSizeWidths(const std::vector<int>& widths, int available, int index, int lineWidth) {
  std::vector<int> out = widths;
  int n = static_cast<int>(widths.size());
  if (n == 0) return out;
  int space = available - lineWidth * n;
  auto othersSum = [&](int except) {
    int s = 0;
    for (int i = 0; i < n; ++i)
      if (i != except) s += out[static_cast<size_t>(i)];
    return s;
  };
  if (index == -1) {
    long long sum = 0;
    for (int w : widths) sum += w;
    if (sum <= 0 || space == sum) return out;
    double factor = static_cast<double>(space) / static_cast<double>(sum);
    for (int i = 0; i + 1 < n; ++i)
      out[static_cast<size_t>(i)] = std::max(1, static_cast<int>(std::lround(widths[static_cast<size_t>(i)] * factor)));
    out[static_cast<size_t>(n - 1)] = std::max(1, space - othersSum(n - 1));
  } else if (index == -2) {
    out[static_cast<size_t>(n - 1)] = std::max(1, space - othersSum(n - 1));
  } else if (index >= 0 && index < n) {
    out[static_cast<size_t>(index)] = std::max(1, space - othersSum(index));
  }
  return out;
}

int FitWidth(int widestText, int overhang, int defaultColWidth) {
  return std::max(widestText + overhang + 11, defaultColWidth);
}

KeyAction DecideKey(unsigned short vk, const KeyContext& c) {
  constexpr unsigned short kBack = 0x08, kTab = 0x09, kEscape = 0x1B, kPrior = 0x21, kNext = 0x22, kEnd = 0x23,
                           kHome = 0x24, kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28, kInsert = 0x2D,
                           kDelete = 0x2E;
  (void)kBack;
  if (c.ctrl) {
    switch (vk) {
      case kPrior: case kNext: case kEnd: case kHome: case kUp: case kDown: return KeyAction::ClearThenFramework;
      case kLeft: return c.fixedCols >= 1 ? KeyAction::FirstFreeColumn : KeyAction::Framework;
      case kDelete: return KeyAction::Delete;
      default: return KeyAction::Framework;
    }
  }
  switch (vk) {
    case kHome:
      if (c.fixedCols > 0 && c.dataColumns > 1 && !c.rowSelect) return KeyAction::FirstFreeColumn;
      if (c.dataColumns == 1 || c.rowSelect) return KeyAction::ClearThenFramework;
      return KeyAction::Framework;
    case kEnd:
      return (c.dataColumns == 1 || c.rowSelect) ? KeyAction::ClearThenFramework : KeyAction::Framework;
    case kLeft:
      if (c.fixedCols > 0 && !c.rowSelect && c.atFirstFreeColumn) return KeyAction::Stop;
      return c.rowSelect ? KeyAction::ClearThenFramework : KeyAction::Framework;
    case kRight:
      return c.rowSelect ? KeyAction::ClearThenFramework : KeyAction::Framework;
    case kUp: return c.inserting ? KeyAction::Framework : KeyAction::MoveUp;
    case kDown: return c.inserting ? KeyAction::Framework : KeyAction::MoveDown;
    case kEscape: case kPrior: case kNext: return KeyAction::ClearThenFramework;
    case kInsert: return c.canInsert ? KeyAction::ClearThenFramework : KeyAction::Framework;
    case kTab: return c.alt ? KeyAction::Framework : KeyAction::Tab;
    default: return KeyAction::Framework;
  }
}

int WheelDistance(bool down, bool shift, bool ctrl, bool alt, int visibleRows) {
  int page = std::max(1, visibleRows - 1);
  int step;
  if (down) step = ctrl ? page : shift ? 1 : 2;
  else step = (ctrl && !shift && !alt) ? page : shift ? 1 : 2;
  return down ? step : -step;
}

bool InSearchSet(unsigned char c) {
  if (c == 8 || c == ' ' || c == '+' || c == ',' || c == '-' || c == '.') return true;
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  switch (c) {
    case 0xE0: case 0xE2: case 0xE4: case 0xE7: case 0xE8: case 0xE9: case 0xEA: case 0xEB: case 0xEE:
    case 0xEF: case 0xF4: case 0xF6: case 0xF9: case 0xFB:
      return true;
    default:
      return false;
  }
}

namespace {
unsigned char Lower(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);  // Latin-1 capitals
  return c;
}
}  // namespace

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Lower(static_cast<unsigned char>(text[i])) != Lower(static_cast<unsigned char>(prefix[i]))) return false;
  return true;
}

int PickListMatch(const std::vector<std::string>& items, std::string_view text) {
  for (size_t i = 0; i < items.size(); ++i)
    if (StartsWithIgnoringCase(items[i], text)) return static_cast<int>(i);
  return -1;
}

LogicalKey LogicalKeyOf(char key) {
  switch (key) {
    case 8: case '-': case '0': return LogicalKey::SetFalse;
    case ' ': return LogicalKey::Toggle;
    case '+': case '1': return LogicalKey::SetTrue;
    default: return LogicalKey::Ignore;
  }
}

Variant LogicalNewValue(int kind, LogicalKey action, const LogicalCurrent& cur, const std::string& trueText,
                        const std::string& falseText) {
  auto value = [&](bool v) -> Variant {
    if (kind == 0) return Variant(v ? trueText : falseText);
    if (kind == 1) return Variant(v);
    return Variant(static_cast<int64_t>(v ? 1 : 0));
  };
  switch (action) {
    case LogicalKey::SetTrue: return value(true);
    case LogicalKey::SetFalse: return value(false);
    case LogicalKey::Toggle:
      if (cur.isNull) {
        if (kind == 2) return Variant(static_cast<int64_t>(1));
        return value(false);
      }
      if (kind == 0) return Variant(SameTextIgnoringCase(cur.text, trueText) ? falseText : trueText);
      if (kind == 1) return Variant(!cur.boolValue);
      return Variant(static_cast<int64_t>(1 - std::llabs(cur.intValue)));
    case LogicalKey::Ignore: break;
  }
  return Variant();
}

int ChooseSortIndex(const std::vector<IndexChoice>& defs, std::string_view field, TSortMarker current) {
  bool currentDescending = current == smUp;
  int chosen = -1;
  for (size_t i = 0; i < defs.size(); ++i) {
    std::string_view list = defs[i].fieldList;
    bool contains = false;
    while (!list.empty()) {
      size_t semi = list.find(';');
      std::string_view part = list.substr(0, semi);
      while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
      while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
      if (SameTextIgnoringCase(part, field)) contains = true;
      if (semi == std::string_view::npos) break;
      list.remove_prefix(semi + 1);
    }
    if (!contains) continue;
    chosen = static_cast<int>(i);
    if (defs[i].descending != currentDescending) break;
  }
  return chosen;
}

TSortMarker NextSortMarker(bool sameField, TSortMarker current) {
  if (!sameField) return smUp;
  return current == smUp ? smDown : smUp;
}

std::string LayoutKey(std::string_view gridName, std::string_view fieldName) {
  return std::string(gridName) + "." + std::string(fieldName);
}

std::string LayoutValue(int index, int width) { return std::to_string(index) + "," + std::to_string(width); }

namespace {
std::optional<int> ParseInt(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  int v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}
}  // namespace

LayoutEntry ParseLayoutValue(std::string_view text, int currentIndex, int currentWidth) {
  LayoutEntry e{currentIndex, currentWidth, true};
  size_t comma = text.find(',');
  std::string_view first = text.substr(0, comma);
  std::string_view second = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  if (auto i = ParseInt(first)) e.index = *i;
  if (auto w = ParseInt(second)) {
    if (*w == -1) e.visible = false;
    else if (*w > 0) e.width = *w;
  }
  return e;
}

void TNamedValueStore::WriteString(const std::string& path, const std::string& name, const std::string& value) {
  values_[path][name] = value;
}

std::optional<std::string> TNamedValueStore::ReadString(const std::string& path, const std::string& name) const {
  auto p = values_.find(path);
  if (p == values_.end()) return std::nullopt;
  auto v = p->second.find(name);
  if (v == p->second.end()) return std::nullopt;
  return v->second;
}

int TNamedValueStore::Count(const std::string& path) const {
  auto p = values_.find(path);
  return p == values_.end() ? 0 : static_cast<int>(p->second.size());
}

int ChooserClientHeight(int items, int itemHeight, int clientHeight, int listClientHeight) {
  int need = items * itemHeight;
  if (need >= 400) return 400;
  if (itemHeight <= 0) return clientHeight;
  while (listClientHeight < need) {
    clientHeight += itemHeight;
    listClientHeight += itemHeight;
  }
  return clientHeight;
}

}  // namespace fw::jvgrid
