// The data-aware grid: shows the records of a data source, one row per record and one column per field, and
// edits them in place. Columns are either built from the dataset's fields (default columns) or stored with the
// form (customised columns).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "framework/db.h"
#include "framework/grids.h"

namespace fw {

class TCustomDBGrid;
class TColumn;

enum TDBGridOption : unsigned {
  dgEditing = 1u << 0,
  dgAlwaysShowEditor = 1u << 1,
  dgTitles = 1u << 2,
  dgIndicator = 1u << 3,
  dgColumnResize = 1u << 4,
  dgColLines = 1u << 5,
  dgRowLines = 1u << 6,
  dgTabs = 1u << 7,
  dgRowSelect = 1u << 8,
  dgAlwaysShowSelection = 1u << 9,
  dgConfirmDelete = 1u << 10,
  dgCancelOnExit = 1u << 11,
  dgMultiSelect = 1u << 12,
};
using TDBGridOptions = unsigned;
constexpr TDBGridOptions kDefaultDBGridOptions = dgEditing | dgTitles | dgIndicator | dgColumnResize | dgColLines |
                                                dgRowLines | dgTabs | dgConfirmDelete | dgCancelOnExit;
// "[dgEditing, dgTitles]" <-> options.
bool DBGridOptionsFromSet(const std::vector<std::string>& names, TDBGridOptions& options);

enum class TColumnValue : unsigned {
  Color = 1, Width = 2, Font = 4, Alignment = 8, ReadOnly = 16, TitleCaption = 32, TitleColor = 64,
  TitleFont = 128, TitleAlignment = 256, PickList = 512, DropDownRows = 1024, Visible = 2048,
};

class TColumnTitle : public TPersistent {
 public:
  explicit TColumnTitle(TColumn* column);
  std::string Caption() const;
  void SetCaption(std::string caption);
  TFont& Font() { return font_; }
  TColor Color() const;
  void SetColor(TColor c);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a);
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  TPersistent* SubObject(std::string_view name) override;
  void RefreshDefaultFont();

 private:
  TColumn* column_;
  std::string caption_;
  TFont font_;
  TColor color_ = clBtnFace;
  TAlignment alignment_ = taLeftJustify;
};

class TColumn : public TPersistent {
 public:
  explicit TColumn(TCustomDBGrid* grid);
  ~TColumn() override;
  TCustomDBGrid* Grid() const { return grid_; }
  int Index() const;

  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(std::string name);
  TField* Field() const;
  void SetField(TField* field);
  TColumnTitle& Title() { return *title_; }
  int Width() const;
  void SetWidth(int width);
  int DefaultWidth() const;
  bool Visible() const;
  void SetVisible(bool visible);
  // Visible and part of the grid's layout: every enclosing column is visible and expanded, and the column is
  // not itself expanded (its child columns stand in its place; its title spans theirs).
  bool Showing() const;
  bool ReadOnly() const;
  void SetReadOnly(bool v);
  TColor Color() const;
  void SetColor(TColor c);
  bool ColorAssigned() const { return assigned_ & static_cast<unsigned>(TColumnValue::Color); }
  TColor DefaultColor() const;
  TFont& Font() { return font_; }
  TAlignment Alignment() const;
  void SetAlignment(TAlignment a);
  std::vector<std::string>& PickList() { return pickList_; }
  int DropDownRows() const { return dropDownRows_; }
  void SetDropDownRows(int n) { dropDownRows_ = n; }
  // Nested columns. A column over an object field is expandable; expanding it shows one child column per child
  // field right after it (created on first need, at Depth() + 1), collapsing hides them again.
  bool Expandable() const;
  bool Expanded() const { return expanded_ && Expandable(); }
  void SetExpanded(bool expanded);
  int Depth() const { return parent_ ? parent_->Depth() + 1 : 0; }
  TColumn* ParentColumn() const { return parent_; }
  // The column whose title a title row of the given depth shows above this column: the enclosing column at
  // that depth, or this column itself when it is not nested that deep.
  TColumn* ColumnAtDepth(int depth);
  unsigned AssignedValues() const { return assigned_; }
  void RefreshDefaultFont();

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  TPersistent* SubObject(std::string_view name) override;

 private:
  friend class TColumnTitle;
  friend class TDBGridColumns;
  void Changed();
  bool InLayout() const;  // visible, with every enclosing column visible and expanded
  TCustomDBGrid* grid_;
  TColumn* parent_ = nullptr;
  bool expanded_ = false;
  std::string fieldName_;
  mutable TField* field_ = nullptr;
  std::unique_ptr<TColumnTitle> title_;
  int width_ = 64;
  bool visible_ = true;
  bool readOnly_ = false;
  TColor color_ = clWindow;
  TFont font_;
  TAlignment alignment_ = taLeftJustify;
  std::vector<std::string> pickList_;
  int dropDownRows_ = 7;
  unsigned assigned_ = 0;
};

enum class TDBGridColumnsState { csDefault, csCustomized };

class TDBGridColumns {
 public:
  explicit TDBGridColumns(TCustomDBGrid* grid) : grid_(grid) {}
  int Count() const { return static_cast<int>(items_.size()); }
  TColumn* operator[](int i) const { return items_[static_cast<size_t>(i)].get(); }
  TColumn* Items(int i) const { return (*this)[i]; }
  TColumn* Add();
  void Clear();
  void Delete(int index);
  void Move(int from, int to);
  TDBGridColumnsState State() const { return state_; }
  void SetState(TDBGridColumnsState s);
  // One default column per visible field, in the dataset's order; with keepSettings a field that already had
  // a column keeps that column (its width and looks).
  void RebuildColumns(bool keepSettings = false);
  void LoadFromCollection(const Value& collection, TReader& reader);

 private:
  int EndOfChildren(int index) const;  // index after the last column nested inside column `index`
  friend class TCustomDBGrid;
  friend class TColumn;
  TCustomDBGrid* grid_;
  std::vector<std::unique_ptr<TColumn>> items_;
  TDBGridColumnsState state_ = TDBGridColumnsState::csDefault;
};

// Bookmarks of the rows marked in a multi-select grid, kept in record order.
class TBookmarkList {
 public:
  explicit TBookmarkList(TCustomDBGrid* grid) : grid_(grid) {}
  int Count() const { return static_cast<int>(list_.size()); }
  const TBookmark& Items(int i) const { return list_[static_cast<size_t>(i)]; }
  void Clear();
  void Delete();  // deletes the marked records from the dataset
  bool Find(const TBookmark& b, int& index) const;
  int IndexOf(const TBookmark& b) const;
  bool CurrentRowSelected() const;
  // Whether the dataset row (0-based, as TDataSet::ReadRow gives it while a record is painted) is marked.
  bool RowSelected(int row) const;
  void SetCurrentRowSelected(bool value);
  bool Refresh();  // drops bookmarks that are no longer valid; true when any was dropped

 private:
  int Compare(const TBookmark& a, const TBookmark& b) const;
  TCustomDBGrid* grid_;
  std::vector<TBookmark> list_;
};

class TGridDataLink : public TDataLink {
 public:
  explicit TGridDataLink(TCustomDBGrid* grid) : grid_(grid) {}
  void ActiveChanged() override;
  void DataSetChanged() override;
  void DataSetScrolled(int distance) override;
  void RecordChanged(TField* field) override;
  void EditingChanged() override;
  void LayoutChanged() override;
  void FocusControl(TField** field) override;
  void UpdateData() override;
  void CheckBrowseMode() override;
  bool Modified() const { return modified_; }
  void SetModified() { modified_ = true; }
  void ResetModified() { modified_ = false; }

 private:
  TCustomDBGrid* grid_;
  bool modified_ = false;
};

using TDrawColumnCellEvent =
    std::function<void(TComponent* sender, const TRect& rect, int dataCol, TColumn* column, TGridDrawState state)>;

class TCustomDBGrid : public TCustomGrid {
 public:
  explicit TCustomDBGrid(TComponent* owner);
  ~TCustomDBGrid() override;

  TDataSource* DataSource() const { return dataLink_->DataSource(); }
  void SetDataSource(TDataSource* source);
  TGridDataLink& DataLink() { return *dataLink_; }
  TDBGridColumns& Columns() { return columns_; }
  TDBGridOptions Options() const { return dbOptions_; }
  virtual void SetOptions(TDBGridOptions options);
  TFont& TitleFont() { return titleFont_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  TBookmarkList& SelectedRows() { return selectedRows_; }

  int IndicatorOffset() const { return (dbOptions_ & dgIndicator) ? 1 : 0; }
  // Title rows: one per nesting level of the shown columns (1 + the deepest shown column's depth).
  int TitleOffset() const { return (dbOptions_ & dgTitles) ? titleRows_ : 0; }
  // The column whose title the cell (gridCol, title row) shows, and the rectangle that title covers: all
  // screen columns showing the same column at that depth; for a column's deepest level down to the last
  // title row. nullptr (and the cell's own rectangle) for the indicator and empty columns.
  TColumn* TitleColumn(int gridCol, int titleRow) const;
  TRect TitleRect(int gridCol, int titleRow);
  // The expand button at the right end of an expandable column's title rectangle (system scroll-bar width).
  static TRect ExpandButtonRect(const TRect& title);
  // Repaints the own title of the column shown in a grid column (all the title rows it covers).
  void InvalidateTitle(int gridCol);
  // The column index (in Columns) of the current cell and its field.
  int SelectedIndex() const;
  void SetSelectedIndex(int index);
  TField* SelectedField() const;
  void SetSelectedField(TField* field);
  int FieldCount() const;
  TField* Fields(int index) const;
  TColumn* ShownColumn(int gridCol) const;  // column of a grid column, nullptr for the indicator
  int GridColumnOf(const TColumn* column) const;  // -1 when not shown

  void BeginLayout();
  void EndLayout();
  void BeginUpdate() { ++updateLock_; }
  void EndUpdate() { if (--updateLock_ == 0) Invalidate(); }
  // Applies the editor's text to the field (when the user changed it).
  void UpdateData();
  void DefaultDrawColumnCell(const TRect& rect, int dataCol, TColumn* column, TGridDrawState state);

  TDrawColumnCellEvent OnDrawColumnCell;
  TNotifyEvent OnColEnter, OnColExit, OnCellClick, OnTitleClick;
  // After a column was dragged to another place: its old and new index in Columns.
  std::function<void(TComponent* sender, int fromIndex, int toIndex)> OnColumnMoved;

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  TPersistent* SubObject(std::string_view name) override;

  // ---- notifications from the data link ----
  virtual void LinkActive(bool active);
  virtual void DataChanged();
  virtual void Scroll(int distance);
  virtual void RecordChanged(TField* field);
  virtual void EditingChanged();
  void LayoutChanged() override;
  virtual void FocusField(TField* field);

 protected:
  void DrawCell(int col, int row, TRect rect, TGridDrawState state) override;
  virtual void DrawDataCell(int col, int row, TRect rect, TGridDrawState state);
  // rect: the whole title (TitleRect) of the title row's column.
  virtual void DrawTitleCell(int col, int row, TRect rect, TGridDrawState state);
  TRect PaintedCellRect(int col, int row, const TRect& rect) override;
  // The drawing of an expandable column's expand button: a flat scroll arrow pointing right when collapsed,
  // left when expanded. Narrows `rect` by the button; does nothing for other columns.
  void DrawExpandButton(TColumn* column, TRect& rect);
  // A left click on an expand button toggles its column; true when (x, y) was on one.
  bool ClickExpandButton(int x, int y);
  bool CellsJoined(int col, int row, bool toRight) const override;
  virtual void DrawIndicatorCell(int row, TRect rect);
  // The indicator cell's background, under the current-record mark.
  virtual void DrawIndicatorBackground(const TRect& rect);
  void DrawCellText(const TRect& rect, int dx, int dy, const std::string& text, TAlignment alignment);
  bool SelectCell(int col, int row) override;
  void FocusCell(int col, int row) override;
  bool CanEditShow() override;
  bool CanEditModify() override;
  bool CanEditAcceptKey(char key) override;
  std::string GetEditText(int col, int row) override;
  void SetEditText(int col, int row, const std::string& text) override;
  int GetEditLimit() override;
  void EditorChanged() override;
  void ColWidthsChanged() override;
  void RowHeightsChanged() override;
  void TopLeftChanged() override;
  void UpdateScrollBars() override;
  void SyncHorizontalScrollBar();
  void VerticalScroll(UINT code, int pos) override;
  void KeyDown(WORD& key, TShift shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShift shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShift shift, int x, int y) override;
  void ColumnMoved(int from, int to) override;
  void DoExit() override;
  void Resize() override;
  void Loaded() override;
  void Notification(TComponent* component, Operation operation) override;
  void AfterCreateHandle() override;
  virtual void ColEnter();
  virtual void ColExit();
  virtual void TitleClick(TColumn* column);
  virtual void CellClick(TColumn* column);
  // Updates the rows for the link's window (record count, current row).
  void UpdateRowCount();
  void UpdateActive();
  int DefaultRowHeightForFont();
  int TitleHeightForFont();
  // Heights that layout changes apply to the data rows and the title row, and the number of leading data
  // columns frozen beside the indicator; derived grids may override them.
  virtual int DataRowHeight() { return DefaultRowHeightForFont(); }
  virtual int TitleRowHeightValue() { return TitleHeightForFont(); }
  virtual int FrozenColumns() const { return 0; }
  void ApplyGridOptions();
  // Appends (or inserts at the current row) a record for the user's navigation. Such a record, left
  // untouched, is dropped again when the user leaves the grid (dgCancelOnExit); a record that the program
  // itself appended stays until it is posted or cancelled.
  void StartInsert(bool append);
  bool AcquireFocus();
  void ResetEditText();
  bool Layouting() const { return layoutLock_ > 0; }

  std::unique_ptr<TGridDataLink> dataLink_;
  TDBGridColumns columns_;
  std::vector<TColumn*> shown_;
  int titleRows_ = 1;
  TDBGridOptions dbOptions_ = kDefaultDBGridOptions;
  TFont titleFont_;
  bool readOnly_ = false;
  TBookmarkList selectedRows_;
  int layoutLock_ = 0;
  bool inColExit_ = false;
  std::string editText_;
  bool editTextValid_ = false;
  bool ownInsert_ = false;  // the pending insert was started by the grid (StartInsert)
  std::string pendingDataSource_;
};

class TDBGrid : public TCustomDBGrid {
 public:
  explicit TDBGrid(TComponent* owner) : TCustomDBGrid(owner) {}
};

}  // namespace fw
