// Helpers shared by the dataset units (values, fields, datasets, the client dataset, data sources and links):
// text helpers, the errors they raise, the grouping of field types, and the reading of stored event handlers
// and component references.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "framework/component.h"
#include "framework/db.h"
#include "framework/exceptions.h"

namespace fw::dbsupport {

bool StartsText(std::string_view prefix, std::string_view text);
std::string_view Trim(std::string_view s);  // spaces and tabs at both ends
// The names of a ';'-separated list, trimmed, empty ones left out.
std::vector<std::string> SplitNames(std::string_view list);

[[noreturn]] void InvalidInteger(std::string_view text);  // EConvertError
[[noreturn]] void InvalidFloat(std::string_view text);    // EConvertError
[[noreturn]] void DatabaseError(const std::string& message);

bool IsNumeric(const Variant& v);

// Display name of a type in messages ("Integer" for ftInteger).
std::string TypeWord(TFieldType t);

enum class TypeGroup { Text, Integer, Logical, Float, Bytes, Blob, Memo, Other };
TypeGroup GroupOf(TFieldType t);

// Stored event handlers name a method of the root component ("OnStateChange = DataSource1StateChange").
TComponent::Method StoredMethod(const Value& value, TReader& reader);

// Resolves a stored component reference once the whole stream has been read.
template <class T, class Set>
void StoredReference(const Value& value, TReader& reader, Set set) {
  if (value.type == ValueType::Nil) return set(nullptr);
  if (value.type != ValueType::Ident && !value.IsString()) throw EReadError("Invalid property value");
  std::string name = value.text;
  reader.AddFixup([&reader, name, set] {
    auto* c = dynamic_cast<T*>(reader.FindComponent(name));
    if (!c) throw EReadError("Invalid property value: component " + name + " not found");
    set(c);
  });
}

// Properties of stored fields that the framework reads and ignores.
bool IsIgnoredFieldProperty(std::string_view name);

}  // namespace fw::dbsupport
