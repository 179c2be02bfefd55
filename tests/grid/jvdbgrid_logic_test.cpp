// The grid's window-free decisions: colours, glyphs, widths, keys, wheel, search, check boxes, sorting and the
// stored layout.
#include <gtest/gtest.h>

#include "grid/jvdbgrid_logic.h"

using namespace fw;
using namespace fw::jvgrid;

namespace {
CellColourInput DataCell(int gridRow) {
  CellColourInput in;
  in.gridRow = gridRow;
  in.fixedRows = 1;
  in.alternateRowColor = 0xCCCCCC;
  in.alternateRowFontColor = clRed;
  return in;
}
}  // namespace

TEST(CellColours, AlternateRowsFollowTheScreenRowAndRespectColumnColours) {
  // With one title row, screen rows 2, 4, ... are the second, fourth data rows.
  EXPECT_EQ(DecideCellColours(DataCell(1)).background, clWindow);
  EXPECT_EQ(DecideCellColours(DataCell(2)).background, 0xCCCCCC);
  EXPECT_EQ(DecideCellColours(DataCell(2)).font, clRed);
  EXPECT_EQ(DecideCellColours(DataCell(3)).background, clWindow);

  // The alternate colour is ignored when it equals the grid's colour or is clNone.
  auto same = DataCell(2);
  same.alternateRowColor = clWindow;
  EXPECT_EQ(DecideCellColours(same).background, clWindow);
  auto none = DataCell(2);
  none.alternateRowColor = clNone;
  none.alternateRowFontColor = clNone;
  EXPECT_EQ(DecideCellColours(none).background, clWindow);
  EXPECT_EQ(DecideCellColours(none).font, clWindowText);

  // A column with its own colour keeps it, unless that colour is the column's default.
  auto own = DataCell(2);
  own.columnColorAssigned = true;
  own.columnColor = clYellow;
  EXPECT_EQ(DecideCellColours(own).background, clYellow);
  EXPECT_EQ(DecideCellColours(own).font, clWindowText);
  own.columnColor = own.columnDefaultColor;
  EXPECT_EQ(DecideCellColours(own).background, 0xCCCCCC);

  // Frozen cells take the fixed colour; highlight wins over everything.
  auto fixed = DataCell(2);
  fixed.fixed = true;
  EXPECT_EQ(DecideCellColours(fixed).background, clBtnFace);
  auto hi = DataCell(2);
  hi.highlight = true;
  EXPECT_EQ(DecideCellColours(hi).background, clHighlight);
  EXPECT_EQ(DecideCellColours(hi).font, clHighlightText);
}

TEST(CellColours, ReadOnlyColourOnlyForCellsThatCannotBeEdited) {
  ReadOnlyColourInput in;
  in.readOnlyCellColor = clSilver;
  in.hasField = true;
  EXPECT_TRUE(UseReadOnlyColour(in));
  in.fieldEditable = true;
  EXPECT_FALSE(UseReadOnlyColour(in));
  in.fieldEditable = false;
  in.readOnlyCellColor = clDefault;
  EXPECT_FALSE(UseReadOnlyColour(in));
  in.readOnlyCellColor = clSilver;
  in.highlight = true;
  EXPECT_FALSE(UseReadOnlyColour(in));
  in.highlight = false;
  in.lookupKeyEditable = true;
  EXPECT_FALSE(UseReadOnlyColour(in));
  in.lookupKeyEditable = false;
  // A selected row keeps its colour when the focus state differs from the multi-select mode.
  in.rowSelected = true;
  in.focused = true;
  EXPECT_FALSE(UseReadOnlyColour(in));
  in.multiSelect = true;
  EXPECT_TRUE(UseReadOnlyColour(in));
}

TEST(FieldGlyphs, ByTypeValueAndOptions) {
  GlyphInput b;
  b.type = ftBoolean;
  b.logicalLike = true;
  b.isNull = true;
  EXPECT_EQ(FieldGlyph(b), kGlyphNone);  // null logical: neither box
  b.isNull = false;
  b.boolValue = true;
  EXPECT_EQ(FieldGlyph(b), kGlyphChecked);
  b.boolValue = false;
  EXPECT_EQ(FieldGlyph(b), kGlyphUnchecked);
  b.booleanEditor = false;
  EXPECT_EQ(FieldGlyph(b), kGlyphNone);

  GlyphInput s;
  s.type = ftString;
  s.logicalLike = true;
  s.textIsFalse = true;
  EXPECT_EQ(FieldGlyph(s), kGlyphUnchecked);
  s.textIsFalse = false;
  EXPECT_EQ(FieldGlyph(s), kGlyphChecked);
  s.logicalLike = false;
  EXPECT_EQ(FieldGlyph(s), kGlyphNone);

  GlyphInput n;
  n.type = ftInteger;
  n.logicalLike = true;
  n.intValue = -3;
  EXPECT_EQ(FieldGlyph(n), kGlyphChecked);
  n.intValue = 0;
  EXPECT_EQ(FieldGlyph(n), kGlyphUnchecked);

  GlyphInput m;
  m.type = ftMemo;
  EXPECT_EQ(FieldGlyph(m), kGlyphNone);
  m.showMemos = false;
  EXPECT_EQ(FieldGlyph(m), kGlyphMemo);

  for (TFieldType t : {ftBytes, ftVarBytes, ftBlob, ftTypedBinary, ftOraBlob, ftOraClob}) {
    GlyphInput g;
    g.type = t;
    EXPECT_EQ(FieldGlyph(g), kGlyphBlob) << int(t);
  }
  GlyphInput g;
  g.type = ftGraphic;
  EXPECT_EQ(FieldGlyph(g), kGlyphPict);
  g.type = ftDBaseOle;
  EXPECT_EQ(FieldGlyph(g), kGlyphOle);
  g.type = ftDataSet;
  EXPECT_EQ(FieldGlyph(g), kGlyphData);
  g.type = ftFloat;
  EXPECT_EQ(FieldGlyph(g), kGlyphNone);
  g.type = ftBlob;
  g.showGlyphs = false;
  EXPECT_EQ(FieldGlyph(g), kGlyphNone);

  EXPECT_STREQ(kGlyphNames[kGlyphPopup], "JvDBGridPOPUP");
  EXPECT_STREQ(kGlyphNames[kGlyphSortDown], "JvDBGridSMDOWN");
}

TEST(FieldTypes, EditorsAndLogicalCandidates) {
  EXPECT_TRUE(HasNoEditor(ftBlob));
  EXPECT_TRUE(HasNoEditor(ftGraphic));
  EXPECT_TRUE(HasNoEditor(ftUnknown));
  EXPECT_TRUE(HasNoEditor(ftOraClob));
  EXPECT_FALSE(HasNoEditor(ftString));
  EXPECT_FALSE(HasNoEditor(ftFloat));
  EXPECT_FALSE(HasNoEditor(ftBoolean));
  EXPECT_TRUE(MayBeLogicalLike(ftInteger));
  EXPECT_TRUE(MayBeLogicalLike(ftString));
  EXPECT_FALSE(MayBeLogicalLike(ftFloat));
  EXPECT_FALSE(MayBeLogicalLike(ftMemo));
}

TEST(ColumnWidths, BoundsAndAutomaticSizing) {
  EXPECT_EQ(BoundColumnWidth(150, 0, 100), 100);
  EXPECT_EQ(BoundColumnWidth(20, 30, 0), 30);
  EXPECT_EQ(BoundColumnWidth(50, 0, 0), 50);

  // -1 scales every column; the last takes the remainder so the sum fills the space exactly.
  std::vector<int> w = AutoSizeWidths({50, 100, 50}, 403, -1, 1);
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[0] + w[1] + w[2], 400);
  EXPECT_EQ(w[0], 100);
  EXPECT_EQ(w[1], 200);
  // Nothing to do when the columns already fill the space.
  EXPECT_EQ(AutoSizeWidths({50, 50}, 102, -1, 1), (std::vector<int>{50, 50}));
  // -2: the last column takes what is left; n: that column.
  EXPECT_EQ(AutoSizeWidths({50, 50, 50}, 303, -2, 1), (std::vector<int>{50, 50, 200}));
  EXPECT_EQ(AutoSizeWidths({50, 50, 50}, 303, 0, 1), (std::vector<int>{200, 50, 50}));
  // A column index past the last visible column changes nothing; widths never drop below 1.
  EXPECT_EQ(AutoSizeWidths({50, 50}, 303, 5, 1), (std::vector<int>{50, 50}));
  EXPECT_EQ(AutoSizeWidths({50, 50}, 40, -2, 1), (std::vector<int>{50, 1}));
  EXPECT_TRUE(AutoSizeWidths({}, 100, -1, 1).empty());

  EXPECT_EQ(FitWidth(40, 0, 64), 64);
  EXPECT_EQ(FitWidth(100, 1, 64), 112);
}

TEST(Keys, DecisionTable) {
  KeyContext c;
  c.dataColumns = 3;
  EXPECT_EQ(DecideKey(0x28, c), KeyAction::MoveDown);
  EXPECT_EQ(DecideKey(0x26, c), KeyAction::MoveUp);
  c.inserting = true;
  EXPECT_EQ(DecideKey(0x28, c), KeyAction::Framework);  // Up/Down while inserting go to the framework
  EXPECT_EQ(DecideKey(0x26, c), KeyAction::Framework);
  c.inserting = false;
  EXPECT_EQ(DecideKey(0x09, c), KeyAction::Tab);
  c.alt = true;
  EXPECT_EQ(DecideKey(0x09, c), KeyAction::Framework);
  c.alt = false;
  EXPECT_EQ(DecideKey(0x1B, c), KeyAction::ClearThenFramework);
  EXPECT_EQ(DecideKey(0x2D, c), KeyAction::Framework);  // Insert only when the grid can insert
  c.canInsert = true;
  EXPECT_EQ(DecideKey(0x2D, c), KeyAction::ClearThenFramework);
  EXPECT_EQ(DecideKey(0x24, c), KeyAction::Framework);
  c.fixedCols = 1;
  EXPECT_EQ(DecideKey(0x24, c), KeyAction::FirstFreeColumn);
  c.atFirstFreeColumn = true;
  EXPECT_EQ(DecideKey(0x25, c), KeyAction::Stop);
  c.rowSelect = true;
  EXPECT_EQ(DecideKey(0x25, c), KeyAction::ClearThenFramework);
  EXPECT_EQ(DecideKey(0x23, c), KeyAction::ClearThenFramework);

  KeyContext ctrl;
  ctrl.ctrl = true;
  EXPECT_EQ(DecideKey(0x2E, ctrl), KeyAction::Delete);
  EXPECT_EQ(DecideKey(0x28, ctrl), KeyAction::ClearThenFramework);
  EXPECT_EQ(DecideKey(0x25, ctrl), KeyAction::Framework);
  ctrl.fixedCols = 2;
  EXPECT_EQ(DecideKey(0x25, ctrl), KeyAction::FirstFreeColumn);
  EXPECT_EQ(DecideKey('A', ctrl), KeyAction::Framework);
}

TEST(Wheel, StepsByModifiers) {
  EXPECT_EQ(WheelDistance(true, false, false, false, 10), 2);
  EXPECT_EQ(WheelDistance(false, false, false, false, 10), -2);
  EXPECT_EQ(WheelDistance(true, true, false, false, 10), 1);
  EXPECT_EQ(WheelDistance(true, false, true, false, 10), 9);
  // Ctrl+Shift: down pages, up moves one record.
  EXPECT_EQ(WheelDistance(true, true, true, false, 10), 9);
  EXPECT_EQ(WheelDistance(false, true, true, false, 10), -1);
  EXPECT_EQ(WheelDistance(false, false, true, false, 10), -9);
  EXPECT_EQ(WheelDistance(true, false, true, false, 1), 1);
}

TEST(Search, CharacterSetAndPickList) {
  for (unsigned char c : std::string("\b +,-.09AZaz"))
    EXPECT_TRUE(InSearchSet(c)) << int(c);
  for (unsigned char c : {0xE0, 0xE7, 0xE9, 0xFB}) EXPECT_TRUE(InSearchSet(c)) << int(c);
  for (unsigned char c : std::string("!@#/\r\x1b")) EXPECT_FALSE(InSearchSet(c)) << int(c);
  EXPECT_FALSE(InSearchSet(0xC7));  // capital C cedilla is not in the set

  std::vector<std::string> items{"Apple", "Apricot", "banana"};
  EXPECT_EQ(PickListMatch(items, "ap"), 0);
  EXPECT_EQ(PickListMatch(items, "APR"), 1);
  EXPECT_EQ(PickListMatch(items, "B"), 2);
  EXPECT_EQ(PickListMatch(items, "c"), -1);
  EXPECT_EQ(PickListMatch(items, ""), 0);
  EXPECT_TRUE(SameTextIgnoringCase("\xC7" "A", "\xE7" "a"));
}

TEST(LogicalEditing, KeysAndValues) {
  EXPECT_EQ(LogicalKeyOf(' '), LogicalKey::Toggle);
  EXPECT_EQ(LogicalKeyOf('+'), LogicalKey::SetTrue);
  EXPECT_EQ(LogicalKeyOf('1'), LogicalKey::SetTrue);
  EXPECT_EQ(LogicalKeyOf('-'), LogicalKey::SetFalse);
  EXPECT_EQ(LogicalKeyOf('0'), LogicalKey::SetFalse);
  EXPECT_EQ(LogicalKeyOf('\b'), LogicalKey::SetFalse);
  EXPECT_EQ(LogicalKeyOf('x'), LogicalKey::Ignore);

  LogicalCurrent null;
  // Space on a null logical field stores False; on the result, True.
  EXPECT_TRUE(LogicalNewValue(1, LogicalKey::Toggle, null, "1", "0") == Variant(false));
  LogicalCurrent f;
  f.isNull = false;
  f.boolValue = false;
  EXPECT_TRUE(LogicalNewValue(1, LogicalKey::Toggle, f, "1", "0") == Variant(true));
  // Strings: null toggles to the false text; the true text (any case) to false, anything else to true.
  EXPECT_TRUE(LogicalNewValue(0, LogicalKey::Toggle, null, "S", "N") == Variant("N"));
  LogicalCurrent s;
  s.isNull = false;
  s.text = "s";
  EXPECT_TRUE(LogicalNewValue(0, LogicalKey::Toggle, s, "S", "N") == Variant("N"));
  s.text = "maybe";
  EXPECT_TRUE(LogicalNewValue(0, LogicalKey::Toggle, s, "S", "N") == Variant("S"));
  // Numbers: null toggles to 1; otherwise 1 - |v|.
  EXPECT_TRUE(LogicalNewValue(2, LogicalKey::Toggle, null, "1", "0") == Variant(int64_t{1}));
  LogicalCurrent n;
  n.isNull = false;
  n.intValue = 1;
  EXPECT_TRUE(LogicalNewValue(2, LogicalKey::Toggle, n, "1", "0") == Variant(int64_t{0}));
  n.intValue = -1;
  EXPECT_TRUE(LogicalNewValue(2, LogicalKey::Toggle, n, "1", "0") == Variant(int64_t{0}));
  EXPECT_TRUE(LogicalNewValue(2, LogicalKey::SetTrue, n, "1", "0") == Variant(int64_t{1}));
  EXPECT_TRUE(LogicalNewValue(0, LogicalKey::SetFalse, n, "S", "N") == Variant("N"));
  EXPECT_TRUE(LogicalNewValue(1, LogicalKey::Ignore, n, "S", "N").IsNull());
}

TEST(Sorting, IndexChoiceAndMarkers) {
  std::vector<IndexChoice> defs{{"ID", false}, {"NAME", false}, {"name;ID", true}};
  // Ascending now (smDown): the first match whose direction differs is the descending one.
  EXPECT_EQ(ChooseSortIndex(defs, "Name", smDown), 2);
  // Descending now (smUp): the ascending NAME index differs and stops the search.
  EXPECT_EQ(ChooseSortIndex(defs, "NAME", smUp), 1);
  EXPECT_EQ(ChooseSortIndex(defs, "PHONE", smNone), -1);
  EXPECT_EQ(ChooseSortIndex({}, "ID", smNone), -1);
  EXPECT_EQ(NextSortMarker(false, smDown), smUp);
  EXPECT_EQ(NextSortMarker(true, smUp), smDown);
  EXPECT_EQ(NextSortMarker(true, smDown), smUp);
}

TEST(StoredLayout, KeysValuesAndBadInput) {
  EXPECT_EQ(LayoutKey("JvDBGrid1", "NAME"), "JvDBGrid1.NAME");
  EXPECT_EQ(LayoutValue(2, 120), "2,120");
  LayoutEntry e = ParseLayoutValue("2,120", 0, 64);
  EXPECT_EQ(e.index, 2);
  EXPECT_EQ(e.width, 120);
  EXPECT_TRUE(e.visible);
  e = ParseLayoutValue("1,-1", 0, 64);
  EXPECT_FALSE(e.visible);
  EXPECT_EQ(e.width, 64);
  // Parts that do not parse keep the current values.
  e = ParseLayoutValue("x,", 3, 64);
  EXPECT_EQ(e.index, 3);
  EXPECT_EQ(e.width, 64);
  EXPECT_TRUE(e.visible);
  e = ParseLayoutValue("", 3, 64);
  EXPECT_EQ(e.index, 3);
  e = ParseLayoutValue("99999999999999,5", 1, 64);
  EXPECT_EQ(e.index, 1);
  EXPECT_EQ(e.width, 5);

  TNamedValueStore store;
  EXPECT_FALSE(store.ReadString("Form1", "a").has_value());
  store.WriteString("Form1", "a", "1,2");
  store.WriteString("Form1", "a", "3,4");
  EXPECT_EQ(store.ReadString("Form1", "a").value(), "3,4");
  EXPECT_EQ(store.Count("Form1"), 1);
}

TEST(ColumnChooser, ClientHeightGrowsByItemsAndStopsAt400) {
  // 40 items of 13 pixels (520) cap the client at 400.
  EXPECT_EQ(ChooserClientHeight(40, 13, 217, 167), 400);
  // 20 items need 260; the list (167) grows by 13 until it holds them: 8 steps.
  EXPECT_EQ(ChooserClientHeight(20, 13, 217, 167), 217 + 8 * 13);
  // Never shrinks.
  EXPECT_EQ(ChooserClientHeight(2, 13, 217, 167), 217);
}
