// Fields: typed access to one column of the current record, object fields and their children, field
// definitions.
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

TField::TField(TComponent* owner) : TComponent(owner) {}
TField::TField(TComponent* owner, TFieldType type) : TComponent(owner), dataType_(type) {}

TField::~TField() {
  if (lookupDataSet_) RemoveFreeNotification(lookupDataSet_);
  if (parentField_) {
    auto& l = parentField_->children_.list_;
    l.erase(std::remove(l.begin(), l.end(), this), l.end());
  } else if (dataSet_) {
    dataSet_->RemoveField(this);
  }
}

namespace {
// Gives a field and everything inside it the dataset of the object field that holds it.
void SetDataSetDeep(TField* f, TDataSet* dataSet, TDataSet*& slot) {
  slot = dataSet;
  if (auto* adt = dynamic_cast<TADTField*>(f))
    for (auto* c : adt->ChildFields()) c->SetParentField(adt);
}
}  // namespace

void TField::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_ && !parentField_) return;
  if ((dataSet_ && dataSet_->Active()) || (dataSet && dataSet->Active()))
    DatabaseError("Cannot perform this operation on an open dataset");
  if (parentField_) {
    auto& l = parentField_->children_.list_;
    l.erase(std::remove(l.begin(), l.end(), this), l.end());
    parentField_ = nullptr;
    dataSet_ = nullptr;
  }
  if (dataSet_) dataSet_->RemoveField(this);
  if (dataSet) dataSet->AddField(this);
  SetDataSetDeep(this, dataSet, dataSet_);
}

void TField::SetParentField(TADTField* parent) {
  if (parent == this) DatabaseError("Field '" + fieldName_ + "' cannot hold itself");
  for (TADTField* p = parent; p; p = p->parentField_)
    if (p == this) DatabaseError("Field '" + fieldName_ + "' cannot hold itself");
  TDataSet* target = parent ? parent->dataSet_ : nullptr;
  if ((dataSet_ && dataSet_->Active()) || (target && target->Active()))
    DatabaseError("Cannot perform this operation on an open dataset");
  if (parentField_ != parent) {
    if (parentField_) {
      auto& l = parentField_->children_.list_;
      l.erase(std::remove(l.begin(), l.end(), this), l.end());
    } else if (dataSet_) {
      dataSet_->RemoveField(this);
    }
    parentField_ = parent;
    if (parent) parent->children_.list_.push_back(this);
  }
  SetDataSetDeep(this, target, dataSet_);
}

std::string TField::FullName() const {
  return parentField_ ? parentField_->FullName() + "." + fieldName_ : fieldName_;
}

void ForEachField(const TFields& fields, const std::function<void(TField*)>& fn) {
  for (auto* f : fields) {
    fn(f);
    if (auto* adt = dynamic_cast<TADTField*>(f)) ForEachField(adt->ChildFields(), fn);
  }
}

TADTField::TADTField(TComponent* owner) : TField(owner, ftADT) {}

TADTField::~TADTField() {
  for (auto* c : std::vector<TField*>(children_.list_)) {
    if (c->defaultField_) {
      delete c;  // leaves the child list by itself
    } else {
      c->parentField_ = nullptr;
      c->dataSet_ = nullptr;
    }
  }
  children_.list_.clear();
}

bool TADTField::IsNull() const {
  for (auto* c : children_)
    if (!c->IsNull()) return false;
  return true;
}

void TADTField::SetValue(const Variant& value) {
  if (!value.IsNull()) DatabaseError("Field '" + DisplayName() + "' takes its value from its child fields");
  for (auto* c : children_) c->SetValue(Variant());
}

std::string TADTField::GetText(bool displayText) const {
  std::string text = "(";
  for (size_t i = 0; i < children_.list_.size(); ++i) {
    if (i) text += ", ";
    text += displayText ? children_.list_[i]->DisplayText() : children_.list_[i]->Text();
  }
  return text + ")";
}

void TField::SetFieldName(std::string name) {
  if (dataSet_ && dataSet_->Active()) DatabaseError("Cannot perform this operation on an open dataset");
  fieldName_ = std::move(name);
}

void TField::SetFieldKind(TFieldKind kind) {
  if (dataSet_ && dataSet_->Active()) DatabaseError("Cannot perform this operation on an open dataset");
  fieldKind_ = kind;
}

void TField::SetSize(int size) {
  if (dataSet_ && dataSet_->Active()) DatabaseError("Cannot perform this operation on an open dataset");
  size_ = size;
}

int TField::Index() const {
  if (parentField_) return parentField_->children_.IndexOf(this);
  return dataSet_ ? dataSet_->fields_.IndexOf(this) : -1;
}

void TField::SetIndex(int index) {
  if (!dataSet_) return;
  // A field inside an object field moves among its siblings.
  auto& list = parentField_ ? parentField_->children_.list_ : dataSet_->fields_.list_;
  int count = static_cast<int>(list.size());
  index = std::clamp(index, 0, count - 1);
  int old = Index();
  if (old == index) return;
  list.erase(list.begin() + old);
  list.insert(list.begin() + index, this);
  dataSet_->DataEvent(TDataEvent::LayoutChange);
}

int TField::DisplayWidth() const {
  if (displayWidth_ > 0) return displayWidth_;
  switch (dataType_) {
    case ftString: case ftFixedChar: case ftWideString: return size_ > 0 ? size_ : 20;
    case ftSmallint: return 6;
    case ftWord: return 5;
    case ftLargeint: return 15;
    case ftBoolean: return 5;
    default: return 10;
  }
}

void TField::SetVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  if (dataSet_) dataSet_->DataEvent(TDataEvent::LayoutChange);
}

bool TField::CanModify() const {
  if (readOnly_ || !dataSet_ || !dataSet_->CanModify()) return false;
  if (fieldKind_ == fkLookup) {
    auto keys = SplitNames(keyFields_);
    if (keys.empty()) return false;
    for (const auto& k : keys) {
      TField* f = dataSet_->FindField(k);
      if (!f || !f->CanModify()) return false;
    }
    return true;
  }
  return fieldKind_ == fkData && fieldNo_ > 0;
}

bool TField::IsBlob() const {
  TypeGroup g = GroupOf(dataType_);
  return g == TypeGroup::Blob || g == TypeGroup::Memo;
}

bool TField::IsNull() const { return Value().IsNull(); }

Variant TField::Value() const { return dataSet_ ? dataSet_->GetFieldValue(this) : Variant(); }

void TField::SetValue(const Variant& value) {
  if (!dataSet_) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  dataSet_->SetFieldValue(this, value.IsNull() ? value : Normalize(value));
}

std::string TField::AsString() const { return Value().AsString(); }
void TField::SetAsString(std::string_view text) { SetValue(Variant(text)); }
int32_t TField::AsInteger() const {
  int64_t v = Value().AsInt();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    InvalidInteger(std::to_string(v));
  return static_cast<int32_t>(v);
}
void TField::SetAsInteger(int32_t value) { SetValue(Variant(static_cast<int64_t>(value))); }
int64_t TField::AsLargeInt() const { return Value().AsInt(); }
void TField::SetAsLargeInt(int64_t value) { SetValue(Variant(value)); }
bool TField::AsBoolean() const { return Value().AsBool(); }
void TField::SetAsBoolean(bool value) { SetValue(Variant(value)); }
double TField::AsFloat() const { return Value().AsFloat(); }
void TField::SetAsFloat(double value) { SetValue(Variant(value)); }

std::string TField::GetText(bool) const { return AsString(); }

std::string TField::Text() const {
  std::string text;
  if (OnGetText) OnGetText(const_cast<TField*>(this), text, false);
  else text = GetText(false);
  return text;
}

std::string TField::DisplayText() const {
  std::string text;
  if (OnGetText) OnGetText(const_cast<TField*>(this), text, true);
  else text = GetText(true);
  return text;
}

void TField::SetText(std::string_view text) {
  if (OnSetText) OnSetText(this, std::string(text));
  else SetAsString(text);
}

Variant TField::OldValue() const { return dataSet_ ? dataSet_->GetOldFieldValue(this) : Variant(); }

void TField::FocusControl() {
  if (!dataSet_ || !dataSet_->Active()) return;
  TField* field = this;
  dataSet_->DataEvent(TDataEvent::FocusControl, reinterpret_cast<intptr_t>(&field));
}

void TField::Validate(const Variant& value) {
  if (OnValidate) OnValidate(this, value);
}

void TField::SetLookupDataSet(TDataSet* ds) {
  if (ds == lookupDataSet_) return;
  if (ds == dataSet_ && ds) DatabaseError("Circular datalinks are not allowed");
  if (lookupDataSet_) RemoveFreeNotification(lookupDataSet_);
  lookupDataSet_ = ds;
  if (ds) FreeNotification(ds);
}

void TField::Notification(TComponent* component, Operation operation) {
  TComponent::Notification(component, operation);
  if (operation == Operation::Remove && component == lookupDataSet_) lookupDataSet_ = nullptr;
}

void TField::SetParentComponent(TComponent* parent) {
  if (auto* ds = dynamic_cast<TDataSet*>(parent)) SetDataSet(ds);
}

bool TField::ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) {
  if (name == "FieldName") return SetFieldName(StringValue(value)), true;
  if (name == "Size") return SetSize(static_cast<int>(IntegerValue(value))), true;
  if (name == "DisplayLabel") return SetDisplayLabel(StringValue(value)), true;
  if (name == "DisplayWidth") return SetDisplayWidth(static_cast<int>(IntegerValue(value))), true;
  if (name == "Visible") return SetVisible(BoolValue(value)), true;
  if (name == "ReadOnly") return SetReadOnly(BoolValue(value)), true;
  if (name == "Required") return SetRequired(BoolValue(value)), true;
  if (name == "EditMask") return editMask_ = StringValue(value), true;
  if (name == "Alignment") {
    static const char* const names[] = {"taLeftJustify", "taRightJustify", "taCenter"};
    for (int i = 0; i < 3; ++i)
      if (value.text == names[i]) return SetAlignment(static_cast<TAlignment>(i)), true;
    throw EReadError("Invalid property value");
  }
  if (name == "FieldKind") {
    static const char* const names[] = {"fkData", "fkCalculated", "fkLookup", "fkInternalCalc", "fkAggregate"};
    for (int i = 0; i < 5; ++i)
      if (value.text == names[i]) return SetFieldKind(static_cast<TFieldKind>(i)), true;
    throw EReadError("Invalid property value");
  }
  if (name == "Lookup") return (BoolValue(value) ? SetFieldKind(fkLookup) : void()), true;
  if (name == "LookupDataSet") {
    StoredReference<TDataSet>(value, reader, [this](TDataSet* ds) { SetLookupDataSet(ds); });
    return true;
  }
  if (name == "LookupKeyFields") return SetLookupKeyFields(StringValue(value)), true;
  if (name == "LookupResultField") return SetLookupResultField(StringValue(value)), true;
  if (name == "KeyFields") return SetKeyFields(StringValue(value)), true;
  if (name == "OnChange") {
    auto m = StoredMethod(value, reader);
    OnChange = m ? std::function<void(TField*)>([m](TField* f) { m(f); }) : nullptr;
    return true;
  }
  if (IsIgnoredFieldProperty(name)) return true;
  return TComponent::ReadProperty(name, value, reader);
}

// -- string --

TStringField::TStringField(TComponent* owner) : TField(owner, ftString) { TField::SetSize(20); }

void TStringField::SetSize(int size) {
  if (size < 0) DatabaseError("Invalid field size");
  TField::SetSize(size);
}

std::string TStringField::AsString() const { return Value().AsString(); }

void TStringField::SetAsString(std::string_view text) { SetValue(Variant(text)); }

Variant TStringField::Normalize(const Variant& value) const {
  std::string s = value.AsString();
  if (Size() > 0 && s.size() > static_cast<size_t>(Size())) s.resize(static_cast<size_t>(Size()));
  return Variant(std::move(s));
}

// -- integers --

TIntegerField::TIntegerField(TComponent* owner) : TIntegerField(owner, ftInteger, INT32_MIN, INT32_MAX) {}
TIntegerField::TIntegerField(TComponent* owner, TFieldType type, int64_t minValue, int64_t maxValue)
    : TField(owner, type), min_(minValue), max_(maxValue) {
  SetAlignment(taRightJustify);
}
TSmallintField::TSmallintField(TComponent* owner) : TIntegerField(owner, ftSmallint, INT16_MIN, INT16_MAX) {}
TWordField::TWordField(TComponent* owner) : TIntegerField(owner, ftWord, 0, UINT16_MAX) {}
TAutoIncField::TAutoIncField(TComponent* owner) : TIntegerField(owner, ftAutoInc, INT32_MIN, INT32_MAX) {}
TLargeintField::TLargeintField(TComponent* owner) : TIntegerField(owner, ftLargeint, INT64_MIN, INT64_MAX) {}

void TIntegerField::SetAsString(std::string_view text) {
  if (Trim(text).empty()) return Clear();
  SetValue(Variant(text));
}

void TIntegerField::SetAsFloat(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) InvalidInteger(FloatToStr(value));
  SetValue(Variant(static_cast<int64_t>(std::llround(value))));
}

void TIntegerField::SetValue(const Variant& value) { TField::SetValue(value); }

Variant TIntegerField::Normalize(const Variant& value) const {
  int64_t v;
  if (value.kind() == Variant::vString) {
    const std::string text = value.AsString();
    v = StrToInt64(text);
    // Text beyond a 32-bit field's range is refused like text that is not a number.
    if (DataType() != ftLargeint && (v < INT32_MIN || v > INT32_MAX)) InvalidInteger(text);
  } else if (value.kind() == Variant::vFloat) {
    double d = value.AsFloat();
    if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) InvalidInteger(FloatToStr(d));
    v = static_cast<int64_t>(std::llround(d));
  } else {
    v = value.AsInt();
  }
  if (v < min_ || v > max_)
    DatabaseError(std::to_string(v) + " is not a valid value for field '" + DisplayName() +
                  "'. The allowed range is " + std::to_string(min_) + " to " + std::to_string(max_));
  return Variant(v);
}

// -- logical --

TBooleanField::TBooleanField(TComponent* owner) : TField(owner, ftBoolean) { SetAlignment(taCenter); }

void TBooleanField::SetDisplayValues(std::string values) {
  size_t semi = values.find(';');
  std::string t = values.substr(0, semi);
  std::string f = semi == std::string::npos ? std::string() : values.substr(semi + 1);
  if (t.empty() && f.empty()) DatabaseError("Invalid DisplayValues for field '" + DisplayName() + "'");
  displayValues_ = std::move(values);
  trueText_ = std::move(t);
  falseText_ = std::move(f);
}

std::string TBooleanField::AsString() const {
  Variant v = Value();
  if (v.IsNull()) return {};
  return v.AsBool() ? trueText_ : falseText_;
}

void TBooleanField::SetAsString(std::string_view text) {
  std::string_view s = Trim(text);
  if (s.empty()) return Clear();
  SetValue(Variant(s));
}

Variant TBooleanField::Normalize(const Variant& value) const {
  if (value.kind() != Variant::vString) return Variant(value.AsBool());
  const std::string s = value.AsString();
  // Whole texts first, then a prefix of either ("T", "Fa").
  if (!trueText_.empty() && SameText(s, trueText_)) return Variant(true);
  if (!falseText_.empty() && SameText(s, falseText_)) return Variant(false);
  if (!trueText_.empty() && StartsText(s, trueText_)) return Variant(true);
  if (!falseText_.empty() && StartsText(s, falseText_)) return Variant(false);
  throw EConvertError("'" + s + "' is not a valid boolean value");
}

bool TBooleanField::ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) {
  if (name == "DisplayValues") return SetDisplayValues(StringValue(value)), true;
  return TField::ReadProperty(name, value, reader);
}

// -- floating point --

TFloatField::TFloatField(TComponent* owner) : TFloatField(owner, ftFloat) {}
TFloatField::TFloatField(TComponent* owner, TFieldType type) : TField(owner, type) { SetAlignment(taRightJustify); }
TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner, ftCurrency) { SetCurrency(true); }

std::string TFloatField::AsString() const {
  Variant v = Value();
  return v.IsNull() ? std::string() : FloatToStr(v.AsFloat());
}

void TFloatField::SetAsString(std::string_view text) {
  if (Trim(text).empty()) return Clear();
  SetValue(Variant(StrToFloat(text)));
}

Variant TFloatField::Normalize(const Variant& value) const { return Variant(value.AsFloat()); }

bool TFloatField::ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) {
  if (name == "Currency") return SetCurrency(BoolValue(value)), true;
  return TField::ReadProperty(name, value, reader);
}

// -- large objects and bytes --

TBlobField::TBlobField(TComponent* owner) : TBlobField(owner, ftBlob) {}
TBlobField::TBlobField(TComponent* owner, TFieldType type) : TField(owner, type) {}
TMemoField::TMemoField(TComponent* owner) : TBlobField(owner, ftMemo) {}
TGraphicField::TGraphicField(TComponent* owner) : TBlobField(owner, ftGraphic) {}
TBytesField::TBytesField(TComponent* owner) : TBytesField(owner, ftBytes) {}
TBytesField::TBytesField(TComponent* owner, TFieldType type) : TField(owner, type) {}
TVarBytesField::TVarBytesField(TComponent* owner) : TBytesField(owner, ftVarBytes) {}

std::string TBlobField::GetText(bool displayText) const {
  if (!displayText) return AsString();
  std::string word = DataType() == ftGraphic ? "Graphic" : "Blob";
  if (IsNull() || AsString().empty()) return "(" + word + ")";
  for (char& ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return "(" + word + ")";
}

bool TBlobField::ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) {
  if (name == "BlobType") {
    TFieldType t;
    if (!FieldTypeFromName(value.text, t) || GroupOf(t) == TypeGroup::Other || GroupOf(t) == TypeGroup::Text)
      throw EReadError("Invalid property value");
    SetDataType(t);
    return true;
  }
  if (name == "GraphicHeader") return true;
  return TField::ReadProperty(name, value, reader);
}

std::string TMemoField::GetText(bool displayText) const {
  if (!displayText) return AsString();
  return IsNull() || AsString().empty() ? "(Memo)" : "(MEMO)";
}

TField* CreateFieldOfType(TFieldType type, TComponent* owner) {
  switch (type) {
    case ftString: case ftFixedChar: case ftWideString: case ftGuid: {
      auto* f = new TStringField(owner);
      f->SetDataType(type);
      return f;
    }
    case ftSmallint: return new TSmallintField(owner);
    case ftInteger: return new TIntegerField(owner);
    case ftWord: return new TWordField(owner);
    case ftAutoInc: return new TAutoIncField(owner);
    case ftLargeint: return new TLargeintField(owner);
    case ftBoolean: return new TBooleanField(owner);
    case ftFloat: return new TFloatField(owner);
    case ftCurrency: return new TCurrencyField(owner);
    case ftMemo: case ftFmtMemo: case ftOraClob: {
      auto* f = new TMemoField(owner);
      f->SetDataType(type);
      return f;
    }
    case ftGraphic: return new TGraphicField(owner);
    case ftBlob: case ftParadoxOle: case ftDBaseOle: case ftTypedBinary: case ftOraBlob: {
      auto* f = new TBlobField(owner);
      f->SetDataType(type);
      return f;
    }
    case ftBytes: return new TBytesField(owner);
    case ftVarBytes: return new TVarBytesField(owner);
    default: return nullptr;
  }
}

TField* TFields::FindField(std::string_view name) const {
  for (auto* f : list_)
    if (SameText(f->FieldName(), name)) return f;
  // "PARENT.CHILD": look inside the object field named by the first part.
  for (size_t dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.', dot + 1)) {
    for (auto* f : list_)
      if (auto* adt = dynamic_cast<TADTField*>(f); adt && SameText(f->FieldName(), name.substr(0, dot)))
        if (TField* c = adt->ChildFields().FindField(name.substr(dot + 1))) return c;
  }
  return nullptr;
}

TField* TFields::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (!f) DatabaseError("Field '" + std::string(name) + "' not found");
  return f;
}

int TFields::IndexOf(const TField* f) const {
  auto it = std::find(list_.begin(), list_.end(), f);
  return it == list_.end() ? -1 : static_cast<int>(it - list_.begin());
}

}  // namespace fw
