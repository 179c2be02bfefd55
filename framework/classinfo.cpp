#include "framework/classinfo.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string_view>

#include "framework/exceptions.h"

namespace fw {

std::string ReadableClassName(const char* mangled) {
  if (*mangled == '*') ++mangled;
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                  std::free);
  if (status != 0 || !demangled) return mangled;
  std::string name = demangled.get();
  static constexpr std::string_view kUnnamed = "(anonymous namespace)::";
  for (size_t p = name.find(kUnnamed); p != std::string::npos; p = name.find(kUnnamed, p))
    name.erase(p, kUnnamed.size());
  return name;
}

std::string ClassName(const std::type_info& type) { return ReadableClassName(type.name()); }

std::vector<const std::type_info*> ClassAncestry(const std::type_info& type) {
  std::vector<const std::type_info*> out{&type};
  for (size_t i = 0; i < out.size(); ++i) {
    auto add = [&](const std::type_info* base) {
      for (auto* seen : out)
        if (*seen == *base) return;
      out.push_back(base);
    };
    if (auto* si = dynamic_cast<const abi::__si_class_type_info*>(out[i])) {
      add(si->__base_type);
    } else if (auto* vmi = dynamic_cast<const abi::__vmi_class_type_info*>(out[i])) {
      for (unsigned b = 0; b < vmi->__base_count; ++b) add(vmi->__base_info[b].__base_type);
    }
  }
  return out;
}

bool InheritsFrom(const std::type_info& type, const std::string& className) {
  for (auto* t : ClassAncestry(type))
    if (ClassName(*t) == className) return true;
  return false;
}

const std::type_info* CurrentExceptionType() { return abi::__cxa_current_exception_type(); }

std::string CurrentExceptionMessage() {
  if (!std::current_exception()) return {};
  try {
    throw;
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return {};
  }
}

}  // namespace fw
