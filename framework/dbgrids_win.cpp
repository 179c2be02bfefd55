#include "framework/dbgrids.h"

#include <algorithm>
#include <cctype>

#include "framework/exceptions.h"
#include "framework/forms.h"

namespace fw {

namespace {
struct OptionName {
  const char* name;
  TDBGridOptions value;
};
constexpr OptionName kOptionNames[] = {
    {"dgEditing", dgEditing},         {"dgAlwaysShowEditor", dgAlwaysShowEditor},
    {"dgTitles", dgTitles},           {"dgIndicator", dgIndicator},
    {"dgColumnResize", dgColumnResize}, {"dgColLines", dgColLines},
    {"dgRowLines", dgRowLines},       {"dgTabs", dgTabs},
    {"dgRowSelect", dgRowSelect},     {"dgAlwaysShowSelection", dgAlwaysShowSelection},
    {"dgConfirmDelete", dgConfirmDelete}, {"dgCancelOnExit", dgCancelOnExit},
    {"dgMultiSelect", dgMultiSelect},
};

// A measuring context for column widths and row heights while the grid has no window yet.
struct ScreenDC {
  HDC dc = GetDC(nullptr);
  ~ScreenDC() { ReleaseDC(nullptr, dc); }
};
TPoint MeasureText(const TFont& font, std::string_view text) {
  ScreenDC s;
  HGDIOBJ old = SelectObject(s.dc, FontHandle(font));
  SIZE sz{};
  GetTextExtentPoint32A(s.dc, text.data(), static_cast<int>(text.size()), &sz);
  SelectObject(s.dc, old);
  return TPoint{sz.cx, sz.cy};
}
}  // namespace

bool DBGridOptionsFromSet(const std::vector<std::string>& names, TDBGridOptions& options) {
  TDBGridOptions o = 0;
  for (const auto& n : names) {
    bool found = false;
    for (const auto& opt : kOptionNames)
      if (n == opt.name) o |= opt.value, found = true;
    if (!found) return false;
  }
  options = o;
  return true;
}

// ---------------------------------------------------------------------------------------------------------
// Columns

TColumnTitle::TColumnTitle(TColumn* column) : column_(column) { RefreshDefaultFont(); }

std::string TColumnTitle::Caption() const {
  if (column_->assigned_ & static_cast<unsigned>(TColumnValue::TitleCaption)) return caption_;
  if (TField* f = column_->Field()) return f->DisplayName();
  return column_->FieldName();
}

void TColumnTitle::SetCaption(std::string c) {
  caption_ = std::move(c);
  column_->assigned_ |= static_cast<unsigned>(TColumnValue::TitleCaption);
  column_->Changed();
}

TColor TColumnTitle::Color() const {
  if (column_->assigned_ & static_cast<unsigned>(TColumnValue::TitleColor)) return color_;
  return column_->Grid() ? column_->Grid()->FixedColor() : clBtnFace;
}

void TColumnTitle::SetColor(TColor c) {
  color_ = c;
  column_->assigned_ |= static_cast<unsigned>(TColumnValue::TitleColor);
  column_->Changed();
}

void TColumnTitle::SetAlignment(TAlignment a) {
  alignment_ = a;
  column_->assigned_ |= static_cast<unsigned>(TColumnValue::TitleAlignment);
  column_->Changed();
}

void TColumnTitle::RefreshDefaultFont() {
  if (column_->assigned_ & static_cast<unsigned>(TColumnValue::TitleFont)) return;
  if (column_->Grid()) {
    font_.OnChange = nullptr;
    font_.Assign(column_->Grid()->TitleFont());
  }
  font_.OnChange = [this] {
    column_->assigned_ |= static_cast<unsigned>(TColumnValue::TitleFont);
    column_->Changed();
  };
}

bool TColumnTitle::ReadProperty(std::string_view name, const Value& v, TReader&) {
  if (name == "Caption") SetCaption(StringValue(v));
  else if (name == "Color") SetColor(ColorValue(v));
  else if (name == "Alignment") {
    if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
    SetAlignment(v.text == "taRightJustify" ? taRightJustify : v.text == "taCenter" ? taCenter : taLeftJustify);
  } else return false;
  return true;
}

TPersistent* TColumnTitle::SubObject(std::string_view name) { return name == "Font" ? &font_ : nullptr; }

TColumn::TColumn(TCustomDBGrid* grid) : grid_(grid), title_(std::make_unique<TColumnTitle>(this)) {
  RefreshDefaultFont();
  title_->RefreshDefaultFont();
}

TColumn::~TColumn() = default;

int TColumn::Index() const {
  auto& cols = grid_->Columns();
  for (int i = 0; i < cols.Count(); ++i)
    if (cols[i] == this) return i;
  return -1;
}

void TColumn::Changed() {
  if (grid_ && !grid_->Loading()) grid_->LayoutChanged();
}

void TColumn::SetFieldName(std::string name) {
  fieldName_ = std::move(name);
  field_ = nullptr;
  Changed();
}

TField* TColumn::Field() const {
  if (!field_ && !fieldName_.empty() && grid_) {
    if (TDataSet* ds = grid_->DataLink().DataSet()) field_ = ds->FindField(fieldName_);
  }
  if (field_ && grid_ && grid_->DataLink().DataSet() && field_->DataSet() != grid_->DataLink().DataSet()) field_ = nullptr;
  return field_;
}

void TColumn::SetField(TField* f) {
  field_ = f;
  if (f) fieldName_ = f->FullName();
}

bool TColumn::Expandable() const {
  auto* adt = dynamic_cast<TADTField*>(Field());
  return adt && adt->ChildFields().Count() > 0;
}

bool TColumn::InLayout() const { return Visible() && (!parent_ || (parent_->Expanded() && parent_->InLayout())); }

bool TColumn::Showing() const { return InLayout() && !Expanded(); }

TColumn* TColumn::ColumnAtDepth(int depth) {
  TColumn* c = this;
  while (c->parent_ && c->Depth() > depth) c = c->parent_;
  return c;
}

void TColumn::SetExpanded(bool expanded) {
  if (expanded == Expanded() || (expanded && !Expandable())) return;
  expanded_ = expanded;
  if (expanded && grid_) {
    // Child columns that are missing go right after this column's nested columns, in field order.
    auto& cols = grid_->Columns();
    auto* adt = static_cast<TADTField*>(Field());
    for (auto* f : adt->ChildFields()) {
      bool have = false;
      for (int i = 0; i < cols.Count(); ++i) have = have || (cols[i]->parent_ == this && cols[i]->Field() == f);
      if (have) continue;
      auto child = std::make_unique<TColumn>(grid_);
      child->parent_ = this;
      child->SetField(f);
      cols.items_.insert(cols.items_.begin() + cols.EndOfChildren(Index()), std::move(child));
    }
  }
  Changed();
}

int TColumn::DefaultWidth() const {
  TField* f = Field();
  if (!f || !grid_) return 64;
  TPoint digit = MeasureText(const_cast<TColumn*>(this)->font_, "0");
  int w = f->DisplayWidth() * digit.x + 4;
  if (grid_->Options() & dgTitles) {
    TPoint t = MeasureText(title_->Font(), title_->Caption());
    w = std::max(w, t.x + 4);
  }
  return w;
}

int TColumn::Width() const {
  if (assigned_ & static_cast<unsigned>(TColumnValue::Width)) return width_;
  return DefaultWidth();
}

void TColumn::SetWidth(int w) {
  width_ = w;
  assigned_ |= static_cast<unsigned>(TColumnValue::Width);
  Changed();
}

bool TColumn::Visible() const {
  if (assigned_ & static_cast<unsigned>(TColumnValue::Visible)) return visible_;
  TField* f = Field();
  return f ? f->Visible() : true;
}

void TColumn::SetVisible(bool v) {
  visible_ = v;
  assigned_ |= static_cast<unsigned>(TColumnValue::Visible);
  Changed();
}

bool TColumn::ReadOnly() const {
  if (assigned_ & static_cast<unsigned>(TColumnValue::ReadOnly)) return readOnly_;
  TField* f = Field();
  return f ? f->ReadOnly() : false;
}

void TColumn::SetReadOnly(bool v) {
  readOnly_ = v;
  assigned_ |= static_cast<unsigned>(TColumnValue::ReadOnly);
}

TColor TColumn::DefaultColor() const { return grid_ ? grid_->Color() : clWindow; }

TColor TColumn::Color() const { return ColorAssigned() ? color_ : DefaultColor(); }

void TColumn::SetColor(TColor c) {
  color_ = c;
  assigned_ |= static_cast<unsigned>(TColumnValue::Color);
  Changed();
}

TAlignment TColumn::Alignment() const {
  if (assigned_ & static_cast<unsigned>(TColumnValue::Alignment)) return alignment_;
  TField* f = Field();
  return f ? f->Alignment() : taLeftJustify;
}

void TColumn::SetAlignment(TAlignment a) {
  alignment_ = a;
  assigned_ |= static_cast<unsigned>(TColumnValue::Alignment);
  Changed();
}

void TColumn::RefreshDefaultFont() {
  if (assigned_ & static_cast<unsigned>(TColumnValue::Font)) return;
  font_.OnChange = nullptr;
  if (grid_) font_.Assign(grid_->Font());
  font_.OnChange = [this] {
    assigned_ |= static_cast<unsigned>(TColumnValue::Font);
    Changed();
  };
}

bool TColumn::ReadProperty(std::string_view name, const Value& v, TReader&) {
  if (name == "FieldName") SetFieldName(StringValue(v));
  else if (name == "Width") SetWidth(static_cast<int>(IntegerValue(v)));
  else if (name == "Visible") SetVisible(BoolValue(v));
  else if (name == "ReadOnly") SetReadOnly(BoolValue(v));
  else if (name == "Color") SetColor(ColorValue(v));
  else if (name == "DropDownRows") SetDropDownRows(static_cast<int>(IntegerValue(v)));
  else if (name == "Expanded" || name == "ButtonStyle" || name == "ImeMode" || name == "ImeName") return true;
  else if (name == "Alignment") {
    if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
    SetAlignment(v.text == "taRightJustify" ? taRightJustify : v.text == "taCenter" ? taCenter : taLeftJustify);
  } else if (name == "PickList.Strings") {
    pickList_.clear();
    for (const auto& e : v.list) pickList_.push_back(StringValue(e));
    assigned_ |= static_cast<unsigned>(TColumnValue::PickList);
  } else return false;
  return true;
}

TPersistent* TColumn::SubObject(std::string_view name) {
  if (name == "Title") return title_.get();
  if (name == "Font") return &font_;
  return nullptr;
}

TColumn* TDBGridColumns::Add() {
  items_.push_back(std::make_unique<TColumn>(grid_));
  return items_.back().get();
}

void TDBGridColumns::Clear() { items_.clear(); }

int TDBGridColumns::EndOfChildren(int index) const {
  int end = index + 1;
  while (end < Count()) {
    TColumn* p = items_[static_cast<size_t>(end)]->parent_;
    while (p && p != items_[static_cast<size_t>(index)].get()) p = p->parent_;
    if (!p) break;
    ++end;
  }
  return end;
}

void TDBGridColumns::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  // A column takes its nested columns with it.
  items_.erase(items_.begin() + index, items_.begin() + EndOfChildren(index));
  grid_->LayoutChanged();
}

void TDBGridColumns::Move(int from, int to) {
  if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to) return;
  // A column moves together with its nested columns; a nested column stays among its siblings.
  TColumn* moving = items_[static_cast<size_t>(from)].get();
  int end = EndOfChildren(from);
  if (moving->parent_ && items_[static_cast<size_t>(to)]->parent_ != moving->parent_) return;
  if (to >= from && to < end) return;
  std::vector<std::unique_ptr<TColumn>> block;
  for (int i = from; i < end; ++i) block.push_back(std::move(items_[static_cast<size_t>(i)]));
  items_.erase(items_.begin() + from, items_.begin() + end);
  // Moving right lands after the target column's own nested columns.
  int at = to > from ? EndOfChildren(to - (end - from)) : to;
  items_.insert(items_.begin() + at, std::make_move_iterator(block.begin()), std::make_move_iterator(block.end()));
  state_ = TDBGridColumnsState::csCustomized;
  grid_->LayoutChanged();
}

void TDBGridColumns::SetState(TDBGridColumnsState s) {
  state_ = s;
  if (s == TDBGridColumnsState::csDefault) RebuildColumns();
}

void TDBGridColumns::RebuildColumns(bool keepSettings) {
  std::vector<std::unique_ptr<TColumn>> old = std::move(items_);
  items_.clear();
  TDataSet* ds = grid_->DataLink().DataSet();
  if (!ds) return;
  for (int i = 0; i < ds->FieldCount(); ++i) {
    TField* f = ds->Fields()[i];
    if (!f->Visible()) continue;
    auto kept = std::find_if(old.begin(), old.end(), [f](const auto& c) { return c && !c->parent_ && c->Field() == f; });
    if (keepSettings && kept != old.end()) {
      // The column keeps its nested columns too.
      TColumn* top = kept->get();
      for (auto& c : old) {
        TColumn* p = c ? c.get() : nullptr;
        while (p && p != top) p = p->parent_;
        if (p) items_.push_back(std::move(c));
      }
      continue;
    }
    TColumn* c = Add();
    c->SetField(f);
  }
}

void TDBGridColumns::LoadFromCollection(const Value& v, TReader& reader) {
  if (v.type != ValueType::Collection) throw EReadError("Invalid property value");
  items_.clear();
  for (const auto& item : v.items) {
    TColumn* c = Add();
    for (const auto& p : item.properties) {
      TPersistent* target = c;
      std::string_view rest = p.name;
      bool ok = target->ReadProperty(rest, p.value, reader);
      size_t dot;
      while (!ok && (dot = rest.find('.')) != std::string_view::npos) {
        target = target->SubObject(rest.substr(0, dot));
        rest = rest.substr(dot + 1);
        if (!target) break;
        ok = target->ReadProperty(rest, p.value, reader);
      }
      if (!ok) throw EReadError("Error reading column: Property " + p.name + " does not exist");
    }
  }
  state_ = items_.empty() ? TDBGridColumnsState::csDefault : TDBGridColumnsState::csCustomized;
}

// ---------------------------------------------------------------------------------------------------------
// Selected rows

int TBookmarkList::Compare(const TBookmark& a, const TBookmark& b) const {
  TDataSet* ds = grid_->DataLink().DataSet();
  return ds ? ds->CompareBookmarks(a, b) : a.compare(b);
}

void TBookmarkList::Clear() {
  if (list_.empty()) return;
  list_.clear();
  grid_->Invalidate();
}

bool TBookmarkList::Find(const TBookmark& b, int& index) const {
  int lo = 0, hi = Count() - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = Compare(list_[static_cast<size_t>(mid)], b);
    if (c == 0) return index = mid, true;
    if (c < 0) lo = mid + 1;
    else hi = mid - 1;
  }
  index = lo;
  return false;
}

int TBookmarkList::IndexOf(const TBookmark& b) const {
  int i;
  return Find(b, i) ? i : -1;
}

bool TBookmarkList::CurrentRowSelected() const {
  TDataSet* ds = grid_->DataLink().DataSet();
  if (!ds || !grid_->DataLink().Active()) return false;
  TBookmark b = ds->GetBookmark();
  return !b.empty() && IndexOf(b) >= 0;
}

namespace {
// The bookmark of any row, not only the current one: painting asks for the rows of the link's window without
// moving the dataset.
struct RowBookmarks : TDataSet {
  static TBookmark Of(const TDataSet* ds, int row) {
    TBookmark (TDataSet::*get)(int) const = &RowBookmarks::InternalBookmark;
    return (ds->*get)(row);
  }
};
}  // namespace

bool TBookmarkList::RowSelected(int row) const {
  TDataSet* ds = grid_->DataLink().DataSet();
  if (!ds || list_.empty() || row < 0 || row >= ds->RowCount()) return false;
  // The record being inserted has no bookmark yet.
  if (ds->State() == dsInsert && row == ds->CurrentRow()) return false;
  TBookmark b = RowBookmarks::Of(ds, row);
  return !b.empty() && IndexOf(b) >= 0;
}

void TBookmarkList::SetCurrentRowSelected(bool value) {
  TDataSet* ds = grid_->DataLink().DataSet();
  if (!ds || !grid_->DataLink().Active()) return;
  TBookmark b = ds->GetBookmark();
  if (b.empty()) return;
  int i;
  bool found = Find(b, i);
  if (found == value) return;
  if (value) list_.insert(list_.begin() + i, b);
  else list_.erase(list_.begin() + i);
  grid_->InvalidateRow(grid_->Row());
}

void TBookmarkList::Delete() {
  TDataSet* ds = grid_->DataLink().DataSet();
  if (!ds) return;
  ds->DisableControls();
  try {
    for (int i = Count() - 1; i >= 0; --i) {
      if (ds->BookmarkValid(list_[static_cast<size_t>(i)])) {
        ds->GotoBookmark(list_[static_cast<size_t>(i)]);
        ds->Delete();
      }
      list_.erase(list_.begin() + i);
    }
  } catch (...) {
    ds->EnableControls();
    throw;
  }
  ds->EnableControls();
}

bool TBookmarkList::Refresh() {
  TDataSet* ds = grid_->DataLink().DataSet();
  bool dropped = false;
  for (int i = Count() - 1; i >= 0; --i)
    if (!ds || !ds->BookmarkValid(list_[static_cast<size_t>(i)])) {
      list_.erase(list_.begin() + i);
      dropped = true;
    }
  if (dropped) grid_->Invalidate();
  return dropped;
}

// ---------------------------------------------------------------------------------------------------------
// Data link

void TGridDataLink::ActiveChanged() { grid_->LinkActive(Active()); modified_ = false; }
void TGridDataLink::DataSetChanged() { grid_->DataChanged(); modified_ = false; }
void TGridDataLink::DataSetScrolled(int distance) { grid_->Scroll(distance); }
void TGridDataLink::RecordChanged(TField* field) { grid_->RecordChanged(field); modified_ = false; }
void TGridDataLink::EditingChanged() { grid_->EditingChanged(); }
void TGridDataLink::LayoutChanged() { grid_->LayoutChanged(); }
void TGridDataLink::FocusControl(TField** field) {
  if (field && *field && grid_->DataLink().DataSet() == (*field)->DataSet()) {
    grid_->FocusField(*field);
    *field = nullptr;
  }
}
void TGridDataLink::UpdateData() { grid_->UpdateData(); }
void TGridDataLink::CheckBrowseMode() { grid_->UpdateData(); }

// ---------------------------------------------------------------------------------------------------------
// TCustomDBGrid

TCustomDBGrid::TCustomDBGrid(TComponent* owner)
    : TCustomGrid(owner), dataLink_(std::make_unique<TGridDataLink>(this)), columns_(this), selectedRows_(this) {
  width_ = 320;
  height_ = 120;
  titleFont_.Assign(Font());
  titleFont_.OnChange = [this] {
    for (int i = 0; i < columns_.Count(); ++i) columns_[i]->Title().RefreshDefaultFont();
    LayoutChanged();
  };
  geo_.cols.SetCount(2);
  geo_.rows.SetCount(2);
  ApplyGridOptions();
  LayoutChanged();
}

TCustomDBGrid::~TCustomDBGrid() {
  dataLink_->SetDataSource(nullptr);
}

void TCustomDBGrid::SetDataSource(TDataSource* source) {
  if (source == DataSource()) return;
  if (source) source->FreeNotification(this);
  dataLink_->SetDataSource(source);
  LinkActive(dataLink_->Active());
}

void TCustomDBGrid::Notification(TComponent* c, Operation op) {
  TCustomGrid::Notification(c, op);
  if (op == Operation::Remove && c == DataSource()) dataLink_->SetDataSource(nullptr);
}

void TCustomDBGrid::ApplyGridOptions() {
  TGridOptions o = 0;
  if (dbOptions_ & dgColLines) o |= goFixedVertLine | goVertLine;
  if (dbOptions_ & dgRowLines) o |= goFixedHorzLine | goHorzLine;
  if (dbOptions_ & dgColumnResize) o |= goColSizing | goColMoving;
  if (dbOptions_ & dgTabs) o |= goTabs;
  if (dbOptions_ & dgRowSelect) o |= goRowSelect;
  if (dbOptions_ & dgEditing) o |= goEditing;
  if ((dbOptions_ & dgAlwaysShowEditor) && !(dbOptions_ & dgRowSelect)) o |= goAlwaysShowEditor;
  SetGridOptions(o);
}

void TCustomDBGrid::SetOptions(TDBGridOptions options) {
  if (options & dgRowSelect) options &= ~(dgEditing | dgAlwaysShowEditor);
  if (options == dbOptions_) return;
  dbOptions_ = options;
  ApplyGridOptions();
  LayoutChanged();
}

int TCustomDBGrid::DefaultRowHeightForFont() {
  int h = MeasureText(Font(), "Wg").y + 3;
  if (dbOptions_ & dgRowLines) h += lineWidth_;
  return h;
}

int TCustomDBGrid::TitleHeightForFont() {
  int h = MeasureText(titleFont_, "Wg").y + 4;
  return h;
}

void TCustomDBGrid::BeginLayout() { ++layoutLock_; }

void TCustomDBGrid::EndLayout() {
  if (--layoutLock_ == 0) LayoutChanged();
}

TColumn* TCustomDBGrid::ShownColumn(int gridCol) const {
  int i = gridCol - IndicatorOffset();
  if (i < 0 || i >= static_cast<int>(shown_.size())) return nullptr;
  return shown_[static_cast<size_t>(i)];
}

int TCustomDBGrid::GridColumnOf(const TColumn* column) const {
  for (size_t i = 0; i < shown_.size(); ++i)
    if (shown_[i] == column) return static_cast<int>(i) + IndicatorOffset();
  return -1;
}

int TCustomDBGrid::SelectedIndex() const {
  TColumn* c = ShownColumn(col_);
  return c ? c->Index() : -1;
}

void TCustomDBGrid::SetSelectedIndex(int index) {
  if (index < 0 || index >= columns_.Count()) return;
  int gc = GridColumnOf(columns_[index]);
  if (gc >= 0) MoveColRow(gc, row_, true);
}

TField* TCustomDBGrid::SelectedField() const {
  TColumn* c = ShownColumn(col_);
  return c ? c->Field() : nullptr;
}

void TCustomDBGrid::SetSelectedField(TField* field) {
  for (int i = 0; i < columns_.Count(); ++i)
    if (columns_[i]->Field() == field) {
      SetSelectedIndex(i);
      return;
    }
}

int TCustomDBGrid::FieldCount() const { return static_cast<int>(shown_.size()); }
TField* TCustomDBGrid::Fields(int index) const {
  return index >= 0 && index < FieldCount() ? shown_[static_cast<size_t>(index)]->Field() : nullptr;
}

void TCustomDBGrid::LayoutChanged() {
  if (layoutLock_ > 0 || Loading()) return;
  ++layoutLock_;
  try {
    TColumn* current = ShownColumn(col_);
    TField* currentField = current ? current->Field() : nullptr;
    if (columns_.State() == TDBGridColumnsState::csDefault) {
      // Default columns follow the dataset's visible fields, in the dataset's order.
      TDataSet* ds = dataLink_->Active() ? dataLink_->DataSet() : nullptr;
      std::vector<TField*> fields;
      if (ds)
        for (int i = 0; i < ds->FieldCount(); ++i)
          if (ds->Fields()[i]->Visible()) fields.push_back(ds->Fields()[i]);
      // Nested columns of expanded object fields do not count: they follow their top-level column.
      std::vector<TColumn*> top;
      for (int i = 0; i < columns_.Count(); ++i)
        if (!columns_[i]->ParentColumn()) top.push_back(columns_[i]);
      bool stale = fields.size() != top.size();
      for (size_t i = 0; !stale && i < top.size(); ++i) stale = top[i]->Field() != fields[i];
      if (stale) {
        columns_.RebuildColumns(true);
        current = nullptr;
        for (int i = 0; currentField && i < columns_.Count(); ++i)
          if (columns_[i]->Field() == currentField) current = columns_[i];
      }
    }
    shown_.clear();
    for (int i = 0; i < columns_.Count(); ++i) {
      columns_[i]->RefreshDefaultFont();
      columns_[i]->Title().RefreshDefaultFont();
      if (columns_[i]->Showing()) shown_.push_back(columns_[i]);
    }
    titleRows_ = 1;
    for (TColumn* c : shown_) titleRows_ = std::max(titleRows_, c->Depth() + 1);
    int cols = IndicatorOffset() + std::max<int>(1, static_cast<int>(shown_.size()));
    // Frozen data columns join the indicator in the fixed area; at least one column stays scrollable.
    int frozen = std::clamp(FrozenColumns(), 0, std::max(0, static_cast<int>(shown_.size()) - 1));
    geo_.cols.SetCount(cols);
    geo_.cols.SetFixed(IndicatorOffset() + frozen);
    geo_.cols.SetDefaultExtent(64);
    if (IndicatorOffset()) geo_.cols.SetExtent(0, 11);
    for (size_t i = 0; i < shown_.size(); ++i)
      geo_.cols.SetExtent(static_cast<int>(i) + IndicatorOffset(), shown_[i]->Width());
    if (geo_.cols.First() < geo_.cols.Fixed()) geo_.cols.SetFirst(geo_.cols.Fixed());
    geo_.rows.SetFixed(0);
    geo_.rows.SetDefaultExtent(DataRowHeight());
    UpdateRowCount();
    geo_.rows.SetFixed(TitleOffset());
    for (int r = 0; r < TitleOffset(); ++r) geo_.rows.SetExtent(r, TitleRowHeightValue());
    geo_.rows.SetFirst(TitleOffset());
    int newCol = current ? GridColumnOf(current) : -1;
    if (newCol < geo_.cols.Fixed()) newCol = -1;
    col_ = newCol >= 0 ? newCol : std::clamp(col_, geo_.cols.Fixed(), cols - 1);
    UpdateActive();
  } catch (...) {
    --layoutLock_;
    throw;
  }
  --layoutLock_;
  TCustomGrid::ColWidthsChanged();
  Invalidate();
}

void TCustomDBGrid::UpdateRowCount() {
  int titles = TitleOffset();
  int visibleRows = 1;
  if (HandleAllocated()) {
    int avail = ClientHeight();
    for (int r = 0; r < titles; ++r) avail -= RowHeight(r) + geo_.rows.LineWidth();
    int rowH = DefaultRowHeight() + geo_.rows.LineWidth();
    visibleRows = std::max(1, avail / std::max(1, rowH));
  } else {
    int avail = height_ - titles * TitleRowHeightValue();
    visibleRows = std::max(1, avail / std::max(1, DefaultRowHeight() + 1));
  }
  if (dataLink_->Active()) {
    dataLink_->SetBufferCount(visibleRows);
    int records = std::max(1, dataLink_->RecordCount());
    geo_.rows.SetCount(titles + records);
  } else {
    geo_.rows.SetCount(titles + 1);
  }
  geo_.rows.SetFixed(titles);
  geo_.rows.SetFirst(titles);
}

void TCustomDBGrid::UpdateActive() {
  if (dataLink_->Active() && dataLink_->RecordCount() > 0) {
    int r = TitleOffset() + dataLink_->ActiveRecord();
    if (r != row_) {
      if (editorMode_) HideEditor();
      InvalidateRow(row_);
      row_ = r;
      InvalidateRow(row_);
    }
  } else {
    row_ = TitleOffset();
  }
}

void TCustomDBGrid::LinkActive(bool active) {
  if (!active) HideEditor();
  selectedRows_.Clear();
  LayoutChanged();
  UpdateScrollBars();
  if (active && (dbOptions_ & dgAlwaysShowEditor)) ShowEditor();
}

void TCustomDBGrid::DataChanged() {
  if (!HandleAllocated() && !dataLink_->Active()) return;
  UpdateRowCount();
  UpdateActive();
  UpdateScrollBars();
  ResetEditText();
  InvalidateEditor();
  Invalidate();
}

void TCustomDBGrid::Scroll(int distance) {
  UpdateRowCount();
  UpdateActive();
  UpdateScrollBars();
  ResetEditText();
  if (distance != 0) Invalidate();
  if (editorMode_) InvalidateEditor();
  if ((dbOptions_ & dgAlwaysShowEditor) && (dbOptions_ & dgEditing) && !(dbOptions_ & dgRowSelect) && Focused())
    ShowEditor();
}

void TCustomDBGrid::RecordChanged(TField* field) {
  InvalidateRow(row_);
  if (!dataLink_->Modified()) {
    ResetEditText();
    InvalidateEditor();
  }
}

void TCustomDBGrid::EditingChanged() {
  if (IndicatorOffset()) InvalidateCell(0, row_);
  if (!dataLink_->Editing()) {
    ResetEditText();
    ownInsert_ = false;
  }
}

void TCustomDBGrid::StartInsert(bool append) {
  TDataSet* ds = dataLink_->DataSet();
  if (append) ds->Append();
  else ds->Insert();
  ownInsert_ = ds->State() == dsInsert;
}

void TCustomDBGrid::FocusField(TField* field) {
  SetSelectedField(field);
  if (CanFocus()) SetFocus();
}

void TCustomDBGrid::ResetEditText() {
  editTextValid_ = false;
  editText_.clear();
}

bool TCustomDBGrid::SelectCell(int col, int row) { return col >= FixedCols(); }

void TCustomDBGrid::FocusCell(int col, int row) {
  // Rows are records: moving to another row moves the dataset, which ends a pending edit first.
  if (row != row_ && dataLink_->Active()) {
    UpdateData();
    int delta = row - row_;
    dataLink_->MoveBy(delta);
  }
  if (col != col_) {
    ColExit();
    MoveColRow(col, row_, true);
    ColEnter();
  }
}

void TCustomDBGrid::ColEnter() {
  if (OnColEnter) OnColEnter(this);
}

void TCustomDBGrid::ColExit() {
  UpdateData();
  if (OnColExit) OnColExit(this);
}

void TCustomDBGrid::TitleClick(TColumn*) {
  if (OnTitleClick) OnTitleClick(this);
}

void TCustomDBGrid::CellClick(TColumn*) {
  if (OnCellClick) OnCellClick(this);
}

bool TCustomDBGrid::CanEditShow() {
  if (!(dbOptions_ & dgEditing) || (dbOptions_ & dgRowSelect) || !dataLink_->Active() || readOnly_) return false;
  TColumn* c = ShownColumn(col_);
  if (!c || !c->Field()) return false;
  return TCustomGrid::CanEditShow();
}

bool TCustomDBGrid::CanEditModify() {
  if (readOnly_ || !dataLink_->Active() || dataLink_->ReadOnly()) return false;
  TColumn* c = ShownColumn(col_);
  TField* f = c ? c->Field() : nullptr;
  if (!f || c->ReadOnly() || !f->CanModify()) return false;
  dataLink_->Edit();
  bool ok = dataLink_->Editing();
  if (ok) dataLink_->SetModified();
  return ok;
}

bool TCustomDBGrid::CanEditAcceptKey(char key) {
  TColumn* c = ShownColumn(col_);
  return c && c->Field() && !c->Field()->IsBlob();
}

std::string TCustomDBGrid::GetEditText(int col, int) {
  TColumn* c = ShownColumn(col);
  TField* f = c ? c->Field() : nullptr;
  if (!f) return {};
  if (editTextValid_ && col == col_) return editText_;
  return f->Text();
}

void TCustomDBGrid::SetEditText(int col, int, const std::string& text) {
  editText_ = text;
  editTextValid_ = true;
  dataLink_->SetModified();
}

int TCustomDBGrid::GetEditLimit() {
  TColumn* c = ShownColumn(col_);
  TField* f = c ? c->Field() : nullptr;
  return f && f->DataType() == ftString ? f->Size() : 0;
}

void TCustomDBGrid::EditorChanged() {
  if (editor_) SetEditText(col_, row_, editor_->Text());
}

void TCustomDBGrid::UpdateData() {
  if (!editTextValid_ || !dataLink_->Active()) return;
  TColumn* c = ShownColumn(col_);
  TField* f = c ? c->Field() : nullptr;
  if (!f) return;
  std::string text = editText_;
  // The text stays pending when the field refuses it, so that the user can correct it. A refusal is the
  // user's typing error, not a fault of the program: it leaves the grid as an edit error.
  try {
    f->SetText(text);
  } catch (const EConvertError& e) {
    throw EDBEditError(e.Message());
  }
  ResetEditText();
}

void TCustomDBGrid::ColWidthsChanged() {
  // A user-sized column keeps its width.
  for (size_t i = 0; i < shown_.size(); ++i) {
    int w = ColWidth(static_cast<int>(i) + IndicatorOffset());
    if (w != shown_[i]->Width()) {
      ++layoutLock_;
      shown_[i]->SetWidth(w);
      --layoutLock_;
      if (columns_.State() == TDBGridColumnsState::csDefault) columns_.state_ = TDBGridColumnsState::csCustomized;
    }
  }
  TCustomGrid::ColWidthsChanged();
}

void TCustomDBGrid::RowHeightsChanged() { TCustomGrid::RowHeightsChanged(); }

void TCustomDBGrid::TopLeftChanged() { TCustomGrid::TopLeftChanged(); }

void TCustomDBGrid::UpdateScrollBars() {
  if (!HandleAllocated() || scrollBarsUpdating_) return;
  scrollBarsUpdating_ = true;
  SCROLLINFO si{sizeof si, SIF_ALL | SIF_DISABLENOSCROLL, 0, 0, 0, 0, 0};
  TDataSet* ds = dataLink_->Active() ? dataLink_->DataSet() : nullptr;
  int rows = ds ? ds->RowCount() : 0;
  si.nMax = std::max(0, rows - 1);
  si.nPage = static_cast<UINT>(std::max(1, dataLink_->BufferCount()));
  si.nPos = ds ? std::max(0, ds->CurrentRow()) : 0;
  SetScrollInfo(Handle(), SB_VERT, &si, TRUE);
  scrollBarsUpdating_ = false;
  SyncHorizontalScrollBar();
}

void TCustomDBGrid::SyncHorizontalScrollBar() {
  SCROLLINFO si{sizeof si, SIF_ALL | SIF_DISABLENOSCROLL, 0, 0, 0, 0, 0};
  int scrollCols = std::max(0, ColCount() - FixedCols());
  si.nMax = std::max(0, scrollCols - 1);
  si.nPage = static_cast<UINT>(std::max(1, VisibleColCount()));
  si.nPos = LeftCol() - FixedCols();
  SetScrollInfo(Handle(), SB_HORZ, &si, TRUE);
}

void TCustomDBGrid::VerticalScroll(UINT code, int pos) {
  if (!dataLink_->Active()) return;
  TDataSet* ds = dataLink_->DataSet();
  UpdateData();
  switch (code) {
    case SB_LINEUP: dataLink_->MoveBy(-1); break;
    case SB_LINEDOWN: dataLink_->MoveBy(1); break;
    case SB_PAGEUP: dataLink_->MoveBy(-std::max(1, VisibleRowCount())); break;
    case SB_PAGEDOWN: dataLink_->MoveBy(std::max(1, VisibleRowCount())); break;
    case SB_THUMBPOSITION: ds->MoveBy(pos - ds->CurrentRow()); break;
    case SB_TOP: ds->First(); break;
    case SB_BOTTOM: ds->Last(); break;
    default: break;
  }
}

bool TCustomDBGrid::AcquireFocus() {
  if (Focused() || (editor_ && editor_->Focused())) return true;
  if (CanFocus()) SetFocus();
  return Focused() || (editor_ && editor_->Focused());
}

void TCustomDBGrid::KeyDown(WORD& key, TShift shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
  if (key == 0 || !dataLink_->Active()) return;
  TDataSet* ds = dataLink_->DataSet();
  bool ctrl = (shift & ssCtrl) && !(shift & ssAlt);
  auto nextRow = [&] {
    UpdateData();
    if (ds->State() == dsInsert && !ds->Modified() && !dataLink_->Modified() && ds->Eof()) return;
    dataLink_->MoveBy(1);
    if (ds->Eof() && ds->CanModify() && !readOnly_ && (dbOptions_ & dgEditing) && ds->State() == dsBrowse &&
        key == VK_DOWN)
      StartInsert(true);
  };
  auto priorRow = [&] {
    UpdateData();
    if (ds->State() == dsInsert && !ds->Modified() && !dataLink_->Modified() && ds->Eof()) {
      ds->Cancel();
      return;
    }
    dataLink_->MoveBy(-1);
  };
  int page = std::max(1, VisibleRowCount());
  switch (key) {
    case VK_UP: priorRow(); break;
    case VK_DOWN: nextRow(); break;
    case VK_PRIOR:
      UpdateData();
      dataLink_->MoveBy(-page);
      break;
    case VK_NEXT:
      UpdateData();
      dataLink_->MoveBy(page);
      break;
    case VK_HOME:
      if (ctrl) {
        UpdateData();
        ds->First();
      } else {
        FocusCell(FixedCols(), row_);
      }
      break;
    case VK_END:
      if (ctrl) {
        UpdateData();
        ds->Last();
      } else {
        FocusCell(ColCount() - 1, row_);
      }
      break;
    case VK_LEFT:
      if (dbOptions_ & dgRowSelect) SetLeftCol(LeftCol() - 1);
      else if (col_ > FixedCols()) FocusCell(col_ - 1, row_);
      break;
    case VK_RIGHT:
      if (dbOptions_ & dgRowSelect) SetLeftCol(LeftCol() + 1);
      else if (col_ < ColCount() - 1) FocusCell(col_ + 1, row_);
      break;
    case VK_TAB:
      if (!(dbOptions_ & dgTabs) || (shift & ssAlt)) return;
      if (shift & ssShift) {
        if (col_ > FixedCols()) {
          FocusCell(col_ - 1, row_);
        } else if (!ds->Bof() || ds->State() == dsInsert) {
          priorRow();
          FocusCell(ColCount() - 1, row_);
        }
      } else if (col_ < ColCount() - 1) {
        FocusCell(col_ + 1, row_);
      } else {
        UpdateData();
        dataLink_->MoveBy(1);
        FocusCell(FixedCols(), row_);
      }
      break;
    case VK_INSERT:
      if (shift == 0 && ds->CanModify() && !readOnly_ && (dbOptions_ & dgEditing)) {
        UpdateData();
        StartInsert(false);
      }
      break;
    case VK_DELETE:
      if (ctrl && ds->CanModify() && !readOnly_ && !ds->IsEmpty()) {
        bool confirmed = !(dbOptions_ & dgConfirmDelete) ||
                         MessageBoxA(Handle(), "Delete record?", "Confirm", MB_YESNO | MB_ICONQUESTION) == IDYES;
        if (confirmed) {
          if (selectedRows_.Count() > 0) selectedRows_.Delete();
          else ds->Delete();
        }
      }
      break;
    case VK_ESCAPE:
      if (editorMode_ && editTextValid_) {
        ResetEditText();
        dataLink_->ResetModified();
        InvalidateEditor();
        if (!(dbOptions_ & dgAlwaysShowEditor)) HideEditor();
      } else if (ds->State() == dsEdit || ds->State() == dsInsert) {
        ds->Cancel();
      }
      if (editorMode_ && !(dbOptions_ & dgAlwaysShowEditor)) HideEditor();
      break;
    case VK_F2:
      SetEditorMode(true);
      break;
    default:
      break;
  }
}

void TCustomDBGrid::KeyPress(char& key) {
  if (!(dbOptions_ & dgAlwaysShowEditor) && key == '\r') UpdateData();
  TCustomGrid::KeyPress(key);
}

void TCustomDBGrid::MouseDown(TMouseButton button, TShift shift, int x, int y) {
  if (!AcquireFocus()) return;
  if (!dataLink_->Active()) {
    TCustomGrid::MouseDown(button, shift, x, y);
    return;
  }
  int sizeCol, sizeRow;
  if (button == TMouseButton::mbLeft &&
      (IsRowSizingZone(x, y, sizeRow) || ((dbOptions_ & dgColumnResize) && IsSizingZone(x, y, sizeCol)))) {
    TCustomGrid::MouseDown(button, shift, x, y);
    return;
  }
  if (button == TMouseButton::mbLeft && !(shift & ssDouble) && ClickExpandButton(x, y)) return;
  GridCoord c = MouseCoord(x, y);
  if (c.y >= 0 && c.y < TitleOffset()) {
    // An enclosing column's title (over its nested columns) moves nothing.
    if (button == TMouseButton::mbLeft && (dbOptions_ & dgColumnResize) && c.x >= FixedCols() &&
        TitleColumn(c.x, c.y) == ShownColumn(c.x)) {
      // The title may be dragged to move its column; without a drag the release is a title click.
      UpdateData();
      TCustomGrid::MouseDown(button, shift, x, y);  // raises OnMouseDown
      return;
    }
    if (button == TMouseButton::mbLeft) TitleClick(TitleColumn(c.x, c.y));
    TControl* self = this;
    (void)self;
    if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
    return;
  }
  if (c.x >= 0 && c.y >= TitleOffset()) {
    bool sameCell = c.x == col_ && c.y == row_;
    int col = c.x < FixedCols() ? col_ : c.x;
    FocusCell(col, c.y);
    if (button == TMouseButton::mbLeft) {
      CellClick(ShownColumn(col_));
      if (sameCell && (dbOptions_ & dgEditing) && !(shift & ssDouble)) ShowEditor();
    }
  }
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}

void TCustomDBGrid::MouseUp(TMouseButton button, TShift shift, int x, int y) {
  bool titlePress = state_ == TGridState::gsColMoving && !moveDragged_;
  int pressed = moveIndex_;
  TCustomGrid::MouseUp(button, shift, x, y);
  if (titlePress && MouseCoord(x, y).x == pressed) TitleClick(ShownColumn(pressed));
}

void TCustomDBGrid::ColumnMoved(int from, int to) {
  TColumn* moving = ShownColumn(from);
  TColumn* target = ShownColumn(to);
  if (!moving || !target) return;
  int fromIndex = moving->Index(), toIndex = target->Index();
  TField* movingField = moving->Field();
  TField* targetField = target->Field();
  if (columns_.State() == TDBGridColumnsState::csDefault && movingField && targetField &&
      movingField->DataSet() == targetField->DataSet() && !moving->ParentColumn() && !target->ParentColumn()) {
    // Default columns show the dataset's fields in their order: the field moves, the columns follow.
    movingField->SetIndex(targetField->Index());
  } else {
    columns_.Move(fromIndex, toIndex);
  }
  if (OnColumnMoved) OnColumnMoved(this, fromIndex, toIndex);
}

void TCustomDBGrid::DoExit() {
  try {
    if ((dbOptions_ & dgCancelOnExit) && dataLink_->Active()) {
      TDataSet* ds = dataLink_->DataSet();
      if (ds->State() == dsInsert && ownInsert_ && !ds->Modified() && !dataLink_->Modified()) ds->Cancel();
      else UpdateData();
    } else {
      UpdateData();
    }
  } catch (...) {
    TCustomGrid::DoExit();
    throw;
  }
  TCustomGrid::DoExit();
}

void TCustomDBGrid::Resize() {
  TCustomGrid::Resize();
  UpdateRowCount();
  UpdateActive();
  UpdateScrollBars();
}

void TCustomDBGrid::Loaded() {
  TCustomGrid::Loaded();
  LayoutChanged();
}

void TCustomDBGrid::AfterCreateHandle() {
  TCustomGrid::AfterCreateHandle();
  LayoutChanged();
}

void TCustomDBGrid::DrawCell(int col, int row, TRect rect, TGridDrawState state) {
  if (row < TitleOffset()) {
    if (col < IndicatorOffset()) {
      Canvas().Brush().color = FixedColor();
      Canvas().FillRect(rect);
    } else {
      DrawTitleCell(col, row, rect, state);
    }
    return;
  }
  if (col < IndicatorOffset()) {
    DrawIndicatorCell(row, rect);
    return;
  }
  DrawDataCell(col, row, rect, state);
}

TColumn* TCustomDBGrid::TitleColumn(int gridCol, int titleRow) const {
  TColumn* shown = ShownColumn(gridCol);
  return shown ? shown->ColumnAtDepth(titleRow) : nullptr;
}

TRect TCustomDBGrid::TitleRect(int gridCol, int titleRow) {
  TRect cell = CellRect(gridCol, titleRow);
  TColumn* column = TitleColumn(gridCol, titleRow);
  if (!column || cell.IsEmpty() || titleRow >= TitleOffset()) return cell;
  TRect r = cell;
  // Sideways over the neighbours on screen that show the same column at this depth.
  for (int c = gridCol - 1; c >= IndicatorOffset() && TitleColumn(c, titleRow) == column; --c) {
    TRect n = CellRect(c, titleRow);
    if (n.IsEmpty()) break;
    r.left = n.left;
  }
  for (int c = gridCol + 1; c < ColCount() && TitleColumn(c, titleRow) == column; ++c) {
    TRect n = CellRect(c, titleRow);
    if (n.IsEmpty()) break;
    r.right = n.right;
  }
  // The column's own deepest level runs from its depth down to the last title row.
  if (column == ShownColumn(gridCol)) {
    int top = std::min(column->Depth(), titleRow);
    r.top = CellRect(gridCol, top).top;
    r.bottom = CellRect(gridCol, TitleOffset() - 1).bottom;
  }
  return r;
}

void TCustomDBGrid::InvalidateTitle(int gridCol) {
  if (TitleOffset() == 0) return;
  TRect r = TitleRect(gridCol, TitleOffset() - 1);
  if (!r.IsEmpty()) InvalidateRect(r);
}

TRect TCustomDBGrid::PaintedCellRect(int col, int row, const TRect& rect) {
  if (row >= TitleOffset() || TitleOffset() < 2) return rect;
  if (col < IndicatorOffset())  // the indicator's title cell covers every title row
    return Rect(rect.left, CellRect(col, 0).top, rect.right, CellRect(col, TitleOffset() - 1).bottom);
  return TitleRect(col, row);
}

bool TCustomDBGrid::CellsJoined(int col, int row, bool toRight) const {
  if (row >= TitleOffset() || TitleOffset() < 2) return false;
  if (col < IndicatorOffset()) return !toRight && row + 1 < TitleOffset();
  TColumn* column = TitleColumn(col, row);
  if (!column) return false;
  if (toRight) return TitleColumn(col + 1, row) == column;
  return row + 1 < TitleOffset() && TitleColumn(col, row + 1) == column;
}

TRect TCustomDBGrid::ExpandButtonRect(const TRect& title) {
  int w = std::min(GetSystemMetrics(SM_CXVSCROLL), std::max(0, title.Width()));
  return Rect(title.right - w, title.top, title.right, title.bottom);
}

void TCustomDBGrid::DrawExpandButton(TColumn* column, TRect& rect) {
  if (!column || !column->Expandable()) return;
  TRect b = ExpandButtonRect(rect);
  if (b.IsEmpty()) return;
  RECT r{b.left, b.top, b.right, b.bottom};
  DrawFrameControl(Canvas().Handle(), &r, DFC_SCROLL,
                   (column->Expanded() ? DFCS_SCROLLLEFT : DFCS_SCROLLRIGHT) | DFCS_FLAT);
  rect.right = b.left;
}

bool TCustomDBGrid::ClickExpandButton(int x, int y) {
  if (!(dbOptions_ & dgTitles)) return false;
  GridCoord c = MouseCoord(x, y);
  if (c.y < 0 || c.y >= TitleOffset() || c.x < IndicatorOffset()) return false;
  TColumn* column = TitleColumn(c.x, c.y);
  if (!column || !column->Expandable()) return false;
  TRect b = ExpandButtonRect(TitleRect(c.x, c.y));
  if (x < b.left || x >= b.right || y < b.top || y >= b.bottom) return false;
  UpdateData();
  column->SetExpanded(!column->Expanded());
  return true;
}

void TCustomDBGrid::DrawTitleCell(int col, int row, TRect rect, TGridDrawState) {
  TCanvas& c = Canvas();
  TColumn* column = TitleColumn(col, row);
  c.Brush().color = column ? column->Title().Color() : FixedColor();
  if (!column) {
    c.FillRect(rect);
    return;
  }
  c.FillRect(rect);
  DrawExpandButton(column, rect);
  c.Font().Assign(column->Title().Font());
  DrawCellText(rect, 2, 2, column->Title().Caption(), column->Title().Alignment());
}

void TCustomDBGrid::DrawIndicatorBackground(const TRect& rect) {
  Canvas().Brush().color = FixedColor();
  Canvas().FillRect(rect);
}

void TCustomDBGrid::DrawIndicatorCell(int row, TRect rect) {
  TCanvas& c = Canvas();
  DrawIndicatorBackground(rect);
  c.Brush().style = TBrushStyle::bsSolid;
  // An empty table shows no current-record mark (the blank row is no record).
  if (!dataLink_->Active() || dataLink_->RecordCount() == 0 || row - TitleOffset() != dataLink_->ActiveRecord())
    return;
  TDataSet* ds = dataLink_->DataSet();
  int cx = rect.left + rect.Width() / 2, cy = rect.top + rect.Height() / 2;
  c.Pen().color = clBlack;
  c.Brush().color = clBlack;
  if (ds->State() == dsInsert) {
    c.Brush().style = TBrushStyle::bsClear;
    TRect r = rect;
    c.Font().Assign(Font());
    c.Font().SetColor(clBlack);
    c.DrawText("*", r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    c.Brush().style = TBrushStyle::bsSolid;
  } else if (ds->State() == dsEdit) {
    // An I-beam.
    c.FillRect(Rect(cx - 1, cy - 4, cx, cy + 5));
    c.FillRect(Rect(cx - 3, cy - 5, cx + 2, cy - 4));
    c.FillRect(Rect(cx - 3, cy + 5, cx + 2, cy + 6));
  } else {
    // A right-pointing triangle.
    for (int i = 0; i < 4; ++i) c.FillRect(Rect(cx - 2 + i, cy - 3 + i, cx - 1 + i, cy + 4 - i));
  }
}

void TCustomDBGrid::DrawCellText(const TRect& rect, int dx, int dy, const std::string& text, TAlignment a) {
  TCanvas& c = Canvas();
  c.FillRect(rect);
  TRect r{rect.left + dx, rect.top + dy, rect.right - 1, rect.bottom - 1};
  UINT flags = DT_NOPREFIX | DT_SINGLELINE | DT_EXPANDTABS;
  flags |= a == taRightJustify ? DT_RIGHT : a == taCenter ? DT_CENTER : DT_LEFT;
  if (a == taRightJustify) r.right -= 1;
  TBrushStyle old = c.Brush().style;
  c.Brush().style = TBrushStyle::bsClear;
  c.DrawText(text, r, flags);
  c.Brush().style = old;
}

void TCustomDBGrid::DrawDataCell(int col, int row, TRect rect, TGridDrawState state) {
  TColumn* column = ShownColumn(col);
  TCanvas& c = Canvas();
  if (!column) {
    c.Brush().color = Color();
    c.FillRect(rect);
    return;
  }
  bool isRecord = dataLink_->Active() && row - TitleOffset() < dataLink_->RecordCount();
  bool highlight = isRecord && (state & gdSelected) &&
                   ((state & gdFocused) || (dbOptions_ & dgAlwaysShowSelection) ||
                    ((dbOptions_ & dgRowSelect) && Focused()));
  c.Font().Assign(column->Font());
  c.Brush().color = column->Color();
  if (highlight) {
    c.Brush().color = clHighlight;
    c.Font().SetColor(clHighlightText);
  }
  if (!isRecord) {
    c.FillRect(rect);
  } else {
    int old = dataLink_->ActiveRecord();
    dataLink_->SetActiveRecord(row - TitleOffset());
    try {
      DefaultDrawColumnCell(rect, col - IndicatorOffset(), column, state);
      if (OnDrawColumnCell) OnDrawColumnCell(this, rect, col - IndicatorOffset(), column, state);
    } catch (...) {
      dataLink_->SetActiveRecord(old);
      throw;
    }
    dataLink_->SetActiveRecord(old);
  }
  if (isRecord && (state & gdFocused) && !editorMode_ && !(dbOptions_ & dgRowSelect)) c.DrawFocusRect(rect);
}

void TCustomDBGrid::DefaultDrawColumnCell(const TRect& rect, int, TColumn* column, TGridDrawState) {
  TField* f = column->Field();
  std::string text = f ? f->DisplayText() : std::string();
  DrawCellText(rect, 2, 2, text, column->Alignment());
}

bool TCustomDBGrid::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "DataSource") {
    if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
    std::string target = v.text;
    reader.AddFixup([this, target, &reader] {
      auto* ds = dynamic_cast<TDataSource*>(reader.FindComponent(target));
      if (!ds) throw EReadError("Invalid property value: " + target + " is not a data source");
      SetDataSource(ds);
    });
  } else if (name == "Options") {
    if (v.type != ValueType::Set) throw EReadError("Invalid property value");
    TDBGridOptions o;
    if (!DBGridOptionsFromSet(v.set, o)) throw EReadError("Invalid property value");
    SetOptions(o);
  } else if (name == "Columns") {
    columns_.LoadFromCollection(v, reader);
  } else if (name == "ReadOnly") {
    SetReadOnly(BoolValue(v));
  } else if (name == "TitleFont" || name == "ParentCtl3D" || name == "Ctl3D" || name == "BorderStyle") {
    return true;
  } else if (name == "OnColumnMoved") {
    const Method method = EventMethod(v, reader);
    OnColumnMoved = [method](TComponent* s, int, int) { method(s); };
  } else if (name == "OnDrawColumnCell" || name == "OnColEnter" || name == "OnColExit" || name == "OnCellClick" ||
             name == "OnTitleClick") {
    const Method method = EventMethod(v, reader);
    if (name == "OnColEnter") OnColEnter = method;
    else if (name == "OnColExit") OnColExit = method;
    else if (name == "OnCellClick") OnCellClick = method;
    else if (name == "OnTitleClick") OnTitleClick = method;
    else OnDrawColumnCell = [method](TComponent* s, const TRect&, int, TColumn*, TGridDrawState) { method(s); };
  } else {
    return TCustomGrid::ReadProperty(name, v, reader);
  }
  return true;
}

TPersistent* TCustomDBGrid::SubObject(std::string_view name) {
  if (name == "TitleFont") return &titleFont_;
  return TCustomGrid::SubObject(name);
}

static ClassRegistration<TDBGrid> registerDBGrid("TDBGrid");

}  // namespace fw
