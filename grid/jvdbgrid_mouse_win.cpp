// The data grid's mouse: title buttons and sorting, the title arrow and menu, frozen columns, multi-row
// selection by click, column-border fitting and the wheel.
#include "grid/jvdbgrid.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

#include "framework/forms.h"
#include "framework/typinfo.h"
#include "grid/jvdbgrid_support.h"

namespace fw {

using namespace jvgrid;
using namespace gridsupport;

int TJvDBGrid::TitleColumnAt(int x, int y) {
  GridCoord c = MouseCoord(x, y);
  // Only a column's own title, which may cover several title rows; enclosing columns' titles are no buttons.
  if (c.y < 0 || c.y >= TitleOffset() || !ShownColumn(c.x) || TitleColumn(c.x, c.y) != ShownColumn(c.x)) return -1;
  return c.x;
}

bool TJvDBGrid::IsSizingZone(int x, int y, int& col) {
  if (TJvExDBGrid::IsSizingZone(x, y, col)) return true;
  col = -1;
  TDBGridOptions o = TCustomDBGrid::Options();
  if (!(o & dgColumnResize) || !(o & dgTitles)) return false;
  GridCoord c = MouseCoord(x, y);
  if (c.y < 0 || c.y >= TitleOffset()) return false;
  int border = geo_.ColumnBorderAt(x, 5);
  if (border < IndicatorOffset() || CellsJoined(border, c.y, true)) return false;
  col = border;
  return true;
}

void TJvDBGrid::MouseDown(TMouseButton button, TShift shift, int x, int y) {
  if (!AcquireFocus()) return;
  if (shift & ssDouble) {
    TJvExDBGrid::MouseDown(button, shift, x, y);
    return;
  }
  int sizeCol;
  if (IsSizingZone(x, y, sizeCol)) {
    sizingCol_ = sizeCol;
    TJvExDBGrid::MouseDown(button, shift, x, y);
    return;
  }
  TDBGridOptions o = TCustomDBGrid::Options();
  GridCoord c = MouseCoord(x, y);
  bool titles = o & dgTitles, indicator = o & dgIndicator;
  // 1. The title arrow.
  if (button == TMouseButton::mbLeft && c.x == 0 && c.y == 0 && titleArrow_ && titles && indicator) {
    arrowPressed_ = true;
    return;
  }
  // 2. Right button on the title row: the title arrow's menu event, or the title popup menu.
  if (button == TMouseButton::mbRight && titles && indicator && c.y >= 0 && c.y < TitleOffset()) {
    if (c.x == 0 && titleArrow_ && OnTitleArrowMenuEvent) {
      OnTitleArrowMenuEvent(this);
      return;
    }
    if (titlePopup_) {
      POINT p{x, y};
      ClientToScreen(Handle(), &p);
      titlePopup_->SetPopupComponent(this);
      titlePopup_->Popup(p.x, p.y);
      return;
    }
  }
  // The expand button of a nested column's title.
  if (button == TMouseButton::mbLeft && titles && ClickExpandButton(x, y)) return;
  // 3. Docking: the top-left cell is the grid's handle.
  if (button == TMouseButton::mbLeft && DragKind() == dkDock && DragMode() == dmAutomatic && c.x == 0 && c.y == 0 &&
      IndicatorOffset() > 0 && TitleOffset() > 0) {
    BeginDrag();
    return;
  }
  // 4. Title buttons. With column resizing the right button drags titles too: it acts as the left one until
  // it is released.
  if (titleButtons_ && DataLink().Active() && titles && TitleColumnAt(x, y) >= 0) {
    if (button == TMouseButton::mbRight && (o & dgColumnResize)) {
      swapButtons_ = true;
      SetCapture(Handle());
      button = TMouseButton::mbLeft;
    }
    if (button == TMouseButton::mbLeft) {
      bool enabled = true;
      TColumn* column = ShownColumn(c.x);
      if (OnCheckButton) OnCheckButton(this, column->Index(), column->Field(), enabled);
      if (enabled) {
        SetCapture(Handle());
        tracking_ = true;
        pressedOver_ = true;
        pressedCol_ = c.x;
        InvalidateTitle(c.x);
      } else if (BeepOnError) {
        MessageBeep(0);
      }
    }
    if (!TitleButtonAllowMove) return;
  }
  int oldCol = Col(), oldRow = Row();
  clickOnCurrentCell_ = c.x == oldCol && c.y == oldRow;
  // 5. The frozen area of a data row.
  if (c.y >= TitleOffset() && c.x >= 0 && c.x < TCustomGrid::FixedCols()) {
    if (indicator) {
      TJvExDBGrid::MouseDown(button, shift, 1, y);
    } else if (DataLink().Active()) {
      UpdateData();
      DataLink().MoveBy(c.y - Row());
      if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
    }
  } else if ((o & dgRowSelect) && c.y >= TitleOffset()) {
    TGridOptions g = GridOptions();
    SetGridOptions(g & ~goRowSizing);
    try {
      TJvExDBGrid::MouseDown(button, shift, 1, y);
    } catch (...) {
      SetGridOptions(g);
      throw;
    }
    SetGridOptions(g);
  } else {
    Restore<bool> keep(alwaysShowEditor_);
    if (button == TMouseButton::mbRight) alwaysShowEditor_ = false;
    TJvExDBGrid::MouseDown(button, shift, x, y);
  }
  if (Col() == oldCol && Row() != oldRow && alwaysShowEditor_) ShowEditor();
  // 7. Multi-row selection.
  if (button != TMouseButton::mbLeft || !multiSelect_ || !DataLink().Active()) return;
  if (c.y < TitleOffset() && (o & dgColumnResize)) return;
  TBookmarkList& rows = SelectedRows();
  bool ctrl = shift & ssCtrl, sh = shift & ssShift;
  TDataSet* ds = DataLink().DataSet();
  if (ctrl && !sh) {
    rows.SetCurrentRowSelected(!rows.CurrentRowSelected());
  } else if (sh && !ctrl && rows.Count() > 0) {
    rows.SetCurrentRowSelected(!rows.CurrentRowSelected());
    if (rows.CurrentRowSelected()) {
      TBookmark here = ds->GetBookmark();
      bool before = false;
      for (int i = 0; i < rows.Count(); ++i)
        if (ds->CompareBookmarks(rows.Items(i), here) < 0) before = true;
      int dir = before ? -1 : 1;
      ControlsGuard guard(ds);
      try {
        while (ds->MoveBy(dir) != 0 && !rows.CurrentRowSelected()) rows.SetCurrentRowSelected(true);
      } catch (...) {
        ds->GotoBookmark(here);
        throw;
      }
      ds->GotoBookmark(here);
    }
  } else if (!ctrl && !sh) {
    rows.Clear();
    if (ClearSelection) rows.SetCurrentRowSelected(true);
  }
  Invalidate();
}

void TJvDBGrid::CellClick(TColumn* column) {
  TJvExDBGrid::CellClick(column);
  TField* field = column ? column->Field() : nullptr;
  if (clickOnCurrentCell_ && field && IsLogicalLike(field) && CellEditable(column, field)) {
    pendingLogical_ = field;
    ChangeBoolean(LogicalKey::Toggle);
  }
  clickOnCurrentCell_ = false;
}

void TJvDBGrid::MouseMove(TShift shift, int x, int y) {
  // Styled titles light up under the mouse.
  int hot = ThemedDrawing() ? TitleColumnAt(x, y) : -1;
  if (hot != hotTitle_) {
    if (hotTitle_ >= 0) InvalidateTitle(hotTitle_);
    hotTitle_ = hot;
    if (hot >= 0) InvalidateTitle(hot);
  }
  if (tracking_) {
    bool over = TitleColumnAt(x, y) == pressedCol_;
    if (over != pressedOver_) {
      pressedOver_ = over;
      InvalidateTitle(pressedCol_);
    }
  }
  TJvExDBGrid::MouseMove(shift, x, y);
}

void TJvDBGrid::DoTitleClick(int aCol, TField* field) {
  if (AutoSort && field) {
    bool same = SameTextIgnoringCase(field->FieldName(), sortedField_);
    sortMarker_ = NextSortMarker(same, sortMarker_);
    sortedField_ = field->FieldName();
  }
  lastTitleClick_ = aCol;
  if (OnTitleBtnClick) OnTitleBtnClick(this, aCol, field);
  InvalidateRow(0);
}

void TJvDBGrid::MouseUp(TMouseButton button, TShift shift, int x, int y) {
  if (swapButtons_) {
    // The right button that stood in for the left one is itself again after this release.
    swapButtons_ = false;
    if (button == TMouseButton::mbRight) button = TMouseButton::mbLeft;
    if (!tracking_ && GridState() != TGridState::gsColMoving && GetCapture() == Handle()) ReleaseCapture();
  }
  if (arrowPressed_ && button == TMouseButton::mbLeft) {
    arrowPressed_ = false;
    GridCoord c = MouseCoord(x, y);
    if (c.x == 0 && c.y == 0 && Columns().Count() > 0) OpenColumnChooser();
    return;
  }
  if (tracking_) {
    tracking_ = false;
    if (GridState() != TGridState::gsColMoving) ReleaseCapture();
    InvalidateTitle(pressedCol_);
    RECT client;
    GetClientRect(Handle(), &client);
    bool inside = x >= client.left && x < client.right && y >= client.top && y < client.bottom;
    if (inside && TitleColumnAt(x, y) == pressedCol_) {
      TColumn* column = ShownColumn(pressedCol_);
      DoTitleClick(column->Index(), column->Field());
    }
    pressedCol_ = -1;
  }
  bool wasSizing = GridState() == TGridState::gsColSizing;
  int sized = sizingCol_;
  TJvExDBGrid::MouseUp(button, shift, x, y);
  if (wasSizing && sized >= 0) {
    sizingCol_ = -1;
    TColumn* column = ShownColumn(sized);
    if (column && sized < TCustomGrid::FixedCols()) {
      int start = geo_.cols.Start(sized);
      int w = std::max(minColumnWidth_, x - start);
      column->SetWidth(std::max(1, w));
    }
    if (column && OnColumnResized) OnColumnResized(this, column->Index(), column->Width());
    if (TCustomDBGrid::Options() & dgRowSelect) SetLeftCol(TCustomGrid::FixedCols());
    ApplyWidthRules();
  }
}

void TJvDBGrid::DblClick() {
  POINT p;
  GetCursorPos(&p);
  ScreenToClient(Handle(), &p);
  int col;
  if (IsSizingZone(p.x, p.y, col) && ShownColumn(col)) {
    FitColumn(ShownColumn(col)->Index());
    return;
  }
  GridCoord c = MouseCoord(p.x, p.y);
  if (c.y >= 0 && c.y < TitleOffset() && lastTitleClick_ >= 0 && ShownColumn(c.x)) {
    if (OnTitleBtnDblClick) OnTitleBtnDblClick(this, lastTitleClick_, ShownColumn(c.x)->Field());
    return;
  }
  TJvExDBGrid::DblClick();
}

void TJvDBGrid::FitColumn(int columnIndex) {
  if (ColumnResize == gcrNone || columnIndex < 0 || columnIndex >= Columns().Count()) return;
  TColumn* column = Columns()[columnIndex];
  TField* field = column->Field();
  TDataSet* ds = DataLink().DataSet();
  if (!field || !ds || !DataLink().Active()) return;
  if (!CancelOnMouse && (ds->State() == dsEdit || ds->State() == dsInsert)) {
    UpdateData();
    ds->CheckBrowseMode();
  }
  HCURSOR oldCursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  HDC dc = GetDC(nullptr);
  HGDIOBJ oldFont = SelectObject(dc, FontHandle(Font()));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  int widest = 0;
  auto measure = [&] {
    std::string text = (field->DataType() == ftMemo && showMemos_) ? field->AsString() : field->DisplayText();
    SIZE sz{};
    GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &sz);
    widest = std::max(widest, static_cast<int>(sz.cx));
  };
  try {
    ActiveRecordGuard ar(DataLink());
    if (ColumnResize == gcrDataSet && ds->RecordCount() <= 100) {
      ControlsGuard guard(ds);
      TBookmark here = ds->GetBookmark();
      ds->First();
      while (!ds->Eof()) {
        measure();
        ds->Next();
      }
      try {
        if (!here.empty()) ds->GotoBookmark(here);
      } catch (...) {
      }
    } else {
      for (int i = 0; i < DataLink().RecordCount(); ++i) {
        DataLink().SetActiveRecord(i);
        measure();
      }
    }
  } catch (...) {
    SelectObject(dc, oldFont);
    ReleaseDC(nullptr, dc);
    SetCursor(oldCursor);
    throw;
  }
  SelectObject(dc, oldFont);
  ReleaseDC(nullptr, dc);
  SetCursor(oldCursor);
  column->SetWidth(FitWidth(widest, tm.tmOverhang, DefaultColWidth()));
}

bool TJvDBGrid::DoMouseWheel(TShift shift, int delta, TPoint mouse) {
  bool handled = false;
  bool down = delta < 0;
  if (down && OnMouseWheelDown) OnMouseWheelDown(this, shift, mouse, handled);
  if (!down && OnMouseWheelUp) OnMouseWheelUp(this, shift, mouse, handled);
  if (handled) return true;
  if (!CanFocus() || !DataLink().Active()) return false;
  TDataSet* ds = DataLink().DataSet();
  if (CancelOnMouse && (ds->State() == dsEdit || ds->State() == dsInsert)) ds->Cancel();
  bool alt = GetKeyState(VK_MENU) < 0;
  int distance = WheelDistance(down, shift & ssShift, shift & ssCtrl, alt, VisibleRowCount());
  int oldRow = Row();
  UpdateData();
  DataLink().MoveBy(distance);
  if (Row() != oldRow && (TCustomDBGrid::Options() & dgIndicator)) InvalidateCell(0, oldRow);
  return true;
}

}  // namespace fw
