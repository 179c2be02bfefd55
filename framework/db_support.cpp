#include "framework/db_support.h"

#include "framework/exceptions.h"

namespace fw::dbsupport {

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
TComponent::Method StoredMethod(const Value& value, TReader& reader) {
  if (value.type == ValueType::Nil) return {};
  if (value.type != ValueType::Ident && !value.IsString()) throw EReadError("Invalid property value");
  const std::string& name = value.text;
  const TComponent::Method* m = reader.Root() ? reader.Root()->FindMethod(name) : nullptr;
  if (!m) throw EReadError("Method " + name + " not found");
  return *m;
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

std::string TypeWord(TFieldType t) { return std::string(FieldTypeName(t) + 2); }

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

}  // namespace fw::dbsupport
