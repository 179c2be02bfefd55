// The data grid: the mouse-over frame of its base, the texts of the column chooser and the collection of
// external edit controls, construction, properties, row heights, layout, fields, and the stored properties.
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

// ---------------------------------------------------------------------------------------------------------
// TJvExDBGrid

void TJvExDBGrid::SetDotNetHighlighting(bool v) {
  dotNetHighlighting_ = v;
  if (HandleAllocated()) DrawHighlightFrame(false);
}

void TJvExDBGrid::DrawHighlightFrame(bool leaving) {
  if (!dotNetHighlighting_ || !HandleAllocated()) return;
  HWND h = Handle();
  HDC dc = GetWindowDC(h);
  RECT wr;
  GetWindowRect(h, &wr);
  RECT r{0, 0, wr.right - wr.left, wr.bottom - wr.top};
  bool hot = Focused() || (editor_ && editor_->Focused()) || mouseOver_;
  HBRUSH outer = CreateSolidBrush(ColorToRGB(hot ? kFocusedColor : kUnfocusedColor));
  HBRUSH inner = CreateSolidBrush(ColorToRGB(hot ? kFocusedColor : Color()));
  FrameRect(dc, &r, outer);
  InflateRect(&r, -1, -1);
  FrameRect(dc, &r, inner);
  DeleteObject(outer);
  DeleteObject(inner);
  ReleaseDC(h, dc);
  if (leaving) {
    RECT band{0, 0, wr.right - wr.left, wr.bottom - wr.top};
    RedrawWindow(h, &band, nullptr, RDW_FRAME | RDW_INVALIDATE);
  }
}

void TJvExDBGrid::WndProc(TMessage& m) {
  switch (m.msg) {
    case WM_MOUSEMOVE:
      if (!mouseOver_) {
        mouseOver_ = true;
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, Handle(), 0};
        TrackMouseEvent(&t);
        MouseEnter();
        DrawHighlightFrame(false);
      }
      break;
    case WM_MOUSELEAVE:
      mouseOver_ = false;
      MouseLeave();
      DrawHighlightFrame(true);
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_NCPAINT:
      TDBGrid::WndProc(m);
      DrawHighlightFrame(false);
      return;
    default:
      break;
  }
  TDBGrid::WndProc(m);
}

static ClassRegistration<TJvFormStorage> registerFormStorage("TJvFormStorage");

// ---------------------------------------------------------------------------------------------------------
// Strings and edit controls

bool TJvSelectDialogColumnStrings::ReadProperty(std::string_view name, const Value& v, TReader&) {
  if (name == "Caption") Caption = StringValue(v);
  else if (name == "RealNamesOption") RealNamesOption = StringValue(v);
  else if (name == "OK") OK = StringValue(v);
  else if (name == "NoSelectionWarning") NoSelectionWarning = StringValue(v);
  else return false;
  return true;
}

void TJvDBGridControl::Assign(const TJvDBGridControl& o) {
  ControlName = o.ControlName;
  FieldName = o.FieldName;
  FitCell = o.FitCell;
  LeaveOnEnterKey = o.LeaveOnEnterKey;
  LeaveOnUpDownKey = o.LeaveOnUpDownKey;
  DesignWidth = 0;
  DesignHeight = 0;
}

bool TJvDBGridControl::ReadProperty(std::string_view name, const Value& v, TReader&) {
  if (name == "ControlName") ControlName = StringValue(v);
  else if (name == "FieldName") FieldName = StringValue(v);
  else if (name == "LeaveOnEnterKey") LeaveOnEnterKey = BoolValue(v);
  else if (name == "LeaveOnUpDownKey") LeaveOnUpDownKey = BoolValue(v);
  else if (name == "FitCell") {
    if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
    FitCell = v.text == "fcDesignSize" ? fcDesignSize : v.text == "fcBiggest" ? fcBiggest : fcCellSize;
  } else return false;
  return true;
}

TJvDBGridControl* TJvDBGridControls::Add() {
  items_.push_back(std::make_unique<TJvDBGridControl>());
  return items_.back().get();
}

TJvDBGridControl* TJvDBGridControls::ControlByField(std::string_view fieldName) const {
  for (auto& i : items_)
    if (!i->FieldName.empty() && SameTextIgnoringCase(i->FieldName, fieldName)) return i.get();
  return nullptr;
}

TJvDBGridControl* TJvDBGridControls::ControlByName(std::string_view controlName) const {
  for (auto& i : items_)
    if (SameTextIgnoringCase(i->ControlName, controlName)) return i.get();
  return nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// TJvDBGrid: construction and properties

TJvDBGrid::TJvDBGrid(TComponent* owner) : TJvExDBGrid(owner), editControls_(this) {
  drawFixedEdges_ = false;
  // The framework's set loses dgAlwaysShowEditor first; then the default set applies.
  TCustomDBGrid::SetOptions(TCustomDBGrid::Options() & ~dgAlwaysShowEditor);
  SetOptions(kDefaultDBGridOptions);
  HBITMAP dot = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), kMultiSelectGlyphNames[0], IMAGE_BITMAP, 0, 0, 0));
  HBITMAP arrow = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), kMultiSelectGlyphNames[1], IMAGE_BITMAP, 0, 0, 0));
  msIndicators_ = ImageList_Create(6, 11, ILC_COLOR24 | ILC_MASK, 2, 0);
  if (msIndicators_) {
    if (dot) ImageList_AddMasked(msIndicators_, dot, RGB(255, 255, 255));
    if (arrow) ImageList_AddMasked(msIndicators_, arrow, RGB(255, 255, 255));
  }
  if (dot) DeleteObject(dot);
  if (arrow) DeleteObject(arrow);
}

TJvDBGrid::~TJvDBGrid() {
  SetDestroying();
  DetachControl();
  if (iniStorage_) iniStorage_->RemoveListener(this);
  if (msIndicators_) ImageList_Destroy(msIndicators_);
  if (hintWindow_) DestroyWindow(hintWindow_);
  if (dropList_) DestroyWindow(dropList_);
}

TDBGridOptions TJvDBGrid::Options() const {
  TDBGridOptions o = TCustomDBGrid::Options();
  if (multiSelect_) o |= dgMultiSelect;
  if (alwaysShowEditor_) o |= dgAlwaysShowEditor;
  return o;
}

void TJvDBGrid::SetOptions(TDBGridOptions options) {
  alwaysShowEditor_ = options & dgAlwaysShowEditor;
  multiSelect_ = options & dgMultiSelect;
  TCustomDBGrid::SetOptions(options & ~(dgAlwaysShowEditor | dgMultiSelect));
  TGridOptions g = GridOptions();
  if (rowResize_) g |= goRowSizing;
  else g &= ~goRowSizing;
  if (!(options & dgColLines)) g &= ~goFixedVertLine;
  if (!(options & dgRowLines)) g &= ~goFixedHorzLine;
  SetGridOptions(g);
}

void TJvDBGrid::SetSortMarker(TSortMarker m) {
  sortMarker_ = m;
  Invalidate();
}

void TJvDBGrid::SetSortedField(std::string name) {
  sortedField_ = std::move(name);
  Invalidate();
}

void TJvDBGrid::SetFixedColsCount(int n) {
  fixedCols_ = std::max(0, n);
  LayoutChanged();
}

void TJvDBGrid::SetIniStorage(TJvFormStorage* storage) {
  if (iniStorage_) iniStorage_->RemoveListener(this);
  iniStorage_ = storage;
  if (storage) {
    storage->FreeNotification(this);
    storage->AddListener(this, [this](bool save) { save ? SaveColumnLayout() : RestoreColumnLayout(); });
  }
}

void TJvDBGrid::SetMultiSelect(bool v) {
  multiSelect_ = v;
  if (!v) SelectedRows().Clear();
  Invalidate();
}

void TJvDBGrid::SetTitlePopup(TPopupMenu* menu) {
  if (titlePopup_) titlePopup_->RemoveFreeNotification(this);
  titlePopup_ = menu;
  if (menu) menu->FreeNotification(this);
}

void TJvDBGrid::SetShowGlyphs(bool v) { showGlyphs_ = v; Invalidate(); }
void TJvDBGrid::SetTitleButtons(bool v) { titleButtons_ = v; Invalidate(); }
void TJvDBGrid::SetAlternateRowColor(TColor c) { alternateRowColor_ = c; Invalidate(); }
void TJvDBGrid::SetAlternateRowFontColor(TColor c) { alternateRowFontColor_ = c; Invalidate(); }
void TJvDBGrid::SetTitleArrow(bool v) { titleArrow_ = v; Invalidate(); }
void TJvDBGrid::SetMaxColumnWidth(int w) { maxColumnWidth_ = std::max(0, w); LayoutChanged(); }
void TJvDBGrid::SetMinColumnWidth(int w) { minColumnWidth_ = std::max(0, w); LayoutChanged(); }
void TJvDBGrid::SetAutoSizeColumns(bool v) { autoSizeColumns_ = v; LayoutChanged(); }
void TJvDBGrid::SetAutoSizeColumnIndex(int i) { autoSizeColumnIndex_ = i; LayoutChanged(); }
void TJvDBGrid::SetWordWrap(bool v) { wordWrap_ = v; Invalidate(); }
void TJvDBGrid::SetWordWrapAllFields(bool v) { wordWrapAllFields_ = v; Invalidate(); }
void TJvDBGrid::SetShowMemos(bool v) { showMemos_ = v; Invalidate(); }
void TJvDBGrid::SetBooleanEditor(bool v) { booleanEditor_ = v; Invalidate(); }
void TJvDBGrid::SetReadOnlyCellColor(TColor c) { readOnlyCellColor_ = c; Invalidate(); }

// ---- row heights ----

int TJvDBGrid::DataRowHeight() {
  if (!autoSizeRows_ && rowsHeight_ > 0) return rowsHeight_;
  return DefaultRowHeightForFont();
}

int TJvDBGrid::TitleRowHeightValue() {
  if (!autoSizeRows_ && titleRowHeight_ > 0 && (TCustomDBGrid::Options() & dgTitles)) return titleRowHeight_;
  return TitleHeightForFont();
}

void TJvDBGrid::SetRowsHeight(int height) {
  if (!autoSizeRows_ && height > 0 && height != DefaultRowHeight()) {
    rowsHeight_ = height;
    LayoutChanged();
    if (HandleAllocated()) SendMessageA(Handle(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(ClientWidth(), ClientHeight()));
  } else {
    rowsHeight_ = Loading() ? height : DefaultRowHeight();
  }
}

void TJvDBGrid::SetTitleRowHeight(int height) {
  bool titles = TCustomDBGrid::Options() & dgTitles;
  if (titles && !autoSizeRows_ && height > 0 && height != RowHeight(0)) {
    titleRowHeight_ = height;
    LayoutChanged();
    if (HandleAllocated()) SendMessageA(Handle(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(ClientWidth(), ClientHeight()));
  } else {
    titleRowHeight_ = Loading() ? height : RowHeight(0);
  }
}

void TJvDBGrid::SetAutoSizeRows(bool v) {
  autoSizeRows_ = v;
  if (v) SetRowResize(false);
  LayoutChanged();
  if (v) {
    rowsHeight_ = DefaultRowHeight();
    titleRowHeight_ = RowHeight(0);
  }
}

void TJvDBGrid::SetRowResize(bool v) {
  if (v && autoSizeRows_) return;
  rowResize_ = v;
  TGridOptions g = GridOptions();
  SetGridOptions(v ? (g | goRowSizing) : (g & ~goRowSizing));
}

void TJvDBGrid::RowHeightsChanged() {
  TJvExDBGrid::RowHeightsChanged();
  if (!rowResize_ || autoSizeRows_ || Layouting()) return;
  // A row the user sized gives its height to every data row.
  int first = (TCustomDBGrid::Options() & dgTitles) ? 1 : 0;
  for (int r = first; r < RowCount(); ++r)
    if (RowHeight(r) != rowsHeight_) {
      SetRowsHeight(RowHeight(r));
      break;
    }
}

// ---- layout ----

void TJvDBGrid::LayoutChanged() {
  TJvExDBGrid::LayoutChanged();
  if (Layouting() || Loading()) return;
  if (autoSizeRows_) {
    rowsHeight_ = DefaultRowHeight();
    titleRowHeight_ = RowHeight(0);
  }
  ApplyWidthRules();
  if (activeControl_ && activeControl_->Visible() && activeItem_) PlaceControl(activeItem_);
  NotifyListeners(0);
}

void TJvDBGrid::ApplyWidthRules() {
  if (inWidthRules_) return;
  Restore<bool> guard(inWidthRules_);
  inWidthRules_ = true;
  if (!autoSizeColumns_ && (maxColumnWidth_ > 0 || minColumnWidth_ > 0)) {
    bool changed = false;
    BeginLayout();
    try {
      for (int i = 0; i < Columns().Count(); ++i) {
        TColumn* c = Columns()[i];
        if (!c->Showing()) continue;
        int w = BoundColumnWidth(c->Width(), minColumnWidth_, maxColumnWidth_);
        if (w != c->Width()) {
          c->SetWidth(w);
          changed = true;
        }
      }
    } catch (...) {
      --layoutLock_;
      throw;
    }
    if (changed) EndLayout();
    else --layoutLock_;
  }
  if (autoSizeColumns_ && GridState() != TGridState::gsColSizing) DoAutoSizeColumns();
}

void TJvDBGrid::DoAutoSizeColumns() {
  if (inAutoSize_ || !HandleAllocated() || GridState() == TGridState::gsColSizing) return;
  Restore<bool> guard(inAutoSize_);
  inAutoSize_ = true;
  std::vector<TColumn*> shown;
  std::vector<int> widths;
  for (int i = 0; i < Columns().Count(); ++i)
    if (Columns()[i]->Showing()) {
      shown.push_back(Columns()[i]);
      widths.push_back(Columns()[i]->Width());
    }
  if (shown.empty()) return;
  int available = ClientWidth();
  if (TCustomDBGrid::Options() & dgIndicator) available -= 11 + GridLineWidth();
  int index = autoSizeColumnIndex_;
  std::vector<int> fitted = AutoSizeWidths(widths, available, index, GridLineWidth());
  if (fitted == widths) return;
  int left = LeftCol();
  ++layoutLock_;
  try {
    for (size_t i = 0; i < shown.size(); ++i) shown[i]->SetWidth(fitted[i]);
  } catch (...) {
    --layoutLock_;
    throw;
  }
  --layoutLock_;
  TJvExDBGrid::LayoutChanged();
  SetLeftCol(left);
}

void TJvDBGrid::Resize() {
  TJvExDBGrid::Resize();
  if (autoSizeColumns_) DoAutoSizeColumns();
}

void TJvDBGrid::NotifyListeners(int code) {
  auto copy = listeners_;
  for (auto& l : copy) l.second(code);
}

void TJvDBGrid::AddListener(TComponent* who, std::function<void(int)> call) {
  RemoveListener(who);
  listeners_.emplace_back(who, std::move(call));
}

void TJvDBGrid::RemoveListener(TComponent* who) {
  std::erase_if(listeners_, [who](const auto& l) { return l.first == who; });
}

void TJvDBGrid::Loaded() {
  TJvExDBGrid::Loaded();
  // External editors start hidden.
  if (Owner())
    for (int i = 0; i < editControls_.Count(); ++i)
      if (auto* c = dynamic_cast<TControl*>(Owner()->FindComponent(editControls_.Items(i)->ControlName)))
        c->SetVisible(false);
  if (!autoSizeRows_) {
    int rh = rowsHeight_, th = titleRowHeight_;
    rowsHeight_ = 0;
    titleRowHeight_ = 0;
    SetRowsHeight(rh);
    SetTitleRowHeight(th);
  }
  LayoutChanged();
}

void TJvDBGrid::Notification(TComponent* c, Operation op) {
  TJvExDBGrid::Notification(c, op);
  if (op != Operation::Remove) return;
  if (c == iniStorage_) iniStorage_ = nullptr;
  if (c == activeControl_) {
    activeControl_ = nullptr;
    activeControlProc_ = nullptr;
    activeItem_ = nullptr;
  }
  if (c == titlePopup_) titlePopup_ = nullptr;
  RemoveListener(c);
}

void TJvDBGrid::LinkActive(bool active) {
  TJvExDBGrid::LinkActive(active);
  if (active && alwaysShowEditor_) ShowEditor();
}

void TJvDBGrid::Scroll(int distance) {
  TJvExDBGrid::Scroll(distance);
  if ((alternateRowColor_ != clNone && alternateRowColor_ != Color()) ||
      (alternateRowFontColor_ != clNone && alternateRowFontColor_ != Font().Color()))
    Invalidate();
  if (alwaysShowEditor_ && (TCustomDBGrid::Options() & dgEditing) && !(TCustomDBGrid::Options() & dgRowSelect) &&
      HandleAllocated() && Focused()) {
    ShowEditor();
    InvalidateCol(Col());
  }
  if (activeControl_ && activeControl_->Visible() && activeItem_) PlaceControl(activeItem_);
}

void TJvDBGrid::TopLeftChanged() {
  if ((TCustomDBGrid::Options() & dgRowSelect) && DefaultDrawing) InvalidateRow(Row());
  if (tracking_) {
    tracking_ = false;
    if (GridState() != TGridState::gsColMoving) ReleaseCapture();
  }
  TJvExDBGrid::TopLeftChanged();
  if (OnTopLeftChanged) OnTopLeftChanged(this);
  NotifyListeners(2);
  if (activeControl_ && activeControl_->Visible() && activeItem_) PlaceControl(activeItem_);
}

// ---------------------------------------------------------------------------------------------------------
// Fields

bool TJvDBGrid::IsLogicalLike(TField* field) {
  if (!field || !booleanEditor_) return false;
  if (field->DataType() == ftBoolean) return true;
  if (!MayBeLogicalLike(field->DataType()) || !OnCheckIfBooleanField) return false;
  trueString_ = "1";
  falseString_ = "0";
  return OnCheckIfBooleanField(this, field, trueString_, falseString_);
}

int TJvDBGrid::GetGlyphIndex(TField* field) {
  if (!field || !showGlyphs_) return kGlyphNone;
  GlyphInput in;
  in.type = field->DataType();
  in.showGlyphs = showGlyphs_;
  in.showMemos = showMemos_;
  in.booleanEditor = booleanEditor_;
  in.logicalLike = IsLogicalLike(field);
  in.isNull = field->IsNull();
  if (!in.isNull && in.logicalLike) {
    if (in.type == ftBoolean) in.boolValue = field->AsBoolean();
    else if (IsNumericLogicalType(in.type)) in.intValue = field->AsLargeInt();
    else in.textIsFalse = SameTextIgnoringCase(field->AsString(), falseString_);
  }
  return FieldGlyph(in);
}

bool TJvDBGrid::CellEditable(TColumn* column, TField* field) {
  TDataSet* ds = DataLink().DataSet();
  if (!field || !ds || ReadOnly() || !ds->CanModify() || (column && column->ReadOnly())) return false;
  bool allow = field->CanModify();
  if (allow && OnCanEditCell) OnCanEditCell(this, field, allow);
  return allow;
}

void TJvDBGrid::ChangeBoolean(LogicalKey action) {
  TField* field = pendingLogical_;
  if (!field || action == LogicalKey::Ignore) return;
  if (!DataLink().Edit()) return;
  IsLogicalLike(field);  // refreshes the true and false strings
  int kind = field->DataType() == ftBoolean ? 1 : IsNumericLogicalType(field->DataType()) ? 2 : 0;
  LogicalCurrent cur;
  cur.isNull = field->IsNull();
  if (!cur.isNull) {
    if (kind == 0) cur.text = field->AsString();
    else if (kind == 1) cur.boolValue = field->AsBoolean();
    else cur.intValue = field->AsLargeInt();
  }
  Variant v = LogicalNewValue(kind, action, cur, trueString_, falseString_);
  if (kind == 0) field->SetAsString(v.AsString());
  else if (kind == 1) field->SetAsBoolean(v.AsBool());
  else field->SetAsLargeInt(v.AsInt());
  InvalidateCell(Col(), Row());
  pendingLogical_ = nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// Stored properties

bool TJvDBGrid::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  auto integer = [&] { return static_cast<int>(IntegerValue(v)); };
  auto ident = [&]() -> const std::string& {
    if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
    return v.text;
  };
  if (name == "Options") {
    if (v.type != ValueType::Set) throw EReadError("Invalid property value");
    TDBGridOptions o;
    if (!DBGridOptionsFromSet(v.set, o)) throw EReadError("Invalid property value");
    SetOptions(o);
  } else if (name == "AutoAppend") AutoAppend = BoolValue(v);
  else if (name == "AutoSort") AutoSort = BoolValue(v);
  else if (name == "SortMarker") {
    const std::string& s = ident();
    sortMarker_ = s == "smDown" ? smDown : s == "smUp" ? smUp : s == "smNone" ? smNone : throw EReadError("Invalid property value");
  } else if (name == "SortedField") sortedField_ = StringValue(v);
  else if (name == "FixedCols") fixedCols_ = std::max(0, integer());
  else if (name == "ClearSelection") ClearSelection = BoolValue(v);
  else if (name == "DefaultDrawing") DefaultDrawing = BoolValue(v);
  else if (name == "MultiSelect") multiSelect_ = BoolValue(v);
  else if (name == "ShowGlyphs") showGlyphs_ = BoolValue(v);
  else if (name == "TitleButtons") titleButtons_ = BoolValue(v);
  else if (name == "TitleButtonAllowMove") TitleButtonAllowMove = BoolValue(v);
  else if (name == "BeepOnError") BeepOnError = BoolValue(v);
  else if (name == "AlternateRowColor") alternateRowColor_ = ColorValue(v);
  else if (name == "AlternateRowFontColor") alternateRowFontColor_ = ColorValue(v);
  else if (name == "PostOnEnterKey") PostOnEnterKey = BoolValue(v);
  else if (name == "SelectColumn") {
    const std::string& s = ident();
    SelectColumn = s == "scGrid" ? scGrid : s == "scDataBase" ? scDataBase : throw EReadError("Invalid property value");
  } else if (name == "ShowTitleHint") ShowTitleHint = BoolValue(v);
  else if (name == "TitleArrow") titleArrow_ = BoolValue(v);
  else if (name == "ShowCellHint") ShowCellHint = BoolValue(v);
  else if (name == "MaxColumnWidth") maxColumnWidth_ = std::max(0, integer());
  else if (name == "MinColumnWidth") minColumnWidth_ = std::max(0, integer());
  else if (name == "AutoSizeColumns") autoSizeColumns_ = BoolValue(v);
  else if (name == "AutoSizeColumnIndex") autoSizeColumnIndex_ = integer();
  else if (name == "CellHintPosition") {
    const std::string& s = ident();
    CellHintPosition = s == "gchpMouse" ? gchpMouse : s == "gchpDefault" ? gchpDefault : throw EReadError("Invalid property value");
  } else if (name == "CanDelete") CanDelete = BoolValue(v);
  else if (name == "CancelOnMouse") CancelOnMouse = BoolValue(v);
  else if (name == "ColumnResize") {
    const std::string& s = ident();
    ColumnResize = s == "gcrNone" ? gcrNone : s == "gcrDataSet" ? gcrDataSet : s == "gcrGrid" ? gcrGrid : throw EReadError("Invalid property value");
  } else if (name == "EditControls") {
    if (v.type != ValueType::Collection) throw EReadError("Invalid property value");
    editControls_.Clear();
    for (const auto& item : v.items) {
      TJvDBGridControl* c = editControls_.Add();
      for (const auto& p : item.properties)
        if (!c->ReadProperty(p.name, p.value, reader))
          throw EReadError("Error reading EditControls: Property " + p.name + " does not exist");
    }
  } else if (name == "AutoSizeRows") autoSizeRows_ = BoolValue(v);
  else if (name == "ReduceFlicker") ReduceFlicker = BoolValue(v);
  else if (name == "RowResize") rowResize_ = BoolValue(v) && !autoSizeRows_;
  else if (name == "RowsHeight") rowsHeight_ = integer();
  else if (name == "TitleRowHeight") titleRowHeight_ = integer();
  else if (name == "WordWrap") wordWrap_ = BoolValue(v);
  else if (name == "WordWrapAllFields") wordWrapAllFields_ = BoolValue(v);
  else if (name == "ShowMemos") showMemos_ = BoolValue(v);
  else if (name == "BooleanEditor") booleanEditor_ = BoolValue(v);
  else if (name == "UseXPThemes") UseXPThemes = BoolValue(v);
  else if (name == "ReadOnlyCellColor") readOnlyCellColor_ = ColorValue(v);
  else if (name == "DotNetHighlighting") dotNetHighlighting_ = BoolValue(v);
  // Properties of older stored forms.
  else if (name == "AlternRowColor") alternateRowColor_ = BoolValue(v) ? 0xCCCCCC : clNone;
  else if (name == "AlternRowFontColor") alternateRowFontColor_ = BoolValue(v) ? clBlack : clNone;
  else if (name == "PostOnEnter") PostOnEnterKey = BoolValue(v);
  else if (name == "IniStorage" || name == "TitlePopup") {
    std::string target = ident();
    bool storage = name == "IniStorage";
    reader.AddFixup([this, target, storage, &reader] {
      TComponent* c = reader.FindComponent(target);
      if (!c) throw EReadError("Invalid property value: " + target + " not found");
      if (storage) {
        auto* s = dynamic_cast<TJvFormStorage*>(c);
        if (!s) throw EReadError("Invalid property value: " + target + " is not a form storage");
        SetIniStorage(s);
      } else {
        auto* menu = dynamic_cast<TPopupMenu*>(c);
        if (!menu) throw EReadError("Invalid property value: " + target + " is not a popup menu");
        SetTitlePopup(menu);
      }
    });
  } else if (name == "OnEditChange" || name == "OnTopLeftChanged" || name == "OnTitleArrowMenuEvent" ||
             name == "OnBeforePaint" || name == "OnAfterPaint") {
    const Method method = EventMethod(v, reader);
    TNotifyEvent e = [method](TComponent* s) { method(s); };
    if (name == "OnEditChange") OnEditChange = e;
    else if (name == "OnTopLeftChanged") OnTopLeftChanged = e;
    else if (name == "OnTitleArrowMenuEvent") OnTitleArrowMenuEvent = e;
    else if (name == "OnBeforePaint") OnBeforePaint = e;
    else OnAfterPaint = e;
  } else if (name == "OnTitleBtnClick" || name == "OnTitleBtnDblClick") {
    const Method method = EventMethod(v, reader);
    TTitleClickEvent e = [method](TComponent* s, int, TField*) { method(s); };
    if (name == "OnTitleBtnClick") OnTitleBtnClick = e;
    else OnTitleBtnDblClick = e;
  } else if (name == "OnMouseWheelDown" || name == "OnMouseWheelUp") {
    const Method method = EventMethod(v, reader);
    TMouseWheelUpDownEvent e = [method](TComponent* s, TShift, TPoint, bool&) { method(s); };
    (name == "OnMouseWheelDown" ? OnMouseWheelDown : OnMouseWheelUp) = e;
  } else if (name == "BevelEdges" || name == "BevelInner" || name == "BevelKind" || name == "BevelOuter") {
    return true;
  } else {
    return TJvExDBGrid::ReadProperty(name, v, reader);
  }
  return true;
}

TPersistent* TJvDBGrid::SubObject(std::string_view name) {
  if (name == "SelectColumnsDialogStrings") return &selectStrings_;
  return TJvExDBGrid::SubObject(name);
}

static ClassRegistration<TJvDBGrid> registerJvDBGrid("TJvDBGrid");

}  // namespace fw
