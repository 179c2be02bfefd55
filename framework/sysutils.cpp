#include "framework/sysutils.h"

#include <cstdio>

#include "framework/classinfo.h"

namespace fw {

std::string ExceptionMessageText(const std::string& className, const std::string& message,
                                 const std::string& moduleName, uintptr_t address) {
  std::string text = "Exception " + (className.empty() ? std::string("of unknown type") : className);
  if (address) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(address));
    text += " in module " + (moduleName.empty() ? std::string("?") : moduleName) + " at " + hex;
  }
  text += '.';
  if (!message.empty()) {
    text += "\r\n" + message;
    if (message.back() != '.') text += '.';
  }
  return text;
}

void DescribeException(const std::exception_ptr& exception, std::string& className, std::string& message) {
  className.clear();
  message.clear();
  if (!exception) return;
  if (const std::type_info* type = exception.__cxa_exception_type()) className = ClassName(*type);
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
  }
}

}  // namespace fw
