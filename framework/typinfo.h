// Published properties at run time: code asks whether an object's class (or an ancestor) publishes a property
// of a name and kind, and reads or sets it by name. Classes register the properties they publish. Portable.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <typeinfo>

#include "framework/component.h"

namespace fw {

enum class TTypeKind { tkBoolean, tkInteger, tkString };

struct TPropInfo {
  std::string name;
  TTypeKind kind;
  std::function<Value(TPersistent&)> get;
  std::function<void(TPersistent&, const Value&)> set;
};

// Makes `info` a published property of the class `cls` (and so of every class derived from it).
void RegisterPropInfo(const std::type_info& cls, TPropInfo info);

// The published property of the object's class or its nearest ancestor that has one of this name (names
// compared ignoring case), or nullptr.
const TPropInfo* GetPropInfo(const TPersistent& object, std::string_view name);
const TPropInfo* GetPropInfo(const TPersistent& object, std::string_view name, TTypeKind kind);

// Boolean properties by name; both throw EPropertyError "Unknown property: X" when the class has none.
bool GetBoolProp(TPersistent& object, std::string_view name);
void SetBoolProp(TPersistent& object, std::string_view name, bool value);

// `inline fw::BoolPropRegistration<TEdit> reg("ReadOnly", &TEdit::ReadOnly, &TEdit::SetReadOnly);`
template <class T>
struct BoolPropRegistration {
  BoolPropRegistration(const char* name, bool (T::*get)() const, void (T::*set)(bool)) {
    RegisterPropInfo(typeid(T),
                     TPropInfo{name, TTypeKind::tkBoolean,
                               [get](TPersistent& o) {
                                 Value v;
                                 v.type = (static_cast<T&>(o).*get)() ? ValueType::True : ValueType::False;
                                 return v;
                               },
                               [set](TPersistent& o, const Value& v) { (static_cast<T&>(o).*set)(BoolValue(v)); }});
  }
};

}  // namespace fw
