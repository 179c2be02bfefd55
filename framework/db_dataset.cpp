// The dataset: states, navigation, editing, searching and the events that reach its data sources; the
// class names that stored forms use for datasets, data sources and fields.
#include "framework/db.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "framework/db_support.h"

namespace fw {

using namespace dbsupport;

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

TDataSet::~TDataSet() {
  // The concrete dataset has closed already; let go of the data sources and of persistent fields.
  SetDestroying();
  for (auto* ds : std::vector<TDataSource*>(dataSources_)) ds->SetDataSet(nullptr);
  for (auto* f : fields_.list_) f->dataSet_ = nullptr;
  fields_.list_.clear();
}

void TDataSet::AddField(TField* f) {
  fields_.list_.push_back(f);
  f->dataSet_ = this;
}

void TDataSet::RemoveField(TField* f) {
  auto& l = fields_.list_;
  l.erase(std::remove(l.begin(), l.end(), f), l.end());
  f->dataSet_ = nullptr;
}

void TDataSet::AddDataSource(TDataSource* ds) { dataSources_.push_back(ds); }

void TDataSet::RemoveDataSource(TDataSource* ds) {
  dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), ds), dataSources_.end());
}

void TDataSet::Notification(TComponent* component, Operation operation) {
  TComponent::Notification(component, operation);
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (streamedActive_) {
    streamedActive_ = false;
    SetActive(true);
  }
}

bool TDataSet::ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) {
  if (name == "Active") {
    bool on = BoolValue(value);
    if (Loading()) streamedActive_ = on;
    else SetActive(on);
    return true;
  }
  if (name == "ReadOnly") return SetReadOnly(BoolValue(value)), true;
  if (name == "AutoCalcFields" || name == "ObjectView") return BoolValue(value), true;
  struct Slot {
    const char* name;
    TDataSetNotifyEvent TDataSet::*event;
  };
  static const Slot slots[] = {
      {"BeforeOpen", &TDataSet::BeforeOpen},     {"AfterOpen", &TDataSet::AfterOpen},
      {"BeforeClose", &TDataSet::BeforeClose},   {"AfterClose", &TDataSet::AfterClose},
      {"BeforeInsert", &TDataSet::BeforeInsert}, {"AfterInsert", &TDataSet::AfterInsert},
      {"BeforeEdit", &TDataSet::BeforeEdit},     {"AfterEdit", &TDataSet::AfterEdit},
      {"BeforePost", &TDataSet::BeforePost},     {"AfterPost", &TDataSet::AfterPost},
      {"BeforeCancel", &TDataSet::BeforeCancel}, {"AfterCancel", &TDataSet::AfterCancel},
      {"BeforeDelete", &TDataSet::BeforeDelete}, {"AfterDelete", &TDataSet::AfterDelete},
      {"BeforeScroll", &TDataSet::BeforeScroll}, {"AfterScroll", &TDataSet::AfterScroll},
      {"OnNewRecord", &TDataSet::OnNewRecord},   {"OnCalcFields", &TDataSet::OnCalcFields}};
  for (const auto& s : slots)
    if (name == s.name) {
      auto m = StoredMethod(value, reader);
      this->*s.event = m ? TDataSetNotifyEvent([m](TDataSet* d) { m(d); }) : nullptr;
      return true;
    }
  return TComponent::ReadProperty(name, value, reader);
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
}

int TDataSet::RowCount() const {
  if (!Active()) return 0;
  return InternalRowCount() + (state_ == dsInsert ? 1 : 0);
}

int TDataSet::RecNo() const {
  if (!Active() || RowCount() == 0) return 0;
  return cur_ + 1;
}

void TDataSet::SetRecNo(int recNo) {
  CheckActive();
  CheckBrowseMode();
  MoveBy(recNo - 1 - cur_);
}

int TDataSet::RecordCount() const { return Active() ? InternalRowCount() : 0; }

bool TDataSet::IsEmpty() const { return RowCount() == 0; }

void TDataSet::SetState(TDataSetState state) {
  if (state == state_) return;
  state_ = state;
  modified_ = false;
  override_ = -1;
  DataEvent(TDataEvent::UpdateState);
}

void TDataSet::SetActive(bool active) {
  if (Loading()) {
    streamedActive_ = active;
    return;
  }
  if (active == Active()) return;
  if (active) {
    DoEvent(BeforeOpen);
    try {
      InternalOpen();
      CreateFields();
    } catch (...) {
      DestroyDefaultFields();
      InternalClose();
      throw;
    }
    cur_ = 0;
    override_ = -1;
    bof_ = true;
    eof_ = InternalRowCount() == 0;
    SetState(dsBrowse);
    DoEvent(AfterOpen);
    if (!IsEmpty()) DoEvent(AfterScroll);
  } else {
    DoEvent(BeforeClose);
    SetState(dsInactive);
    InternalClose();
    DestroyDefaultFields();
    ForEachField(fields_, [](TField* f) { f->fieldNo_ = 0; });
    cur_ = 0;
    bof_ = eof_ = true;
    DoEvent(AfterClose);
  }
}

void TDataSet::CreateFields() {
  bool hasDataFields = std::any_of(fields_.list_.begin(), fields_.list_.end(),
                                   [](TField* f) { return f->FieldKind() == fkData; });
  if (!hasDataFields) {
    // Default fields, one per column, in front of any calculated or lookup fields. A column named
    // "A.B" becomes field B inside the object field A (created on first need).
    std::vector<TField*> created;
    auto make = [this](TField* f, std::string name) {
      f->defaultField_ = true;
      f->fieldName_ = std::move(name);
      f->dataSet_ = this;
      return f;
    };
    for (const auto& def : fieldDefs_) {
      if (def.Hidden) continue;
      TField* f = CreateFieldOfType(def.DataType, this);
      if (!f) DatabaseError("Field type " + std::string(FieldTypeName(def.DataType)) + " of field '" + def.Name + "' is not supported");
      std::string_view rest = def.Name;
      TADTField* parent = nullptr;
      for (size_t dot = rest.find('.'); dot != std::string_view::npos && dot > 0 && dot + 1 < rest.size();
           dot = rest.find('.')) {
        std::string part(rest.substr(0, dot));
        auto& list = parent ? parent->children_.list_ : created;
        TADTField* next = nullptr;
        for (auto* g : list)
          if (SameText(g->fieldName_, part)) next = dynamic_cast<TADTField*>(g);
        if (!next) {
          bool taken = std::any_of(list.begin(), list.end(), [&](TField* g) { return SameText(g->fieldName_, part); });
          if (taken) break;  // a plain column of that name: keep the dotted name as it stands
          next = static_cast<TADTField*>(make(new TADTField(this), part));
          next->parentField_ = parent;
          list.push_back(next);
        }
        parent = next;
        rest = rest.substr(dot + 1);
      }
      make(f, std::string(parent ? rest : std::string_view(def.Name)));
      if (def.Size > 0) f->size_ = def.Size;
      f->required_ = def.Required;
      f->readOnly_ = def.ReadOnly;
      f->parentField_ = parent;
      (parent ? parent->children_.list_ : created).push_back(f);
    }
    fields_.list_.insert(fields_.list_.begin(), created.begin(), created.end());
    defaultFields_ = true;
  }
  // Bind data fields to the table's columns by (full) name; object fields hold no column of their own.
  ForEachField(fields_, [this](TField* f) {
    f->fieldNo_ = 0;
    if (f->FieldKind() != fkData || f->DataType() == ftADT) return;
    std::string name = f->FullName();
    int no = 0;
    for (int i = 0; i < fieldDefs_.Count(); ++i)
      if (SameText(fieldDefs_[i].Name, name)) no = i + 1;
    if (no == 0) DatabaseError(Name() + ": Field '" + name + "' not found");
    const TFieldDef& def = fieldDefs_[no - 1];
    if (GroupOf(def.DataType) != GroupOf(f->DataType()) || GroupOf(def.DataType) == TypeGroup::Other)
      DatabaseError(Name() + ": Type mismatch for field '" + name + "', expecting: " +
                    TypeWord(f->DataType()) + " actual: " + TypeWord(def.DataType));
    if (GroupOf(def.DataType) == TypeGroup::Text && (f->size_ <= 0 || !f->defaultField_)) {
      // A persistent string field wider than its column would only be cut by the engine anyway.
      if (def.Size > 0 && (f->size_ <= 0 || f->size_ > def.Size)) f->size_ = def.Size;
    }
    f->fieldNo_ = no;
  });
}

void TDataSet::DestroyDefaultFields() {
  if (!defaultFields_) return;
  defaultFields_ = false;
  std::vector<TField*> doomed;
  for (auto* f : fields_.list_)
    if (f->defaultField_) doomed.push_back(f);
  for (auto* f : doomed) delete f;  // removes itself from the list
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (disableCount_ > 0) {
    switch (event) {
      case TDataEvent::UpdateState:
        // The data sources still learn every state change; their links catch up on EnableControls.
        for (auto* ds : std::vector<TDataSource*>(dataSources_)) ds->UpdateState();
        return;
      case TDataEvent::UpdateRecord:
      case TDataEvent::CheckBrowseMode:
      case TDataEvent::FocusControl:
        break;
      default:
        return;  // EnableControls tells the links that everything changed
    }
  }
  for (auto* ds : std::vector<TDataSource*>(dataSources_)) {
    if (std::find(dataSources_.begin(), dataSources_.end(), ds) == dataSources_.end()) continue;
    ds->DataEvent(event, info);
    if (event == TDataEvent::FocusControl && *reinterpret_cast<TField**>(info) == nullptr) break;
  }
}

void TDataSet::DisableControls() { ++disableCount_; }

void TDataSet::EnableControls() {
  if (disableCount_ == 0 || --disableCount_ > 0) return;
  DataEvent(TDataEvent::UpdateState);
  DataEvent(TDataEvent::DataSetChange);
}

void TDataSet::MoveTo(int row) {
  int distance = row - cur_;
  if (distance == 0) return;
  DoEvent(BeforeScroll);
  cur_ = row;
  override_ = -1;
  DataEvent(TDataEvent::DataSetScroll, distance);
  DoEvent(AfterScroll);
}

int TDataSet::MoveBy(int distance) {
  CheckActive();
  // Ending an insert may remove the new record; the rows after it then move up by one, so aim at the row the
  // caller meant.
  int target = cur_ + distance;
  int insertRow = state_ == dsInsert ? cur_ : -1;
  int before = RowCount();
  CheckBrowseMode();
  if (insertRow >= 0 && RowCount() < before && target > insertRow) --target;
  if (distance == 0) return 0;
  int count = RowCount();
  bof_ = eof_ = false;
  if (count == 0) {
    bof_ = eof_ = true;
    return 0;
  }
  if (target >= count) {
    target = count - 1;
    eof_ = true;
  }
  if (target < 0) {
    target = 0;
    bof_ = true;
  }
  int moved = target - cur_;
  MoveTo(target);
  return moved;
}

void TDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  if (RowCount() > 0) MoveTo(0);
  bof_ = true;
  eof_ = RowCount() == 0;
}

void TDataSet::Last() {
  CheckActive();
  CheckBrowseMode();
  if (RowCount() > 0) MoveTo(RowCount() - 1);
  eof_ = true;
  bof_ = RowCount() == 0;
}

void TDataSet::Next() { MoveBy(1); }
void TDataSet::Prior() { MoveBy(-1); }

void TDataSet::CheckCanModify() {
  CheckActive();
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
}

void TDataSet::BeginInsertAt(int row) {
  DoEvent(BeforeInsert);
  DoEvent(BeforeScroll);
  InternalBeginInsert(row);
  cur_ = row;
  override_ = -1;
  bof_ = false;
  eof_ = row == InternalRowCount();
  SetState(dsInsert);
  DoEvent(OnNewRecord);
  modified_ = false;  // values set by OnNewRecord alone do not keep the record
  DataEvent(TDataEvent::DataSetChange);
  DoEvent(AfterInsert);
  DoEvent(AfterScroll);
}

void TDataSet::Append() {
  CheckCanModify();
  CheckBrowseMode();
  BeginInsertAt(InternalRowCount());
}

void TDataSet::Insert() {
  CheckCanModify();
  CheckBrowseMode();
  BeginInsertAt(InternalRowCount() == 0 ? 0 : cur_);
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  CheckCanModify();
  if (InternalRowCount() == 0) return Insert();
  DoEvent(BeforeEdit);
  InternalBeginEdit(cur_);
  SetState(dsEdit);
  DataEvent(TDataEvent::RecordChange);
  DoEvent(AfterEdit);
}

void TDataSet::UpdateRecord() {
  if (state_ != dsEdit && state_ != dsInsert) DatabaseError("Dataset not in edit or insert mode");
  DataEvent(TDataEvent::UpdateRecord);
}

void TDataSet::Post() {
  CheckActive();
  override_ = -1;  // the checks below read the record being posted
  UpdateRecord();
  DataEvent(TDataEvent::CheckBrowseMode);
  DoEvent(BeforePost);
  ForEachField(fields_, [](TField* f) {
    if (f->Required() && f->FieldKind() == fkData && f->IsNull())
      DatabaseError("Field '" + f->DisplayName() + "' must have a value");
  });
  int row = InternalPost();
  cur_ = row;
  SetState(dsBrowse);
  DataEvent(TDataEvent::DataSetChange);
  DoEvent(AfterPost);
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(TDataEvent::CheckBrowseMode);
  DoEvent(BeforeCancel);
  bool inserting = state_ == dsInsert;
  InternalCancel();
  if (inserting) {
    int n = InternalRowCount();
    if (cur_ >= n) cur_ = std::max(0, n - 1);
    eof_ = n == 0 || eof_;
    bof_ = n == 0 || bof_;
  }
  SetState(dsBrowse);
  DataEvent(TDataEvent::DataSetChange);
  DoEvent(AfterCancel);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) return Cancel();
  if (InternalRowCount() == 0) DatabaseError("Cannot perform this operation on an empty dataset");
  CheckCanModify();
  DataEvent(TDataEvent::CheckBrowseMode);
  DoEvent(BeforeDelete);
  DoEvent(BeforeScroll);
  if (state_ == dsEdit) InternalCancel();
  InternalDelete(cur_);
  int n = InternalRowCount();
  if (cur_ >= n) cur_ = std::max(0, n - 1);
  if (n == 0) bof_ = eof_ = true;
  if (state_ != dsBrowse) SetState(dsBrowse);
  override_ = -1;
  DataEvent(TDataEvent::DataSetChange);
  DoEvent(AfterDelete);
  DoEvent(AfterScroll);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(TDataEvent::CheckBrowseMode);
  if (state_ == dsEdit || state_ == dsInsert) {
    UpdateRecord();
    if (modified_) Post();
    else Cancel();
  }
}

int TDataSet::ReadRow() const {
  if (!Active()) return -1;
  int count = RowCount();
  int row = override_ >= 0 ? override_ : cur_;
  return row >= 0 && row < count ? row : -1;
}

Variant TDataSet::GetFieldValue(const TField* field) const {
  int row = ReadRow();
  if (row < 0 || !field) return {};
  if (field->FieldKind() == fkLookup) {
    TDataSet* lds = field->LookupDataSet();
    if (!lds || !lds->Active()) return {};
    std::vector<Variant> keys;
    for (const auto& name : SplitNames(field->KeyFields())) {
      TField* k = FindField(name);
      if (!k) return {};
      keys.push_back(k->Value());
      if (keys.back().IsNull()) return {};
    }
    if (keys.empty()) return {};
    return lds->Lookup(field->LookupKeyFields(), keys, field->LookupResultField());
  }
  if (field->FieldKind() == fkCalculated || field->FieldKind() == fkInternalCalc) {
    auto& self = const_cast<TDataSet&>(*this);
    if (!calculating_) {
      if (!OnCalcFields) return {};
      self.calcValues_.clear();
      self.calculating_ = true;
      try {
        self.OnCalcFields(&self);
      } catch (...) {
        self.calculating_ = false;
        throw;
      }
      self.calculating_ = false;
    }
    for (const auto& [f, v] : calcValues_)
      if (f == field) return v;
    return {};
  }
  if (field->fieldNo_ <= 0) return {};
  if ((state_ == dsEdit || state_ == dsInsert) && row == cur_) return InternalGetBufferValue(field->fieldNo_);
  if (state_ == dsInsert && row > cur_) --row;
  return InternalGetValue(row, field->fieldNo_);
}

Variant TDataSet::GetOldFieldValue(const TField* field) const {
  if (!field || field->fieldNo_ <= 0 || !Active()) return GetFieldValue(field);
  int row = ReadRow();
  if (row < 0) return {};
  if (state_ == dsInsert) {
    if (row == cur_) return {};
    if (row > cur_) --row;
  }
  return InternalGetValue(row, field->fieldNo_);
}

void TDataSet::SetFieldValue(TField* field, const Variant& value) {
  CheckActive();
  if (field->FieldKind() == fkCalculated || field->FieldKind() == fkInternalCalc) {
    if (!calculating_) DatabaseError("Field '" + field->DisplayName() + "' cannot be modified");
    for (auto& [f, v] : calcValues_)
      if (f == field) return void(v = value);
    calcValues_.emplace_back(field, value);
    return;
  }
  if (state_ != dsEdit && state_ != dsInsert) DatabaseError("Dataset not in edit or insert mode");
  if (field->FieldKind() == fkLookup) {
    // Assigning a lookup field stores the key of the lookup record that has this result.
    auto keyNames = SplitNames(field->KeyFields());
    auto lookupKeys = SplitNames(field->LookupKeyFields());
    TDataSet* lds = field->LookupDataSet();
    if (keyNames.size() != 1 || lookupKeys.size() != 1 || !lds || !lds->Active())
      DatabaseError("Field '" + field->DisplayName() + "' cannot be modified");
    Variant key;
    if (!value.IsNull()) {
      key = lds->Lookup(field->LookupResultField(), {value}, lookupKeys[0]);
      if (key.IsNull()) DatabaseError("Record not found");
    }
    FieldByName(keyNames[0])->SetValue(key);
    return;
  }
  if (field->ReadOnly() || field->fieldNo_ <= 0) DatabaseError("Field '" + field->DisplayName() + "' cannot be modified");
  field->Validate(value);
  InternalSetBufferValue(field->fieldNo_, value);
  modified_ = true;
  DataEvent(TDataEvent::FieldChange, reinterpret_cast<intptr_t>(field));
  if (field->OnChange) field->OnChange(field);
}

namespace {
bool ValuesMatch(const Variant& have, const Variant& want, int options) {
  if (have.IsNull() || want.IsNull()) return have.IsNull() && want.IsNull();
  if (IsNumeric(have) && IsNumeric(want)) return have.AsFloat() == want.AsFloat();
  std::string a = have.AsString(), b = want.AsString();
  if (options & loPartialKey) {
    if (b.size() > a.size()) return false;
    a.resize(b.size());
  }
  return (options & loCaseInsensitive) ? SameText(a, b) : a == b;
}
}  // namespace

namespace {
// Finds the first row whose fields match; reads rows through the read-row selection and restores it.
int FindRow(TDataSet& ds, std::string_view keyFields, const std::vector<Variant>& values, int options) {
  auto names = SplitNames(keyFields);
  if (names.empty() || names.size() != values.size()) DatabaseError("Invalid number of key values");
  std::vector<TField*> fields;
  for (const auto& n : names) fields.push_back(ds.FieldByName(n));
  int saved = ds.ReadRowOverride();
  int found = -1;
  try {
    for (int row = 0, count = ds.RowCount(); row < count && found < 0; ++row) {
      ds.SetReadRowOverride(row);
      bool all = true;
      for (size_t i = 0; i < fields.size() && all; ++i) all = ValuesMatch(fields[i]->Value(), values[i], options);
      if (all) found = row;
    }
  } catch (...) {
    ds.SetReadRowOverride(saved);
    throw;
  }
  ds.SetReadRowOverride(saved);
  return found;
}
}  // namespace

bool TDataSet::Locate(std::string_view keyFields, const std::vector<Variant>& values, int options) {
  CheckActive();
  CheckBrowseMode();
  int row = FindRow(*this, keyFields, values, options);
  if (row < 0) return false;
  MoveTo(row);
  bof_ = eof_ = false;
  return true;
}

Variant TDataSet::Lookup(std::string_view keyFields, const std::vector<Variant>& values,
                         std::string_view resultField) {
  if (!Active()) return {};
  TField* result = FieldByName(resultField);
  int row = FindRow(*this, keyFields, values, 0);
  if (row < 0) return {};
  int saved = override_;
  override_ = row;
  Variant v;
  try {
    v = result->Value();
  } catch (...) {
    override_ = saved;
    throw;
  }
  override_ = saved;
  return v;
}

TBookmark TDataSet::GetBookmark() const {
  if (!Active() || RowCount() == 0) return {};
  int row = cur_;
  if (state_ == dsInsert) return {};
  return InternalBookmark(row);
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) const {
  return Active() && !bookmark.empty() && InternalBookmarkRow(bookmark) >= 0;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  CheckActive();
  CheckBrowseMode();
  int row = bookmark.empty() ? -1 : InternalBookmarkRow(bookmark);
  if (row < 0) DatabaseError("Record not found");
  MoveTo(row);
  bof_ = eof_ = false;
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : a.empty() ? -1 : 1;
  int ra = InternalBookmarkRow(a), rb = InternalBookmarkRow(b);
  if (ra >= 0 && rb >= 0) return ra < rb ? -1 : ra > rb ? 1 : 0;
  return a < b ? -1 : a > b ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------------
// Stored class names

namespace {
const ClassRegistration<TClientDataSet> regClientDataSet("TClientDataSet");
const ClassRegistration<TDataSource> regDataSource("TDataSource");
const ClassRegistration<TStringField> regString("TStringField");
const ClassRegistration<TIntegerField> regInteger("TIntegerField");
const ClassRegistration<TSmallintField> regSmallint("TSmallintField");
const ClassRegistration<TWordField> regWord("TWordField");
const ClassRegistration<TAutoIncField> regAutoInc("TAutoIncField");
const ClassRegistration<TLargeintField> regLargeint("TLargeintField");
const ClassRegistration<TBooleanField> regBoolean("TBooleanField");
const ClassRegistration<TFloatField> regFloat("TFloatField");
const ClassRegistration<TCurrencyField> regCurrency("TCurrencyField");
const ClassRegistration<TBlobField> regBlob("TBlobField");
const ClassRegistration<TMemoField> regMemo("TMemoField");
const ClassRegistration<TGraphicField> regGraphic("TGraphicField");
const ClassRegistration<TBytesField> regBytes("TBytesField");
const ClassRegistration<TVarBytesField> regVarBytes("TVarBytesField");
}  // namespace

}  // namespace fw
