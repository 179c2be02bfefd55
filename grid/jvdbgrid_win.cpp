#include "grid/jvdbgrid.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

#include "framework/forms.h"
#include "framework/typinfo.h"

namespace fw {

using namespace jvgrid;

namespace {

// ---- shared glyph cache ----
struct GlyphCache {
  std::array<HBITMAP, kGlyphCount> bitmaps{};
  std::array<bool, kGlyphCount> tried{};
  ~GlyphCache() {
    for (HBITMAP b : bitmaps)
      if (b) DeleteObject(b);
  }
};
GlyphCache& Glyphs() {
  static GlyphCache cache;
  return cache;
}

// Restores a value on every exit path.
template <class T>
struct Restore {
  T& ref;
  T saved;
  explicit Restore(T& r) : ref(r), saved(r) {}
  ~Restore() { ref = saved; }
};

struct ActiveRecordGuard {
  TDataLink& link;
  int saved;
  explicit ActiveRecordGuard(TDataLink& l) : link(l), saved(l.ActiveRecord()) {}
  ~ActiveRecordGuard() { link.SetActiveRecord(saved); }
};

struct ControlsGuard {
  TDataSet* ds;
  explicit ControlsGuard(TDataSet* d) : ds(d) { ds->DisableControls(); }
  ~ControlsGuard() { ds->EnableControls(); }
};

void DrawGlyph(HDC dc, HBITMAP bmp, int x, int y, COLORREF key) {
  BITMAP info{};
  GetObject(bmp, sizeof info, &info);
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, bmp);
  TransparentBlt(dc, x, y, info.bmWidth, info.bmHeight, mem, 0, 0, info.bmWidth, info.bmHeight, key);
  SelectObject(mem, old);
  DeleteDC(mem);
}

TField* LookupKeyField(TField* lookup) {
  TDataSet* ds = lookup ? lookup->DataSet() : nullptr;
  if (!ds || lookup->KeyFields().empty()) return nullptr;
  std::string first = lookup->KeyFields().substr(0, lookup->KeyFields().find(';'));
  return ds->FindField(first);
}

}  // namespace

HBITMAP GridGlyph(int index) {
  if (index < 0 || index >= kGlyphCount) return nullptr;
  GlyphCache& c = Glyphs();
  if (!c.tried[static_cast<size_t>(index)]) {
    c.tried[static_cast<size_t>(index)] = true;
    c.bitmaps[static_cast<size_t>(index)] =
        static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), kGlyphNames[index], IMAGE_BITMAP, 0, 0, 0));
  }
  return c.bitmaps[static_cast<size_t>(index)];
}

TPoint GridGlyphSize(int index) {
  HBITMAP b = GridGlyph(index);
  if (!b) return {};
  BITMAP info{};
  GetObject(b, sizeof info, &info);
  return {info.bmWidth, info.bmHeight};
}

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

// ---------------------------------------------------------------------------------------------------------
// Form placement store

void TJvFormStorage::SaveFormPlacement() {
  for (auto& l : listeners_) l.second(true);
}

void TJvFormStorage::RestoreFormPlacement() {
  for (auto& l : listeners_) l.second(false);
}

void TJvFormStorage::AddListener(TComponent* who, std::function<void(bool)> call) {
  RemoveListener(who);
  listeners_.emplace_back(who, std::move(call));
}

void TJvFormStorage::RemoveListener(TComponent* who) {
  std::erase_if(listeners_, [who](const auto& l) { return l.first == who; });
}

bool TJvFormStorage::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "AppStoragePath") SetAppStoragePath(StringValue(v));
  else return TComponent::ReadProperty(name, v, reader);
  return true;
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
// Editors

TInternalInplaceEdit::TInternalInplaceEdit(TJvDBGrid* grid) : TInplaceEdit(grid), owner_(grid) {}

void TInternalInplaceEdit::WndProc(TMessage& m) {
  if (m.msg == WM_MOUSEWHEEL) {
    TGridDataLink& link = owner_->DataLink();
    if (link.Active() && link.DataSet()->State() != dsBrowse) link.DataSet()->Cancel();
    if (owner_->HandleAllocated()) m.result = SendMessageA(owner_->Handle(), WM_MOUSEWHEEL, m.wParam, m.lParam);
    return;
  }
  TInplaceEdit::WndProc(m);
}

TInplaceEdit* TJvDBGrid::CreateEditor() { return new TInternalInplaceEdit(this); }

void TJvDBGrid::ShowEditor() {
  TJvExDBGrid::ShowEditor();
}

void TJvDBGrid::HideEditor() {
  if (dropList_) CloseUp(false);
  TJvExDBGrid::HideEditor();
}

bool TJvDBGrid::CanEditShow() {
  pendingLogical_ = nullptr;
  TField* field = SelectedField();
  int index = SelectedIndex();
  TDBGridOptions o = TCustomDBGrid::Options();
  if (!TJvExDBGrid::CanEditShow() || !field || index < 0 || index >= Columns().Count()) {
    if (!(alwaysShowEditor_ && (o & dgEditing) && !(o & dgRowSelect)) && editor_ && !editor_->IsShowing()) HideEditor();
    return false;
  }
  TColumn* column = ShownColumn(Col());
  TJvDBGridControl* item = editControls_.ControlByField(field->FieldName());
  bool checkBox = !item && IsLogicalLike(field);
  if (!item && !checkBox && HasNoEditor(field->DataType())) {
    HideEditControl();
    return false;
  }
  bool allow = true;
  if (OnCanEditCell) OnCanEditCell(this, field, allow);
  if (!allow) {
    HideEditControl();
    return false;
  }
  if (OnShowEditor && !(editor_ && editor_->IsShowing())) {
    OnShowEditor(this, field, allow);
    if (!allow) return false;
  }
  if (item) {
    if (editor_ && editor_->IsShowing()) editor_->Hide();
    auto* control = Owner() ? dynamic_cast<TWinControl*>(Owner()->FindComponent(item->ControlName)) : nullptr;
    if (!control) {
      item->FieldName.clear();
      throw EJVCLDbGridException("JvDBGrid.EditControls: property Control not assigned");
    }
    bool editable = CellEditable(column, field);
    if (GetPropInfo(*control, "ReadOnly", TTypeKind::tkBoolean)) {
      // A control that can be read-only shows every cell and refuses changes where the cell cannot be edited.
      SetBoolProp(*control, "ReadOnly", !editable);
      PlaceControl(item);
    } else if (editable) {
      PlaceControl(item);
    } else if (control == activeControl_) {
      HideEditControl();
    } else {
      control->SetVisible(false);
    }
    return false;
  }
  if (checkBox) {
    HideEditControl();
    if (CellEditable(column, field)) pendingLogical_ = field;
    return false;
  }
  HideEditControl();
  return true;
}

void TJvDBGrid::EditorChanged() {
  TJvExDBGrid::EditorChanged();
  if (OnEditChange) OnEditChange(this);
}

void TJvDBGrid::ColEnter() {
  searchText_.clear();
  TJvExDBGrid::ColEnter();
  if (alwaysShowEditor_ && !EditorMode()) ShowEditor();
}

void TJvDBGrid::DoExit() {
  TJvExDBGrid::DoExit();
}

void TJvDBGrid::HideEditControl() {
  if (activeControl_) DetachControl();
}

LRESULT CALLBACK EditControlProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto* grid = static_cast<TJvDBGrid*>(GetPropA(h, "JvDBGridOwner"));
  if (!grid || !grid->activeControlProc_) return DefWindowProcA(h, msg, w, l);
  WNDPROC old = grid->activeControlProc_;
  TJvDBGridControl* item = grid->activeItem_;
  try {
    TDataSet* ds = grid->DataLink().DataSet();
    auto leave = [&]() -> bool {
      grid->DetachControl();
      grid->SetFocus();
      return GetFocus() != h;
    };
    switch (msg) {
      case WM_KEYDOWN:
        if ((w == VK_UP || w == VK_DOWN) && item && item->LeaveOnUpDownKey && KeyboardShift() == 0) {
          if (!leave()) return 0;
          if (ds) ds->CheckBrowseMode();
          PostMessageA(grid->Handle(), WM_KEYDOWN, w, l);
          return 0;
        }
        break;
      case WM_CHAR: {
        char key = static_cast<char>(w);
        if (grid->OnKeyPress) grid->OnKeyPress(grid, key);
        if (key == 0) return 0;
        if (key == '\r' && (grid->PostOnEnterKey || (item && item->LeaveOnEnterKey))) {
          bool post = grid->PostOnEnterKey;
          if (!leave()) return 0;
          if (post && ds) ds->CheckBrowseMode();
          return 0;
        }
        if (key == '\t') {
          if (!leave()) return 0;
          PostMessageA(grid->Handle(), WM_KEYDOWN, VK_TAB, 0);
          return 0;
        }
        if (key == 27) {
          CallWindowProcA(old, h, msg, w, l);
          TField* f = grid->SelectedField();
          if (!leave()) return 0;
          if (ds && f) {
            if (ds->State() == dsEdit && f->OldValue() != f->Value()) f->SetValue(f->OldValue());
            else if (ds->State() == dsInsert && !f->IsNull()) f->Clear();
          }
          return 0;
        }
        w = static_cast<unsigned char>(key);
        break;
      }
      case WM_GETDLGCODE: {
        LRESULT r = CallWindowProcA(old, h, msg, w, l) | DLGC_WANTTAB;
        if (item && item->LeaveOnUpDownKey) r |= DLGC_WANTARROWS;
        return r;
      }
      case WM_KILLFOCUS: {
        LRESULT r = CallWindowProcA(old, h, msg, w, l);
        grid->DetachControl();
        return r;
      }
      default:
        break;
    }
  } catch (...) {
    if (Application) Application->HandleException(grid);
    return 0;
  }
  return CallWindowProcA(old, h, msg, w, l);
}

void TJvDBGrid::PlaceControl(TJvDBGridControl* item) {
  TDataSet* ds = DataLink().DataSet();
  auto* control = Owner() ? dynamic_cast<TWinControl*>(Owner()->FindComponent(item->ControlName)) : nullptr;
  if (!control || ReadOnly() || !ds || !ds->CanModify() || !control->Enabled()) {
    DetachControl();
    return;
  }
  if (control != activeControl_) {
    DetachControl();
    activeControl_ = control;
    activeItem_ = item;
    control->FreeNotification(this);
    HWND h = control->Handle();
    SetPropA(h, "JvDBGridOwner", this);
    activeControlProc_ =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EditControlProc)));
  }
  if (Parent() && control->Parent() != Parent()) control->SetParent(Parent());
  TRect cell = CellRect(Col(), Row());
  TRect bounds{};
  if (!cell.IsEmpty() && Parent()) {
    POINT pts[2] = {{cell.left, cell.top}, {cell.right, cell.bottom}};
    MapWindowPoints(Handle(), Parent()->Handle(), pts, 2);
    bounds = Rect(pts[0].x, pts[0].y, pts[1].x, pts[1].y);
  }
  if (item->FitCell == fcDesignSize || item->FitCell == fcBiggest) {
    if (item->DesignWidth == 0 && item->DesignHeight == 0) {
      item->DesignWidth = control->Width();
      item->DesignHeight = control->Height();
    }
    int w = item->DesignWidth, hgt = item->DesignHeight;
    if (item->FitCell == fcBiggest) {
      w = std::max(w, bounds.Width());
      hgt = std::max(hgt, bounds.Height());
    }
    // Left-aligned with the cell unless that runs past the grid's client area.
    int gridRight = Left() + ClientWidth(), gridBottom = Top() + ClientHeight();
    int x = bounds.left, y = bounds.top;
    if (x + w > gridRight) x = std::max(Left(), bounds.right - w);
    if (y + hgt > gridBottom) y = std::max(Top(), bounds.bottom - hgt);
    bounds = Rect(x, y, x + w, y + hgt);
  }
  control->SetBounds(bounds.left, bounds.top, bounds.Width(), bounds.Height());
  SetWindowPos(control->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  control->SetVisible(true);
  TForm* form = nullptr;
  for (TComponent* o = Owner(); o && !form; o = o->Owner()) form = dynamic_cast<TForm*>(o);
  if (Visible() && control->Visible() && (!Parent() || Parent()->Visible()) && (!form || form->Visible()) &&
      GetFocus() != control->Handle()) {
    TDBGridOptions o = TCustomDBGrid::Options();
    bool cancelOnExit = o & dgCancelOnExit;
    if (cancelOnExit) TCustomDBGrid::SetOptions(o & ~dgCancelOnExit);
    try {
      control->SetFocus();
    } catch (...) {
      if (cancelOnExit) TCustomDBGrid::SetOptions(o);
      throw;
    }
    if (cancelOnExit) TCustomDBGrid::SetOptions(o);
  }
}

void TJvDBGrid::DetachControl() {
  TWinControl* c = activeControl_;
  if (!c) return;
  activeControl_ = nullptr;
  activeItem_ = nullptr;
  if (c->HandleAllocated()) {
    HWND h = c->Handle();
    if (activeControlProc_) SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(activeControlProc_));
    RemovePropA(h, "JvDBGridOwner");
    SendMessageA(h, WM_KILLFOCUS, 0, 0);
    if (!Destroying()) c->SetVisible(false);
  }
  activeControlProc_ = nullptr;
  c->RemoveFreeNotification(this);
}

// ---------------------------------------------------------------------------------------------------------
// Keyboard

void TJvDBGrid::CallFramework(WORD& key, TShift shift) {
  // The application's handler already ran: keep the framework from running it again.
  Restore<TKeyEvent> guard(OnKeyDown);
  OnKeyDown = nullptr;
  TJvExDBGrid::KeyDown(key, shift);
}

void TJvDBGrid::ClearMultiSelection() {
  if (ClearSelection) SelectedRows().Clear();
  selecting_ = false;
  anchor_.clear();
}

bool TJvDBGrid::CanAppend() {
  TDataSet* ds = DataLink().DataSet();
  return ds && ds->CanModify() && !ReadOnly() && (TCustomDBGrid::Options() & dgEditing);
}

void TJvDBGrid::MoveWithSelection(int distance, TShift shift) {
  TDataSet* ds = DataLink().DataSet();
  UpdateData();
  if (!multiSelect_ || !DataLink().Active()) {
    DataLink().MoveBy(distance);
    return;
  }
  bool shiftOnly = (shift & ssShift) && !(shift & (ssAlt | ssCtrl));
  if (!shiftOnly) {
    ClearMultiSelection();
    DataLink().MoveBy(distance);
    return;
  }
  TBookmarkList& rows = SelectedRows();
  TBookmark current = ds->GetBookmark();
  if (!selecting_) {
    selecting_ = true;
    anchor_ = current;
    rows.SetCurrentRowSelected(true);
  } else if (!current.empty() && !anchor_.empty() && ds->BookmarkValid(anchor_)) {
    // Moving back towards the anchor unmarks the row being left.
    int side = ds->CompareBookmarks(current, anchor_);
    if ((side > 0 && distance < 0) || (side < 0 && distance > 0)) rows.SetCurrentRowSelected(false);
  }
  DataLink().MoveBy(distance);
  rows.SetCurrentRowSelected(true);
}

void TJvDBGrid::DoMoveDown(TShift shift, bool allowAppend) {
  TDataSet* ds = DataLink().DataSet();
  MoveWithSelection(1, shift);
  if (allowAppend && AutoAppend && ds->Eof() && ds->State() == dsBrowse && CanAppend()) StartInsert(true);
}

void TJvDBGrid::SelectFirstFreeColumn() {
  for (int c = TCustomGrid::FixedCols(); c < ColCount(); ++c)
    if (ColWidth(c) > 0) {
      FocusCell(c, Row());
      return;
    }
}

void TJvDBGrid::DoTab(bool backward, TShift shift) {
  TDataSet* ds = DataLink().DataSet();
  int first = TCustomGrid::FixedCols(), last = ColCount() - 1;
  if (!backward && Col() < last) {
    FocusCell(Col() + 1, Row());
    return;
  }
  if (backward && Col() > first) {
    FocusCell(Col() - 1, Row());
    return;
  }
  // Past the last column: the next record (Down rules, append included); before the first: the previous one.
  TBookmark before = ds->GetBookmark();
  TDataSetState stateBefore = ds->State();
  int rowBefore = ds->CurrentRow();
  if (ds->State() == dsInsert || ds->State() == dsEdit) {
    WORD k = backward ? VK_UP : VK_DOWN;
    if (ds->State() == dsInsert) CallFramework(k, 0);
    else if (backward) MoveWithSelection(-1, 0);
    else DoMoveDown(0, true);
  } else if (backward) {
    MoveWithSelection(-1, 0);
  } else {
    DoMoveDown(0, true);
  }
  bool moved = ds->CurrentRow() != rowBefore || ds->State() != stateBefore || ds->GetBookmark() != before;
  if (moved) FocusCell(backward ? last : first, Row());
}

void TJvDBGrid::DoCtrlDelete() {
  TDataSet* ds = DataLink().DataSet();
  if (!CanDelete || ReadOnly() || !ds->CanModify() || ds->IsEmpty()) return;
  int selected = SelectedRows().Count();
  const char* question = selected < 2 ? "Apagar registro?" : "Apagar todos os registros selecionados?";
  if ((TCustomDBGrid::Options() & dgConfirmDelete) &&
      MessageBoxA(Handle(), question, "Confirm", MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  if (selected > 0) SelectedRows().Delete();
  else ds->Delete();
}

void TJvDBGrid::KeyDown(WORD& key, TShift shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
  if (key == 0 || !DataLink().Active()) return;
  // An open drop-down list takes the navigation keys.
  if (dropList_) {
    if (key == VK_ESCAPE) {
      CloseUp(false);
      key = 0;
      return;
    }
    if (key == VK_UP || key == VK_DOWN || key == VK_PRIOR || key == VK_NEXT) {
      SendMessageA(dropList_, WM_KEYDOWN, key, 0);
      key = 0;
      return;
    }
  }
  if ((key == VK_F4 || (key == VK_DOWN && (shift & ssAlt))) && EditorMode()) {
    if (dropList_) CloseUp(true);
    else DropDown();
    key = 0;
    return;
  }
  TDataSet* ds = DataLink().DataSet();
  TDBGridOptions o = TCustomDBGrid::Options();
  KeyContext c;
  c.ctrl = shift & ssCtrl;
  c.shift = shift & ssShift;
  c.alt = shift & ssAlt;
  c.fixedCols = fixedCols_;
  c.dataColumns = FieldCount();
  c.rowSelect = o & dgRowSelect;
  c.inserting = ds->State() == dsInsert;
  c.canInsert = CanAppend();
  c.atFirstFreeColumn = Col() <= TCustomGrid::FixedCols();
  switch (DecideKey(key, c)) {
    case KeyAction::Framework:
      CallFramework(key, shift);
      break;
    case KeyAction::ClearThenFramework:
      ClearMultiSelection();
      CallFramework(key, shift);
      break;
    case KeyAction::FirstFreeColumn:
      SelectFirstFreeColumn();
      break;
    case KeyAction::Stop:
      break;
    case KeyAction::Delete:
      DoCtrlDelete();
      break;
    case KeyAction::MoveUp:
      MoveWithSelection(-1, shift);
      break;
    case KeyAction::MoveDown:
      DoMoveDown(shift, true);
      break;
    case KeyAction::Tab:
      if (!(o & dgTabs)) CallFramework(key, shift);
      else DoTab(shift & ssShift, shift);
      break;
  }
}

void TJvDBGrid::PickListSearch(char& key, TColumn* column, TField* field) {
  TInplaceEdit* ed = InplaceEditor();
  std::string text = ed->Text();
  int start = std::clamp(ed->SelStart(), 0, static_cast<int>(text.size()));
  int len = std::clamp(ed->SelLength(), 0, static_cast<int>(text.size()) - start);
  // The text the key would leave, and the caret after it.
  std::string wouldBe;
  int caret;
  if (key == 8) {
    if (len > 0) {
      wouldBe = text.substr(0, static_cast<size_t>(start)) + text.substr(static_cast<size_t>(start + len));
      caret = start;
    } else if (start > 0) {
      wouldBe = text.substr(0, static_cast<size_t>(start - 1)) + text.substr(static_cast<size_t>(start));
      caret = start - 1;
    } else {
      wouldBe = text;
      caret = 0;
    }
  } else {
    wouldBe = text.substr(0, static_cast<size_t>(start)) + key + text.substr(static_cast<size_t>(start + len));
    caret = start + 1;
  }
  int match = PickListMatch(column->PickList(), wouldBe);
  if (match < 0) return;
  const std::string& item = column->PickList()[static_cast<size_t>(match)];
  if (!CanEditModifyPublic()) return;
  field->SetText(item);
  ed->SetText(item);
  SetEditText(Col(), Row(), item);
  caret = std::min(caret, static_cast<int>(item.size()));
  ed->SetSel(caret, static_cast<int>(item.size()) - caret);
  key = 0;
}

void TJvDBGrid::LookupSearch(char& key, TField* field) {
  TDataSet* lookup = field->LookupDataSet();
  TInplaceEdit* ed = InplaceEditor();
  if (!lookup) return;
  std::string text = ed->Text();
  if (!StartsWithIgnoringCase(text, searchText_)) searchText_.clear();
  if (key == 8) {
    if (searchText_.size() <= 1) searchText_.clear();
    else searchText_.pop_back();
  } else {
    searchText_ += key;
  }
  try {
    ControlsGuard guard(lookup);
    if (!searchText_.empty() &&
        lookup->Locate(field->LookupResultField(), {Variant(searchText_)}, loCaseInsensitive | loPartialKey)) {
      TField* keyField = LookupKeyField(field);
      TField* source = lookup->FindField(field->LookupKeyFields().substr(0, field->LookupKeyFields().find(';')));
      TField* result = lookup->FindField(field->LookupResultField());
      if (keyField && source && DataLink().Edit()) {
        keyField->SetValue(source->Value());
        std::string shown = result ? result->AsString() : searchText_;
        ed->SetText(shown);
        ResetEditText();
        DataLink().ResetModified();
        ed->SetSel(static_cast<int>(searchText_.size()), static_cast<int>(shown.size() - searchText_.size()));
        key = 0;
      }
    }
  } catch (...) {
    // A failing search leaves the text as typed.
  }
}

void TJvDBGrid::KeyPress(char& key) {
  TDataSet* ds = DataLink().DataSet();
  if (dropList_ && key == '\r') {
    CloseUp(true);
    key = 0;
    return;
  }
  if (key == '\r' && PostOnEnterKey && !ReadOnly() && ds && DataLink().Active()) {
    UpdateData();
    ds->CheckBrowseMode();
  }
  TColumn* column = ShownColumn(Col());
  TField* field = column ? column->Field() : nullptr;
  // Check-box cells take their own keys.
  if (field && !EditorMode() && IsLogicalLike(field) && CellEditable(column, field)) {
    if (OnKeyPress) OnKeyPress(this, key);
    if (key == 0) return;
    LogicalKey action = LogicalKeyOf(key);
    if (action != LogicalKey::Ignore) {
      pendingLogical_ = field;
      ChangeBoolean(action);
    }
    if (static_cast<unsigned char>(key) >= 32 || key == 8) key = 0;
    if (key == 0) return;
  }
  if (activeControl_) return;
  if (EditorMode() && field && column && !column->ReadOnly() && field->CanModify() && !ReadOnly() && ds &&
      ds->CanModify()) {
    unsigned char k = static_cast<unsigned char>(key);
    if (field->Lookup() && InSearchSet(k)) {
      LookupSearch(key, field);
    } else if (field->FieldKind() == fkData && (field->DataType() == ftFloat || field->DataType() == ftCurrency) &&
               (key == ',' || key == '.')) {
      key = FormatSettings().DecimalSeparator;
    } else if (field->FieldKind() == fkData && !column->PickList().empty() && InSearchSet(k)) {
      PickListSearch(key, column, field);
    }
    if (key == 0) return;
  }
  bool editorWasOpen = EditorMode();
  TJvExDBGrid::KeyPress(key);
  if (!editorWasOpen && !EditorMode()) key = 0;
}

// ---------------------------------------------------------------------------------------------------------
// Drop-down lists

LRESULT CALLBACK DropListProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto* grid = static_cast<TJvDBGrid*>(GetPropA(h, "JvDBGridOwner"));
  WNDPROC old = grid ? grid->dropListProc_ : nullptr;
  if (!old) return DefWindowProcA(h, msg, w, l);
  if (msg == WM_LBUTTONUP) {
    LRESULT r = CallWindowProcA(old, h, msg, w, l);
    try {
      grid->CloseUp(true);
    } catch (...) {
      if (Application) Application->HandleException(grid);
    }
    return r;
  }
  if (msg == WM_MOUSEACTIVATE) return MA_NOACTIVATE;
  return CallWindowProcA(old, h, msg, w, l);
}

bool TJvDBGrid::DropDown() {
  TColumn* column = ShownColumn(Col());
  TField* field = column ? column->Field() : nullptr;
  if (!field || !EditorMode() || dropList_) return false;
  std::vector<std::string> items;
  dropKeys_.clear();
  std::string current = InplaceEditor()->Text();
  if (field->Lookup() && field->LookupDataSet()) {
    // The lookup dataset's result values, keyed by its lookup key.
    TDataSet* lookup = field->LookupDataSet();
    TField* result = lookup->FindField(field->LookupResultField());
    TField* keyField = lookup->FindField(field->LookupKeyFields().substr(0, field->LookupKeyFields().find(';')));
    if (!result || !keyField) return false;
    ControlsGuard guard(lookup);
    TBookmark here = lookup->GetBookmark();
    for (lookup->First(); !lookup->Eof(); lookup->Next()) {
      items.push_back(result->AsString());
      dropKeys_.push_back(keyField->Value());
    }
    if (!here.empty()) lookup->GotoBookmark(here);
  } else if (!column->PickList().empty()) {
    items = column->PickList();
  } else {
    return false;
  }
  TRect cell = CellRect(Col(), Row());
  POINT p{cell.left, cell.bottom};
  ClientToScreen(Handle(), &p);
  int itemHeight = DefaultRowHeight() - 2;
  int rows = std::clamp(static_cast<int>(items.size()), 1, std::max(1, column->DropDownRows()));
  HWND owner = GetAncestor(Handle(), GA_ROOT);
  dropList_ = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "LISTBOX", "",
                              WS_POPUP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, p.x, p.y,
                              std::max(cell.Width(), 60), rows * itemHeight + 2, owner, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  if (!dropList_) return false;
  SendMessageA(dropList_, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(InplaceEditor()->Font())), 0);
  SendMessageA(dropList_, LB_SETITEMHEIGHT, 0, itemHeight);
  int selected = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    SendMessageA(dropList_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i].c_str()));
    if (SameTextIgnoringCase(items[i], current)) selected = static_cast<int>(i);
  }
  SendMessageA(dropList_, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  SetPropA(dropList_, "JvDBGridOwner", this);
  dropListProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(dropList_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DropListProc)));
  ShowWindow(dropList_, SW_SHOWNOACTIVATE);
  return true;
}

void TJvDBGrid::CloseUp(bool accept) {
  if (!dropList_) return;
  HWND list = dropList_;
  int index = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
  std::string text;
  if (index >= 0) {
    int len = static_cast<int>(SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0));
    text.assign(static_cast<size_t>(std::max(0, len)) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max(0, len)));
  }
  dropList_ = nullptr;
  SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(dropListProc_));
  RemovePropA(list, "JvDBGridOwner");
  dropListProc_ = nullptr;
  DestroyWindow(list);
  if (!accept || index < 0) return;
  TColumn* column = ShownColumn(Col());
  TField* field = column ? column->Field() : nullptr;
  if (!field) return;
  if (field->Lookup()) {
    // The chosen key goes into the key field when it can be modified.
    TField* keyField = LookupKeyField(field);
    if (keyField && keyField->CanModify() && index < static_cast<int>(dropKeys_.size()) && DataLink().Edit()) {
      keyField->SetValue(dropKeys_[static_cast<size_t>(index)]);
      if (InplaceEditor()) InplaceEditor()->SetText(text);
      ResetEditText();
      DataLink().ResetModified();
    }
  } else if (CanEditModifyPublic()) {
    if (InplaceEditor()) InplaceEditor()->SetText(text);
    SetEditText(Col(), Row(), text);
  }
  if (InplaceEditor() && EditorMode()) InplaceEditor()->SelectAll();
}

// ---------------------------------------------------------------------------------------------------------
// Mouse

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

// ---------------------------------------------------------------------------------------------------------
// Hints

std::string TJvDBGrid::HintTextAt(int x, int y, int* timeOut) {
  GridCoord c = MouseCoord(x, y);
  TColumn* column = c.y >= 0 && c.y < TitleOffset() ? TitleColumn(c.x, c.y) : ShownColumn(c.x);
  if (!column || c.y < 0) return {};
  TField* field = column->Field();
  int time = 0;
  std::string hint;
  bool title = c.y < TitleOffset();
  if (title && ShowTitleHint) {
    hint = column->FieldName();
    time = std::max(250 * static_cast<int>(hint.size()), 0);
    if (OnShowTitleHint) OnShowTitleHint(this, field, hint, time);
  } else if (ShowCellHint && (!title || !ShowTitleHint)) {
    if (title) {
      hint = column->Title().Caption();
    } else {
      if (!DataLink().Active() || c.y - TitleOffset() >= DataLink().RecordCount()) return {};
      ActiveRecordGuard ar(DataLink());
      DataLink().SetActiveRecord(c.y - TitleOffset());
      if (!field || (field->IsBlob() && field->DataType() != ftMemo)) hint.clear();
      else if (IsLogicalLike(field)) hint.clear();
      else if (field->DataType() == ftMemo && !field->OnGetText) hint = field->AsString();
      else hint = field->DisplayText();
    }
    // Suppressed when the text fits the cell.
    TRect cell = CellRect(c.x, c.y);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, FontHandle(title ? column->Title().Font() : column->Font()));
    RECT r{0, 0, cell.Width() - 4, 0};
    UINT flags = DT_CALCRECT | DT_NOPREFIX | (wordWrap_ && field && IsStringType(field->DataType()) ? DT_WORDBREAK : DT_SINGLELINE);
    DrawTextA(dc, hint.c_str(), static_cast<int>(hint.size()), &r, flags);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    if (r.right <= cell.Width() - 4 && r.bottom <= cell.Height()) hint.clear();
    if (OnShowCellHint) OnShowCellHint(this, field, hint, time);
  }
  if (timeOut) *timeOut = time;
  return hint;
}

void TJvDBGrid::UpdateHint(int x, int y) {
  if (!ShowTitleHint && !ShowCellHint) return;
  GridCoord cell = MouseCoord(x, y);
  if (cell == hintCell_ && CellHintPosition == gchpDefault) return;
  hintCell_ = cell;
  int timeOut = 0;
  std::string text = HintTextAt(x, y, &timeOut);
  if (!hintWindow_) {
    hintWindow_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                  0, 0, 0, 0, Handle(), nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!hintWindow_) return;
    TOOLINFOA ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE;
    ti.hwnd = Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(Handle());
    ti.lpszText = const_cast<char*>("");
    SendMessageA(hintWindow_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    SendMessageA(hintWindow_, TTM_SETMAXTIPWIDTH, 0, 400);
  }
  TOOLINFOA ti{};
  ti.cbSize = sizeof ti;
  ti.hwnd = Handle();
  ti.uId = reinterpret_cast<UINT_PTR>(Handle());
  if (text.empty()) {
    SendMessageA(hintWindow_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
    hintText_.clear();
    return;
  }
  hintText_ = text;
  ti.lpszText = hintText_.data();
  SendMessageA(hintWindow_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
  // At the cell, or at the mouse.
  POINT p{x + 12, y + 16};
  if (CellHintPosition == gchpDefault) {
    TRect r = CellRect(cell.x, cell.y);
    p = {r.left, r.top};
  }
  ClientToScreen(Handle(), &p);
  SendMessageA(hintWindow_, TTM_TRACKPOSITION, 0, MAKELPARAM(p.x, p.y));
  SendMessageA(hintWindow_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
}

void TJvDBGrid::WndProc(TMessage& m) {
  if (m.msg == WM_MOUSEMOVE) UpdateHint(static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam)));
  if ((m.msg == WM_MOUSELEAVE || m.msg == WM_LBUTTONDOWN || m.msg == WM_KEYDOWN) && hintWindow_ && !hintText_.empty()) {
    TOOLINFOA ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(Handle());
    SendMessageA(hintWindow_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
    hintText_.clear();
    hintCell_ = GridCoord{};
  }
  TJvExDBGrid::WndProc(m);
  if (m.msg == WM_NCPAINT) FillScrollBarCorner();
}

// ---------------------------------------------------------------------------------------------------------
// Painting

TThemeServices& TJvDBGrid::Themes() const { return themes_ ? *themes_ : TThemeServices::Instance(); }

bool TJvDBGrid::ThemedDrawing() const { return UseXPThemes && Themes().Active(); }

void TJvDBGrid::FillScrollBarCorner() {
  if (!ThemedDrawing() || !HandleAllocated()) return;
  HWND h = Handle();
  LONG style = GetWindowLongA(h, GWL_STYLE);
  if (!(style & WS_VSCROLL) || !(style & WS_HSCROLL)) return;
  // The box between the two scroll bars takes the grid's colour.
  RECT client;
  GetClientRect(h, &client);
  MapWindowPoints(h, nullptr, reinterpret_cast<POINT*>(&client), 2);
  RECT window;
  GetWindowRect(h, &window);
  int x = client.right - window.left, y = client.bottom - window.top;
  RECT box{x, y, x + GetSystemMetrics(SM_CXVSCROLL), y + GetSystemMetrics(SM_CYHSCROLL)};
  HDC dc = GetWindowDC(h);
  HBRUSH b = CreateSolidBrush(ColorToRGB(Color()));
  FillRect(dc, &box, b);
  DeleteObject(b);
  ReleaseDC(h, dc);
}

bool TJvDBGrid::DrawThemedHeader(const TRect& rect, THeaderState state) {
  return ThemedDrawing() && Themes().DrawHeaderItem(Handle(), Canvas().Handle(), rect, state);
}

void TJvDBGrid::MouseLeave() {
  if (hotTitle_ >= 0) InvalidateTitle(hotTitle_);
  hotTitle_ = -1;
}

void TJvDBGrid::Paint() {
  if (OnBeforePaint) OnBeforePaint(this);
  // Themed headers bring their own borders: the fixed lines are off while styles are in use.
  TDBGridOptions o = TCustomDBGrid::Options();
  TGridOptions fixedLines = ((o & dgColLines) ? goFixedVertLine : 0u) | ((o & dgRowLines) ? goFixedHorzLine : 0u);
  options_ = (options_ & ~(goFixedVertLine | goFixedHorzLine)) | (ThemedDrawing() ? 0u : fixedLines);
  TJvExDBGrid::Paint();
  if ((o & dgRowSelect) && DefaultDrawing && Focused()) {
    TRect first = CellRect(TCustomGrid::FixedCols(), Row());
    TRect last = CellRect(ColCount() - 1, Row());
    if (!first.IsEmpty()) {
      TRect r{first.left, first.top, last.IsEmpty() ? ClientWidth() : last.right, first.bottom};
      Canvas().DrawFocusRect(r);
    }
  }
  if (OnAfterPaint) OnAfterPaint(this);
}

void TJvDBGrid::WriteCellText(TCanvas& canvas, const TRect& rect, int dx, int dy, const std::string& text,
                              TAlignment alignment, UINT extraFlags, bool fillBackground) {
  UINT flags = DT_NOPREFIX | DT_EXPANDTABS | extraFlags;
  if (wordWrap_) flags |= DT_WORDBREAK;
  flags |= alignment == taRightJustify ? DT_RIGHT : alignment == taCenter ? DT_CENTER : DT_LEFT;
  if (rect.IsEmpty()) return;
  RECT tr{dx, dy, rect.Width() - 1, rect.Height() - 1};
  COLORREF fg = ColorToRGB(canvas.Font().Color());
  COLORREF bg = ColorToRGB(canvas.Brush().color);
  HFONT font = FontHandle(canvas.Font());
  if (ReduceFlicker && !ThemedDrawing()) {
    // Off screen, then copied in one step.
    HDC target = canvas.Handle();
    HDC mem = CreateCompatibleDC(target);
    HBITMAP bmp = CreateCompatibleBitmap(target, rect.Width(), rect.Height());
    HGDIOBJ oldBmp = SelectObject(mem, bmp);
    HGDIOBJ oldFont = SelectObject(mem, font);
    RECT all{0, 0, rect.Width(), rect.Height()};
    if (fillBackground) {
      HBRUSH b = CreateSolidBrush(bg);
      FillRect(mem, &all, b);
      DeleteObject(b);
    } else {
      BitBlt(mem, 0, 0, rect.Width(), rect.Height(), target, rect.left, rect.top, SRCCOPY);
    }
    SetBkMode(mem, TRANSPARENT);
    SetTextColor(mem, fg);
    DrawTextA(mem, text.data(), static_cast<int>(text.size()), &tr, flags);
    BitBlt(target, rect.left, rect.top, rect.Width(), rect.Height(), mem, 0, 0, SRCCOPY);
    SelectObject(mem, oldFont);
    SelectObject(mem, oldBmp);
    DeleteObject(bmp);
    DeleteDC(mem);
  } else {
    if (fillBackground) canvas.FillRect(rect);
    TRect r{rect.left + tr.left, rect.top + tr.top, rect.left + tr.right, rect.top + tr.bottom};
    TBrushStyle old = canvas.Brush().style;
    canvas.Brush().style = TBrushStyle::bsClear;
    canvas.DrawText(text, r, flags);
    canvas.Brush().style = old;
  }
}

void TJvDBGrid::DrawCell(int col, int row, TRect rect, TGridDrawState state) {
  TDBGridOptions o = TCustomDBGrid::Options();
  bool titles = o & dgTitles, indicator = o & dgIndicator;
  bool fixed = col < TCustomGrid::FixedCols() || row < FixedRows();
  bool edges = (GridOptions() & (goFixedVertLine | goFixedHorzLine)) == (goFixedVertLine | goFixedHorzLine);
  if (titles && indicator && col == 0 && row == 0) {
    Canvas().Brush().color = FixedColor();
    if (DrawThemedHeader(rect, THeaderState::Normal)) {
      edges = false;
    } else {
      Canvas().FillRect(rect);
    }
    if (edges) {
      Canvas().DrawEdge(rect, BDR_RAISEDINNER, BF_BOTTOMRIGHT);
      Canvas().DrawEdge(rect, BDR_RAISEDINNER, BF_TOPLEFT);
    }
    if (titleArrow_)
      if (HBITMAP b = GridGlyph(kGlyphPopup)) {
        TPoint sz = GridGlyphSize(kGlyphPopup);
        DrawGlyph(Canvas().Handle(), b, rect.left + (rect.Width() - sz.x + 1) / 2,
                  rect.top + (rect.Height() - sz.y + 1) / 2, RGB(255, 255, 255));
      }
    return;
  }
  TJvExDBGrid::DrawCell(col, row, rect, state);
  // Title cells draw their own edges (pressed or raised); other fixed cells get the raised edge here.
  if (fixed && edges && !(titles && row == 0)) {
    Canvas().DrawEdge(rect, BDR_RAISEDINNER, BF_BOTTOMRIGHT);
    Canvas().DrawEdge(rect, BDR_RAISEDINNER, BF_TOPLEFT);
  }
}

void TJvDBGrid::DrawDataCell(int col, int row, TRect rect, TGridDrawState state) {
  TColumn* column = ShownColumn(col);
  if (!column) {
    TJvExDBGrid::DrawDataCell(col, row, rect, state);
    return;
  }
  TCanvas& c = Canvas();
  TDBGridOptions o = TCustomDBGrid::Options();
  bool hasRecord = DataLink().Active() && row - TitleOffset() < DataLink().RecordCount();
  ActiveRecordGuard ar(DataLink());
  if (hasRecord) DataLink().SetActiveRecord(row - TitleOffset());
  TField* field = column->Field();
  bool focused = Focused() || (InplaceEditor() && InplaceEditor()->Focused());
  bool inMultiSelection = false;
  if (hasRecord && multiSelect_ && SelectedRows().Count() > 0)
    inMultiSelection = SelectedRows().RowSelected(DataLink().DataSet()->ReadRow());
  bool selected = (state & gdSelected) || inMultiSelection;
  bool highlight = selected && ((o & dgAlwaysShowSelection) || focused);
  if ((state & gdSelected) && !inMultiSelection && !(o & dgRowSelect) && !(state & gdFocused)) highlight = false;
  CellColourInput in;
  in.columnColor = column->Color();
  in.columnFontColor = column->Font().Color();
  in.columnColorAssigned = column->ColorAssigned();
  in.columnDefaultColor = column->DefaultColor();
  in.fixed = col < TCustomGrid::FixedCols();
  in.fixedColor = FixedColor();
  in.gridRow = row;
  in.fixedRows = FixedRows();
  in.alternateRowColor = alternateRowColor_;
  in.alternateRowFontColor = alternateRowFontColor_;
  in.gridColor = Color();
  in.highlight = highlight;
  CellColours colours = DecideCellColours(in);
  c.Font().Assign(column->Font());
  c.Font().SetColor(colours.font);
  TColor background = colours.background;
  if (OnGetCellParams) OnGetCellParams(this, field, c.Font(), background, highlight || inMultiSelection);
  else if (OnGetCellProps) OnGetCellProps(this, field, c.Font(), background);
  if (field && readOnlyCellColor_ != clDefault && !highlight) {
    ReadOnlyColourInput ro;
    ro.readOnlyCellColor = readOnlyCellColor_;
    ro.hasField = true;
    ro.fieldEditable = CellEditable(column, field);
    ro.rowSelected = inMultiSelection;
    ro.focused = focused;
    ro.multiSelect = multiSelect_;
    if (field->Lookup()) ro.lookupKeyEditable = CellEditable(column, LookupKeyField(field));
    if (UseReadOnlyColour(ro)) background = readOnlyCellColor_;
  }
  c.Brush().color = background;
  c.Brush().style = TBrushStyle::bsSolid;
  if (!hasRecord) {
    c.FillRect(rect);
    return;
  }
  if (DefaultDrawing) {
    int glyph = GetGlyphIndex(field);
    HBITMAP bmp = glyph >= 0 ? GridGlyph(glyph) : nullptr;
    if (glyph >= 0) {
      c.FillRect(rect);
      if (bmp) {
        TPoint sz = GridGlyphSize(glyph);
        DrawGlyph(c.Handle(), bmp, rect.left + (rect.Width() - sz.x + 1) / 2, rect.top + (rect.Height() - sz.y + 1) / 2,
                  RGB(0x80, 0x80, 0x00));
      }
    } else if (field && (IsStringType(field->DataType()) || wordWrapAllFields_ ||
                         (field->DataType() == ftMemo && showMemos_))) {
      std::string text = (field->DataType() == ftMemo && showMemos_ && !field->OnGetText) ? field->AsString()
                                                                                           : field->DisplayText();
      WriteCellText(c, rect, 2, 2, text, column->Alignment(), wordWrap_ ? 0 : DT_SINGLELINE, true);
    } else {
      DefaultDrawColumnCell(rect, col - IndicatorOffset(), column, state);
    }
  } else {
    c.FillRect(rect);
  }
  if (OnDrawColumnCell) OnDrawColumnCell(this, rect, col - IndicatorOffset(), column, state);
  if (DefaultDrawing && (state & gdFocused) && !(o & dgRowSelect) && !EditorMode() && Focused())
    c.DrawFocusRect(rect);
}

void TJvDBGrid::DrawTitleCell(int col, int row, TRect rect, TGridDrawState state) {
  TColumn* column = TitleColumn(col, row);
  TCanvas& c = Canvas();
  TDBGridOptions o = TCustomDBGrid::Options();
  if (!column) {
    TJvExDBGrid::DrawTitleCell(col, row, rect, state);
    return;
  }
  // Only a column's own title (not an enclosing column's) is a button.
  bool pressed = tracking_ && pressedOver_ && pressedCol_ == col && column == ShownColumn(col);
  c.Font().Assign(TitleFont());
  c.Font().Assign(column->Title().Font());
  c.Brush().color = column->Title().Color();
  c.Brush().style = TBrushStyle::bsSolid;
  THeaderState look = pressed && titleButtons_ ? THeaderState::Pressed
                      : hotTitle_ == col       ? THeaderState::Hot
                                               : THeaderState::Normal;
  if (DrawThemedHeader(rect, look)) {
    DrawTitleSortAndText(c, rect, column, pressed, true);
    return;
  }
  c.FillRect(rect);
  if (titleButtons_ || ((o & dgColLines) && (o & dgRowLines))) {
    UINT edge = pressed ? BDR_SUNKENINNER : BDR_RAISEDINNER;
    c.DrawEdge(rect, edge, BF_BOTTOMRIGHT);
    c.DrawEdge(rect, edge, BF_TOPLEFT);
    rect = Rect(rect.left + 1, rect.top + 1, rect.right - 1, rect.bottom - 1);
  }
  DrawTitleSortAndText(c, rect, column, pressed, false);
}

void TJvDBGrid::DrawTitleSortAndText(TCanvas& c, TRect rect, TColumn* column, bool pressed, bool themed) {
  TField* field = column->Field();
  TColor background = c.Brush().color;
  TSortMarker marker = (field && SameTextIgnoringCase(field->FieldName(), sortedField_)) ? sortMarker_ : smNone;
  if (titleButtons_ && field) {
    bool sorted = SameTextIgnoringCase(field->FieldName(), sortedField_);
    if (OnGetBtnParams) OnGetBtnParams(this, field, c.Font(), background, marker, pressed);
    if (sorted) sortMarker_ = marker;
  }
  c.Brush().color = background;
  if (pressed) rect = Rect(rect.left + 1, rect.top + 1, rect.right, rect.bottom);
  if (!DataLink().Active()) {
    if (!themed) c.FillRect(rect);
    return;
  }
  HBITMAP bmp = marker == smDown ? GridGlyph(kGlyphSortDown) : marker == smUp ? GridGlyph(kGlyphSortUp) : nullptr;
  int markerIndex = marker == smDown ? kGlyphSortDown : kGlyphSortUp;
  TPoint bsz = bmp ? GridGlyphSize(markerIndex) : TPoint{};
  int offset = bmp ? bsz.x + 6 : 1;
  bool defaultText = true, defaultMarker = true;
  if (OnDrawColumnTitle) {
    OnDrawColumnTitle(this, c, rect, column, bmp, pressed, offset, defaultText, defaultMarker);
    if (bmp) {
      BITMAP info{};
      GetObject(bmp, sizeof info, &info);
      bsz = {info.bmWidth, info.bmHeight};
    }
  }
  if (!themed) c.FillRect(rect);
  // The expand button takes the right end; the caption and the sort marker share what is left.
  if (defaultText) DrawExpandButton(column, rect);
  if (defaultText) {
    TRect textRect = rect;
    if (bmp) textRect.right -= bsz.x + 4;
    std::string caption = column->Title().Caption();
    int cellH = textRect.Height();
    int textH = c.TextHeight("^g");
    int top = std::max(1, (cellH - textH) / 2);
    UINT align = column->Title().Alignment() == taRightJustify ? DT_RIGHT
                 : column->Title().Alignment() == taCenter    ? DT_CENTER
                                                              : DT_LEFT;
    UINT single = DT_SINGLELINE | DT_END_ELLIPSIS | align | DT_NOPREFIX;
    bool wrapped = false;
    if (wordWrap_) {
      RECT m{0, 0, std::max(0, textRect.Width() - 2), 0};
      HGDIOBJ old = SelectObject(c.Handle(), FontHandle(c.Font()));
      DrawTextA(c.Handle(), caption.c_str(), static_cast<int>(caption.size()), &m, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
      SelectObject(c.Handle(), old);
      int h = m.bottom - m.top;
      if (h <= cellH && h > textH) {
        TRect r{textRect.left + 1, textRect.top + (cellH - h) / 2, textRect.right - 1, textRect.bottom};
        TBrushStyle bs = c.Brush().style;
        c.Brush().style = TBrushStyle::bsClear;
        c.DrawText(caption, r, DT_WORDBREAK | align | DT_NOPREFIX);
        c.Brush().style = bs;
        wrapped = true;
      }
    }
    if (!wrapped) {
      TRect r{textRect.left + 1, textRect.top + top, textRect.right - 1, textRect.bottom};
      TBrushStyle bs = c.Brush().style;
      c.Brush().style = TBrushStyle::bsClear;
      c.DrawText(caption, r, single);
      c.Brush().style = bs;
    }
  }
  if (defaultMarker && bmp) {
    int x = column->Title().Alignment() == taRightJustify ? rect.left + 3 : rect.right - offset + 3;
    int y = rect.top + (rect.Height() - bsz.y + 1) / 2;
    if (x > rect.left && x + bsz.x < rect.right && y > rect.top && y + bsz.y < rect.bottom)
      DrawGlyph(c.Handle(), bmp, x, y, RGB(0xFF, 0x00, 0xFF));
  }
}

void TJvDBGrid::DrawIndicatorBackground(const TRect& rect) {
  if (!DrawThemedHeader(rect, THeaderState::Normal)) TJvExDBGrid::DrawIndicatorBackground(rect);
}

void TJvDBGrid::DrawIndicatorCell(int row, TRect rect) {
  TJvExDBGrid::DrawIndicatorCell(row, rect);
  if (!multiSelect_ || !DataLink().Active() || !msIndicators_) return;
  TDataSet* ds = DataLink().DataSet();
  if (ds->State() != dsBrowse || row - TitleOffset() >= DataLink().RecordCount()) return;
  ActiveRecordGuard ar(DataLink());
  bool current = row - TitleOffset() == ar.saved;
  DataLink().SetActiveRecord(row - TitleOffset());
  if (!SelectedRows().RowSelected(ds->ReadRow())) return;
  TDBGridOptions o = TCustomDBGrid::Options();
  TCanvas& c = Canvas();
  c.Brush().color = FixedColor();
  TRect r = rect;
  bool bothLines = (o & dgColLines) && (o & dgRowLines);
  if (bothLines) r = Rect(r.left + 1, r.top + 1, r.right - 1, r.bottom - 1);
  c.FillRect(r);
  int x = r.right - 6 - (bothLines ? 1 : 2);
  int y = r.top + (r.Height() - 11 + 1) / 2;
  ImageList_Draw(msIndicators_, current ? 1 : 0, c.Handle(), x, y, ILD_TRANSPARENT);
}

// ---------------------------------------------------------------------------------------------------------
// Stored layout

void TJvDBGrid::SaveColumnLayout() {
  if (!iniStorage_ || !iniStorage_->HasAppStorage() || Name().empty()) return;
  auto& store = iniStorage_->Store();
  const std::string& path = iniStorage_->AppStoragePath();
  if (Columns().State() == TDBGridColumnsState::csCustomized) {
    for (int i = 0; i < Columns().Count(); ++i) {
      TColumn* c = Columns()[i];
      store.WriteString(path, LayoutKey(Name(), c->FieldName()), LayoutValue(i, c->Visible() ? c->Width() : -1));
    }
  } else if (TDataSet* ds = DataLink().DataSet()) {
    // Default columns: the fields' own layout (position and visibility).
    for (int i = 0; i < ds->FieldCount(); ++i) {
      TField* f = ds->Fields()[i];
      store.WriteString(path, LayoutKey(ds->Name().empty() ? Name() : ds->Name(), f->FieldName()),
                        LayoutValue(f->Index(), f->Visible() ? f->DisplayWidth() : -1));
    }
  }
}

void TJvDBGrid::RestoreColumnLayout() {
  if (!iniStorage_ || !iniStorage_->HasAppStorage() || Name().empty()) return;
  auto& store = iniStorage_->Store();
  const std::string& path = iniStorage_->AppStoragePath();
  if (Columns().State() == TDBGridColumnsState::csCustomized) {
    struct Entry {
      TColumn* column;
      int index;
    };
    std::vector<Entry> order;
    BeginLayout();
    try {
      for (int i = 0; i < Columns().Count(); ++i) {
        TColumn* c = Columns()[i];
        auto v = store.ReadString(path, LayoutKey(Name(), c->FieldName()));
        LayoutEntry e = v ? ParseLayoutValue(*v, i, c->Width()) : LayoutEntry{i, c->Width(), c->Visible()};
        if (v) {
          c->SetWidth(e.width);
          c->SetVisible(e.visible);
        }
        order.push_back({c, e.index});
      }
      std::stable_sort(order.begin(), order.end(), [](const Entry& a, const Entry& b) { return a.index < b.index; });
      for (int target = 0; target < static_cast<int>(order.size()); ++target) {
        int from = order[static_cast<size_t>(target)].column->Index();
        if (from != target) Columns().Move(from, target);
      }
    } catch (...) {
      EndLayout();
      throw;
    }
    EndLayout();
  } else if (TDataSet* ds = DataLink().DataSet()) {
    for (int i = 0; i < ds->FieldCount(); ++i) {
      TField* f = ds->Fields()[i];
      auto v = store.ReadString(path, LayoutKey(ds->Name().empty() ? Name() : ds->Name(), f->FieldName()));
      if (!v) continue;
      LayoutEntry e = ParseLayoutValue(*v, f->Index(), f->DisplayWidth());
      f->SetVisible(e.visible);
      if (e.visible) f->SetDisplayWidth(e.width);
    }
  }
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
