#include "framework/typinfo.h"

#include <map>
#include <typeindex>
#include <vector>

#include "framework/classinfo.h"
#include "framework/exceptions.h"

namespace fw {

namespace {
std::map<std::type_index, std::vector<TPropInfo>>& Registry() {
  static std::map<std::type_index, std::vector<TPropInfo>> registry;
  return registry;
}
}  // namespace

void RegisterPropInfo(const std::type_info& cls, TPropInfo info) {
  auto& list = Registry()[std::type_index(cls)];
  for (auto& p : list)
    if (SameText(p.name, info.name)) {
      p = std::move(info);
      return;
    }
  list.push_back(std::move(info));
}

const TPropInfo* GetPropInfo(const TPersistent& object, std::string_view name) {
  auto& registry = Registry();
  for (const std::type_info* t : ClassAncestry(typeid(object))) {
    auto it = registry.find(std::type_index(*t));
    if (it == registry.end()) continue;
    for (const auto& p : it->second)
      if (SameText(p.name, name)) return &p;
  }
  return nullptr;
}

const TPropInfo* GetPropInfo(const TPersistent& object, std::string_view name, TTypeKind kind) {
  const TPropInfo* p = GetPropInfo(object, name);
  return p && p->kind == kind ? p : nullptr;
}

bool GetBoolProp(TPersistent& object, std::string_view name) {
  const TPropInfo* p = GetPropInfo(object, name, TTypeKind::tkBoolean);
  if (!p) throw EPropertyError("Unknown property: " + std::string(name));
  return BoolValue(p->get(object));
}

void SetBoolProp(TPersistent& object, std::string_view name, bool value) {
  const TPropInfo* p = GetPropInfo(object, name, TTypeKind::tkBoolean);
  if (!p) throw EPropertyError("Unknown property: " + std::string(name));
  Value v;
  v.type = value ? ValueType::True : ValueType::False;
  p->set(object, v);
}

}  // namespace fw
