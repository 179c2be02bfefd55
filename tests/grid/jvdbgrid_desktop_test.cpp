// The grid under Wine with real windows: posted keys, clicks and wheel turns over a client dataset with
// logical, floating point, memo, blob and pick-list columns; dataset state, contents and grid layout are
// checked afterwards, and screenshots of the main looks are kept as artefacts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/component_text.h"
#include "grid/grid_desktop.h"
#include "grid/jvdbgrid_select_column.h"
#include "support/desktop_win.h"

using namespace fw;
using namespace gridtest;

namespace {
constexpr int kID = 0, kNAME = 1, kACTIVE = 2, kPRICE = 3, kNOTES = 4, kPHOTO = 5, kKIND = 6;

// The grid column (indicator included) of a Columns index.
int GridCol(Host& h, int columnIndex) { return h.grid->GridColumnOf(h.grid->Columns()[columnIndex]); }
}  // namespace

TEST(GridDefaults, ConstructorAndStoredForm) {
  Host h;
  TJvDBGrid& g = *h.grid;
  EXPECT_EQ(g.Options(), kDefaultDBGridOptions);
  EXPECT_TRUE(g.AutoAppend);
  EXPECT_TRUE(g.AutoSort);
  EXPECT_EQ(g.SortMarker(), smNone);
  EXPECT_EQ(g.SortedField(), "");
  EXPECT_EQ(g.FixedColsCount(), 0);
  EXPECT_TRUE(g.ClearSelection);
  EXPECT_TRUE(g.DefaultDrawing);
  EXPECT_EQ(g.IniStorage(), nullptr);
  EXPECT_FALSE(g.MultiSelect());
  EXPECT_TRUE(g.ShowGlyphs());
  EXPECT_FALSE(g.TitleButtons());
  EXPECT_FALSE(g.TitleButtonAllowMove);
  EXPECT_TRUE(g.BeepOnError);
  EXPECT_EQ(g.AlternateRowColor(), clNone);
  EXPECT_EQ(g.AlternateRowFontColor(), clNone);
  EXPECT_FALSE(g.PostOnEnterKey);
  EXPECT_EQ(g.SelectColumn, scDataBase);
  EXPECT_FALSE(g.ShowTitleHint);
  EXPECT_FALSE(g.TitleArrow());
  EXPECT_EQ(g.TitlePopup(), nullptr);
  EXPECT_FALSE(g.ShowCellHint);
  EXPECT_EQ(g.MaxColumnWidth(), 0);
  EXPECT_EQ(g.MinColumnWidth(), 0);
  EXPECT_FALSE(g.AutoSizeColumns());
  EXPECT_EQ(g.AutoSizeColumnIndex(), -1);
  EXPECT_EQ(g.SelectColumnsDialogStrings().Caption, "Select columns");
  EXPECT_EQ(g.SelectColumnsDialogStrings().RealNamesOption, "");
  EXPECT_EQ(g.SelectColumnsDialogStrings().OK, "&OK");
  EXPECT_EQ(g.SelectColumnsDialogStrings().NoSelectionWarning, "At least one column must be visible!");
  EXPECT_EQ(g.CellHintPosition, gchpDefault);
  EXPECT_TRUE(g.CanDelete);
  EXPECT_FALSE(g.CancelOnMouse);
  EXPECT_EQ(g.ColumnResize, gcrGrid);
  EXPECT_EQ(g.EditControls().Count(), 0);
  EXPECT_TRUE(g.AutoSizeRows());
  EXPECT_TRUE(g.ReduceFlicker);
  EXPECT_FALSE(g.RowResize());
  EXPECT_EQ(g.RowsHeight(), g.DefaultRowHeight());
  EXPECT_EQ(g.TitleRowHeight(), g.RowHeight(0));
  EXPECT_FALSE(g.WordWrap());
  EXPECT_FALSE(g.WordWrapAllFields());
  EXPECT_TRUE(g.ShowMemos());
  EXPECT_TRUE(g.BooleanEditor());
  EXPECT_TRUE(g.UseXPThemes);
  EXPECT_EQ(g.ReadOnlyCellColor(), clDefault);
  EXPECT_FALSE(g.DotNetHighlighting());

  // With AutoSizeRows the stored 17 gives way to the font-derived height.
  g.SetRowsHeight(17);
  EXPECT_EQ(g.RowsHeight(), g.DefaultRowHeight());
  // Without it the value applies to every data row, and the title row takes its own.
  g.SetAutoSizeRows(false);
  g.SetRowsHeight(30);
  g.SetTitleRowHeight(24);
  EXPECT_EQ(g.DefaultRowHeight(), 30);
  EXPECT_EQ(g.RowHeight(0), 24);
  EXPECT_EQ(g.RowsHeight(), 30);
  g.SetAutoSizeRows(true);
  EXPECT_NE(g.DefaultRowHeight(), 30);
  EXPECT_FALSE(g.RowResize());

  // Options: dgMultiSelect and dgAlwaysShowEditor are kept by the grid itself.
  g.SetOptions(kDefaultDBGridOptions | dgMultiSelect | dgAlwaysShowEditor);
  EXPECT_TRUE(g.MultiSelect());
  EXPECT_EQ(g.Options(), kDefaultDBGridOptions | dgMultiSelect | dgAlwaysShowEditor);
  EXPECT_FALSE(g.GridOptions() & goAlwaysShowEditor);
  g.SetOptions(kDefaultDBGridOptions & ~dgColLines);
  EXPECT_FALSE(g.GridOptions() & goFixedVertLine);
  EXPECT_FALSE(g.MultiSelect());
}

TEST(GridDefaults, LegacyAndStoredProperties) {
  App();
  const char* text =
      "object F: TForm\n"
      "  object Edit1: TButton\n  end\n"
      "  object G: TJvDBGrid\n"
      "    AlternRowColor = True\n"
      "    AlternRowFontColor = True\n"
      "    PostOnEnter = True\n"
      "    TitleButtons = True\n"
      "    SortMarker = smUp\n"
      "    SortedField = 'NAME'\n"
      "    MaxColumnWidth = 120\n"
      "    ColumnResize = gcrDataSet\n"
      "    SelectColumn = scGrid\n"
      "    EditControls = <\n"
      "      item\n        ControlName = 'Edit1'\n        FieldName = 'NAME'\n        FitCell = fcBiggest\n"
      "        LeaveOnUpDownKey = True\n      end>\n"
      "    RowsHeight = 17\n"
      "    TitleRowHeight = 17\n"
      "  end\n"
      "end\n";
  TForm form(&App());
  ASSERT_TRUE(LoadFormText(form, text));
  auto* g = dynamic_cast<TJvDBGrid*>(form.FindComponent("G"));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->AlternateRowColor(), 0xCCCCCC);
  EXPECT_EQ(g->AlternateRowFontColor(), clBlack);
  EXPECT_TRUE(g->PostOnEnterKey);
  EXPECT_TRUE(g->TitleButtons());
  EXPECT_EQ(g->SortMarker(), smUp);
  EXPECT_EQ(g->SortedField(), "NAME");
  EXPECT_EQ(g->MaxColumnWidth(), 120);
  EXPECT_EQ(g->ColumnResize, gcrDataSet);
  EXPECT_EQ(g->SelectColumn, scGrid);
  ASSERT_EQ(g->EditControls().Count(), 1);
  EXPECT_EQ(g->EditControls().Items(0)->ControlName, "Edit1");
  EXPECT_EQ(g->EditControls().Items(0)->FitCell, fcBiggest);
  EXPECT_TRUE(g->EditControls().Items(0)->LeaveOnUpDownKey);
  EXPECT_FALSE(g->EditControls().Items(0)->LeaveOnEnterKey);
  // The controls of EditControls start hidden.
  EXPECT_FALSE(dynamic_cast<TControl*>(form.FindComponent("Edit1"))->Visible());
  EXPECT_EQ(g->RowsHeight(), g->DefaultRowHeight());

  // False legacy values clear the colours; bad values are refused with the loader's error.
  TForm form2(&App());
  EXPECT_THROW(LoadFormText(form2, "object F: TForm\n object G: TJvDBGrid\n SortMarker = smSideways\n end\nend\n"),
               EReadError);
}

TEST(GridKeyboard, DownAppendsAndAnUntouchedRowDisappears) {
  Host h;
  ASSERT_EQ(h.Records(), 0);
  h.Key(VK_DOWN);
  EXPECT_EQ(h.ds->State(), dsInsert) << "Down on an empty table appends";
  // Up or Down while inserting go to the framework: Up cancels the untouched row.
  h.Key(VK_UP);
  EXPECT_EQ(h.ds->State(), dsBrowse);
  EXPECT_EQ(h.Records(), 0);

  // Typed rows are posted by Down, which appends the next one.
  h.Key(VK_DOWN);
  ASSERT_EQ(h.ds->State(), dsInsert);
  h.Type("5");
  h.Key(VK_TAB);
  h.Type("Ana");
  h.Key(VK_DOWN);
  EXPECT_EQ(h.Records(), 1);
  EXPECT_EQ(h.ds->State(), dsInsert);
  h.Key(VK_UP);
  EXPECT_EQ(h.ds->State(), dsBrowse);
  EXPECT_EQ(h.Records(), 1);
  h.ds->First();
  EXPECT_EQ(h.F("ID")->AsInteger(), 5);
  EXPECT_EQ(h.F("NAME")->AsString(), "Ana");

  // AutoAppend off: Down at the last record stays.
  h.grid->AutoAppend = false;
  h.Key(VK_DOWN);
  EXPECT_EQ(h.ds->State(), dsBrowse);
  EXPECT_EQ(h.Records(), 1);
  // A read-only grid never appends.
  h.grid->AutoAppend = true;
  h.grid->SetReadOnly(true);
  h.Key(VK_DOWN);
  EXPECT_EQ(h.ds->State(), dsBrowse);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

namespace {
// The IDs of the table's rows, read while it browses.
std::vector<std::string> Ids(Host& h) {
  std::vector<std::string> ids;
  EXPECT_EQ(h.ds->State(), dsBrowse);
  for (h.ds->First(); !h.ds->Eof(); h.ds->Next()) ids.push_back(h.F("ID")->IsNull() ? "-" : h.F("ID")->AsString());
  Pump();
  return ids;
}
bool EditorShowing(Host& h) {
  TInplaceEdit* ed = h.grid->InplaceEditor();
  return h.grid->EditorMode() && ed && ed->HandleAllocated() && IsWindowVisible(ed->Handle()) &&
         GetFocus() == ed->Handle();
}
}  // namespace

TEST(GridFocus, TheCellEditorOpensOnAnAppendedRowWithoutDroppingIt) {
  // The focus moving into the grid's own editor does not leave the grid: the untouched appended row stays
  // and takes what is typed.
  struct Way {
    const char* name;
    std::function<void(Host&)> open;
  };
  const Way ways[] = {
      {"Enter", [](Host& h) { h.Key(VK_RETURN); }},
      {"F2", [](Host& h) { h.Key(VK_F2); }},
      {"click", [](Host& h) {
         TRect r = h.ScreenCell(h.grid->Col(), h.grid->Row());
         h.Click((r.left + r.right) / 2, (r.top + r.bottom) / 2);
       }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    Host h;
    h.AddRows(2);
    int exits = 0;
    h.grid->OnExit = [&](TComponent*) { ++exits; };
    h.SelectColumn(kID);
    h.Key(VK_DOWN);
    h.Key(VK_DOWN);
    ASSERT_EQ(h.ds->State(), dsInsert);
    way.open(h);
    EXPECT_EQ(h.ds->State(), dsInsert);
    EXPECT_TRUE(EditorShowing(h));
    EXPECT_EQ(exits, 0);
    h.Type("9");
    h.Key(VK_UP);
    EXPECT_EQ(Ids(h), (std::vector<std::string>{"1", "2", "9"}));
    EXPECT_TRUE(Errors().empty()) << Errors().front();
  }
}

TEST(GridFocus, LeavingTheGridDropsOnlyAnUntouchedRowThatTheGridAppended) {
  Host h;
  h.AddRows(1);
  auto* other = new TButton(h.form);
  other->SetParent(h.form);
  other->SetBounds(8, 272, 80, 24);
  h.grid->SetFocus();
  Pump();
  // Appended by Down and left untouched: leaving the grid drops it.
  h.Key(VK_DOWN);
  ASSERT_EQ(h.ds->State(), dsInsert);
  other->SetFocus();
  Pump();
  EXPECT_EQ(Ids(h), std::vector<std::string>{"1"});
  // Appended by the program: it stays until the program posts it.
  h.grid->SetFocus();
  Pump();
  h.ds->Append();
  h.Key(VK_F2);
  other->SetFocus();
  Pump();
  EXPECT_EQ(h.ds->State(), dsInsert);
  h.ds->Post();
  EXPECT_EQ(Ids(h), (std::vector<std::string>{"1", "-"}));
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridKeyboard, TabWrapsToTheNextAndPreviousRecord) {
  Host h;
  h.AddRows(3);
  int first = GridCol(h, kID), last = h.grid->ColCount() - 1;
  h.grid->SetSelectedIndex(kKIND);
  Pump();
  ASSERT_EQ(h.grid->Col(), last);
  h.Key(VK_TAB);
  EXPECT_EQ(h.grid->Col(), first);
  EXPECT_EQ(h.ds->RecNo(), 2);
  h.Key(VK_TAB, ssShift);
  EXPECT_EQ(h.grid->Col(), last);
  EXPECT_EQ(h.ds->RecNo(), 1);
  // Shift+Tab on the first column of the first record stays.
  h.grid->SetSelectedIndex(kID);
  h.Key(VK_TAB, ssShift);
  EXPECT_EQ(h.ds->RecNo(), 1);
  EXPECT_EQ(h.grid->Col(), first);
}

TEST(GridKeyboard, CtrlDeleteAsksAndDeletes) {
  Host h;
  // Nothing to delete: no question.
  {
    auto box = AnswerBox(IDYES);
    h.Key(VK_DELETE, ssCtrl);
    EXPECT_FALSE(box->Seen());
  }
  h.AddRows(5);
  {
    auto box = AnswerBox(IDNO);
    h.Key(VK_DELETE, ssCtrl);
    ASSERT_TRUE(box->Seen());
    bool found = false;
    for (auto& t : box->Texts()) found |= t == "Apagar registro?";
    EXPECT_TRUE(found);
    EXPECT_EQ(h.Records(), 5);
  }
  {
    auto box = AnswerBox(IDYES);
    h.Key(VK_DELETE, ssCtrl);
    EXPECT_TRUE(box->Seen());
    EXPECT_EQ(h.Records(), 4);
  }
  // Two selected rows: the plural question, both go.
  h.grid->SetMultiSelect(true);
  h.ds->First();
  Pump();
  h.Key(VK_DOWN, ssShift);
  EXPECT_EQ(h.grid->SelectedRows().Count(), 2);
  h.Shot("grid-multiselect");
  {
    auto box = AnswerBox(IDYES);
    h.Key(VK_DELETE, ssCtrl);
    ASSERT_TRUE(box->Seen());
    bool found = false;
    for (auto& t : box->Texts()) found |= t == "Apagar todos os registros selecionados?";
    EXPECT_TRUE(found);
  }
  EXPECT_EQ(h.Records(), 2);
  EXPECT_EQ(h.grid->SelectedRows().Count(), 0);
  // Without dgConfirmDelete no question is asked; CanDelete off stops everything.
  h.grid->SetOptions(h.grid->Options() & ~dgConfirmDelete);
  {
    auto box = AnswerBox(IDYES);
    h.Key(VK_DELETE, ssCtrl);
    EXPECT_FALSE(box->Seen());
    EXPECT_EQ(h.Records(), 1);
  }
  h.grid->CanDelete = false;
  h.Key(VK_DELETE, ssCtrl);
  EXPECT_EQ(h.Records(), 1);
}

TEST(GridSelection, ShiftArrowsMarkAndUnmarkRows) {
  Host h;
  h.AddRows(6);
  h.grid->SetMultiSelect(true);
  h.Key(VK_DOWN, ssShift);
  h.Key(VK_DOWN, ssShift);
  EXPECT_EQ(h.grid->SelectedRows().Count(), 3);
  // Back towards the anchor unmarks the row being left.
  h.Key(VK_UP, ssShift);
  EXPECT_EQ(h.grid->SelectedRows().Count(), 2);
  // A plain move clears the selection (ClearSelection).
  h.Key(VK_DOWN);
  EXPECT_EQ(h.grid->SelectedRows().Count(), 0);
  // Ctrl+click toggles single rows; a plain click selects only the clicked row.
  TRect r2 = h.ScreenCell(GridCol(h, kNAME), 2), r4 = h.ScreenCell(GridCol(h, kNAME), 4);
  h.Click(r2.left + 5, r2.top + 5, ssCtrl);
  h.Click(r4.left + 5, r4.top + 5, ssCtrl);
  EXPECT_EQ(h.grid->SelectedRows().Count(), 2);
  h.Click(r2.left + 5, r2.top + 5);
  EXPECT_EQ(h.grid->SelectedRows().Count(), 1);
  // Shift+click walks from the selected row to the clicked one.
  h.Click(r4.left + 5, r4.top + 5, ssShift);
  EXPECT_EQ(h.grid->SelectedRows().Count(), 3);
  EXPECT_TRUE(Errors().empty());
}

TEST(GridEditing, CheckBoxesToggleLogicalFields) {
  Host h;
  h.AddRows(3);
  h.ds->Last();  // third row: ACTIVE is null
  h.grid->SetSelectedIndex(kACTIVE);
  Pump();
  ASSERT_TRUE(h.F("ACTIVE")->IsNull());
  h.Type(" ");
  EXPECT_FALSE(h.F("ACTIVE")->IsNull());
  EXPECT_FALSE(h.F("ACTIVE")->AsBoolean()) << "space on a null logical field stores False";
  h.Type(" ");
  EXPECT_TRUE(h.F("ACTIVE")->AsBoolean());
  h.Type("-");
  EXPECT_FALSE(h.F("ACTIVE")->AsBoolean());
  h.Type("1");
  EXPECT_TRUE(h.F("ACTIVE")->AsBoolean());
  h.Type("x");  // ignored
  EXPECT_TRUE(h.F("ACTIVE")->AsBoolean());
  EXPECT_EQ(h.ds->State(), dsEdit);
  EXPECT_FALSE(h.grid->EditorMode()) << "a check-box cell has no text editor";
  // A click on the current check-box cell toggles it.
  TRect cell = h.ScreenCell(h.grid->Col(), h.grid->Row());
  h.Click(cell.left + 4, cell.top + 4);
  EXPECT_FALSE(h.F("ACTIVE")->AsBoolean());
  h.Key(VK_ESCAPE);
  EXPECT_EQ(h.ds->State(), dsBrowse);

  // A string field the application declares logical, with its own texts.
  h.grid->OnCheckIfBooleanField = [](TJvDBGrid*, TField* f, std::string& t, std::string& fl) {
    if (f->FieldName() != "KIND") return false;
    t = "Retail";
    fl = "Bulk";
    return true;
  };
  h.ds->First();
  h.grid->SetSelectedIndex(kKIND);
  Pump();
  ASSERT_EQ(h.F("KIND")->AsString(), "Bulk");
  h.Type(" ");
  EXPECT_EQ(h.F("KIND")->AsString(), "Retail");
  h.ds->Post();
  h.grid->Invalidate();
  Pump();
  h.Shot("grid-checkboxes");
  EXPECT_EQ(h.grid->GetGlyphIndex(h.F("KIND")), jvgrid::kGlyphChecked);
  EXPECT_EQ(h.grid->GetGlyphIndex(h.F("PHOTO")), jvgrid::kGlyphBlob);
  EXPECT_EQ(h.grid->GetGlyphIndex(h.F("NOTES")), jvgrid::kGlyphNone);
  h.grid->SetShowMemos(false);
  EXPECT_EQ(h.grid->GetGlyphIndex(h.F("NOTES")), jvgrid::kGlyphMemo);
  h.grid->SetBooleanEditor(false);
  EXPECT_FALSE(h.grid->IsLogicalLike(h.F("ACTIVE")));
  EXPECT_TRUE(Errors().empty());
}

TEST(GridEditing, DecimalSeparatorAndPickListSearch) {
  Host h;
  h.AddRows(1);
  char saved = FormatSettings().DecimalSeparator;
  FormatSettings().DecimalSeparator = ',';
  h.grid->SetSelectedIndex(kPRICE);
  Pump();
  h.Type("2.5");
  h.Key(VK_RETURN);
  h.Key(VK_UP);  // leaves the row: posts
  EXPECT_EQ(h.ds->State(), dsBrowse);
  EXPECT_DOUBLE_EQ(h.F("PRICE")->AsFloat(), 2.5) << "typed '.' became the locale's separator";
  FormatSettings().DecimalSeparator = saved;

  // Pick list: the first item that starts with the typed text fills the cell.
  h.grid->Columns().SetState(TDBGridColumnsState::csCustomized);
  TColumn* kind = h.grid->Columns()[kKIND];
  kind->PickList() = {"Bulk", "Retail", "Rental"};
  h.grid->SetSelectedIndex(kKIND);
  Pump();
  h.Type("r");  // opens the editor
  h.Type("e");
  ASSERT_TRUE(h.grid->EditorMode());
  EXPECT_EQ(h.grid->InplaceEditor()->Text(), "Retail");
  h.Type("n");
  EXPECT_EQ(h.grid->InplaceEditor()->Text(), "Rental");
  // F4 drops the pick list down at the current item; Up and Enter choose the one before it.
  h.Key(VK_F4);
  ASSERT_TRUE(h.grid->DroppedDown());
  h.Shot("grid-pick-list");
  h.Key(VK_UP);
  h.Key(VK_RETURN);
  EXPECT_FALSE(h.grid->DroppedDown());
  EXPECT_EQ(h.grid->InplaceEditor()->Text(), "Retail");
  // Escape closes a list without choosing.
  h.Key(VK_F4);
  h.Key(VK_DOWN);
  h.Key(VK_ESCAPE);
  EXPECT_FALSE(h.grid->DroppedDown());
  EXPECT_EQ(h.grid->InplaceEditor()->Text(), "Retail");
  h.Key(VK_RETURN);
  h.Key(VK_UP);
  EXPECT_EQ(h.F("KIND")->AsString(), "Retail");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridEditing, EditControlsWithoutTheirControlRaise) {
  Host h;
  h.AddRows(2);
  TJvDBGridControl* item = h.grid->EditControls().Add();
  item->ControlName = "NoSuchControl";
  item->FieldName = "NAME";
  h.grid->SetSelectedIndex(kNAME);
  Pump();
  h.Type("x");
  ASSERT_FALSE(Errors().empty());
  EXPECT_EQ(Errors().back(), "JvDBGrid.EditControls: property Control not assigned");
  EXPECT_EQ(item->FieldName, "");

  // An existing control is placed over the cell instead of the text editor.
  Errors().clear();
  auto* button = new TButton(h.form);
  button->SetName("NameEditor");
  button->SetParent(h.form);
  button->SetCaption("editor");
  TJvDBGridControl* real = h.grid->EditControls().Add();
  real->ControlName = "NameEditor";
  real->FieldName = "NAME";
  h.grid->SetSelectedIndex(kID);
  h.grid->SetSelectedIndex(kNAME);
  Pump();
  h.Type("y");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(h.grid->ActiveEditControl(), button);
  EXPECT_TRUE(button->Visible());
  TRect cell = h.ScreenCell(h.grid->Col(), h.grid->Row());
  POINT p{cell.left, cell.top};
  MapWindowPoints(h.grid->Handle(), h.form->Handle(), &p, 1);
  EXPECT_EQ(button->Left(), p.x);
  EXPECT_EQ(button->Top(), p.y);
  EXPECT_EQ(button->Width(), cell.Width());
  // Tab leaves the control and moves on in the grid.
  PostMessageA(button->Handle(), WM_CHAR, '\t', 1);
  Pump();
  EXPECT_EQ(h.grid->ActiveEditControl(), nullptr);
  EXPECT_EQ(h.grid->SelectedIndex(), kACTIVE);
}

TEST(GridEditing, TheWheelOverTheCellEditorDropsTheEditAndThenScrolls) {
  Host h;
  h.AddRows(6);
  h.SelectColumn(kNAME);
  h.Key(VK_F2);
  h.Type("changed");
  ASSERT_EQ(h.ds->State(), dsEdit);
  ASSERT_TRUE(EditorShowing(h));
  h.Wheel(-120);
  EXPECT_EQ(h.ds->State(), dsBrowse);
  EXPECT_EQ(h.ds->RecNo(), 3) << "the wheel moves the grid after dropping the edit";
  h.ds->First();
  EXPECT_EQ(h.F("NAME")->AsString(), "Ana 1");
  // A typed ID on an appended row: the row goes with the edit.
  h.ds->Last();
  h.SelectColumn(kID);
  h.Key(VK_DOWN);
  h.Key(VK_RETURN);
  h.Type("77");
  ASSERT_TRUE(EditorShowing(h));
  h.Wheel(120);
  EXPECT_EQ(h.ds->State(), dsBrowse);
  EXPECT_EQ(Ids(h), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridMouse, WheelStepsTitleSortAndBorderFit) {
  Host h;
  h.AddRows(40);
  h.Wheel(-120);
  EXPECT_EQ(h.ds->RecNo(), 3);
  h.Wheel(-120, ssShift);
  EXPECT_EQ(h.ds->RecNo(), 4);
  int page = h.grid->VisibleRowCount() - 1;
  h.Wheel(-120, ssCtrl | ssShift);
  EXPECT_EQ(h.ds->RecNo(), 4 + page);
  h.Wheel(120, ssCtrl | ssShift);
  EXPECT_EQ(h.ds->RecNo(), 3 + page);
  h.Wheel(120, ssCtrl);
  EXPECT_EQ(h.ds->RecNo(), 3);
  // CancelOnMouse: the wheel drops a pending edit.
  h.grid->CancelOnMouse = true;
  h.ds->Edit();
  h.F("NAME")->SetAsString("changed");
  h.Wheel(-120);
  EXPECT_EQ(h.ds->State(), dsBrowse);
  h.ds->First();
  EXPECT_NE(h.F("NAME")->AsString(), "changed");

  // Title buttons: a click sorts by the column; the same column toggles the direction.
  h.grid->SetTitleButtons(true);
  int clicks = 0;
  h.grid->OnTitleBtnClick = [&](TComponent*, int col, TField* f) {
    ++clicks;
    EXPECT_EQ(col, kNAME);
    EXPECT_EQ(f, h.F("NAME"));
  };
  TRect title = h.ScreenCell(GridCol(h, kNAME), 0);
  h.Click(title.left + 10, title.top + 4);
  EXPECT_EQ(h.grid->SortedField(), "NAME");
  EXPECT_EQ(h.grid->SortMarker(), smUp);
  h.Click(title.left + 10, title.top + 4);
  EXPECT_EQ(h.grid->SortMarker(), smDown);
  EXPECT_EQ(clicks, 2);
  // A disabled title button does not click.
  h.grid->OnCheckButton = [](TComponent*, int, TField*, bool& enabled) { enabled = false; };
  h.grid->BeepOnError = false;
  h.Click(title.left + 10, title.top + 4);
  EXPECT_EQ(clicks, 2);
  h.grid->OnCheckButton = nullptr;
  Pump();
  h.Shot("grid-title-sort");

  // Double-click on a title border fits the column to its widest text.
  h.grid->Columns()[kNAME]->SetWidth(20);
  Pump();
  title = h.ScreenCell(GridCol(h, kNAME), 0);
  int resized = -1;
  h.grid->OnColumnResized = [&](TJvDBGrid*, int col, int) { resized = col; };
  h.DoubleClick(title.right - 1, title.top + 4);
  EXPECT_GT(h.grid->Columns()[kNAME]->Width(), 40);
  int fitted = h.grid->Columns()[kNAME]->Width();
  EXPECT_EQ(resized, kNAME) << "the press on the border sized the column";
  // gcrNone fits nothing.
  h.grid->ColumnResize = gcrNone;
  h.grid->Columns()[kNAME]->SetWidth(20);
  h.grid->FitColumn(kNAME);
  EXPECT_EQ(h.grid->Columns()[kNAME]->Width(), 20);
  // gcrDataSet walks all records of a small dataset (from the first; the current record stays)...
  h.ds->Last();
  h.ds->Edit();
  h.F("NAME")->SetAsString("Maximiliano Albuquerque");
  h.ds->Post();
  h.ds->First();
  h.grid->ColumnResize = gcrGrid;
  h.grid->FitColumn(kNAME);
  int visibleOnly = h.grid->Columns()[kNAME]->Width();
  h.ds->MoveBy(5);
  h.grid->ColumnResize = gcrDataSet;
  h.grid->FitColumn(kNAME);
  EXPECT_GT(h.grid->Columns()[kNAME]->Width(), visibleOnly) << "the last name is wider than the first rows";
  EXPECT_EQ(h.ds->RecNo(), 6);
  // ...but only the buffered ones of a dataset of more than 100 records.
  h.AddRows(61);
  h.grid->FitColumn(kNAME);
  EXPECT_EQ(h.grid->Columns()[kNAME]->Width(), visibleOnly);
  (void)fitted;
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridLayout, ColumnWidthBoundsAndAutoSize) {
  Host h;
  h.AddRows(3);
  h.grid->Columns()[kNAME]->SetWidth(150);
  h.grid->SetMaxColumnWidth(100);
  EXPECT_EQ(h.grid->Columns()[kNAME]->Width(), 100);
  EXPECT_EQ(h.grid->ColWidth(GridCol(h, kNAME)), 100);
  h.grid->SetMaxColumnWidth(0);
  h.grid->Columns()[kID]->SetWidth(10);
  h.grid->SetMinColumnWidth(30);
  EXPECT_EQ(h.grid->Columns()[kID]->Width(), 30);
  h.grid->SetMinColumnWidth(0);

  // AutoSizeColumns with -1: the visible columns fill the client width.
  h.grid->SetAutoSizeColumns(true);
  int sum = 0;
  for (int c = h.grid->GridFixedCols(); c < h.grid->ColCount(); ++c) sum += h.grid->ColWidth(c) + 1;
  EXPECT_EQ(sum, h.grid->ClientWidth() - 11 - 1);
  // -2: the last column absorbs the width.
  h.grid->SetAutoSizeColumns(false);
  for (int i = 0; i < h.grid->Columns().Count(); ++i) h.grid->Columns()[i]->SetWidth(40);
  h.grid->SetAutoSizeColumnIndex(-2);
  h.grid->SetAutoSizeColumns(true);
  EXPECT_EQ(h.grid->Columns()[kID]->Width(), 40);
  EXPECT_GT(h.grid->Columns()[kKIND]->Width(), 40);
  h.grid->SetAutoSizeColumns(false);

  // Frozen columns stay at the left and are skipped by Home and Tab.
  h.grid->SetFixedColsCount(1);
  EXPECT_EQ(h.grid->GridFixedCols(), 2);
  h.grid->SetSelectedIndex(kPRICE);
  h.Key(VK_HOME);
  EXPECT_EQ(h.grid->SelectedIndex(), kNAME);
  h.Key(VK_LEFT);
  EXPECT_EQ(h.grid->SelectedIndex(), kNAME);
}

TEST(GridLook, AlternateRowsFollowTheScreenRows) {
  Host h;
  h.AddRows(30);
  h.Shot("grid-default");
  h.grid->SetAlternateRowColor(RGB(0xE0, 0xF0, 0xFF));
  Pump();
  int col = GridCol(h, kNAME);
  auto background = [&](int row) {
    TRect r = h.ScreenCell(col, row);
    return h.PixelAt(r.right - 3, r.top + 1);
  };
  EXPECT_EQ(background(2), RGB(0xE0, 0xF0, 0xFF));
  EXPECT_EQ(background(4), RGB(0xE0, 0xF0, 0xFF));
  EXPECT_NE(background(3), RGB(0xE0, 0xF0, 0xFF));
  // Scroll by one row: the colours stay with the screen rows.
  int rows = h.grid->VisibleRowCount();
  for (int i = 0; i < rows; ++i) h.Key(VK_DOWN);
  ASSERT_EQ(h.ds->RecNo(), rows + 1);
  EXPECT_EQ(background(2), RGB(0xE0, 0xF0, 0xFF));
  EXPECT_NE(background(3), RGB(0xE0, 0xF0, 0xFF));
  h.Shot("grid-alternate-rows");
  // The same colour as the grid means no alternation.
  h.grid->SetAlternateRowColor(h.grid->Color());
  Pump();
  EXPECT_EQ(background(2), background(3));
}

TEST(GridChooser, EscapeDropsAndTheLastTickStays) {
  Host h;
  h.AddRows(2);
  h.grid->SetTitleArrow(true);
  Pump();
  std::vector<std::string> warning;
  {
    Watcher chooser("", "Select columns", [&](HWND w) {
      HWND list = testsupport::FindChild(w, "ListBox");
      Sleep(300);
      testsupport::SaveScreenshot("grid-column-chooser");
      // Untick every item: the last one is refused with the warning and ticked again.
      for (int i = 0; i < 7; ++i) {
        PostMessageA(list, WM_CHAR, ' ', 1);
        PostMessageA(list, WM_KEYDOWN, VK_DOWN, 1);
      }
      HWND box = WaitWindow(GetWindowThreadProcessId(w, nullptr), "#32770", "");
      if (box) {
        warning = testsupport::DialogTexts(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
      }
      PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 1);
    });
    h.Click(3, 3);  // the title arrow
    EXPECT_TRUE(chooser.Seen());
  }
  bool found = false;
  for (auto& t : warning) found |= t == "At least one column must be visible!";
  EXPECT_TRUE(found);
  for (int i = 0; i < h.grid->Columns().Count(); ++i) EXPECT_TRUE(h.grid->Columns()[i]->Visible()) << i;

  // Unticking one item and confirming hides that column.
  {
    Watcher chooser("", "Select columns", [&](HWND w) {
      HWND list = testsupport::FindChild(w, "ListBox");
      PostMessageA(list, WM_KEYDOWN, VK_DOWN, 1);
      PostMessageA(list, WM_CHAR, ' ', 1);
      PostMessageA(list, WM_KEYDOWN, VK_RETURN, 1);
    });
    h.grid->OpenColumnChooser();
    EXPECT_TRUE(chooser.Seen());
  }
  EXPECT_TRUE(h.grid->Columns()[kID]->Visible());
  EXPECT_FALSE(h.grid->Columns()[kNAME]->Visible());
  // OnSelectColumns may replace the dialog.
  bool asked = false;
  h.grid->OnSelectColumns = [&](TJvDBGrid*, bool& dflt) { asked = true; dflt = false; };
  h.grid->OpenColumnChooser();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridStorage, ColumnLayoutIsStoredAndRestored) {
  Host h;
  auto* storage = new TJvFormStorage(h.form);
  storage->SetAppStoragePath("HostForm");
  h.grid->SetIniStorage(storage);
  h.grid->Columns().SetState(TDBGridColumnsState::csCustomized);
  h.grid->Columns()[kNAME]->SetWidth(123);
  h.grid->Columns()[kPHOTO]->SetVisible(false);
  storage->SaveFormPlacement();
  EXPECT_EQ(storage->Store().ReadString("HostForm", "Grid.NAME").value_or(""), "1,123");
  EXPECT_EQ(storage->Store().ReadString("HostForm", "Grid.PHOTO").value_or(""), "5,-1");
  // Another order and width come back from the store.
  storage->Store().WriteString("HostForm", "Grid.NAME", "0,77");
  storage->Store().WriteString("HostForm", "Grid.ID", "1,x");
  storage->Store().WriteString("HostForm", "Grid.PHOTO", "5,50");
  storage->RestoreFormPlacement();
  EXPECT_EQ(h.grid->Columns()[0]->FieldName(), "NAME");
  EXPECT_EQ(h.grid->Columns()[0]->Width(), 77);
  EXPECT_EQ(h.grid->Columns()[1]->FieldName(), "ID");
  EXPECT_TRUE(h.grid->Columns()[5]->Visible());
  EXPECT_EQ(h.grid->Columns()[5]->Width(), 50);
}

TEST(GridHints, TitleAndCellTexts) {
  Host h;
  h.AddRows(2);
  TRect title = h.ScreenCell(GridCol(h, kNAME), 0);
  EXPECT_EQ(h.grid->HintTextAt(title.left + 3, title.top + 3), "") << "hints are off by default";
  h.grid->ShowTitleHint = true;
  int timeOut = 0;
  EXPECT_EQ(h.grid->HintTextAt(title.left + 3, title.top + 3, &timeOut), "NAME");
  EXPECT_EQ(timeOut, 1000);
  h.grid->OnShowTitleHint = [](TComponent*, TField*, std::string& hint, int&) { hint = "Name of the contact"; };
  EXPECT_EQ(h.grid->HintTextAt(title.left + 3, title.top + 3), "Name of the contact");

  h.grid->ShowCellHint = true;
  h.grid->Columns()[kNOTES]->SetWidth(30);
  Pump();
  TRect notes = h.ScreenCell(GridCol(h, kNOTES), 1);
  ASSERT_FALSE(notes.IsEmpty());
  EXPECT_EQ(h.grid->HintTextAt(notes.left + 3, notes.top + 3), "Note of row 1") << "memo text that does not fit";
  TRect id = h.ScreenCell(GridCol(h, kID), 1);
  EXPECT_EQ(h.grid->HintTextAt(id.left + 3, id.top + 3), "") << "text that fits needs no hint";
  TRect active = h.ScreenCell(GridCol(h, kACTIVE), 1);
  EXPECT_EQ(h.grid->HintTextAt(active.left + 3, active.top + 3), "") << "check boxes have no hint";
}

TEST(GridLook, PaintEventsDecideColoursAndTitles) {
  Host h;
  h.AddRows(4);
  int before = 0, after = 0, titles = 0, buttons = 0;
  h.grid->OnBeforePaint = [&](TComponent*) { ++before; };
  h.grid->OnAfterPaint = [&](TComponent*) { ++after; };
  int nameCells = 0;
  h.grid->OnGetCellParams = [&](TComponent*, TField* f, TFont&, TColor& bg, bool) {
    if (f && f->FieldName() == "NAME") {
      bg = RGB(0xFF, 0xE0, 0xE0);
      ++nameCells;
    }
  };
  h.grid->OnDrawColumnTitle = [&](TComponent*, TCanvas&, const TRect&, TColumn*, HBITMAP&, bool, int&, bool&, bool&) {
    ++titles;
  };
  h.grid->SetTitleButtons(true);
  h.grid->OnGetBtnParams = [&](TComponent*, TField* f, TFont&, TColor&, TSortMarker& marker, bool) {
    ++buttons;
    if (f->FieldName() == "ID") marker = smDown;  // this title only
  };
  h.grid->Invalidate();
  h.grid->Update();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_GT(before, 0);
  EXPECT_GT(nameCells, 0);
  EXPECT_EQ(before, after);
  EXPECT_GE(titles, 4);
  EXPECT_GE(buttons, 4);
  EXPECT_EQ(h.grid->SortMarker(), smNone) << "a marker given to an unsorted title is not the grid's";
  TRect name = h.ScreenCell(GridCol(h, kNAME), 2);
  EXPECT_EQ(h.PixelAt(name.right - 3, name.top + 1), RGB(0xFF, 0xE0, 0xE0));
  // ReadOnlyCellColor: a read-only field's cells take it.
  h.grid->OnGetCellParams = nullptr;
  h.F("PRICE")->SetReadOnly(true);
  h.grid->SetReadOnlyCellColor(RGB(0xE8, 0xE8, 0xE8));
  TRect price = h.ScreenCell(GridCol(h, kPRICE), 3);
  EXPECT_EQ(h.PixelAt(price.left + 2, price.top + 1), RGB(0xE8, 0xE8, 0xE8));
  EXPECT_NE(h.PixelAt(name.right - 3, name.top + 1), RGB(0xE8, 0xE8, 0xE8));
}

TEST(GridEditing, LookupColumnsSearchAsYouType) {
  App();
  Errors().clear();
  auto* form = new TForm(&App());
  form->SetBounds(40, 40, 420, 200);
  auto* cities = new TClientDataSet(form);
  cities->FieldDefs().Add("ID", ftInteger);
  cities->FieldDefs().Add("NAME", ftString, 20);
  cities->CreateDataSet();
  const char* names[] = {"Belo Horizonte", "Brasilia", "Curitiba"};
  for (int i = 0; i < 3; ++i) {
    cities->Append();
    cities->FieldByName("ID")->SetAsInteger(i + 1);
    cities->FieldByName("NAME")->SetAsString(names[i]);
    cities->Post();
  }
  auto* people = new TClientDataSet(form);
  auto* id = new TIntegerField(form);
  id->SetFieldName("ID");
  id->SetDataSet(people);
  auto* cityId = new TIntegerField(form);
  cityId->SetFieldName("CITYID");
  cityId->SetDataSet(people);
  auto* city = new TStringField(form);
  city->SetFieldName("CITY");
  city->SetSize(20);
  city->SetFieldKind(fkLookup);
  city->SetLookupDataSet(cities);
  city->SetLookupKeyFields("ID");
  city->SetLookupResultField("NAME");
  city->SetKeyFields("CITYID");
  city->SetDataSet(people);
  people->CreateDataSet();
  people->Append();
  id->SetAsInteger(1);
  cityId->SetAsInteger(3);
  people->Post();
  ASSERT_EQ(city->AsString(), "Curitiba");
  auto* src = new TDataSource(form);
  src->SetDataSet(people);
  auto* grid = new TJvDBGrid(form);
  grid->SetParent(form);
  grid->SetBounds(8, 8, 380, 140);
  grid->SetDataSource(src);
  form->Show();
  SetForegroundWindow(form->Handle());
  grid->SetFocus();
  grid->SetSelectedField(city);
  Pump();
  auto type = [&](char c) {
    HWND f = GetFocus();
    PostMessageA(f ? f : grid->Handle(), WM_CHAR, static_cast<unsigned char>(c), 1);
    Pump();
  };
  type('b');
  ASSERT_TRUE(grid->EditorMode());
  EXPECT_EQ(grid->InplaceEditor()->Text(), "Belo Horizonte");
  EXPECT_EQ(cityId->AsInteger(), 1);
  type('r');
  EXPECT_EQ(grid->InplaceEditor()->Text(), "Brasilia");
  EXPECT_EQ(grid->SearchText(), "br");
  EXPECT_EQ(cityId->AsInteger(), 2);
  type('\b');
  EXPECT_EQ(grid->SearchText(), "b");
  // The drop-down list of the lookup dataset stores the chosen key.
  PostMessageA(GetFocus(), WM_KEYDOWN, VK_F4, 1);
  Pump();
  ASSERT_TRUE(grid->DroppedDown());
  SendMessageA(grid->DropDownList(), LB_SETCURSEL, 2, 0);
  grid->CloseUp(true);
  EXPECT_EQ(cityId->AsInteger(), 3);
  EXPECT_EQ(grid->InplaceEditor()->Text(), "Curitiba");
  grid->CloseUp(true);  // nothing open: nothing happens
  people->Post();
  EXPECT_EQ(city->AsString(), "Curitiba");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
  delete form;
  Pump();
}

TEST(GridEditing, EditorEventsAndPostOnEnter) {
  Host h;
  h.AddRows(30);
  // OnCanEditCell refuses: no editor, nothing changes.
  h.grid->OnCanEditCell = [](TJvDBGrid*, TField* f, bool& allow) { allow = f->FieldName() != "NAME"; };
  h.grid->SetSelectedIndex(kNAME);
  Pump();
  h.Type("z");
  EXPECT_FALSE(h.grid->EditorMode());
  // OnShowEditor refuses the editor of another column.
  h.grid->OnShowEditor = [](TComponent*, TField* f, bool& allow) { allow = f->FieldName() != "KIND"; };
  h.grid->SetSelectedIndex(kKIND);
  Pump();
  h.Type("z");
  EXPECT_FALSE(h.grid->EditorMode());
  // OnEditChange follows the typing in an allowed cell; PostOnEnterKey posts with Enter.
  int changes = 0;
  h.grid->OnEditChange = [&](TComponent*) { ++changes; };
  h.grid->PostOnEnterKey = true;
  h.grid->SetSelectedIndex(kID);
  Pump();
  h.Type("77");
  EXPECT_TRUE(h.grid->EditorMode());
  EXPECT_GE(changes, 2);
  h.Key(VK_RETURN);
  EXPECT_EQ(h.ds->State(), dsBrowse) << "Enter posted the record";
  EXPECT_EQ(h.F("ID")->AsInteger(), 77);
  // OnTopLeftChanged when the grid scrolls.
  int topLeft = 0;
  h.grid->OnTopLeftChanged = [&](TComponent*) { ++topLeft; };
  h.grid->Columns()[kNAME]->SetWidth(400);  // wider than the client: the grid can scroll sideways
  Pump();
  h.grid->SetLeftCol(h.grid->LeftCol() + 1);
  EXPECT_GT(topLeft, 0);
  // A double-click on a clicked title raises OnTitleBtnDblClick.
  h.grid->SetTitleButtons(true);
  int doubles = 0;
  h.grid->OnTitleBtnDblClick = [&](TComponent*, int, TField*) { ++doubles; };
  h.grid->SetLeftCol(h.grid->GridFixedCols());
  TRect title = h.ScreenCell(GridCol(h, kID), 0);
  h.DoubleClick(title.left + 10, title.top + 4);
  EXPECT_EQ(doubles, 1);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridLook, TextRoutineWrapsAndDefaultDrawingCanBeLeftToTheApplication) {
  Host h;
  h.AddRows(3);
  h.grid->SetAutoSizeRows(false);
  h.grid->SetRowsHeight(44);
  h.grid->Columns()[kNAME]->SetWidth(44);
  h.grid->Columns()[kID]->SetWidth(44);
  h.ds->MoveBy(1);
  h.ds->Edit();
  h.F("NAME")->SetAsString("Alpha Beta Gamma");
  h.ds->Post();
  h.ds->First();
  h.F("ID")->OnGetText = [](TField*, std::string& text, bool) { text = "one two three"; };
  Pump();
  const COLORREF white = ColorToRGB(clWindow);
  TRect name = h.ScreenCell(GridCol(h, kNAME), 2), id = h.ScreenCell(GridCol(h, kID), 2);
  // Below the first line of text.
  auto lower = [](const TRect& r) { return Rect(r.left + 1, r.top + 20, r.right - 1, r.bottom - 1); };
  auto inner = [](const TRect& r) { return Rect(r.left + 1, r.top + 1, r.right - 1, r.bottom - 1); };
  ASSERT_GT(h.InkIn(inner(name), white), 0);
  EXPECT_EQ(h.InkIn(lower(name), white), 0) << "one line without WordWrap";
  h.grid->SetWordWrap(true);
  Pump();
  EXPECT_GT(h.InkIn(lower(name), white), 0) << "string fields wrap";
  EXPECT_EQ(h.InkIn(lower(id), white), 0) << "other fields keep the framework's single line";
  h.grid->SetWordWrapAllFields(true);
  Pump();
  EXPECT_GT(h.InkIn(lower(id), white), 0) << "every field goes through the grid's text routine";
  h.Shot("grid-word-wrap");

  // Drawing off screen (only done without visual styles) gives the very same pixels as drawing in place.
  h.grid->UseXPThemes = false;
  h.grid->Invalidate();
  Pump();
  std::vector<COLORREF> offScreen = h.Pixels(name);
  h.grid->ReduceFlicker = false;
  h.grid->Invalidate();
  Pump();
  EXPECT_EQ(h.Pixels(name), offScreen);

  // Without DefaultDrawing the grid only fills the cells; OnDrawColumnCell does the rest.
  int drawn = 0;
  h.grid->OnDrawColumnCell = [&](TComponent*, const TRect&, int, TColumn*, TGridDrawState) { ++drawn; };
  h.grid->DefaultDrawing = false;
  h.grid->Invalidate();
  Pump();
  EXPECT_EQ(h.InkIn(inner(name), white), 0);
  EXPECT_GT(drawn, 0);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridLook, DotNetFrameFollowsFocusAndMouse) {
  Host h;
  h.AddRows(2);
  auto* other = new TButton(h.form);
  other->SetParent(h.form);
  other->SetBounds(8, 8 + 262, 60, 20);
  SetCursorPos(0, 0);  // away from the grid
  Pump();
  auto frame = [&](int x, int y) {
    HDC dc = GetWindowDC(h.grid->Handle());
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(h.grid->Handle(), dc);
    return c;
  };
  COLORREF before = frame(0, 0);
  h.grid->SetDotNetHighlighting(true);
  h.grid->SetFocus();
  Pump();
  EXPECT_EQ(frame(0, 0), ColorToRGB(TJvExDBGrid::kFocusedColor));
  EXPECT_EQ(frame(1, 1), ColorToRGB(TJvExDBGrid::kFocusedColor));
  other->SetFocus();
  // The system reports the pointer's leaving a moment later.
  testsupport::WaitFor([&] {
    Pump();
    return !h.grid->MouseOver();
  });
  ASSERT_FALSE(h.grid->MouseOver());
  EXPECT_EQ(frame(0, 0), ColorToRGB(TJvExDBGrid::kUnfocusedColor));
  EXPECT_EQ(frame(1, 1), ColorToRGB(h.grid->Color()));
  // The mouse over the grid lights the frame without the focus.
  TRect cell = h.ScreenCell(GridCol(h, kNAME), 1);
  h.MoveTo(cell.left + 3, cell.top + 3);
  EXPECT_TRUE(h.grid->MouseOver());
  EXPECT_EQ(frame(0, 0), ColorToRGB(TJvExDBGrid::kFocusedColor));
  EXPECT_NE(before, ColorToRGB(TJvExDBGrid::kFocusedColor));
}

TEST(GridHints, ShownAtTheCellOrAtTheMouse) {
  Host h;
  h.AddRows(2);
  h.grid->ShowCellHint = true;
  h.grid->Columns()[kNOTES]->SetWidth(30);
  Pump();
  TRect notes = h.ScreenCell(GridCol(h, kNOTES), 1);
  auto tipAt = [&]() -> POINT {
    HWND tip = WaitWindow(GetCurrentThreadId(), "tooltips_class32", "");
    if (!tip) return {-1, -1};
    RECT r;
    GetWindowRect(tip, &r);
    return {r.left, r.top};
  };
  h.MoveTo(notes.left + 5, notes.top + 5);
  POINT cell{notes.left, notes.top};
  ClientToScreen(h.grid->Handle(), &cell);
  // The tip window may sit a border's width off the point it was given; the same for both positions.
  POINT atCell = tipAt();
  EXPECT_NEAR(atCell.x, cell.x, 2);
  EXPECT_NEAR(atCell.y, cell.y, 2);
  h.Shot("grid-cell-hint");
  h.grid->CellHintPosition = gchpMouse;
  h.MoveTo(notes.left + 9, notes.top + 6);
  POINT mouse{notes.left + 9 + 12, notes.top + 6 + 16};
  ClientToScreen(h.grid->Handle(), &mouse);
  POINT atMouse = tipAt();
  EXPECT_EQ(atMouse.x - atCell.x, mouse.x - cell.x);
  EXPECT_EQ(atMouse.y - atCell.y, mouse.y - cell.y);
}

TEST(GridChooser, ModesListTheDatasetOrderOrTheGridOrder) {
  Host h;
  h.AddRows(1);
  h.grid->Columns().SetState(TDBGridColumnsState::csCustomized);
  h.grid->Columns().Move(kKIND, 0);
  Pump();
  auto listed = [&] {
    std::vector<std::string> items;
    Watcher chooser("", "Select columns", [&](HWND w) {
      HWND list = testsupport::FindChild(w, "ListBox");
      int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
      for (int i = 0; i < n; ++i) {
        char text[64] = {};
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.push_back(text);
      }
      PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 1);
    });
    h.grid->OpenColumnChooser();
    EXPECT_TRUE(chooser.Seen());
    return items;
  };
  EXPECT_EQ(listed(), (std::vector<std::string>{"ID", "NAME", "ACTIVE", "PRICE", "NOTES", "PHOTO", "KIND"}));
  h.grid->SelectColumn = scGrid;
  EXPECT_EQ(listed(), (std::vector<std::string>{"KIND", "ID", "NAME", "ACTIVE", "PRICE", "NOTES", "PHOTO"}));

  // The dialog's texts come from SelectColumnsDialogStrings; the field-name option shows only when a title
  // differs from its field name, and ticking it adds the names.
  h.grid->SelectColumnsDialogStrings().OK = "Apply";
  h.grid->SelectColumnsDialogStrings().RealNamesOption = "Field names";
  h.grid->SelectColumnsDialogStrings().Caption = "Columns";
  h.grid->Columns()[0]->Title().SetCaption("Kind of sale");
  bool okFound = false, optionShown = false;
  std::string first;
  Watcher chooser("", "Columns", [&](HWND w) {
    okFound = testsupport::FindChild(w, "Button", "Apply") != nullptr;
    HWND option = testsupport::FindChild(w, "Button", "Field names");
    optionShown = option && IsWindowVisible(option);
    if (option) {
      PostMessageA(option, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
      PostMessageA(option, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
      Sleep(300);
    }
    HWND list = testsupport::FindChild(w, "ListBox");
    char text[64] = {};
    SendMessageA(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
    first = text;
    PostMessageA(list, WM_KEYDOWN, VK_ESCAPE, 1);
  });
  h.grid->OpenColumnChooser();
  EXPECT_TRUE(chooser.Seen());
  EXPECT_TRUE(okFound);
  EXPECT_TRUE(optionShown);
  EXPECT_EQ(first, "Kind of sale [KIND]");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}
