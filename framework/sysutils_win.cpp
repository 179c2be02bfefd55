#include <windows.h>

#include "framework/sysutils.h"

namespace fw {

__attribute__((noipa)) void ShowExceptionMessage(const std::exception_ptr& exception, const void* address) {
  std::string className, message, moduleName;
  DescribeException(exception, className, message);
  HMODULE module = nullptr;
  char path[MAX_PATH] = {};
  if (address &&
      GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<const char*>(address), &module) &&
      GetModuleFileNameA(module, path, MAX_PATH)) {
    moduleName = path;
    size_t slash = moduleName.find_last_of("\\/");
    if (slash != std::string::npos) moduleName.erase(0, slash + 1);
  }
  std::string text = ExceptionMessageText(className, message, moduleName, reinterpret_cast<uintptr_t>(address));
  MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

}  // namespace fw
