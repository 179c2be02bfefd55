// What the crash reporter knows about an exception object: the thrown C++ object with its type, or an
// object that the crash reporter made itself for a fault that has no C++ object (class "RvxException").
// Class names and ancestry are read from the C++ type information (Itanium ABI, used by GCC and MinGW).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

namespace rvx {

struct TExceptObject {
  void* object = nullptr;                 // the thrown object (its address identifies it)
  const std::type_info* type = nullptr;   // its C++ type; null for an object of the crash reporter
  std::string ownClass;                   // class name of an object of the crash reporter
  std::string ownMessage;                 // its message
};
using ExceptObjectPtr = std::shared_ptr<const TExceptObject>;

// Readable name of a C++ type ("EAbort", "std::runtime_error", "int").
std::string TypeName(const std::type_info& type);
// The same from a type's mangled name as type information stores it (a leading "*" marks a type local to its
// unit); the mangled name itself when it cannot be read.
std::string ReadableTypeName(std::string_view mangled);
// Names of the type and its base classes, nearest first, without repeats.
std::vector<std::string> TypeAncestry(const std::type_info& type);

// Class name: the object's class, "Unknown" without an object.
std::string ExceptClassName(const TExceptObject* e);
// Whether the class or one of its ancestors has the name (exact case).
bool ExceptInheritsFrom(const TExceptObject* e, std::string_view name);
// The message text of objects that carry one (the framework's and the crash reporter's exception classes and
// every std::exception); false for others.
bool ExceptMessage(const TExceptObject* e, std::string& message);

// Reported exceptions of the framework's classes get a message of one zero character, so that a later catch
// of the same object is not reported again as a hidden exception; for objects of other classes the thread
// remembers the last one it reported, until that object is freed (ForgetReportedException).
void MarkExceptionReported(const TExceptObject* e);
bool ExceptionMarkedReported(const TExceptObject* e);
void ForgetReportedException(const void* object);

// An object of the crash reporter for a fault without a C++ object.
ExceptObjectPtr MakeOwnException(std::string message, std::string className = "RvxException");
// A thrown object of the given type.
ExceptObjectPtr MakeThrownException(void* object, const std::type_info* type);

}  // namespace rvx
