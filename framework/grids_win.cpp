#include "framework/grids.h"

#include <algorithm>
#include <cstdlib>

#include "framework/exceptions.h"

namespace fw {

// ---------------------------------------------------------------------------------------------------------
// TInplaceEdit

TInplaceEdit::TInplaceEdit(TCustomGrid* grid) : TWinControl(grid), grid_(grid) {
  visible_ = false;
  tabStop_ = false;
  color_ = clWindow;
  SetParent(grid);
}

void TInplaceEdit::CreateParamsFor(CreateParams& p) {
  TWinControl::CreateParamsFor(p);
  p.windowClass = "EDIT";
  p.style = WS_CHILD | WS_CLIPSIBLINGS | ES_AUTOHSCROLL | ES_LEFT;
}

std::string TInplaceEdit::Text() {
  if (!HandleAllocated()) return caption_;
  int n = GetWindowTextLengthA(Handle());
  std::string s(static_cast<size_t>(n) + 1, '\0');
  GetWindowTextA(Handle(), s.data(), n + 1);
  s.resize(static_cast<size_t>(n));
  return s;
}

void TInplaceEdit::SetText(const std::string& text) {
  settingText_ = true;
  caption_ = text;
  if (HandleAllocated()) SetWindowTextA(Handle(), text.c_str());
  settingText_ = false;
  modified_ = false;
}

int TInplaceEdit::SelStart() {
  DWORD s = 0, e = 0;
  SendMessageA(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  return static_cast<int>(s);
}

int TInplaceEdit::SelLength() {
  DWORD s = 0, e = 0;
  SendMessageA(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  return static_cast<int>(e - s);
}

void TInplaceEdit::SetSel(int start, int length) {
  SendMessageA(Handle(), EM_SETSEL, static_cast<WPARAM>(start), length < 0 ? -1 : start + length);
}

void TInplaceEdit::SetMaxLength(int length) {
  maxLength_ = length;
  if (HandleAllocated()) SendMessageA(Handle(), EM_LIMITTEXT, static_cast<WPARAM>(length), 0);
}

void TInplaceEdit::Move(const TRect& cell) {
  if (cell.IsEmpty()) {
    Hide();
    return;
  }
  HWND h = Handle();
  SendMessageA(h, EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
  SetWindowPos(h, HWND_TOP, cell.left, cell.top, cell.Width(), cell.Height(), SWP_SHOWWINDOW | SWP_NOREDRAW);
  RECT r{2, 2, cell.Width() - 2, cell.Height()};
  SendMessageA(h, EM_SETRECTNP, 0, reinterpret_cast<LPARAM>(&r));
  left_ = cell.left;
  top_ = cell.top;
  width_ = cell.Width();
  height_ = cell.Height();
  visible_ = true;
  ::InvalidateRect(h, nullptr, TRUE);
  if (grid_->Focused()) ::SetFocus(h);
}

void TInplaceEdit::Hide() {
  if (HandleAllocated() && IsWindowVisible(Handle())) {
    bool hadFocus = Focused();
    SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOZORDER | SWP_NOREDRAW);
    if (hadFocus) ::SetFocus(grid_->Handle());
  }
  visible_ = false;
}

bool TInplaceEdit::IsShowing() const { return visible_; }

void TInplaceEdit::Change() {
  if (settingText_) return;
  modified_ = true;
  grid_->EditorChanged();
}

void TInplaceEdit::KeyDown(WORD& key, TShift shift) {
  auto sendToGrid = [&] {
    grid_->EditorKeyDown(key, shift);
    key = 0;
  };
  bool forward = grid_->GridOptions() & goAlwaysShowEditor;
  bool ctrl = (shift & ssCtrl) && !(shift & ssAlt);
  int start = SelStart(), len = SelLength(), textLen = GetWindowTextLengthA(Handle());
  bool leftSide = start == 0 && (len == 0 || len == textLen);
  bool rightSide = (start == 0 || len == 0) && start + len == textLen;
  switch (key) {
    case VK_UP:
    case VK_DOWN:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_ESCAPE:
      sendToGrid();
      break;
    case VK_INSERT:
      if (shift == 0) sendToGrid();
      break;
    case VK_LEFT:
    case VK_HOME:
      if (forward && (ctrl || leftSide)) sendToGrid();
      break;
    case VK_RIGHT:
    case VK_END:
      if (forward && (ctrl || rightSide)) sendToGrid();
      break;
    case VK_TAB:
      if (!(shift & ssAlt)) sendToGrid();
      break;
    case VK_DELETE:
      if (ctrl) sendToGrid();
      else if (!grid_->CanEditModifyPublic()) key = 0;
      break;
    case VK_F2:
      Deselect();
      key = 0;
      break;
    case VK_F4:
      sendToGrid();  // the cell's drop-down list is the grid's
      break;
    default:
      break;
  }
  if (key != 0) TWinControl::KeyDown(key, shift);
}

void TInplaceEdit::KeyPress(char& key) {
  grid_->EditorKeyPress(key);
  unsigned char k = static_cast<unsigned char>(key);
  switch (k) {
    case 0: return;
    case 9:
    case 27: key = 0; break;
    case 13:
      if (SelStart() == 0 && SelLength() == GetWindowTextLengthA(Handle())) Deselect();
      else SelectAll();
      key = 0;
      break;
    default:
      if ((k == 8 || k == 22 || k == 24 || k >= 32) && !grid_->CanEditModifyPublic()) key = 0;
      break;
  }
  if (key != 0) TWinControl::KeyPress(key);
}

void TInplaceEdit::WndProc(TMessage& m) {
  switch (m.msg) {
    case WM_GETDLGCODE:
      m.result = DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_WANTALLKEYS;
      if (grid_->GridOptions() & goTabs) m.result |= DLGC_WANTTAB;
      return;
    case WM_SETFOCUS:
      if (!grid_->Focused() && GetFocus() != Handle()) break;
      break;
    case CN_COMMAND:
      if (HIWORD(m.wParam) == EN_CHANGE) Change();
      return;
    default:
      break;
  }
  TWinControl::WndProc(m);
}

// ---------------------------------------------------------------------------------------------------------
// TCustomGrid

TCustomGrid::TCustomGrid(TComponent* owner) : TCustomControl(owner) {
  width_ = 320;
  height_ = 120;
  tabStop_ = true;
  color_ = clWindow;
  parentColor_ = false;
  options_ = goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goRangeSelect;
  geo_.cols.SetCount(5);
  geo_.rows.SetCount(5);
  geo_.cols.SetFixed(1);
  geo_.rows.SetFixed(1);
  geo_.cols.SetDefaultExtent(64);
  geo_.rows.SetDefaultExtent(24);
  geo_.cols.SetFirst(1);
  geo_.rows.SetFirst(1);
  col_ = 1;
  row_ = 1;
}

TCustomGrid::~TCustomGrid() = default;

void TCustomGrid::CreateParamsFor(CreateParams& p) {
  TCustomControl::CreateParamsFor(p);
  p.style |= WS_HSCROLL | WS_VSCROLL;
  p.exStyle |= WS_EX_CLIENTEDGE;
}

void TCustomGrid::AfterCreateHandle() {
  SyncGeometry();
  UpdateScrollBars();
}

void TCustomGrid::SyncGeometry() {
  geo_.cols.SetLineWidth((options_ & (goVertLine | goFixedVertLine)) ? lineWidth_ : 0);
  geo_.rows.SetLineWidth((options_ & (goHorzLine | goFixedHorzLine)) ? lineWidth_ : 0);
  geo_.clientWidth = ClientWidth();
  geo_.clientHeight = ClientHeight();
}

void TCustomGrid::SetColCount(int n) {
  if (n == ColCount()) return;
  int old = ColCount();
  geo_.cols.SetCount(n);
  if (FixedCols() >= n) geo_.cols.SetFixed(std::max(0, n - 1));
  if (col_ >= n) col_ = std::max(FixedCols(), n - 1);
  if (col_ < FixedCols()) col_ = FixedCols();
  SizeChanged(old, RowCount());
  ColWidthsChanged();
}

void TCustomGrid::SetRowCount(int n) {
  if (n == RowCount()) return;
  int old = RowCount();
  geo_.rows.SetCount(n);
  if (row_ >= n) row_ = std::max(FixedRows(), n - 1);
  if (row_ < FixedRows()) row_ = FixedRows();
  SizeChanged(ColCount(), old);
  RowHeightsChanged();
}

void TCustomGrid::SetFixedCols(int n) {
  if (n < 0 || (ColCount() > 0 && n >= ColCount())) throw EInvalidGridOperation("Fixed column count must be less than column count");
  geo_.cols.SetFixed(n);
  if (geo_.cols.First() < n) geo_.cols.SetFirst(n);
  if (col_ < n) col_ = n;
  Invalidate();
  UpdateScrollBars();
}

void TCustomGrid::SetFixedRows(int n) {
  if (n < 0 || (RowCount() > 0 && n >= RowCount())) throw EInvalidGridOperation("Fixed row count must be less than row count");
  geo_.rows.SetFixed(n);
  if (geo_.rows.First() < n) geo_.rows.SetFirst(n);
  if (row_ < n) row_ = n;
  Invalidate();
  UpdateScrollBars();
}

void TCustomGrid::SetDefaultColWidth(int w) {
  geo_.cols.SetDefaultExtent(w);
  ColWidthsChanged();
}

void TCustomGrid::SetDefaultRowHeight(int h) {
  geo_.rows.SetDefaultExtent(h);
  RowHeightsChanged();
}

void TCustomGrid::SetColWidth(int col, int width) {
  if (col < 0 || col >= ColCount() || geo_.cols.Extent(col) == width) return;
  geo_.cols.SetExtent(col, width);
  ColWidthsChanged();
}

void TCustomGrid::SetRowHeight(int row, int height) {
  if (row < 0 || row >= RowCount() || geo_.rows.Extent(row) == height) return;
  geo_.rows.SetExtent(row, height);
  RowHeightsChanged();
}

void TCustomGrid::SetGridLineWidth(int w) {
  lineWidth_ = w;
  SyncGeometry();
  Invalidate();
}

void TCustomGrid::SetGridOptions(TGridOptions o) {
  if (o == options_) return;
  if (o & goRowSelect) o &= ~goAlwaysShowEditor;
  options_ = o;
  if (!(o & goEditing) && editorMode_) HideEditor();
  if (o & goAlwaysShowEditor) SetEditorMode(true);
  SyncGeometry();
  Invalidate();
  UpdateScrollBars();
}

void TCustomGrid::SetFixedColor(TColor c) {
  fixedColor_ = c;
  Invalidate();
}

void TCustomGrid::ColWidthsChanged() {
  SyncGeometry();
  UpdateScrollBars();
  UpdateEditor();
  Invalidate();
}

void TCustomGrid::RowHeightsChanged() {
  SyncGeometry();
  UpdateScrollBars();
  UpdateEditor();
  Invalidate();
}

void TCustomGrid::TopLeftChanged() {
  UpdateEditor();
}

void TCustomGrid::SetCol(int col) {
  if (col != col_) FocusCell(col, row_);
}

void TCustomGrid::SetRow(int row) {
  if (row != row_) FocusCell(col_, row);
}

void TCustomGrid::SetLeftCol(int col) {
  SyncGeometry();
  int old = geo_.cols.First();
  geo_.cols.SetFirst(std::clamp(col, FixedCols(), std::max(FixedCols(), geo_.cols.MaxFirst(geo_.clientWidth))));
  if (old != geo_.cols.First()) {
    Invalidate();
    UpdateScrollBars();
    TopLeftChanged();
  }
}

void TCustomGrid::SetTopRow(int row) {
  SyncGeometry();
  int old = geo_.rows.First();
  geo_.rows.SetFirst(std::clamp(row, FixedRows(), std::max(FixedRows(), geo_.rows.MaxFirst(geo_.clientHeight))));
  if (old != geo_.rows.First()) {
    Invalidate();
    UpdateScrollBars();
    TopLeftChanged();
  }
}

TRect TCustomGrid::CellRect(int col, int row) {
  SyncGeometry();
  return geo_.CellRect(col, row);
}

GridCoord TCustomGrid::MouseCoord(int x, int y) {
  SyncGeometry();
  return geo_.MouseCoord(x, y);
}

void TCustomGrid::InvalidateCell(int col, int row) {
  TRect r = CellRect(col, row);
  if (!r.IsEmpty()) InvalidateRect(Rect(r.left, r.top, r.right + lineWidth_, r.bottom + lineWidth_));
}

void TCustomGrid::InvalidateCol(int col) {
  SyncGeometry();
  int x = geo_.cols.Start(col);
  if (x >= 0) InvalidateRect(Rect(x, 0, x + ColWidth(col) + lineWidth_, geo_.clientHeight));
}

void TCustomGrid::InvalidateRow(int row) {
  SyncGeometry();
  int y = geo_.rows.Start(row);
  if (y >= 0) InvalidateRect(Rect(0, y, geo_.clientWidth, y + RowHeight(row) + lineWidth_));
}

void TCustomGrid::MoveColRow(int col, int row, bool show) {
  col = std::clamp(col, FixedCols(), std::max(FixedCols(), ColCount() - 1));
  row = std::clamp(row, FixedRows(), std::max(FixedRows(), RowCount() - 1));
  if (!SelectCell(col, row)) return;
  int oldCol = col_, oldRow = row_;
  bool moved = oldCol != col || oldRow != row;
  if (moved && editorMode_) HideEditor();
  col_ = col;
  row_ = row;
  if (moved) {
    if (options_ & goRowSelect) {
      InvalidateRow(oldRow);
      InvalidateRow(row);
    } else {
      InvalidateCell(oldCol, oldRow);
      InvalidateCell(col, row);
    }
  }
  if (show) {
    SyncGeometry();
    int oldLeft = geo_.cols.First(), oldTop = geo_.rows.First();
    if (geo_.MakeVisible(col, row)) {
      Invalidate();
      UpdateScrollBars();
      if (oldLeft != geo_.cols.First() || oldTop != geo_.rows.First()) TopLeftChanged();
    }
  }
  if (options_ & goAlwaysShowEditor) ShowEditor();
  else if (editorMode_) UpdateEditor();
}

bool TCustomGrid::CanEditShow() {
  return ((options_ & goEditing) && !(options_ & goRowSelect) && HandleAllocated() && Focused()) || editorMode_;
}

TInplaceEdit* TCustomGrid::CreateEditor() { return new TInplaceEdit(this); }

void TCustomGrid::SetEditorMode(bool value) {
  if (value) ShowEditor();
  else if (!(options_ & goAlwaysShowEditor)) HideEditor();
}

void TCustomGrid::ShowEditor() {
  if (!(options_ & goEditing) || (options_ & goRowSelect)) return;
  if (!CanEditShow()) return;
  if (!editor_) {
    editor_ = CreateEditor();
    editor_->ParentFontChanged();
  }
  editorMode_ = true;
  editor_->SetMaxLength(GetEditLimit());
  editor_->SetText(GetEditText(col_, row_));
  SyncGeometry();
  editor_->Move(geo_.CellRect(col_, row_));
  editor_->SelectAll();
}

void TCustomGrid::HideEditor() {
  editorMode_ = false;
  if (editor_) editor_->Hide();
}

void TCustomGrid::UpdateEditor() {
  if (!editor_ || !editorMode_) return;
  SyncGeometry();
  editor_->Move(geo_.CellRect(col_, row_));
}

void TCustomGrid::InvalidateEditor() {
  if (editor_ && editorMode_) editor_->SetText(GetEditText(col_, row_));
}

void TCustomGrid::EditorKeyDown(WORD& key, TShift shift) { KeyDown(key, shift); }
void TCustomGrid::EditorKeyPress(char& key) {
  inEditorKey_ = true;
  try {
    KeyPress(key);
  } catch (...) {
    inEditorKey_ = false;
    throw;
  }
  inEditorKey_ = false;
}
void TCustomGrid::EditorChanged() {}

void TCustomGrid::Resize() {
  SyncGeometry();
  geo_.ClampTopLeft();
  UpdateScrollBars();
  UpdateEditor();
  Invalidate();
}

void TCustomGrid::UpdateScrollBars() {
  if (!HandleAllocated() || scrollBarsUpdating_) return;
  scrollBarsUpdating_ = true;
  SyncGeometry();
  SCROLLINFO si{sizeof si, SIF_ALL | SIF_DISABLENOSCROLL, 0, 0, 0, 0, 0};
  int scrollRows = std::max(0, RowCount() - FixedRows());
  si.nMin = 0;
  si.nMax = std::max(0, scrollRows - 1);
  si.nPage = static_cast<UINT>(std::max(1, VisibleRowCount()));
  si.nPos = TopRow() - FixedRows();
  SetScrollInfo(Handle(), SB_VERT, &si, TRUE);
  int scrollCols = std::max(0, ColCount() - FixedCols());
  si.nMax = std::max(0, scrollCols - 1);
  si.nPage = static_cast<UINT>(std::max(1, VisibleColCount()));
  si.nPos = LeftCol() - FixedCols();
  SetScrollInfo(Handle(), SB_HORZ, &si, TRUE);
  scrollBarsUpdating_ = false;
}

void TCustomGrid::VerticalScroll(UINT code, int pos) {
  int top = TopRow();
  switch (code) {
    case SB_LINEUP: --top; break;
    case SB_LINEDOWN: ++top; break;
    case SB_PAGEUP: top -= std::max(1, VisibleRowCount()); break;
    case SB_PAGEDOWN: top += std::max(1, VisibleRowCount()); break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: top = FixedRows() + pos; break;
    case SB_TOP: top = FixedRows(); break;
    case SB_BOTTOM: top = RowCount(); break;
    default: return;
  }
  SetTopRow(top);
}

void TCustomGrid::HorizontalScroll(UINT code, int pos) {
  int left = LeftCol();
  switch (code) {
    case SB_LINELEFT: --left; break;
    case SB_LINERIGHT: ++left; break;
    case SB_PAGELEFT: left -= std::max(1, VisibleColCount()); break;
    case SB_PAGERIGHT: left += std::max(1, VisibleColCount()); break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: left = FixedCols() + pos; break;
    case SB_LEFT: left = FixedCols(); break;
    case SB_RIGHT: left = ColCount(); break;
    default: return;
  }
  SetLeftCol(left);
}

bool TCustomGrid::IsRowSizingZone(int x, int y, int& row) {
  row = -1;
  if (!(options_ & goRowSizing)) return false;
  SyncGeometry();
  if (x < 0 || x >= geo_.cols.FixedExtent()) return false;
  row = geo_.RowBorderAt(y, 2);
  if (row < FixedRows()) row = -1;
  return row >= 0;
}

bool TCustomGrid::IsSizingZone(int x, int y, int& col) {
  col = -1;
  if (!(options_ & goColSizing)) return false;
  SyncGeometry();
  if (y >= geo_.rows.FixedExtent()) return false;
  col = geo_.ColumnBorderAt(x, 3);
  // No border to drag inside a cell that runs on into its neighbour.
  if (col >= 0 && CellsJoined(col, geo_.rows.At(y, geo_.clientHeight), true)) col = -1;
  return col >= 0;
}

void TCustomGrid::KeyDown(WORD& key, TShift shift) {
  TCustomControl::KeyDown(key, shift);
  if (key == 0) return;
  int col = col_, row = row_;
  int page = std::max(1, VisibleRowCount());
  bool ctrl = shift & ssCtrl;
  switch (key) {
    case VK_UP: --row; break;
    case VK_DOWN: ++row; break;
    case VK_LEFT:
      if (options_ & goRowSelect) { SetLeftCol(LeftCol() - 1); return; }
      --col;
      break;
    case VK_RIGHT:
      if (options_ & goRowSelect) { SetLeftCol(LeftCol() + 1); return; }
      ++col;
      break;
    case VK_PRIOR: row -= page; break;
    case VK_NEXT: row += page; break;
    case VK_HOME:
      if (ctrl) row = FixedRows();
      col = FixedCols();
      break;
    case VK_END:
      if (ctrl) row = RowCount() - 1;
      col = ColCount() - 1;
      break;
    case VK_TAB:
      if (!(options_ & goTabs) || (shift & ssAlt)) return;
      if (shift & ssShift) {
        if (--col < FixedCols()) {
          col = ColCount() - 1;
          if (--row < FixedRows()) { row = FixedRows(); col = FixedCols(); }
        }
      } else if (++col >= ColCount()) {
        col = FixedCols();
        if (++row >= RowCount()) { row = RowCount() - 1; col = ColCount() - 1; }
      }
      break;
    case VK_F2:
      SetEditorMode(true);
      return;
    default:
      return;
  }
  FocusCell(col, row);
}

void TCustomGrid::KeyPress(char& key) {
  TCustomControl::KeyPress(key);
  if (key == 0) return;
  // Characters that reach the grid while its editor is open belong to the editor (typed ahead while the
  // editor was opening).
  if (editorMode_ && editor_ && editor_->HandleAllocated() && !inEditorKey_) {
    SendMessageA(editor_->Handle(), WM_CHAR, static_cast<unsigned char>(key), 0);
    key = 0;
    return;
  }
  if (!(options_ & goAlwaysShowEditor) && key == '\r') {
    if (editorMode_) HideEditor();
    else ShowEditor();
    key = 0;
    return;
  }
  unsigned char k = static_cast<unsigned char>(key);
  if (!editorMode_ && (options_ & goEditing) && (k >= 32 || k == 8) && CanEditAcceptKey(key)) {
    // Typing starts the editor, which receives the key.
    if (!CanEditModify()) return;
    ShowEditor();
    if (editorMode_ && editor_) {
      // The typed character replaces the cell's text.
      editor_->SetText("");
      if (k != 8) SendMessageA(editor_->Handle(), WM_CHAR, k, 0);
    }
    key = 0;
  }
}

void TCustomGrid::MouseDown(TMouseButton button, TShift shift, int x, int y) {
  if (!Focused() && CanFocus()) {
    SetFocus();
    if (!Focused() && !(editor_ && editor_->Focused())) return;
  }
  if (button == TMouseButton::mbLeft) {
    int sizeCol, sizeRow;
    if (!(shift & ssDouble) && IsRowSizingZone(x, y, sizeRow)) {
      state_ = TGridState::gsRowSizing;
      sizingIndex_ = sizeRow;
      sizingPos_ = y;
      sizingOffset_ = geo_.rows.Start(sizeRow) + RowHeight(sizeRow) - y;
      SetCapture(Handle());
    } else if (!(shift & ssDouble) && IsSizingZone(x, y, sizeCol)) {
      state_ = TGridState::gsColSizing;
      sizingIndex_ = sizeCol;
      sizingPos_ = x;
      sizingOffset_ = geo_.cols.Start(sizeCol) + ColWidth(sizeCol) - x;
      SetCapture(Handle());
    } else {
      GridCoord c = MouseCoord(x, y);
      int origin = c.x, destination = c.x;
      if ((options_ & goColMoving) && !(shift & ssDouble) && c.y >= 0 && c.y < FixedRows() && c.x >= FixedCols() &&
          BeginColumnDrag(origin, destination, TPoint{x, y})) {
        // A title pressed: the column may be dragged to another place.
        state_ = TGridState::gsColMoving;
        moveIndex_ = origin;
        movePos_ = destination;
        moveStartX_ = x;
        moveDragged_ = false;
        SetCapture(Handle());
      } else if (c.x >= FixedCols() && c.y >= FixedRows()) {
        bool same = c.x == col_ && c.y == row_;
        FocusCell(c.x, c.y);
        if (same && (options_ & goEditing) && !(shift & ssDouble)) ShowEditor();
      }
    }
  }
  TCustomControl::MouseDown(button, shift, x, y);
}

void TCustomGrid::MouseMove(TShift shift, int x, int y) {
  if (state_ == TGridState::gsColSizing && sizingIndex_ >= 0) {
    int start = geo_.cols.Start(sizingIndex_);
    int w = std::max(1, x + sizingOffset_ - start);
    if (w != ColWidth(sizingIndex_)) {
      geo_.cols.SetExtent(sizingIndex_, w);
      Invalidate();
      UpdateEditor();
    }
  }
  if (state_ == TGridState::gsRowSizing && sizingIndex_ >= 0) {
    int h = std::max(1, y + sizingOffset_ - geo_.rows.Start(sizingIndex_));
    if (h != RowHeight(sizingIndex_)) {
      geo_.rows.SetExtent(sizingIndex_, h);
      Invalidate();
      UpdateEditor();
    }
  }
  if (state_ == TGridState::gsColMoving) {
    int threshold = std::max(2, GetSystemMetrics(SM_CXDRAG));
    if (moveDragged_ || std::abs(x - moveStartX_) >= threshold) {
      moveDragged_ = true;
      SyncGeometry();
      // Past either end of the scrolling area the grid scrolls towards the pointer.
      if (x >= geo_.clientWidth) SetLeftCol(LeftCol() + 1);
      else if (x < geo_.cols.FixedExtent() && LeftCol() > FixedCols()) SetLeftCol(LeftCol() - 1);
      int origin = moveIndex_, destination = geo_.ColumnDropTarget(x);
      if (destination >= 0 && CheckColumnDrag(origin, destination, TPoint{x, y})) {
        moveIndex_ = origin;
        movePos_ = destination;
      }
      Invalidate();
    }
  }
  TCustomControl::MouseMove(shift, x, y);
}

void TCustomGrid::MouseUp(TMouseButton button, TShift shift, int x, int y) {
  if (state_ == TGridState::gsColSizing) {
    state_ = TGridState::gsNormal;
    ReleaseCapture();
    ColWidthsChanged();
    sizingIndex_ = -1;
  } else if (state_ == TGridState::gsRowSizing) {
    state_ = TGridState::gsNormal;
    ReleaseCapture();
    sizingIndex_ = -1;
    RowHeightsChanged();
  } else if (state_ == TGridState::gsColMoving) {
    int origin = moveIndex_, destination = movePos_;
    bool dragged = moveDragged_;
    if (dragged) {
      // The release point decides, whatever pointer moves were seen before it.
      SyncGeometry();
      int released = geo_.ColumnDropTarget(x), from = origin;
      if (released >= 0 && CheckColumnDrag(from, released, TPoint{x, y})) {
        origin = from;
        destination = released;
      }
    }
    CancelColumnMove();
    if (dragged && EndColumnDrag(origin, destination, TPoint{x, y}) && origin != destination)
      MoveColumn(origin, destination);
  }
  TCustomControl::MouseUp(button, shift, x, y);
}

void TCustomGrid::CancelColumnMove() {
  if (state_ != TGridState::gsColMoving) return;
  bool drawn = moveDragged_;
  state_ = TGridState::gsNormal;
  moveIndex_ = movePos_ = -1;
  moveDragged_ = false;
  if (GetCapture() == Handle()) ReleaseCapture();
  if (drawn) Invalidate();
}

void TCustomGrid::MoveColumn(int from, int to) {
  if (from == to || from < FixedCols() || to < FixedCols() || from >= ColCount() || to >= ColCount()) return;
  geo_.cols.MoveExtent(from, to);
  int col = col_;
  if (col == from) col = to;
  else if (from < col && col <= to) --col;
  else if (to <= col && col < from) ++col;
  // Derived grids move what the column shows; the current cell stays with its column.
  ColumnMoved(from, to);
  col_ = std::clamp(col, FixedCols(), std::max(FixedCols(), ColCount() - 1));
  ColWidthsChanged();
}

void TCustomGrid::DrawColumnDropMarker() {
  if (!ColumnDragging()) return;
  int x = geo_.ColumnDropMarkerX(moveIndex_, movePos_);
  if (x < 0) return;
  // A bar over the border where the column will land, with a notch at each end of the title row.
  TCanvas& c = Canvas();
  c.Brush().style = TBrushStyle::bsSolid;
  c.Brush().color = clHighlight;
  int bottom = geo_.clientHeight, titleBottom = geo_.rows.FixedExtent();
  c.FillRect(Rect(x - 1, 0, x + 2, bottom));
  c.FillRect(Rect(x - 3, 0, x + 4, 2));
  if (titleBottom > 2) c.FillRect(Rect(x - 3, titleBottom - 2, x + 4, titleBottom));
}

void TCustomGrid::WndProc(TMessage& m) {
  switch (m.msg) {
    case WM_GETDLGCODE:
      m.result = DLGC_WANTARROWS | DLGC_WANTCHARS;
      if (options_ & goTabs) m.result |= DLGC_WANTTAB;
      if (options_ & goEditing) m.result |= DLGC_WANTCHARS;
      return;
    case WM_ERASEBKGND:
      m.result = 1;
      return;
    case WM_VSCROLL: {
      SCROLLINFO si{sizeof si, SIF_TRACKPOS, 0, 0, 0, 0, 0};
      GetScrollInfo(Handle(), SB_VERT, &si);
      VerticalScroll(LOWORD(m.wParam), si.nTrackPos);
      m.result = 0;
      return;
    }
    case WM_HSCROLL: {
      SCROLLINFO si{sizeof si, SIF_TRACKPOS, 0, 0, 0, 0, 0};
      GetScrollInfo(Handle(), SB_HORZ, &si);
      HorizontalScroll(LOWORD(m.wParam), si.nTrackPos);
      m.result = 0;
      return;
    }
    case WM_SETCURSOR:
      if (LOWORD(m.lParam) == HTCLIENT) {
        POINT p;
        GetCursorPos(&p);
        ScreenToClient(Handle(), &p);
        int c;
        if (state_ == TGridState::gsRowSizing || IsRowSizingZone(p.x, p.y, c)) {
          SetCursor(LoadCursor(nullptr, IDC_SIZENS));
          m.result = 1;
          return;
        }
        if (state_ == TGridState::gsColSizing || IsSizingZone(p.x, p.y, c)) {
          SetCursor(LoadCursor(nullptr, IDC_SIZEWE));
          m.result = 1;
          return;
        }
      }
      break;
    case WM_SETFOCUS:
      TCustomControl::WndProc(m);
      InvalidateCell(col_, row_);
      if ((options_ & goAlwaysShowEditor) && !editorMode_) ShowEditor();
      else if (editorMode_ && editor_) ::SetFocus(editor_->Handle());
      return;
    case WM_KILLFOCUS:
      TCustomControl::WndProc(m);
      InvalidateCell(col_, row_);
      return;
    case WM_KEYDOWN:
      if (state_ == TGridState::gsColMoving && m.wParam == VK_ESCAPE) {
        CancelColumnMove();
        m.result = 0;
        return;
      }
      break;
    case WM_CANCELMODE:
      if (state_ == TGridState::gsColMoving) CancelColumnMove();
      if (state_ != TGridState::gsNormal) {
        state_ = TGridState::gsNormal;
        ReleaseCapture();
      }
      break;
    default:
      break;
  }
  TCustomControl::WndProc(m);
}

void TCustomGrid::DrawCell(int, int, TRect, TGridDrawState) {}

void TCustomGrid::Paint() {
  SyncGeometry();
  TCanvas& c = Canvas();
  RECT clip;
  GetClipBox(c.Handle(), &clip);
  TRect paintRect{clip.left, clip.top, clip.right, clip.bottom};
  bool focused = Focused() || (editor_ && editor_->Focused());
  int maxX = 0, maxY = 0;

  auto drawRow = [&](int row) {
    for (int col = 0; col < ColCount(); ++col) {
      if (col >= FixedCols() && col < LeftCol()) continue;
      TRect r = geo_.CellRect(col, row);
      if (r.IsEmpty() && geo_.cols.Start(col) >= geo_.clientWidth) break;
      if (r.IsEmpty()) continue;
      maxX = std::max(maxX, r.right + geo_.cols.LineWidth());
      maxY = std::max(maxY, r.bottom + geo_.rows.LineWidth());
      if (IntersectRect(r, paintRect).IsEmpty()) continue;
      TGridDrawState st = 0;
      bool fixed = col < FixedCols() || row < FixedRows();
      if (fixed) st |= gdFixed;
      if (!fixed && row == row_ && ((options_ & goRowSelect) || col == col_)) st |= gdSelected;
      if (!fixed && row == row_ && col == col_ && focused) st |= gdFocused;
      c.Brush().style = TBrushStyle::bsSolid;
      c.Brush().color = fixed ? fixedColor_ : color_;
      c.Font().Assign(Font());
      if (fixed) r = PaintedCellRect(col, row, r);
      DrawCell(col, row, r, st);
      if (drawFixedEdges_ && fixed &&
          (options_ & (goFixedVertLine | goFixedHorzLine)) == (goFixedVertLine | goFixedHorzLine)) {
        c.DrawEdge(r, BDR_RAISEDINNER, BF_BOTTOMRIGHT);
        c.DrawEdge(r, BDR_RAISEDINNER, BF_TOPLEFT);
      }
    }
  };
  for (int row = 0; row < FixedRows(); ++row) drawRow(row);
  for (int row = TopRow(); row < RowCount(); ++row) {
    if (geo_.rows.Start(row) >= geo_.clientHeight) break;
    drawRow(row);
  }
  DrawGridLines(Rect(0, 0, maxX, maxY));
  // Area beyond the last cells.
  c.Brush().style = TBrushStyle::bsSolid;
  c.Brush().color = color_;
  if (maxX < geo_.clientWidth) c.FillRect(Rect(maxX, 0, geo_.clientWidth, geo_.clientHeight));
  if (maxY < geo_.clientHeight) c.FillRect(Rect(0, maxY, std::min(maxX, geo_.clientWidth), geo_.clientHeight));
  DrawColumnDropMarker();
}

void TCustomGrid::DrawGridLines(const TRect& area) {
  TCanvas& c = Canvas();
  int fixedW = geo_.cols.FixedExtent(), fixedH = geo_.rows.FixedExtent();
  auto vline = [&](int x, int y0, int y1, TColor color) {
    c.Brush().color = color;
    c.FillRect(Rect(x, y0, x + lineWidth_, y1));
  };
  auto hline = [&](int y, int x0, int x1, TColor color) {
    c.Brush().color = color;
    c.FillRect(Rect(x0, y, x1, y + lineWidth_));
  };
  if (lineWidth_ <= 0) return;
  c.Brush().style = TBrushStyle::bsSolid;
  for (int col = 0; col < ColCount(); ++col) {
    int x = geo_.cols.Start(col);
    if (x < 0) continue;
    if (x >= geo_.clientWidth) break;
    x += ColWidth(col);
    bool fixedCol = col < FixedCols();
    if (options_ & goFixedVertLine) {
      // Through the fixed rows, except between joined cells.
      for (int row = 0, y = 0; row < FixedRows() && y < std::min(fixedH, area.bottom); ++row) {
        int next = y + RowHeight(row) + lineWidth_;
        if (!CellsJoined(col, row, true)) vline(x, y, std::min(next, std::min(fixedH, area.bottom)), clBlack);
        y = next;
      }
    }
    if (fixedCol ? (options_ & goFixedVertLine) : (options_ & goVertLine))
      vline(x, fixedH, area.bottom, fixedCol ? clBlack : clSilver);
  }
  for (int row = 0; row < RowCount(); ++row) {
    int y = geo_.rows.Start(row);
    if (y < 0) continue;
    if (y >= geo_.clientHeight) break;
    y += RowHeight(row);
    bool fixedRow = row < FixedRows();
    if ((options_ & goFixedHorzLine) && !fixedRow) hline(y, 0, std::min(fixedW, area.right), clBlack);
    if (fixedRow && (options_ & goFixedHorzLine)) {
      // Under a fixed row, except where a cell runs on into the row below.
      for (int col = 0; col < ColCount(); ++col) {
        if (col >= FixedCols() && col < LeftCol()) continue;
        int x0 = geo_.cols.Start(col);
        if (x0 < 0) continue;
        if (x0 >= area.right) break;
        if (!CellsJoined(col, row, false)) hline(y, x0, std::min(x0 + ColWidth(col) + lineWidth_, area.right), clBlack);
      }
    } else if (!fixedRow && (options_ & goHorzLine)) {
      hline(y, fixedW, area.right, clSilver);
    }
  }
}

bool TCustomGrid::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "ColCount") SetColCount(static_cast<int>(IntegerValue(v)));
  else if (name == "RowCount") SetRowCount(static_cast<int>(IntegerValue(v)));
  else if (name == "FixedCols") SetFixedCols(static_cast<int>(IntegerValue(v)));
  else if (name == "FixedRows") SetFixedRows(static_cast<int>(IntegerValue(v)));
  else if (name == "DefaultColWidth") SetDefaultColWidth(static_cast<int>(IntegerValue(v)));
  else if (name == "DefaultRowHeight") SetDefaultRowHeight(static_cast<int>(IntegerValue(v)));
  else if (name == "GridLineWidth") SetGridLineWidth(static_cast<int>(IntegerValue(v)));
  else if (name == "FixedColor") SetFixedColor(ColorValue(v));
  else return TCustomControl::ReadProperty(name, v, reader);
  return true;
}

}  // namespace fw
