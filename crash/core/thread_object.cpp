#include "crash/core/thread_object.h"

#include <cstring>

#include "crash/core/exception_object.h"

namespace rvx {
namespace {

// The kinds of type information objects, told apart by the name of their own class (read through their
// virtual table), which is the same in every module whatever copy of the runtime it carries.
enum class TypeInfoKind { None, Class, SingleBase, MultipleBases };

TypeInfoKind KindOf(const MemoryReader& memory, Address typeInfo) {
  uint32_t vtable = 0, metaType = 0, metaName = 0;
  std::string name;
  if (!memory.Read32(typeInfo, vtable) || vtable < 4 || !memory.Read32(vtable - 4, metaType) ||
      !memory.Read32(metaType + 4, metaName) || !memory.ReadCString(metaName, name, 64))
    return TypeInfoKind::None;
  if (name == "N10__cxxabiv117__class_type_infoE") return TypeInfoKind::Class;
  if (name == "N10__cxxabiv120__si_class_type_infoE") return TypeInfoKind::SingleBase;
  if (name == "N10__cxxabiv121__vmi_class_type_infoE") return TypeInfoKind::MultipleBases;
  return TypeInfoKind::None;
}

}  // namespace

std::vector<std::string> ObjectClassNames(const MemoryReader& memory, Address object, int maxAncestors) {
  std::vector<std::string> names;
  uint32_t vtable = 0, typeInfo = 0;
  if (!object || !memory.Read32(object, vtable) || vtable < 4 || !memory.Read32(vtable - 4, typeInfo)) return names;
  std::vector<Address> types{typeInfo};
  const size_t limit = 1 + static_cast<size_t>(maxAncestors < 0 ? 0 : maxAncestors);
  for (size_t i = 0; i < types.size() && names.size() < limit; ++i) {
    TypeInfoKind kind = KindOf(memory, types[i]);
    uint32_t nameAddress = 0;
    std::string mangled;
    if (kind == TypeInfoKind::None || !memory.Read32(types[i] + 4, nameAddress) ||
        !memory.ReadCString(nameAddress, mangled, 1024) || mangled.empty())
      continue;  // a base that is no type information: its line ends here
    names.push_back(ReadableTypeName(mangled));
    std::vector<Address> bases;
    uint32_t base = 0, count = 0;
    if (kind == TypeInfoKind::SingleBase && memory.Read32(types[i] + 8, base)) {
      bases.push_back(base);
    } else if (kind == TypeInfoKind::MultipleBases && memory.Read32(types[i] + 12, count)) {
      // Base entries: type information, offset and flags; a count beyond what can be asked for is no count.
      for (uint32_t b = 0; b < count && b < limit; ++b)
        if (memory.Read32(types[i] + 16 + 8 * b, base)) bases.push_back(base);
    }
    for (Address b : bases) {
      bool seen = false;
      for (Address t : types) seen = seen || t == b;
      if (!seen && b) types.push_back(b);
    }
  }
  return names;
}

std::string UnqualifiedName(const std::string& readable) {
  // The last "::" outside template arguments.
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i + 1 < readable.size(); ++i) {
    if (readable[i] == '<') ++depth;
    if (readable[i] == '>') --depth;
    if (depth == 0 && readable[i] == ':' && readable[i + 1] == ':') start = i + 2;
  }
  return readable.substr(start);
}

bool IsThreadObject(const MemoryReader& memory, Address parameter, std::string* className) {
  std::vector<std::string> names = ObjectClassNames(memory, parameter);
  for (const std::string& n : names) {
    if (UnqualifiedName(n) != "TThread") continue;
    if (className) *className = names.front();
    return true;
  }
  return false;
}

ExecuteStubBytes MakeExecuteStub(Address original, Address wrapper) {
  ExecuteStubBytes stub = {0xBA, 0, 0, 0, 0, 0xB8, 0, 0, 0, 0, 0xFF, 0xE0};
  std::memcpy(&stub[1], &original, 4);
  std::memcpy(&stub[6], &wrapper, 4);
  return stub;
}

bool IsExecuteStub(const uint8_t* bytes, size_t size, Address* original) {
  if (!bytes || size < 12 || bytes[0] != 0xBA || bytes[5] != 0xB8 || bytes[10] != 0xFF || bytes[11] != 0xE0)
    return false;
  if (original) std::memcpy(original, bytes + 1, 4);
  return true;
}

}  // namespace rvx
