// The framework's last resort for showing an exception: a message box naming the exception's class, the
// module and address where it was raised, and its message.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace fw {

// "Exception <class> in module <module> at <address>." (eight lower-case hexadecimal digits; without the
// module and address part when the address is 0), then the message on a line of its own, ending in a full
// stop, when there is one.
std::string ExceptionMessageText(const std::string& className, const std::string& message,
                                 const std::string& moduleName, uintptr_t address);

// The class name and message of an exception: the framework's and the standard library's exceptions carry a
// message, other thrown values only their type's name.
void DescribeException(const std::exception_ptr& exception, std::string& className, std::string& message);

#ifdef _WIN32
// Shows the exception in a message box. A routine of its own that is never inlined: the crash reporter
// takes it over.
void ShowExceptionMessage(const std::exception_ptr& exception, const void* address);
#endif

}  // namespace fw
