// The grid's title row under real posted mouse input: columns dragged to another place by their titles (left
// button, and the right one standing in for it), the title popup menu and the title arrow's menu event,
// external edit controls that can or cannot be read-only, the cell events of painting and hints, dragging the
// grid itself by its top-left cell, and the classic drawing when visual styles are off.
#include <gtest/gtest.h>

#include "framework/component_text.h"
#include "framework/stdctrls.h"
#include "grid/grid_desktop.h"
#include "grid/test_uxtheme.h"
#include "support/desktop_win.h"

using namespace fw;
using namespace gridtest;

namespace {
constexpr int kID = 0, kNAME = 1, kACTIVE = 2, kPRICE = 3, kKIND = 6;

int GridCol(Host& h, int columnIndex) { return h.grid->GridColumnOf(h.grid->Columns()[columnIndex]); }

std::vector<std::string> ColumnNames(Host& h) {
  std::vector<std::string> names;
  for (int i = 0; i < h.grid->Columns().Count(); ++i) names.push_back(h.grid->Columns()[i]->FieldName());
  return names;
}

std::vector<std::string> FieldNames(Host& h) {
  std::vector<std::string> names;
  for (int i = 0; i < h.ds->FieldCount(); ++i) names.push_back(h.ds->Fields()[i]->FieldName());
  return names;
}

TPoint TitleMiddle(Host& h, int columnIndex) {
  TRect r = h.ScreenCell(GridCol(h, columnIndex), 0);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Drags the title of one column over the title of another in steps and releases it there.
void DragTitle(Host& h, int fromColumn, int toColumn, bool right = false) {
  TPoint from = TitleMiddle(h, fromColumn), to = TitleMiddle(h, toColumn);
  h.Press(from.x, from.y, right);
  h.MoveTo(from.x + (to.x > from.x ? 8 : -8), from.y, right);
  h.MoveTo(to.x, to.y, right);
  h.Release(to.x, to.y, right);
}

// Watches for the popup menu window of this thread and chooses an item with keys.
std::unique_ptr<Watcher> ChooseMenuItem(int downs, bool screenshot) {
  return std::make_unique<Watcher>("#32768", "", [downs, screenshot](HWND menu) {
    Sleep(300);
    if (screenshot) testsupport::SaveScreenshot("grid-title-popup");
    for (int i = 0; i < downs; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 1);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 1);
  });
}
}  // namespace

TEST(GridColumnMove, DraggedTitleMovesTheFieldOrTheColumn) {
  Host h;
  h.AddRows(5);
  std::vector<std::pair<int, int>> moves;
  h.grid->OnColumnMoved = [&](TComponent*, int from, int to) { moves.emplace_back(from, to); };
  int titleClicks = 0;
  h.grid->OnTitleClick = [&](TComponent*) { ++titleClicks; };
  h.grid->SetSelectedIndex(kNAME);
  h.grid->Columns()[kNAME]->SetWidth(90);
  Pump();

  // NAME dragged onto PRICE: while dragging, the drop marker stands on PRICE's right border.
  TPoint from = TitleMiddle(h, kNAME), to = TitleMiddle(h, kPRICE);
  TRect price = h.ScreenCell(GridCol(h, kPRICE), 0);
  h.Press(from.x, from.y);
  EXPECT_FALSE(h.grid->ColumnDragging()) << "a press alone drags nothing";
  h.MoveTo(from.x + 8, from.y);
  h.MoveTo(to.x, to.y);
  ASSERT_TRUE(h.grid->ColumnDragging());
  EXPECT_EQ(h.grid->MoveOrigin(), GridCol(h, kNAME));
  EXPECT_EQ(h.grid->MoveTarget(), GridCol(h, kPRICE));
  EXPECT_EQ(h.PixelAt(price.right, price.top + 3), ColorToRGB(clHighlight));
  EXPECT_EQ(h.PixelAt(price.right, price.bottom + 10), ColorToRGB(clHighlight)) << "the bar runs down the rows";
  h.Shot("grid-column-move");
  h.Release(to.x, to.y);
  EXPECT_FALSE(h.grid->ColumnDragging());
  EXPECT_EQ(GetCapture(), nullptr);
  // Default columns show the fields in the dataset's order: the field moved and the columns followed.
  EXPECT_EQ(FieldNames(h), (std::vector<std::string>{"ID", "ACTIVE", "PRICE", "NAME", "NOTES", "PHOTO", "KIND"}));
  EXPECT_EQ(ColumnNames(h), FieldNames(h));
  EXPECT_EQ(h.grid->Columns().State(), TDBGridColumnsState::csDefault);
  EXPECT_EQ(h.grid->SelectedField(), h.F("NAME")) << "the current cell went with its column";
  EXPECT_EQ(h.grid->Columns()[3]->Width(), 90) << "and so did its width";
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0], std::make_pair(1, 3));
  EXPECT_EQ(titleClicks, 0) << "a drag is no title click";
  h.Shot("grid-column-moved");

  // Customised columns move themselves; the dataset keeps its order. Leftwards past the indicator the column
  // lands first.
  h.grid->Columns().SetState(TDBGridColumnsState::csCustomized);
  TPoint kind = TitleMiddle(h, kKIND);
  h.Press(kind.x, kind.y);
  h.MoveTo(kind.x - 8, kind.y);
  h.MoveTo(3, kind.y);
  EXPECT_EQ(h.grid->MoveTarget(), h.grid->GridFixedCols());
  TRect first = h.ScreenCell(h.grid->GridFixedCols(), 0);
  EXPECT_EQ(h.PixelAt(first.left, first.top + 3), ColorToRGB(clHighlight)) << "moving left: the left border";
  h.Release(3, kind.y);
  EXPECT_EQ(ColumnNames(h), (std::vector<std::string>{"KIND", "ID", "ACTIVE", "PRICE", "NAME", "NOTES", "PHOTO"}));
  EXPECT_EQ(FieldNames(h), (std::vector<std::string>{"ID", "ACTIVE", "PRICE", "NAME", "NOTES", "PHOTO", "KIND"}));
  EXPECT_EQ(moves.back(), std::make_pair(6, 0));

  // Escape drops a drag; a press and release without moving is a title click.
  TPoint id = TitleMiddle(h, 1);
  TPoint active = TitleMiddle(h, 2);
  h.Press(id.x, id.y);
  h.MoveTo(active.x, active.y);
  ASSERT_TRUE(h.grid->ColumnDragging());
  PostMessageA(h.grid->Handle(), WM_KEYDOWN, VK_ESCAPE, 1);
  Pump();
  EXPECT_FALSE(h.grid->ColumnDragging());
  h.Release(active.x, active.y);
  EXPECT_EQ(h.grid->Columns()[1]->FieldName(), "ID");
  h.Click(id.x, id.y);
  EXPECT_EQ(titleClicks, 1);
  EXPECT_EQ(moves.size(), 2u);

  // Without dgColumnResize titles do not move.
  h.grid->SetOptions(h.grid->Options() & ~dgColumnResize);
  DragTitle(h, 1, 3);
  EXPECT_EQ(h.grid->Columns()[1]->FieldName(), "ID");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridColumnMove, DraggingPastTheRightEdgeScrollsTowardsThePointer) {
  Host h;
  h.AddRows(3);
  h.grid->Columns().SetState(TDBGridColumnsState::csCustomized);
  for (int i = 0; i < h.grid->Columns().Count(); ++i) h.grid->Columns()[i]->SetWidth(150);
  Pump();
  int left = h.grid->LeftCol();
  TPoint id = TitleMiddle(h, kID);
  int outside = h.grid->ClientWidth() + 10;
  h.Press(id.x, id.y);
  h.MoveTo(id.x + 10, id.y);
  for (int i = 0; i < 3; ++i) h.MoveTo(outside, id.y);
  EXPECT_GT(h.grid->LeftCol(), left) << "a column per move past the edge (the pointer's own moves count too)";
  EXPECT_TRUE(h.grid->ColumnDragging()) << "scrolling keeps the drag";
  EXPECT_EQ(GetCapture(), h.grid->Handle());
  int target = h.grid->MoveTarget();
  h.Release(outside, id.y);
  EXPECT_EQ(h.grid->Columns()[target - 1]->FieldName(), "ID");
  EXPECT_GT(target - 1, 2);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridColumnMove, TitleButtonsMoveOnlyWhenAllowedAndTheRightButtonStandsIn) {
  Host h;
  h.AddRows(3);
  h.grid->SetTitleButtons(true);
  std::vector<int> clicks;
  h.grid->OnTitleBtnClick = [&](TComponent*, int col, TField*) { clicks.push_back(col); };
  int checks = 0;
  h.grid->OnCheckButton = [&](TComponent*, int, TField*, bool&) { ++checks; };

  // A title button that may not move stays put; released elsewhere it does not click either.
  DragTitle(h, kID, kPRICE);
  EXPECT_EQ(h.grid->Columns()[kID]->FieldName(), "ID");
  EXPECT_TRUE(clicks.empty());
  EXPECT_EQ(checks, 1);

  h.grid->TitleButtonAllowMove = true;
  DragTitle(h, kID, kPRICE);
  EXPECT_EQ(FieldNames(h), (std::vector<std::string>{"NAME", "ACTIVE", "PRICE", "ID", "NOTES", "PHOTO", "KIND"}));
  EXPECT_TRUE(clicks.empty()) << "released over another column: no title click";
  EXPECT_EQ(GetCapture(), nullptr);

  // The right button drags titles like the left one (column resizing is on) and is itself again afterwards.
  DragTitle(h, 3, 0, true);
  EXPECT_EQ(FieldNames(h), (std::vector<std::string>{"ID", "NAME", "ACTIVE", "PRICE", "NOTES", "PHOTO", "KIND"}));
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(checks, 3) << "the right press asked OnCheckButton like a left one";
  // A right click on a title is a title-button click then.
  TPoint name = TitleMiddle(h, 1);
  h.Click(name.x, name.y, 0, true);
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0], 1);
  EXPECT_EQ(h.grid->SortedField(), "NAME");
  // Without column resizing the right button is only the right button.
  h.grid->SetOptions(h.grid->Options() & ~dgColumnResize);
  h.Click(name.x, name.y, 0, true);
  DragTitle(h, 1, 3, true);
  EXPECT_EQ(clicks.size(), 1u);
  EXPECT_EQ(h.grid->Columns()[1]->FieldName(), "NAME");
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridTitleMenu, PopupMenuAndTheArrowEvent) {
  Host h;
  h.AddRows(3);
  auto* menu = new TPopupMenu(h.form);
  auto* sort = new TMenuItem(menu);
  sort->SetCaption("Sort");
  auto* hide = new TMenuItem(menu);
  hide->SetCaption("Hide column");
  menu->Items().Add(sort);
  menu->Items().Add(hide);
  std::vector<std::string> chosen;
  sort->OnClick = [&](TComponent* s) { chosen.push_back(static_cast<TMenuItem*>(s)->Caption()); };
  hide->OnClick = sort->OnClick;
  h.grid->SetTitlePopup(menu);

  // A right click on a title pops the menu up at the mouse for the grid; the chosen item runs.
  TPoint name = TitleMiddle(h, kNAME);
  {
    auto watch = ChooseMenuItem(2, true);
    h.Click(name.x, name.y, 0, true);
    EXPECT_TRUE(watch->Seen());
  }
  EXPECT_EQ(chosen, std::vector<std::string>{"Hide column"});
  EXPECT_EQ(menu->PopupComponent(), h.grid);
  EXPECT_FALSE(menu->Showing());
  // Not on data rows.
  {
    auto watch = ChooseMenuItem(1, false);
    TRect cell = h.ScreenCell(GridCol(h, kNAME), 2);
    h.Click(cell.left + 4, cell.top + 4, 0, true);
    Sleep(200);
    EXPECT_FALSE(watch->Seen());
  }
  // The top-left cell: the menu without the arrow event, the event instead of the menu when it is assigned.
  h.grid->SetTitleArrow(true);
  {
    auto watch = ChooseMenuItem(1, false);
    h.Click(3, 3, 0, true);
    EXPECT_TRUE(watch->Seen());
  }
  EXPECT_EQ(chosen.back(), "Sort");
  int arrowEvents = 0;
  h.grid->OnTitleArrowMenuEvent = [&](TComponent* s) {
    ++arrowEvents;
    EXPECT_EQ(s, h.grid);
  };
  {
    auto watch = ChooseMenuItem(1, false);
    h.Click(3, 3, 0, true);
    Sleep(200);
    EXPECT_FALSE(watch->Seen());
  }
  EXPECT_EQ(arrowEvents, 1);
  EXPECT_EQ(chosen.size(), 2u);
  // Freeing the menu clears the grid's reference.
  delete menu;
  EXPECT_EQ(h.grid->TitlePopup(), nullptr);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridTitleMenu, StoredFormsNestItemsInTheirMenu) {
  App();
  const char* text =
      "object F: TForm\n"
      "  object Menu: TPopupMenu\n"
      "    object ItemA: TMenuItem\n      Caption = 'First'\n    end\n"
      "    object ItemB: TMenuItem\n      Caption = 'More'\n"
      "      object ItemC: TMenuItem\n        Caption = 'Inner'\n        Enabled = False\n      end\n"
      "    end\n"
      "  end\n"
      "  object NameEdit: TEdit\n    ReadOnly = True\n  end\n"
      "  object G: TJvDBGrid\n    TitlePopup = Menu\n    DragKind = dkDock\n    DragMode = dmAutomatic\n  end\n"
      "end\n";
  TForm form(&App());
  ASSERT_TRUE(LoadFormText(form, text));
  auto* g = dynamic_cast<TJvDBGrid*>(form.FindComponent("G"));
  auto* menu = dynamic_cast<TPopupMenu*>(form.FindComponent("Menu"));
  ASSERT_NE(g, nullptr);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(g->TitlePopup(), menu);
  ASSERT_EQ(menu->Items().Count(), 2);
  EXPECT_EQ(menu->Items().Items(0)->Caption(), "First");
  ASSERT_EQ(menu->Items().Items(1)->Count(), 1);
  EXPECT_FALSE(menu->Items().Items(1)->Items(0)->Enabled());
  EXPECT_EQ(g->DragKind(), dkDock);
  EXPECT_EQ(g->DragMode(), dmAutomatic);
  auto* edit = dynamic_cast<TEdit*>(form.FindComponent("NameEdit"));
  ASSERT_NE(edit, nullptr);
  EXPECT_TRUE(edit->ReadOnly());
  // A title popup that is no menu is refused.
  TForm form2(&App());
  EXPECT_THROW(LoadFormText(form2, "object F: TForm\n object B: TButton\n end\n"
                                   " object G: TJvDBGrid\n TitlePopup = B\n end\nend\n"),
               EReadError);
}

TEST(GridEditControls, ReadOnlyCapableControlsShowEveryCell) {
  Host h;
  h.AddRows(3);
  auto* edit = new TEdit(h.form);
  edit->SetName("NameEdit");
  edit->SetParent(h.form);
  auto* button = new TButton(h.form);
  button->SetName("KindButton");
  button->SetParent(h.form);
  TJvDBGridControl* nameItem = h.grid->EditControls().Add();
  nameItem->ControlName = "NameEdit";
  nameItem->FieldName = "NAME";
  TJvDBGridControl* kindItem = h.grid->EditControls().Add();
  kindItem->ControlName = "KindButton";
  kindItem->FieldName = "KIND";
  edit->SetVisible(false);
  button->SetVisible(false);

  auto openEditor = [&](int column) {
    h.grid->SetFocus();
    h.grid->SetSelectedIndex(kID);
    h.grid->SetSelectedIndex(column);
    Pump();
    h.Key(VK_F2);
  };
  // An editable cell: the edit shows, writable, over the cell.
  openEditor(kNAME);
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(h.grid->ActiveEditControl(), edit);
  EXPECT_TRUE(edit->Visible());
  EXPECT_FALSE(edit->ReadOnly());
  EXPECT_FALSE(GetWindowLongA(edit->Handle(), GWL_STYLE) & ES_READONLY);
  TRect cell = h.ScreenCell(h.grid->Col(), h.grid->Row());
  POINT p{cell.left, cell.top};
  MapWindowPoints(h.grid->Handle(), h.form->Handle(), &p, 1);
  EXPECT_EQ(edit->Left(), p.x);
  EXPECT_EQ(edit->Top(), p.y);
  // A cell that cannot be edited: the same edit shows, read-only.
  h.F("NAME")->SetReadOnly(true);
  openEditor(kNAME);
  EXPECT_EQ(h.grid->ActiveEditControl(), edit);
  EXPECT_TRUE(edit->Visible());
  EXPECT_TRUE(edit->ReadOnly());
  EXPECT_TRUE(GetWindowLongA(edit->Handle(), GWL_STYLE) & ES_READONLY);
  h.grid->Columns().SetState(TDBGridColumnsState::csCustomized);
  h.F("NAME")->SetReadOnly(false);
  h.grid->Columns()[kNAME]->SetReadOnly(true);
  openEditor(kNAME);
  EXPECT_TRUE(edit->ReadOnly()) << "a read-only column counts too";
  h.grid->Columns()[kNAME]->SetReadOnly(false);
  openEditor(kNAME);
  EXPECT_FALSE(edit->ReadOnly());

  // A control without ReadOnly shows only where the cell can be edited.
  openEditor(kKIND);
  EXPECT_EQ(h.grid->ActiveEditControl(), button);
  EXPECT_TRUE(button->Visible());
  EXPECT_FALSE(edit->Visible()) << "the previous control was put away";
  h.F("KIND")->SetReadOnly(true);
  openEditor(kKIND);
  EXPECT_FALSE(button->Visible());
  EXPECT_EQ(h.grid->ActiveEditControl(), nullptr);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridEvents, CellPropsOnlyWithoutCellParamsAndCellHintText) {
  Host h;
  h.AddRows(4);
  int props = 0, params = 0;
  const COLORREF pink = RGB(0xFF, 0xD0, 0xE0);
  h.grid->OnGetCellProps = [&](TComponent*, TField* f, TFont& font, TColor& bg) {
    ++props;
    if (f && f->FieldName() == "NAME") {
      bg = pink;
      font.SetColor(RGB(0xC0, 0, 0));
    }
  };
  h.grid->Invalidate();
  Pump();
  TRect name = h.ScreenCell(GridCol(h, kNAME), 2);
  EXPECT_GT(props, 0);
  EXPECT_EQ(h.PixelAt(name.right - 3, name.top + 1), pink);
  bool redText = false;
  for (int y = name.top; y < name.bottom && !redText; ++y)
    for (int x = name.left; x < name.right && !redText; ++x) redText = h.PixelAt(x, y) == RGB(0xC0, 0, 0);
  EXPECT_TRUE(redText) << "the font colour given by the event draws the text";
  TRect id = h.ScreenCell(GridCol(h, kID), 2);
  EXPECT_NE(h.PixelAt(id.right - 3, id.top + 1), pink);
  // With OnGetCellParams assigned, OnGetCellProps is not raised.
  h.grid->OnGetCellParams = [&](TComponent*, TField*, TFont&, TColor&, bool) { ++params; };
  props = 0;
  h.grid->Invalidate();
  Pump();
  EXPECT_GT(params, 0);
  EXPECT_EQ(props, 0);
  EXPECT_NE(h.PixelAt(name.right - 3, name.top + 1), pink);

  // OnShowCellHint may change the text: of a cell that overflows, and of one that fits.
  h.grid->ShowCellHint = true;
  h.grid->Columns()[kNAME]->SetWidth(20);
  Pump();
  name = h.ScreenCell(GridCol(h, kNAME), 1);
  EXPECT_EQ(h.grid->HintTextAt(name.left + 3, name.top + 3), "Ana 1");
  std::vector<std::string> seen;
  h.grid->OnShowCellHint = [&](TComponent*, TField* f, std::string& hint, int&) {
    seen.push_back(hint);
    if (f && f->FieldName() == "NAME") hint = "Contact: " + hint;
    if (f && f->FieldName() == "ID") hint = "Number";
  };
  EXPECT_EQ(h.grid->HintTextAt(name.left + 3, name.top + 3), "Contact: Ana 1");
  id = h.ScreenCell(GridCol(h, kID), 1);
  EXPECT_EQ(h.grid->HintTextAt(id.left + 3, id.top + 3), "Number");
  EXPECT_EQ(seen.back(), "") << "the event saw that the fitting text needs no hint";
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridEvents, RepublishedMouseWheelSizeAndContextEvents) {
  Host h;
  h.AddRows(10);
  std::vector<std::string> seen;
  h.grid->OnMouseDown = [&](TComponent*, TMouseButton b, TShift, int, int) {
    seen.push_back(b == TMouseButton::mbRight ? "down right" : "down left");
  };
  h.grid->OnMouseUp = [&](TComponent*, TMouseButton, TShift, int, int) { seen.push_back("up"); };
  int moves = 0;
  h.grid->OnMouseMove = [&](TComponent*, TShift, int, int) { ++moves; };
  TPoint popupAt{};
  h.grid->OnContextPopup = [&](TComponent*, TPoint p, bool& handled) {
    popupAt = p;
    handled = true;
  };
  TRect cell = h.ScreenCell(GridCol(h, kNAME), 3);
  h.MoveTo(cell.left + 4, cell.top + 4);
  EXPECT_GT(moves, 0);
  h.Click(cell.left + 4, cell.top + 4);
  h.Click(cell.left + 6, cell.top + 5, 0, true);
  TPoint title = TitleMiddle(h, kNAME);
  h.Click(title.x, title.y);
  EXPECT_EQ(seen, (std::vector<std::string>{"down left", "up", "down right", "up", "down left", "up"}));
  EXPECT_EQ(popupAt.x, cell.left + 6) << "the right-button release asks for the context menu";
  EXPECT_EQ(popupAt.y, cell.top + 5);
  // A wheel handler that handles the turn keeps the grid still; one that does not lets it move.
  h.ds->First();
  h.grid->OnMouseWheelDown = [](TComponent*, TShift, TPoint, bool& handled) { handled = true; };
  h.Wheel(-120);
  EXPECT_EQ(h.ds->RecNo(), 1);
  int ups = 0;
  h.grid->OnMouseWheelUp = [&](TComponent*, TShift, TPoint, bool&) { ++ups; };
  h.ds->Last();
  h.Wheel(120);
  EXPECT_EQ(ups, 1);
  EXPECT_EQ(h.ds->RecNo(), 8);
  // OnResize follows a new size.
  int resized = 0;
  h.grid->OnResize = [&](TComponent*) { ++resized; };
  h.grid->SetBounds(8, 8, 400, 200);
  Pump();
  EXPECT_GT(resized, 0);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridRows, ARowBorderDraggedInTheIndicatorSizesEveryDataRow) {
  Host h;
  h.AddRows(5);
  TRect first = h.ScreenCell(0, 1);
  // Row borders are no handles by default.
  h.Press(5, first.bottom);
  EXPECT_NE(h.grid->GridState(), TGridState::gsRowSizing);
  h.Release(5, first.bottom);
  h.grid->SetRowResize(true);
  EXPECT_FALSE(h.grid->RowResize()) << "not while the rows size themselves";
  h.grid->SetAutoSizeRows(false);
  h.grid->SetRowResize(true);
  ASSERT_TRUE(h.grid->RowResize());
  int before = h.grid->RowsHeight();
  first = h.ScreenCell(0, 1);
  h.Press(5, first.bottom);
  EXPECT_EQ(h.grid->GridState(), TGridState::gsRowSizing);
  h.MoveTo(5, first.bottom + 12);
  h.Release(5, first.bottom + 12);
  EXPECT_EQ(h.grid->GridState(), TGridState::gsNormal);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(h.grid->RowsHeight(), before + 12);
  for (int r = 1; r < h.grid->RowCount(); ++r) EXPECT_EQ(h.grid->RowHeight(r), before + 12) << r;
  EXPECT_EQ(h.ds->RecNo(), 1) << "sizing moves no record";
  h.Shot("grid-row-resize");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridDocking, TopLeftCellDragsTheGrid) {
  Host h;
  h.AddRows(2);
  std::vector<TPoint> docks;
  h.grid->OnEndDock = [&](TComponent*, TComponent* target, int x, int y) {
    EXPECT_EQ(target, nullptr);
    docks.push_back({x, y});
  };
  // Not docking: the top-left cell does nothing of the kind.
  h.Press(3, 3);
  EXPECT_FALSE(h.grid->Dragging());
  h.Release(3, 3);
  h.grid->SetDragKind(dkDock);
  h.grid->SetDragMode(dmAutomatic);
  h.Press(3, 3);
  ASSERT_TRUE(h.grid->Dragging());
  EXPECT_EQ(GetCapture(), h.grid->Handle());
  h.MoveTo(60, 40);
  POINT screen{60, 40};
  ClientToScreen(h.grid->Handle(), &screen);
  EXPECT_EQ(h.grid->DragPos().x, screen.x);
  EXPECT_EQ(h.grid->DragPos().y, screen.y);
  h.Release(60, 40);
  EXPECT_FALSE(h.grid->Dragging());
  EXPECT_EQ(GetCapture(), nullptr);
  ASSERT_EQ(docks.size(), 1u);
  EXPECT_EQ(docks[0].x, screen.x);
  // Escape cancels: the event gets no point. A press elsewhere starts no drag.
  h.Press(3, 3);
  PostMessageA(h.grid->Handle(), WM_KEYDOWN, VK_ESCAPE, 1);
  Pump();
  EXPECT_FALSE(h.grid->Dragging());
  h.Release(3, 3);
  ASSERT_EQ(docks.size(), 2u);
  EXPECT_EQ(docks[1].x, -1);
  TPoint name = TitleMiddle(h, kNAME);
  h.Press(name.x, name.y + 30);
  EXPECT_FALSE(h.grid->Dragging());
  h.Release(name.x, name.y + 30);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(GridThemes, StyledTitlesOnlyWhileStylesAreActive) {
  // A missing library: no styles, and drawing asks nothing of it.
  TThemeServices missing("no-such-uxtheme.dll");
  EXPECT_FALSE(missing.Available());
  EXPECT_FALSE(missing.Active());
  HDC dc = GetDC(nullptr);
  EXPECT_FALSE(missing.DrawHeaderItem(nullptr, dc, Rect(0, 0, 40, 20), THeaderState::Hot));
  ReleaseDC(nullptr, dc);

  Host h;
  h.AddRows(2);
  TRect title = h.ScreenCell(GridCol(h, kPRICE), 0);
  auto repaint = [&] {
    h.grid->Invalidate();
    Pump();
    h.grid->Update();
  };
  // By default the grid follows the process's styles.
  EXPECT_EQ(h.grid->ThemedDrawing(), TThemeServices::Instance().Active());

  // Styles that are always active: titles are themed header items, no fixed grid lines, and the title under
  // the mouse is hot.
  TThemeServices styles("test_uxtheme.dll");
  ASSERT_TRUE(styles.Active()) << "test_uxtheme.dll was not loaded";
  h.grid->SetThemeServices(&styles);
  h.MoveTo(title.left + 5, title.bottom + 20);
  repaint();
  EXPECT_TRUE(h.grid->ThemedDrawing());
  EXPECT_FALSE(h.grid->GridOptions() & (goFixedVertLine | goFixedHorzLine));
  EXPECT_EQ(h.PixelAt(title.right - 3, title.top + 3), testuxtheme::kNormal);  // right of the caption
  h.MoveTo(title.left + 5, title.top + 5);
  EXPECT_EQ(h.grid->HotTitle(), GridCol(h, kPRICE));
  repaint();
  EXPECT_EQ(h.PixelAt(title.right - 3, title.top + 3), testuxtheme::kHot);
  h.MoveTo(title.left + 5, title.bottom + 20);
  EXPECT_EQ(h.grid->HotTitle(), -1);
  // The box between the scroll bars has the grid's colour.
  RedrawWindow(h.grid->Handle(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  RECT client;
  GetClientRect(h.grid->Handle(), &client);
  POINT corner{client.right + 3, client.bottom + 3};
  ClientToScreen(h.grid->Handle(), &corner);
  RECT window;
  GetWindowRect(h.grid->Handle(), &window);
  LONG style = GetWindowLongA(h.grid->Handle(), GWL_STYLE);
  ASSERT_TRUE((style & WS_VSCROLL) && (style & WS_HSCROLL)) << "no box between two scroll bars to check";
  HDC wdc = GetWindowDC(h.grid->Handle());
  EXPECT_EQ(GetPixel(wdc, corner.x - window.left, corner.y - window.top), ColorToRGB(h.grid->Color()));
  ReleaseDC(h.grid->Handle(), wdc);
  h.Shot("grid-themed-titles");

  // Classic titles (styles off for the grid): raised 3D edge and the fixed lines back.
  h.grid->UseXPThemes = false;
  EXPECT_FALSE(h.grid->ThemedDrawing());
  repaint();
  EXPECT_TRUE(h.grid->GridOptions() & goFixedVertLine);
  EXPECT_TRUE(h.grid->GridOptions() & goFixedHorzLine);
  EXPECT_EQ(h.PixelAt(title.left + 3, title.top), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(h.PixelAt(title.left + 3, title.bottom - 1), ColorToRGB(clBtnShadow));
  h.MoveTo(title.left + 5, title.top + 5);
  EXPECT_EQ(h.grid->HotTitle(), -1);
  h.Shot("grid-classic-titles");
  h.grid->SetThemeServices(nullptr);
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}
