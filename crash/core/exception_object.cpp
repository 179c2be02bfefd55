#include "crash/core/exception_object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>

#include "framework/exceptions.h"

namespace rvx {

// Unnamed namespaces stay out of the name (the framework's class names follow the same rule): users read it.
std::string ReadableTypeName(std::string_view mangled) {
  std::string raw(mangled.starts_with('*') ? mangled.substr(1) : mangled);
  int status = -1;
  char* readable = abi::__cxa_demangle(raw.c_str(), nullptr, nullptr, &status);
  std::string name = status == 0 && readable ? readable : raw;
  std::free(readable);
  static constexpr std::string_view kUnnamed = "(anonymous namespace)::";
  for (size_t p = name.find(kUnnamed); p != std::string::npos; p = name.find(kUnnamed, p)) name.erase(p, kUnnamed.size());
  return name;
}

std::string TypeName(const std::type_info& type) { return ReadableTypeName(type.name()); }

std::vector<std::string> TypeAncestry(const std::type_info& type) {
  std::vector<const std::type_info*> types{&type};
  for (size_t i = 0; i < types.size(); ++i) {
    std::vector<const std::type_info*> bases;
    if (auto* single = dynamic_cast<const abi::__si_class_type_info*>(types[i]))
      bases.push_back(single->__base_type);
    else if (auto* multi = dynamic_cast<const abi::__vmi_class_type_info*>(types[i]))
      for (unsigned b = 0; b < multi->__base_count; ++b) bases.push_back(multi->__base_info[b].__base_type);
    for (auto* b : bases) {
      bool seen = false;
      for (auto* t : types) seen = seen || *t == *b;
      if (!seen) types.push_back(b);
    }
  }
  std::vector<std::string> names;
  for (auto* t : types) names.push_back(TypeName(*t));
  return names;
}

std::string ExceptClassName(const TExceptObject* e) {
  if (!e) return "Unknown";
  if (!e->type) return e->ownClass.empty() ? "Unknown" : e->ownClass;
  return TypeName(*e->type);
}

bool ExceptInheritsFrom(const TExceptObject* e, std::string_view name) {
  if (!e) return false;
  if (!e->type) return e->ownClass == name || (!e->ownClass.empty() && (name == "Exception"));
  for (const auto& n : TypeAncestry(*e->type))
    if (n == name) return true;
  return false;
}

bool ExceptMessage(const TExceptObject* e, std::string& message) {
  if (!e) return false;
  if (!e->type) {
    message = e->ownMessage;
    return true;
  }
  if (!e->object) return false;
  // The object's std::exception part, found the way a catch clause finds it.
  void* adjusted = e->object;
  if (typeid(std::exception).__do_catch(e->type, &adjusted, 1) && adjusted) {
    message = static_cast<const std::exception*>(adjusted)->what();
    return true;
  }
  return false;
}

namespace {
const std::string kReportedMark(1, '\0');

::Exception* FrameworkException(const TExceptObject* e) {
  if (!e || !e->type || !e->object) return nullptr;
  void* adjusted = e->object;
  if (!typeid(::Exception).__do_catch(e->type, &adjusted, 1)) return nullptr;
  return static_cast<::Exception*>(adjusted);
}
}  // namespace

// Objects of other classes cannot carry the mark: the thread remembers the last one it reported.
thread_local const void* t_reportedObject = nullptr;

void MarkExceptionReported(const TExceptObject* e) {
  if (!e || !e->type) return;
  t_reportedObject = e->object;
  if (::Exception* x = FrameworkException(e)) x->SetMessage(kReportedMark);
}

bool ExceptionMarkedReported(const TExceptObject* e) {
  if (!e) return false;
  if (!e->type) return e->ownMessage == kReportedMark;
  if (e->object && e->object == t_reportedObject) return true;
  ::Exception* x = FrameworkException(e);
  return x && x->Message() == kReportedMark;
}

void ForgetReportedException(const void* object) {
  if (object == t_reportedObject) t_reportedObject = nullptr;
}

ExceptObjectPtr MakeOwnException(std::string message, std::string className) {
  auto e = std::make_shared<TExceptObject>();
  e->ownClass = std::move(className);
  e->ownMessage = std::move(message);
  e->object = e.get();
  return e;
}

ExceptObjectPtr MakeThrownException(void* object, const std::type_info* type) {
  auto e = std::make_shared<TExceptObject>();
  e->object = object;
  e->type = type;
  return e;
}

}  // namespace rvx
