#include "framework/db.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "framework/midas_api.h"

namespace fw {
namespace {


bool StartsText(std::string_view prefix, std::string_view text) {
  return prefix.size() <= text.size() && SameText(prefix, text.substr(0, prefix.size()));
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::vector<std::string> SplitNames(std::string_view list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t semi = list.find(';', start);
    if (semi == std::string_view::npos) semi = list.size();
    std::string_view name = Trim(list.substr(start, semi - start));
    if (!name.empty()) out.emplace_back(name);
    start = semi + 1;
  }
  return out;
}

[[noreturn]] void InvalidInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void InvalidFloat(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

[[noreturn]] void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

bool IsNumeric(const Variant& v) {
  return v.kind() == Variant::vInt || v.kind() == Variant::vFloat || v.kind() == Variant::vBool;
}

// Stored event handlers name a method of the root component ("OnStateChange = DataSource1StateChange").
TComponent::Method StoredMethod(const fw::Value& value, TReader& reader) {
  if (value.type == ValueType::Nil) return {};
  if (value.type != ValueType::Ident && !value.IsString()) throw EReadError("Invalid property value");
  const std::string& name = value.text;
  const TComponent::Method* m = reader.Root() ? reader.Root()->FindMethod(name) : nullptr;
  if (!m) throw EReadError("Method " + name + " not found");
  return *m;
}

// Resolves a stored component reference once the whole stream has been read.
template <class T, class Set>
void StoredReference(const fw::Value& value, TReader& reader, Set set) {
  if (value.type == ValueType::Nil) return set(nullptr);
  if (value.type != ValueType::Ident && !value.IsString()) throw EReadError("Invalid property value");
  std::string name = value.text;
  reader.AddFixup([&reader, name, set] {
    auto* c = dynamic_cast<T*>(reader.FindComponent(name));
    if (!c) throw EReadError("Invalid property value: component " + name + " not found");
    set(c);
  });
}

bool IsIgnoredFieldProperty(std::string_view name) {
  static const char* const names[] = {"DisplayFormat", "EditFormat", "Origin", "ProviderFlags", "Transliterate",
                                      "FixedChar", "MaxValue", "MinValue", "Precision", "DefaultExpression",
                                      "ConstraintErrorMessage", "CustomConstraint", "ImportedConstraint",
                                      "AutoGenerateValue", "ValueChecking", "LookupCache", "Tag", "Index"};
  for (const char* n : names)
    if (name == n) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Values and conversions

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

int64_t StrToInt64(std::string_view text) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) InvalidInteger(text);
  uint64_t value = 0;
  const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
  for (char ch : s) {
    int digit;
    if (ch >= '0' && ch <= '9') digit = ch - '0';
    else if (base == 16 && ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
    else if (base == 16 && ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
    else InvalidInteger(text);
    if (value > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) InvalidInteger(text);
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

int32_t StrToInt(std::string_view text) {
  int64_t v = StrToInt64(text);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) InvalidInteger(text);
  return static_cast<int32_t>(v);
}

double StrToFloat(std::string_view text) {
  std::string_view s = Trim(text);
  const char sep = FormatSettings().DecimalSeparator;
  std::string c;  // the number in the C locale's notation
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) c += s[i++];
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) c += s[i++], ++digits;
  if (i < s.size() && s[i] == sep) {
    c += '.';
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) c += s[i++], ++digits;
  }
  if (digits == 0) InvalidFloat(text);
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    c += 'e';
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) c += s[i++];
    size_t expDigits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) c += s[i++], ++expDigits;
    if (expDigits == 0) InvalidFloat(text);
  }
  if (i != s.size()) InvalidFloat(text);
  errno = 0;
  double v = std::strtod(c.c_str(), nullptr);
  if (!std::isfinite(v)) InvalidFloat(text);
  return v;
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s = buf;
  for (char& ch : s)
    if (ch == '.') ch = FormatSettings().DecimalSeparator;
  return s;
}

bool Variant::AsBool() const {
  switch (kind()) {
    case vNull: return false;
    case vBool: return std::get<bool>(v_);
    case vInt: return std::get<int64_t>(v_) != 0;
    case vFloat: return std::get<double>(v_) != 0;
    case vString: {
      const std::string& s = std::get<std::string>(v_);
      if (SameText(s, "True")) return true;
      if (SameText(s, "False")) return false;
      try {
        return StrToInt64(s) != 0;
      } catch (const EConvertError&) {
        throw EConvertError("'" + s + "' is not a valid boolean value");
      }
    }
  }
  return false;
}

int64_t Variant::AsInt() const {
  switch (kind()) {
    case vNull: return 0;
    case vBool: return std::get<bool>(v_) ? 1 : 0;
    case vInt: return std::get<int64_t>(v_);
    case vFloat: {
      double d = std::get<double>(v_);
      if (!std::isfinite(d) || d >= 9.2233720368547758e18 || d < -9.2233720368547758e18)
        InvalidInteger(FloatToStr(d));
      return static_cast<int64_t>(d);
    }
    case vString: return StrToInt64(std::get<std::string>(v_));
  }
  return 0;
}

double Variant::AsFloat() const {
  switch (kind()) {
    case vNull: return 0;
    case vBool: return std::get<bool>(v_) ? 1 : 0;
    case vInt: return static_cast<double>(std::get<int64_t>(v_));
    case vFloat: return std::get<double>(v_);
    case vString: return StrToFloat(std::get<std::string>(v_));
  }
  return 0;
}

std::string Variant::AsString() const {
  switch (kind()) {
    case vNull: return {};
    case vBool: return std::get<bool>(v_) ? "True" : "False";
    case vInt: return std::to_string(std::get<int64_t>(v_));
    case vFloat: return FloatToStr(std::get<double>(v_));
    case vString: return std::get<std::string>(v_);
  }
  return {};
}

namespace {
const char* const kFieldTypeNames[] = {
    "ftUnknown", "ftString", "ftSmallint", "ftInteger", "ftWord", "ftBoolean", "ftFloat", "ftCurrency", "ftBCD",
    "ftDate", "ftTime", "ftDateTime", "ftBytes", "ftVarBytes", "ftAutoInc", "ftBlob", "ftMemo", "ftGraphic",
    "ftFmtMemo", "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor", "ftFixedChar", "ftWideString",
    "ftLargeint", "ftADT", "ftArray", "ftReference", "ftDataSet", "ftOraBlob", "ftOraClob", "ftVariant",
    "ftInterface", "ftIDispatch", "ftGuid", "ftTimeStamp", "ftFMTBcd"};
constexpr int kFieldTypeCount = sizeof kFieldTypeNames / sizeof kFieldTypeNames[0];
static_assert(kFieldTypeCount == ftFMTBcd + 1);

// Display name of a type in messages ("Integer" for ftInteger).
std::string TypeWord(TFieldType t) { return std::string(FieldTypeName(t) + 2); }

enum class TypeGroup { Text, Integer, Logical, Float, Bytes, Blob, Memo, Other };
TypeGroup GroupOf(TFieldType t) {
  switch (t) {
    case ftString: case ftFixedChar: case ftWideString: case ftGuid: return TypeGroup::Text;
    case ftSmallint: case ftInteger: case ftWord: case ftAutoInc: case ftLargeint: return TypeGroup::Integer;
    case ftBoolean: return TypeGroup::Logical;
    case ftFloat: case ftCurrency: return TypeGroup::Float;
    case ftBytes: case ftVarBytes: return TypeGroup::Bytes;
    case ftBlob: case ftGraphic: case ftParadoxOle: case ftDBaseOle: case ftTypedBinary: case ftOraBlob:
      return TypeGroup::Blob;
    case ftMemo: case ftFmtMemo: case ftOraClob: return TypeGroup::Memo;
    default: return TypeGroup::Other;
  }
}
}  // namespace

const char* FieldTypeName(TFieldType type) {
  return type >= 0 && type < kFieldTypeCount ? kFieldTypeNames[type] : "ftUnknown";
}

bool FieldTypeFromName(std::string_view name, TFieldType& type) {
  for (int i = 0; i < kFieldTypeCount; ++i)
    if (SameText(name, kFieldTypeNames[i])) {
      type = static_cast<TFieldType>(i);
      return true;
    }
  return false;
}

// ---------------------------------------------------------------------------------------------------------
// Fields

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

// ---------------------------------------------------------------------------------------------------------
// Datasets

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
// Client dataset over the engine

namespace {
std::string& LibraryName() {
  static std::string name = "MIDAS.DLL";
  return name;
}
}  // namespace

void SetMidasLibraryName(std::string name) { LibraryName() = std::move(name); }
const std::string& MidasLibraryName() { return LibraryName(); }

struct TClientDataSet::Engine {
  const MidasApi& api;
  midas_table* table = nullptr;
  std::vector<midas_column> columns;

  explicit Engine(const MidasApi& a) : api(a) {}
  ~Engine() {
    if (table) api.midas_free(table);
  }
  void Check(int rc) const {
    if (rc != MIDAS_OK) DatabaseError(api.midas_last_error());
  }
  Variant Read(int row, int fieldNo) const {
    midas_value v{};
    Check(api.midas_get_value(table, row, fieldNo - 1, &v));
    if (v.is_null) return {};
    switch (columns[static_cast<size_t>(fieldNo - 1)].type) {
      case MIDAS_T_INT: case MIDAS_T_UINT: return Variant(v.i);
      case MIDAS_T_BOOL: return Variant(v.i != 0);
      case MIDAS_T_FLOAT: return Variant(v.f);
      default: return Variant(std::string(v.data ? v.data : "", v.size));
    }
  }
};

TClientDataSet::TClientDataSet(TComponent* owner) : TDataSet(owner) {}

TClientDataSet::~TClientDataSet() {
  SetDestroying();
  if (Active()) Close();
}

namespace {
// Engine column for a field type; false when the engine has no such column.
bool ColumnOfType(const TFieldDef& def, midas_column& c) {
  c = midas_column{};
  c.name = def.Name.c_str();
  c.attributes = def.Required ? MIDAS_A_REQUIRED : 0;
  if (def.ReadOnly) c.attributes |= MIDAS_A_READONLY;
  switch (GroupOf(def.DataType)) {
    case TypeGroup::Text:
      c.type = MIDAS_T_STRING, c.varying = 1, c.max_length = static_cast<uint32_t>(def.Size > 0 ? def.Size : 20);
      return true;
    case TypeGroup::Integer:
      c.type = def.DataType == ftWord ? MIDAS_T_UINT : MIDAS_T_INT;
      c.width = def.DataType == ftSmallint || def.DataType == ftWord ? 2 : def.DataType == ftLargeint ? 8 : 4;
      return true;
    case TypeGroup::Logical: c.type = MIDAS_T_BOOL, c.width = 2; return true;
    case TypeGroup::Float: c.type = MIDAS_T_FLOAT, c.width = 8; return true;
    case TypeGroup::Memo: c.type = MIDAS_T_MEMO, c.varying = 1, c.width = 4; return true;
    case TypeGroup::Blob: c.type = MIDAS_T_BLOB, c.varying = 1, c.width = 4; return true;
    case TypeGroup::Bytes:
      c.type = MIDAS_T_BYTES;
      if (def.DataType == ftVarBytes) c.varying = 1, c.max_length = static_cast<uint32_t>(std::max(def.Size, 0));
      else c.width = static_cast<uint16_t>(std::clamp(def.Size, 1, 0xFFFF));
      return true;
    default: return false;
  }
}

TFieldDef DefOfColumn(const midas_column& c) {
  TFieldDef d;
  d.Name = c.name;
  d.Required = (c.attributes & MIDAS_A_REQUIRED) != 0;
  d.ReadOnly = (c.attributes & MIDAS_A_READONLY) != 0;
  d.Hidden = (c.attributes & MIDAS_A_HIDDEN) != 0;
  switch (c.type) {
    case MIDAS_T_INT: d.DataType = c.width <= 2 ? ftSmallint : c.width == 4 ? ftInteger : ftLargeint; break;
    case MIDAS_T_UINT: d.DataType = c.width <= 2 ? ftWord : ftLargeint; break;
    case MIDAS_T_BOOL: d.DataType = ftBoolean; break;
    case MIDAS_T_FLOAT: d.DataType = ftFloat; break;
    case MIDAS_T_STRING:
      // Text without a length limit is a memo.
      if (c.max_length == 0) d.DataType = ftMemo;
      else d.DataType = ftString, d.Size = static_cast<int>(std::min<uint32_t>(c.max_length, 0x7FFFFFFF));
      break;
    case MIDAS_T_BYTES:
      d.DataType = c.varying ? ftVarBytes : ftBytes;
      d.Size = static_cast<int>(c.varying ? c.max_length : c.width);
      break;
    case MIDAS_T_MEMO: d.DataType = ftMemo; break;
    default: d.DataType = ftBlob; break;
  }
  return d;
}
}  // namespace

void TClientDataSet::InternalOpen() {
  const MidasApi& api = LoadMidas(MidasLibraryName());
  auto engine = std::make_unique<Engine>(api);
  if (createFromDefs_) {
    std::vector<midas_column> cols(static_cast<size_t>(FieldDefs().Count()));
    for (int i = 0; i < FieldDefs().Count(); ++i)
      if (!ColumnOfType(FieldDefs()[i], cols[static_cast<size_t>(i)]))
        DatabaseError("Field type " + std::string(FieldTypeName(FieldDefs()[i].DataType)) + " of field '" +
                      FieldDefs()[i].Name + "' is not supported");
    engine->Check(api.midas_create(cols.data(), static_cast<int>(cols.size()), &engine->table));
  } else {
    if (data_.empty()) DatabaseError(Name() + ": Missing data provider or data packet");
    if (data_.size() > 0xFFFFFFFFu) DatabaseError("Table image too large");
    engine->Check(api.midas_open_image(data_.data(), static_cast<uint32_t>(data_.size()), &engine->table));
  }
  int n = api.midas_column_count(engine->table);
  FieldDefs().Clear();
  for (int i = 0; i < n; ++i) {
    midas_column c{};
    engine->Check(api.midas_get_column(engine->table, i, &c));
    engine->columns.push_back(c);
    TFieldDef d = DefOfColumn(c);
    FieldDefs().Add(d.Name, d.DataType, d.Size, d.Required);
    const_cast<TFieldDef&>(FieldDefs()[i]).ReadOnly = d.ReadOnly;
    const_cast<TFieldDef&>(FieldDefs()[i]).Hidden = d.Hidden;
  }
  engine_ = std::move(engine);
}

void TClientDataSet::InternalClose() { engine_.reset(); }

int TClientDataSet::InternalRowCount() const { return engine_ ? engine_->api.midas_row_count(engine_->table) : 0; }

Variant TClientDataSet::InternalGetValue(int row, int fieldNo) const { return engine_->Read(row, fieldNo); }

Variant TClientDataSet::InternalGetBufferValue(int fieldNo) const { return engine_->Read(MIDAS_BUFFER, fieldNo); }

void TClientDataSet::InternalSetBufferValue(int fieldNo, const Variant& v) {
  const midas_column& c = engine_->columns[static_cast<size_t>(fieldNo - 1)];
  midas_value mv{};
  std::string bytes;
  mv.is_null = v.IsNull();
  if (!mv.is_null) {
    switch (c.type) {
      case MIDAS_T_INT: case MIDAS_T_UINT: mv.i = v.AsInt(); break;
      case MIDAS_T_BOOL: mv.i = v.AsBool(); break;
      case MIDAS_T_FLOAT: mv.f = v.AsFloat(); break;
      default:
        bytes = v.AsString();
        if (bytes.size() > 0xFFFFFFFFu) DatabaseError("Value too large");
        mv.data = bytes.data();
        mv.size = static_cast<uint32_t>(bytes.size());
        break;
    }
  }
  engine_->Check(engine_->api.midas_set_value(engine_->table, fieldNo - 1, &mv));
}

void TClientDataSet::InternalBeginInsert(int row) {
  engine_->Check(engine_->api.midas_insert(engine_->table, row));
}

void TClientDataSet::InternalBeginEdit(int row) { engine_->Check(engine_->api.midas_edit(engine_->table, row)); }

int TClientDataSet::InternalPost() {
  int row = 0;
  engine_->Check(engine_->api.midas_post(engine_->table, &row));
  return row;
}

void TClientDataSet::InternalCancel() { engine_->Check(engine_->api.midas_cancel(engine_->table)); }

void TClientDataSet::InternalDelete(int row) { engine_->Check(engine_->api.midas_delete(engine_->table, row)); }

TBookmark TClientDataSet::InternalBookmark(int row) const {
  uint32_t id = engine_ ? engine_->api.midas_row_id(engine_->table, row) : 0;
  if (id == 0) return {};
  TBookmark b(4, '\0');
  for (int i = 0; i < 4; ++i) b[static_cast<size_t>(i)] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return b;
}

int TClientDataSet::InternalBookmarkRow(const TBookmark& bookmark) const {
  if (!engine_ || bookmark.size() != 4) return -1;
  uint32_t id = 0;
  for (int i = 0; i < 4; ++i) id |= static_cast<uint32_t>(static_cast<uint8_t>(bookmark[static_cast<size_t>(i)])) << (8 * i);
  return engine_->api.midas_row_of_id(engine_->table, id);
}

std::string TClientDataSet::Data() const {
  if (!engine_) return data_;
  uint32_t size = 0;
  engine_->api.midas_save_image(engine_->table, nullptr, 0, &size);
  std::string image(size, '\0');
  engine_->Check(engine_->api.midas_save_image(engine_->table, image.data(), size, &size));
  return image;
}

void TClientDataSet::SetData(std::string image) {
  bool reopen = Active();
  if (reopen) Close();
  data_ = std::move(image);
  createFromDefs_ = false;
  if (reopen) Open();
}

void TClientDataSet::CreateDataSet() {
  if (Active()) Close();
  if (FieldDefs().Count() == 0) {
    ForEachField(Fields(), [this](TField* f) {
      if (f->FieldKind() == fkData && f->DataType() != ftADT)
        FieldDefs().Add(f->FullName(), f->DataType(), f->Size(), f->Required());
    });
    if (FieldDefs().Count() == 0) DatabaseError(Name() + ": Missing data provider or data packet");
  }
  createFromDefs_ = true;
  try {
    Open();
  } catch (...) {
    createFromDefs_ = false;
    throw;
  }
  createFromDefs_ = false;
  data_.clear();
}

int TClientDataSet::RecordStatus() const {
  if (!engine_ || State() == dsInsert) return State() == dsInsert ? MIDAS_RS_INSERTED : 0;
  int row = ReadRow();
  int s = row < 0 ? 0 : engine_->api.midas_row_state(engine_->table, row);
  return s < 0 ? 0 : s;
}

int TClientDataSet::ChangeCount() const {
  return engine_ ? engine_->api.midas_change_count(engine_->table) : 0;
}

bool TClientDataSet::ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) {
  if (name == "Data") {
    if (value.type != ValueType::Binary) throw EReadError("Invalid property value");
    data_ = value.bytes;
    return true;
  }
  if (name == "FieldDefs") {
    if (value.type != ValueType::Collection) throw EReadError("Invalid property value");
    FieldDefs().Clear();
    for (const auto& item : value.items) {
      TFieldDef d;
      for (const auto& p : item.properties) {
        if (p.name == "Name") d.Name = StringValue(p.value);
        else if (p.name == "DataType") {
          if (!FieldTypeFromName(p.value.text, d.DataType)) throw EReadError("Invalid property value");
        } else if (p.name == "Size") d.Size = static_cast<int>(IntegerValue(p.value));
        else if (p.name == "Attributes") {
          for (const auto& a : p.value.set) {
            if (a == "faRequired") d.Required = true;
            if (a == "faReadonly") d.ReadOnly = true;
            if (a == "faHiddenCol") d.Hidden = true;
          }
        }
      }
      FieldDefs().Add(d.Name, d.DataType, d.Size, d.Required);
    }
    return true;
  }
  // Collections and settings this dataset keeps no use for.
  if (name == "Aggregates" || name == "Params" || name == "IndexDefs") {
    if (value.type != ValueType::Collection) throw EReadError("Invalid property value");
    return true;
  }
  if (name == "StoreDefs" || name == "AggregatesActive" || name == "FetchOnDemand" || name == "DisableStringTrim")
    return BoolValue(value), true;
  if (name == "ProviderName" || name == "FileName" || name == "IndexName" || name == "IndexFieldNames" ||
      name == "MasterFields" || name == "Filter")
    return true;
  if (name == "PacketRecords") return IntegerValue(value), true;
  return TDataSet::ReadProperty(name, value, reader);
}

// ---------------------------------------------------------------------------------------------------------
// Data sources

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  SetDestroying();
  bool quiet = Owner() && Owner()->Destroying();
  for (auto* link : std::vector<TDataLink*>(links_)) {
    link->dataSource_ = nullptr;
    if (quiet) link->active_ = link->editing_ = false;
    else link->UpdateActive();
  }
  links_.clear();
  if (dataSet_) dataSet_->RemoveDataSource(this);
  dataSet_ = nullptr;
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) {
    dataSet_->RemoveDataSource(this);
    RemoveFreeNotification(dataSet_);
  }
  dataSet_ = dataSet;
  if (dataSet_) {
    dataSet_->AddDataSource(this);
    FreeNotification(dataSet_);
  }
  UpdateState();
  UpdateLinks();
}

void TDataSource::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  UpdateState();
  UpdateLinks();
}

bool TDataSource::Quiet() const { return Destroying() || (Owner() && Owner()->Destroying()); }

void TDataSource::UpdateLinks() {
  for (auto* link : std::vector<TDataLink*>(links_)) {
    if (!Quiet()) {
      link->DataEvent(TDataEvent::UpdateState, 0);
    } else if (!(enabled_ && dataSet_ && dataSet_->Active())) {
      link->active_ = link->editing_ = false;
    }
  }
}

void TDataSource::Edit() {
  if (autoEdit_ && dataSet_ && state_ == dsBrowse) dataSet_->Edit();
}

void TDataSource::Notification(TComponent* component, Operation operation) {
  TComponent::Notification(component, operation);
  if (operation == Operation::Remove && component == dataSet_) SetDataSet(nullptr);
}

void TDataSource::UpdateState() {
  TDataSetState s = enabled_ && dataSet_ ? dataSet_->State() : dsInactive;
  if (s == state_) return;
  state_ = s;
  if (OnStateChange && !Quiet()) OnStateChange(this);
}

void TDataSource::AddLink(TDataLink* link) { links_.push_back(link); }

void TDataSource::RemoveLink(TDataLink* link) { links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end()); }

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (Quiet()) {
    if (event == TDataEvent::UpdateState) UpdateLinks();
    return;
  }
  if (event == TDataEvent::UpdateState) UpdateState();
  if (!enabled_ && event != TDataEvent::UpdateState) return;
  for (auto* link : std::vector<TDataLink*>(links_)) {
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) continue;
    link->DataEvent(event, info);
    if (event == TDataEvent::FocusControl && *reinterpret_cast<TField**>(info) == nullptr) return;
  }
  switch (event) {
    case TDataEvent::FieldChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::RecordChange:
    case TDataEvent::DataSetChange:
    case TDataEvent::DataSetScroll:
    case TDataEvent::LayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case TDataEvent::UpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

bool TDataSource::ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) {
  if (name == "DataSet") {
    StoredReference<TDataSet>(value, reader, [this](TDataSet* ds) { SetDataSet(ds); });
    return true;
  }
  if (name == "Enabled") return SetEnabled(BoolValue(value)), true;
  if (name == "AutoEdit") return SetAutoEdit(BoolValue(value)), true;
  if (name == "OnStateChange") return OnStateChange = StoredMethod(value, reader), true;
  if (name == "OnUpdateData") return OnUpdateData = StoredMethod(value, reader), true;
  if (name == "OnDataChange") {
    auto m = StoredMethod(value, reader);
    OnDataChange = m ? std::function<void(TComponent*, TField*)>([m](TComponent* s, TField*) { m(s); }) : nullptr;
    return true;
  }
  return TComponent::ReadProperty(name, value, reader);
}

// ---------------------------------------------------------------------------------------------------------
// Data links

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (dataSource_) dataSource_->RemoveLink(this);
  TDataSet* ds = DataSet();
  if (ds && ds->ReadRowOverride() >= 0) ds->SetReadRowOverride(-1);
}

TDataSet* TDataLink::DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_) dataSource_->RemoveLink(this);
  dataSource_ = source;
  if (dataSource_) dataSource_->AddLink(this);
  UpdateActive();
  UpdateEditing();
}

void TDataLink::SetReadOnly(bool v) {
  if (v == readOnly_) return;
  readOnly_ = v;
  UpdateEditing();
}

void TDataLink::SetBufferCount(int count) {
  bufferCount_ = std::max(1, count);
  if (active_) FollowCurrent();
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  if (!active_ || !ds) return 0;
  int row = ds->ReadRowOverride() >= 0 ? ds->ReadRowOverride() : ds->CurrentRow();
  return std::max(0, row - first_);
}

void TDataLink::SetActiveRecord(int index) {
  TDataSet* ds = DataSet();
  if (!active_ || !ds) return;
  int row = first_ + index;
  ds->SetReadRowOverride(row == ds->CurrentRow() ? -1 : row);
}

int TDataLink::RecordCount() const {
  TDataSet* ds = DataSet();
  if (!active_ || !ds) return 0;
  return std::clamp(ds->RowCount() - first_, 0, bufferCount_);
}

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

int TDataLink::MoveBy(int distance) {
  TDataSet* ds = DataSet();
  return active_ && ds ? ds->MoveBy(distance) : 0;
}

bool TDataLink::Bof() const { return !active_ || DataSet()->Bof(); }
bool TDataLink::Eof() const { return !active_ || DataSet()->Eof(); }

int TDataLink::FollowCurrent() {
  TDataSet* ds = DataSet();
  int old = first_;
  if (!active_ || !ds) {
    first_ = 0;
    return 0;
  }
  int total = ds->RowCount();
  int cur = ds->CurrentRow();
  if (cur < 0) {
    first_ = 0;
  } else {
    if (cur < first_) first_ = cur;
    else if (cur >= first_ + bufferCount_) first_ = cur - bufferCount_ + 1;
    // Keep the window full when records went away below it.
    if (first_ + bufferCount_ > total) first_ = std::max(0, std::min(first_, total - bufferCount_));
  }
  return first_ - old;
}

void TDataLink::UpdateActive() {
  TDataSet* ds = DataSet();
  bool active = dataSource_ && dataSource_->Enabled() && ds && ds->Active();
  if (active == active_) return;
  active_ = active;
  first_ = 0;
  if (active_) FollowCurrent();
  ActiveChanged();
}

void TDataLink::UpdateEditing() {
  TDataSet* ds = DataSet();
  bool editing = active_ && !readOnly_ && ds && (ds->State() == dsEdit || ds->State() == dsInsert);
  if (editing == editing_) return;
  editing_ = editing;
  EditingChanged();
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  if (event == TDataEvent::UpdateState) {
    UpdateActive();
    if (active_) FollowCurrent();
    UpdateEditing();
    return;
  }
  if (!active_) return;
  switch (event) {
    case TDataEvent::FieldChange: RecordChanged(reinterpret_cast<TField*>(info)); break;
    case TDataEvent::RecordChange: RecordChanged(nullptr); break;
    case TDataEvent::DataSetChange:
      FollowCurrent();
      DataSetChanged();
      break;
    case TDataEvent::LayoutChange:
      FollowCurrent();
      LayoutChanged();
      break;
    case TDataEvent::DataSetScroll: DataSetScrolled(FollowCurrent()); break;
    case TDataEvent::UpdateRecord:
      if (!updating_) UpdateRecord();
      break;
    case TDataEvent::CheckBrowseMode: CheckBrowseMode(); break;
    case TDataEvent::FocusControl: FocusControl(reinterpret_cast<TField**>(info)); break;
    default: break;
  }
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
