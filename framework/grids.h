// The grid control: a scrolling table of owner-drawn cells with fixed title rows and columns, keyboard and
// mouse navigation, column sizing and an in-place text editor.
#pragma once
#include <windows.h>

#include <string>

#include "framework/controls.h"
#include "framework/grid_geometry.h"

namespace fw {

enum TGridOption : unsigned {
  goFixedVertLine = 1u << 0,
  goFixedHorzLine = 1u << 1,
  goVertLine = 1u << 2,
  goHorzLine = 1u << 3,
  goRangeSelect = 1u << 4,
  goDrawFocusSelected = 1u << 5,
  goRowSizing = 1u << 6,
  goColSizing = 1u << 7,
  goRowMoving = 1u << 8,
  goColMoving = 1u << 9,
  goEditing = 1u << 10,
  goTabs = 1u << 11,
  goRowSelect = 1u << 12,
  goAlwaysShowEditor = 1u << 13,
  goThumbTracking = 1u << 14,
};
using TGridOptions = unsigned;

enum TGridDrawStateFlag : unsigned { gdSelected = 1, gdFocused = 2, gdFixed = 4 };
using TGridDrawState = unsigned;
enum class TGridState { gsNormal, gsSelecting, gsRowSizing, gsColSizing, gsRowMoving, gsColMoving };

class TCustomGrid;

// The in-place editor: a system edit control over the current cell. Navigation keys go to the grid.
class TInplaceEdit : public TWinControl {
 public:
  explicit TInplaceEdit(TCustomGrid* grid);
  TCustomGrid* Grid() const { return grid_; }
  std::string Text();
  void SetText(const std::string& text);
  int SelStart();
  int SelLength();
  void SetSel(int start, int length);
  void SelectAll() { SetSel(0, -1); }
  void Move(const TRect& cell);
  void Hide();
  bool IsShowing() const;
  bool Modified() const { return modified_; }
  void SetModified(bool m) { modified_ = m; }
  void Deselect() { SetSel(0x7FFFFFFF, 0); }
  void SetMaxLength(int length);

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void WndProc(TMessage& m) override;
  void KeyDown(WORD& key, TShift shift) override;
  void KeyPress(char& key) override;
  virtual void Change();

  TCustomGrid* grid_;
  bool modified_ = false;
  bool settingText_ = false;
  int maxLength_ = 0;
};

class TCustomGrid : public TCustomControl {
 public:
  explicit TCustomGrid(TComponent* owner);
  ~TCustomGrid() override;

  int ColCount() const { return geo_.cols.Count(); }
  void SetColCount(int n);
  int RowCount() const { return geo_.rows.Count(); }
  void SetRowCount(int n);
  int FixedCols() const { return geo_.cols.Fixed(); }
  void SetFixedCols(int n);
  int FixedRows() const { return geo_.rows.Fixed(); }
  void SetFixedRows(int n);
  int DefaultColWidth() const { return geo_.cols.DefaultExtent(); }
  void SetDefaultColWidth(int w);
  int DefaultRowHeight() const { return geo_.rows.DefaultExtent(); }
  void SetDefaultRowHeight(int h);
  int ColWidth(int col) const { return geo_.cols.Extent(col); }
  void SetColWidth(int col, int width);
  int RowHeight(int row) const { return geo_.rows.Extent(row); }
  void SetRowHeight(int row, int height);
  int GridLineWidth() const { return lineWidth_; }
  void SetGridLineWidth(int w);
  TGridOptions GridOptions() const { return options_; }
  void SetGridOptions(TGridOptions options);
  TColor FixedColor() const { return fixedColor_; }
  void SetFixedColor(TColor c);

  int Col() const { return col_; }
  void SetCol(int col);
  int Row() const { return row_; }
  void SetRow(int row);
  int LeftCol() const { return geo_.cols.First(); }
  void SetLeftCol(int col);
  int TopRow() const { return geo_.rows.First(); }
  void SetTopRow(int row);
  int VisibleColCount() const { return geo_.VisibleColCount(); }
  int VisibleRowCount() const { return geo_.VisibleRowCount(); }
  TGridState GridState() const { return state_; }

  TRect CellRect(int col, int row);
  GridCoord MouseCoord(int x, int y);
  void InvalidateCell(int col, int row);
  void InvalidateCol(int col);
  void InvalidateRow(int row);
  void InvalidateGrid() { Invalidate(); }

  bool EditorMode() const { return editorMode_; }
  virtual void SetEditorMode(bool value);
  TInplaceEdit* InplaceEditor() const { return editor_; }

  // Keys that the in-place editor hands to the grid.
  virtual void EditorKeyDown(WORD& key, TShift shift);
  virtual void EditorKeyPress(char& key);
  virtual void EditorChanged();
  bool CanEditModifyPublic() { return CanEditModify(); }

  // Column moving: a column dragged by its title (fixed row) with goColMoving. MoveOrigin is the column being
  // dragged and MoveTarget where it would drop, both -1 while no column is dragged.
  int MoveOrigin() const { return ColumnDragging() ? moveIndex_ : -1; }
  int MoveTarget() const { return ColumnDragging() ? movePos_ : -1; }
  bool ColumnDragging() const { return state_ == TGridState::gsColMoving && moveDragged_; }
  // Moves a scrolling column to another position (its width and the current cell go with it).
  void MoveColumn(int from, int to);

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 protected:
  // Hooks of column moving: may refuse the drag or change its origin and destination.
  virtual bool BeginColumnDrag(int& origin, int& destination, TPoint mouse) { return true; }
  virtual bool CheckColumnDrag(int& origin, int& destination, TPoint mouse) { return true; }
  virtual bool EndColumnDrag(int& origin, int& destination, TPoint mouse) { return true; }
  void CancelColumnMove();
  void DrawColumnDropMarker();
  virtual void DrawCell(int col, int row, TRect rect, TGridDrawState state);
  // Cells drawn as one: the rectangle a cell is painted in (the cell's own by default), and whether a fixed
  // cell runs on into its right (toRight) or lower neighbour, so that no grid line separates them.
  virtual TRect PaintedCellRect(int, int, const TRect& rect) { return rect; }
  virtual bool CellsJoined(int, int, bool) const { return false; }
  virtual bool SelectCell(int col, int row) { return true; }
  virtual void ColWidthsChanged();
  virtual void RowHeightsChanged();
  virtual void TopLeftChanged();
  virtual void SizeChanged(int oldColCount, int oldRowCount) {}
  virtual void ColumnMoved(int from, int to) {}
  virtual void LayoutChanged() {}

  virtual bool CanEditShow();
  virtual bool CanEditModify() { return true; }
  virtual bool CanEditAcceptKey(char key) { return true; }
  virtual std::string GetEditText(int col, int row) { return {}; }
  virtual void SetEditText(int col, int row, const std::string& text) {}
  virtual int GetEditLimit() { return 0; }
  virtual TInplaceEdit* CreateEditor();
  virtual void ShowEditor();
  virtual void HideEditor();
  void UpdateEditor();       // moves and refreshes an open editor
  void InvalidateEditor();   // reloads the editor text from the cell

  // Moves the current cell; `show` scrolls it into view. Calls SelectCell first.
  virtual void MoveColRow(int col, int row, bool show);
  // Focus-cell change after SelectCell agreed.
  virtual void FocusCell(int col, int row) { MoveColRow(col, row, true); }
  virtual void Scrolled() {}
  virtual void UpdateScrollBars();
  virtual void ScrollData(int dx, int dy) { Invalidate(); }
  virtual void VerticalScroll(UINT code, int pos);
  virtual void HorizontalScroll(UINT code, int pos);
  virtual bool IsSizingZone(int x, int y, int& col);
  // With goRowSizing: a scrolling row's bottom border within the fixed columns.
  bool IsRowSizingZone(int x, int y, int& row);

  void Paint() override;
  void KeyDown(WORD& key, TShift shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShift shift, int x, int y) override;
  void MouseMove(TShift shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShift shift, int x, int y) override;
  void Resize() override;
  void WndProc(TMessage& m) override;
  void CreateParamsFor(CreateParams& params) override;
  void AfterCreateHandle() override;
  void DrawGridLines(const TRect& paintRect);

  GridGeometry geo_;
  TGridOptions options_;
  TColor fixedColor_ = clBtnFace;
  int lineWidth_ = 1;
  int col_ = 0, row_ = 0;
  bool editorMode_ = false;
  TInplaceEdit* editor_ = nullptr;
  TGridState state_ = TGridState::gsNormal;
  int sizingIndex_ = -1, sizingPos_ = 0, sizingOffset_ = 0;
  int moveIndex_ = -1, movePos_ = -1, moveStartX_ = 0;
  bool moveDragged_ = false;  // the pointer left the drag threshold: the drop marker shows
  bool scrollBarsUpdating_ = false;
  bool drawFixedEdges_ = true;  // Paint draws the raised edge of fixed cells (off: DrawCell does its own)
  bool inEditorKey_ = false;
  int updateLock_ = 0;

 private:
  void SyncGeometry();
};

}  // namespace fw
