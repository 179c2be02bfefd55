// The contact editor's data grid: the framework's data-aware grid with check boxes for logical fields, field
// glyphs, alternate row colours, title buttons with sort markers, multi-row selection, incremental search,
// external edit controls, column sizing rules, a column chooser and a stored column layout.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/dbgrids.h"
#include "framework/exceptions.h"
#include "framework/menus.h"
#include "framework/themes.h"
#include "grid/jvdbgrid_logic.h"

// The grid's exception classes (global, like the framework's, so that filters see their plain names).
class EJVCLException : public Exception {
 public:
  using Exception::Exception;
};
class EJVCLDbGridException : public EJVCLException {
 public:
  using EJVCLException::EJVCLException;
};

namespace fw {

class TJvDBGrid;

// Adds mouse-over tracking and the optional two-line focus frame to the framework's data grid.
class TJvExDBGrid : public TDBGrid {
 public:
  explicit TJvExDBGrid(TComponent* owner) : TDBGrid(owner) {}
  bool DotNetHighlighting() const { return dotNetHighlighting_; }
  void SetDotNetHighlighting(bool v);
  bool MouseOver() const { return mouseOver_; }
  static constexpr TColor kFocusedColor = 0x733800;
  static constexpr TColor kUnfocusedColor = 0x808080;

 protected:
  void WndProc(TMessage& m) override;
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}
  void DrawHighlightFrame(bool leaving);
  bool dotNetHighlighting_ = false;
  bool mouseOver_ = false;
};

// The grid's cell editor. The mouse wheel over it drops the record's pending edit or insert (it is not
// posted by the scrolling) and then scrolls the grid as the wheel over the grid does.
class TInternalInplaceEdit : public TInplaceEdit {
 public:
  explicit TInternalInplaceEdit(TJvDBGrid* grid);

 protected:
  void WndProc(TMessage& m) override;

 private:
  TJvDBGrid* owner_;
};

// The form-placement component: a store of named text values under a path, and notifications when the
// placement saves and restores.
class TJvFormStorage : public TComponent {
 public:
  explicit TJvFormStorage(TComponent* owner = nullptr) : TComponent(owner) {}
  jvgrid::TNamedValueStore& Store() { return store_; }
  const std::string& AppStoragePath() const { return path_; }
  void SetAppStoragePath(std::string p) { path_ = std::move(p); }
  bool HasAppStorage() const { return hasStorage_; }
  void SetHasAppStorage(bool v) { hasStorage_ = v; }
  void SaveFormPlacement();
  void RestoreFormPlacement();
  void AddListener(TComponent* who, std::function<void(bool save)> call);
  void RemoveListener(TComponent* who);
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 private:
  jvgrid::TNamedValueStore store_;
  std::string path_;
  bool hasStorage_ = true;
  std::vector<std::pair<TComponent*, std::function<void(bool)>>> listeners_;
};

class TJvSelectDialogColumnStrings : public TPersistent {
 public:
  std::string Caption = "Select columns";
  std::string RealNamesOption;
  std::string OK = "&OK";
  std::string NoSelectionWarning = "At least one column must be visible!";
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
};

class TJvDBGridControl : public TPersistent {
 public:
  std::string ControlName;
  std::string FieldName;
  TJvDBGridControlSize FitCell = fcCellSize;
  bool LeaveOnEnterKey = false;
  bool LeaveOnUpDownKey = false;
  int DesignWidth = 0, DesignHeight = 0;
  void Assign(const TJvDBGridControl& other);
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
};

class TJvDBGridControls {
 public:
  explicit TJvDBGridControls(TJvDBGrid* grid) : grid_(grid) {}
  TJvDBGrid* Grid() const { return grid_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TJvDBGridControl* Items(int i) const { return items_[static_cast<size_t>(i)].get(); }
  TJvDBGridControl* Add();
  void Clear() { items_.clear(); }
  // The item of a field name (ignoring case), or nullptr.
  TJvDBGridControl* ControlByField(std::string_view fieldName) const;
  TJvDBGridControl* ControlByName(std::string_view controlName) const;

 private:
  TJvDBGrid* grid_;
  std::vector<std::unique_ptr<TJvDBGridControl>> items_;
};

using TCheckTitleBtnEvent = std::function<void(TComponent* sender, int aCol, TField* field, bool& enabled)>;
using TGetCellPropsEvent = std::function<void(TComponent* sender, TField* field, TFont& font, TColor& background)>;
using TGetCellParamsEvent =
    std::function<void(TComponent* sender, TField* field, TFont& font, TColor& background, bool highlight)>;
using TGetBtnParamsEvent = std::function<void(TComponent* sender, TField* field, TFont& font, TColor& background,
                                              TSortMarker& sortMarker, bool isDown)>;
using TJvDBEditShowEvent = std::function<void(TComponent* sender, TField* field, bool& allowEdit)>;
using TTitleClickEvent = std::function<void(TComponent* sender, int aCol, TField* field)>;
using TDrawColumnTitleEvent =
    std::function<void(TComponent* sender, TCanvas& canvas, const TRect& rect, TColumn* column, HBITMAP& sortMarker,
                       bool isDown, int& offset, bool& defaultDrawText, bool& defaultDrawSortMarker)>;
using TJvTitleHintEvent = std::function<void(TComponent* sender, TField* field, std::string& hint, int& timeOut)>;
using TJvDBCheckIfBooleanFieldEvent =
    std::function<bool(TJvDBGrid* grid, TField* field, std::string& stringForTrue, std::string& stringForFalse)>;
using TJvDBColumnResizeEvent = std::function<void(TJvDBGrid* grid, int aCol, int newWidth)>;
using TJvDBCanEditCellEvent = std::function<void(TJvDBGrid* grid, TField* field, bool& allowEdit)>;
using TJvDBSelectColumnsEvent = std::function<void(TJvDBGrid* grid, bool& defaultDialog)>;
using TMouseWheelUpDownEvent = std::function<void(TComponent* sender, TShift shift, TPoint mouse, bool& handled)>;

// Glyph bitmaps shared by every grid, loaded on first use from the program's bitmap resources.
HBITMAP GridGlyph(int index);
TPoint GridGlyphSize(int index);

class TJvDBGrid : public TJvExDBGrid {
 public:
  explicit TJvDBGrid(TComponent* owner);
  ~TJvDBGrid() override;

  // ---- published properties ----
  TDBGridOptions Options() const;
  void SetOptions(TDBGridOptions options) override;
  bool AutoAppend = true;
  bool AutoSort = true;
  TSortMarker SortMarker() const { return sortMarker_; }
  void SetSortMarker(TSortMarker m);
  const std::string& SortedField() const { return sortedField_; }
  void SetSortedField(std::string name);
  int FixedColsCount() const { return fixedCols_; }  // the property FixedCols
  void SetFixedColsCount(int n);
  bool ClearSelection = true;
  bool DefaultDrawing = true;
  TJvFormStorage* IniStorage() const { return iniStorage_; }
  void SetIniStorage(TJvFormStorage* storage);
  bool MultiSelect() const { return multiSelect_; }
  void SetMultiSelect(bool v);
  bool ShowGlyphs() const { return showGlyphs_; }
  void SetShowGlyphs(bool v);
  bool TitleButtons() const { return titleButtons_; }
  void SetTitleButtons(bool v);
  bool TitleButtonAllowMove = false;
  bool BeepOnError = true;
  TColor AlternateRowColor() const { return alternateRowColor_; }
  void SetAlternateRowColor(TColor c);
  TColor AlternateRowFontColor() const { return alternateRowFontColor_; }
  void SetAlternateRowFontColor(TColor c);
  bool PostOnEnterKey = false;
  TSelectColumn SelectColumn = scDataBase;
  bool ShowTitleHint = false;
  bool TitleArrow() const { return titleArrow_; }
  void SetTitleArrow(bool v);
  TPopupMenu* TitlePopup() const { return titlePopup_; }
  void SetTitlePopup(TPopupMenu* menu);
  bool ShowCellHint = false;
  int MaxColumnWidth() const { return maxColumnWidth_; }
  void SetMaxColumnWidth(int w);
  int MinColumnWidth() const { return minColumnWidth_; }
  void SetMinColumnWidth(int w);
  bool AutoSizeColumns() const { return autoSizeColumns_; }
  void SetAutoSizeColumns(bool v);
  int AutoSizeColumnIndex() const { return autoSizeColumnIndex_; }
  void SetAutoSizeColumnIndex(int i);
  TJvSelectDialogColumnStrings& SelectColumnsDialogStrings() { return selectStrings_; }
  TJvDBGridCellHintPosition CellHintPosition = gchpDefault;
  bool CanDelete = true;
  bool CancelOnMouse = false;
  TJvDBGridColumnResize ColumnResize = gcrGrid;
  TJvDBGridControls& EditControls() { return editControls_; }
  bool AutoSizeRows() const { return autoSizeRows_; }
  void SetAutoSizeRows(bool v);
  bool ReduceFlicker = true;
  bool RowResize() const { return rowResize_; }
  void SetRowResize(bool v);
  // With AutoSizeRows the data rows keep the font-derived default height and RowsHeight reads it.
  int RowsHeight() const { return autoSizeRows_ ? DefaultRowHeight() : rowsHeight_; }
  void SetRowsHeight(int height);
  int TitleRowHeight() const { return autoSizeRows_ ? RowHeight(0) : titleRowHeight_; }
  void SetTitleRowHeight(int height);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);
  bool WordWrapAllFields() const { return wordWrapAllFields_; }
  void SetWordWrapAllFields(bool v);
  bool ShowMemos() const { return showMemos_; }
  void SetShowMemos(bool v);
  bool BooleanEditor() const { return booleanEditor_; }
  void SetBooleanEditor(bool v);
  bool UseXPThemes = true;
  TColor ReadOnlyCellColor() const { return readOnlyCellColor_; }
  void SetReadOnlyCellColor(TColor c);

  // ---- events ----
  TCheckTitleBtnEvent OnCheckButton;
  TGetCellPropsEvent OnGetCellProps;
  TGetCellParamsEvent OnGetCellParams;
  TGetBtnParamsEvent OnGetBtnParams;
  TNotifyEvent OnEditChange;
  TJvDBEditShowEvent OnShowEditor;
  TTitleClickEvent OnTitleBtnClick;
  TTitleClickEvent OnTitleBtnDblClick;
  TNotifyEvent OnTopLeftChanged;
  TDrawColumnTitleEvent OnDrawColumnTitle;
  TJvTitleHintEvent OnShowTitleHint;
  TNotifyEvent OnTitleArrowMenuEvent;
  TJvTitleHintEvent OnShowCellHint;
  TJvDBCheckIfBooleanFieldEvent OnCheckIfBooleanField;
  TJvDBColumnResizeEvent OnColumnResized;
  TJvDBCanEditCellEvent OnCanEditCell;
  TJvDBSelectColumnsEvent OnSelectColumns;
  TNotifyEvent OnBeforePaint;
  TNotifyEvent OnAfterPaint;
  TMouseWheelUpDownEvent OnMouseWheelDown, OnMouseWheelUp;

  // ---- operations ----
  void OpenColumnChooser();
  // Glyph of a field on the record now selected for reading, or -1.
  int GetGlyphIndex(TField* field);
  // Whether the field is shown and edited as a check box (sets the true and false strings).
  bool IsLogicalLike(TField* field);
  void SaveColumnLayout();
  void RestoreColumnLayout();
  // Fits the columns to the client width now (AutoSizeColumns).
  void DoAutoSizeColumns();
  // Fits one column (a data column index in Columns) to its widest text.
  void FitColumn(int columnIndex);
  // Sets, toggles or clears the pending logical field's value.
  void ChangeBoolean(jvgrid::LogicalKey action);
  // Text of the hint that would show over a client point (empty: none).
  std::string HintTextAt(int x, int y, int* timeOut = nullptr);
  // Listeners of layout changes (code 0) and top-left changes (code 2).
  void AddListener(TComponent* who, std::function<void(int code)> call);
  void RemoveListener(TComponent* who);
  // The cell rectangle that the top-left cell occupies (the title arrow).
  TRect TopLeftCellRect() { return CellRect(0, 0); }
  TWinControl* ActiveEditControl() const { return activeControl_; }
  TField* PendingLogicalField() const { return pendingLogical_; }
  const std::string& SearchText() const { return searchText_; }
  int GridFixedCols() const { return TCustomGrid::FixedCols(); }
  // Paint timing support: paints the whole client synchronously.
  void PaintNow() { Repaint(); }
  // Whether titles and the indicator are drawn with the platform's visual styles now.
  bool ThemedDrawing() const;
  // The visual-style services the grid draws with: the process's unless others were given (nullptr: back to
  // the process's). The services must outlive their use by the grid.
  TThemeServices& Themes() const;
  void SetThemeServices(TThemeServices* services) {
    themes_ = services;
    Invalidate();
  }
  // The title column under the mouse while titles are themed (hot), or -1.
  int HotTitle() const { return hotTitle_; }

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  TPersistent* SubObject(std::string_view name) override;
  void LayoutChanged() override;
  void Scroll(int distance) override;
  void LinkActive(bool active) override;

 protected:
  void Loaded() override;
  void Notification(TComponent* component, Operation operation) override;
  void Paint() override;
  void DrawCell(int col, int row, TRect rect, TGridDrawState state) override;
  void DrawDataCell(int col, int row, TRect rect, TGridDrawState state) override;
  void DrawTitleCell(int col, int row, TRect rect, TGridDrawState state) override;
  void DrawIndicatorCell(int row, TRect rect) override;
  void DrawIndicatorBackground(const TRect& rect) override;
  void MouseLeave() override;
  void KeyDown(WORD& key, TShift shift) override;
  void KeyPress(char& key) override;
  void MouseDown(TMouseButton button, TShift shift, int x, int y) override;
  void MouseMove(TShift shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShift shift, int x, int y) override;
  void DblClick() override;
  bool DoMouseWheel(TShift shift, int delta, TPoint mouse) override;
  bool CanEditShow() override;
  TInplaceEdit* CreateEditor() override;
  void ShowEditor() override;
  void HideEditor() override;
  void ColEnter() override;
  void CellClick(TColumn* column) override;
  void EditorChanged() override;
  void TopLeftChanged() override;
  void RowHeightsChanged() override;
  bool IsSizingZone(int x, int y, int& col) override;
  void Resize() override;
  void WndProc(TMessage& m) override;
  void DoExit() override;
  int DataRowHeight() override;
  int TitleRowHeightValue() override;
  int FrozenColumns() const override { return fixedCols_; }

 private:
  friend LRESULT CALLBACK EditControlProc(HWND, UINT, WPARAM, LPARAM);
  void CallFramework(WORD& key, TShift shift);
  void ClearMultiSelection();
  void MoveWithSelection(int distance, TShift shift);
  void DoMoveDown(TShift shift, bool allowAppend);
  void DoTab(bool backward, TShift shift);
  void DoCtrlDelete();
  bool CanAppend();
  void SelectFirstFreeColumn();
  void ApplyWidthRules();
  void NotifyListeners(int code);
  void WriteCellText(TCanvas& canvas, const TRect& rect, int dx, int dy, const std::string& text,
                     TAlignment alignment, UINT extraFlags, bool fillBackground);
  bool CellEditable(TColumn* column, TField* field);
  void HideEditControl();
  void PlaceControl(TJvDBGridControl* item);
  void DetachControl();
  void LookupSearch(char& key, TField* field);
  void PickListSearch(char& key, TColumn* column, TField* field);
  void DoTitleClick(int aCol, TField* field);
  void DrawTitleSortAndText(TCanvas& c, TRect rect, TColumn* column, bool pressed, bool themed);
  int TitleColumnAt(int x, int y);
  bool DrawThemedHeader(const TRect& rect, THeaderState state);
  void FillScrollBarCorner();

  TJvSelectDialogColumnStrings selectStrings_;
  TJvDBGridControls editControls_;
  TDBGridOptions ownOptions_ = 0;  // dgAlwaysShowEditor kept by the grid itself
  bool alwaysShowEditor_ = false;
  bool multiSelect_ = false;
  TSortMarker sortMarker_ = smNone;
  std::string sortedField_;
  int fixedCols_ = 0;
  TJvFormStorage* iniStorage_ = nullptr;
  bool showGlyphs_ = true;
  bool titleButtons_ = false;
  TColor alternateRowColor_ = clNone;
  TColor alternateRowFontColor_ = clNone;
  bool titleArrow_ = false;
  int maxColumnWidth_ = 0, minColumnWidth_ = 0;
  bool autoSizeColumns_ = false;
  int autoSizeColumnIndex_ = -1;
  bool autoSizeRows_ = true;
  bool rowResize_ = false;
  int rowsHeight_ = 0;
  int titleRowHeight_ = 0;
  bool wordWrap_ = false;
  bool wordWrapAllFields_ = false;
  TPopupMenu* titlePopup_ = nullptr;
  int hotTitle_ = -1;
  bool showMemos_ = true;
  bool booleanEditor_ = true;
  TColor readOnlyCellColor_ = clDefault;
  TThemeServices* themes_ = nullptr;

  // Private state.
  std::string trueString_ = "1", falseString_ = "0";
  TField* pendingLogical_ = nullptr;
  std::string searchText_;
  TWinControl* activeControl_ = nullptr;
  WNDPROC activeControlProc_ = nullptr;
  TJvDBGridControl* activeItem_ = nullptr;
  int pressedCol_ = -1;
  bool tracking_ = false, swapButtons_ = false, arrowPressed_ = false, pressedOver_ = false;
  int lastTitleClick_ = -1;
  bool selecting_ = false;
  TBookmark anchor_;
  int sizingCol_ = -1;
  HIMAGELIST msIndicators_ = nullptr;
  std::vector<std::pair<TComponent*, std::function<void(int)>>> listeners_;
  bool inAutoSize_ = false;
  bool inWidthRules_ = false;
  bool clickOnCurrentCell_ = false;
  bool frameworkKeyHandling_ = false;
  HWND hintWindow_ = nullptr;
  GridCoord hintCell_;
  std::string hintText_;
  void UpdateHint(int x, int y);
  // The drop-down list of a pick-list or lookup cell.
  HWND dropList_ = nullptr;
  WNDPROC dropListProc_ = nullptr;
  std::vector<Variant> dropKeys_;  // lookup key of each item
  friend LRESULT CALLBACK DropListProc(HWND, UINT, WPARAM, LPARAM);

 public:
  bool DropDown();             // opens the list of the current cell; false when it has none
  void CloseUp(bool accept);   // closes it, storing the selected item when accepted
  bool DroppedDown() const { return dropList_ != nullptr; }
  HWND DropDownList() const { return dropList_; }
};

}  // namespace fw
