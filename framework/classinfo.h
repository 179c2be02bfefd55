// Class names and ancestry of any C++ class from its type information (the Itanium C++ ABI, which both the
// native compiler and MinGW use). Works for thrown objects of any type: ours, the standard library's, or
// non-class types ("int").
#pragma once
#include <string>
#include <typeinfo>
#include <vector>

namespace fw {

// Readable name of a type: "EAbort", "std::runtime_error", "int". Unnamed namespaces are left out of it (a
// class ELabError declared in one is "ELabError"): users read these names, and the unit is told elsewhere.
std::string ClassName(const std::type_info& type);
// The same from a mangled type name as type information stores it (a leading "*" marks a type local to its
// unit); the mangled name itself when it cannot be read.
std::string ReadableClassName(const char* mangled);

// The type followed by its base classes, nearest first (breadth-first over multiple bases, no repeats).
std::vector<const std::type_info*> ClassAncestry(const std::type_info& type);

// True when the type or one of its ancestors has the given name (exact case).
bool InheritsFrom(const std::type_info& type, const std::string& className);

// Type of the exception being handled in the current catch block, or nullptr.
const std::type_info* CurrentExceptionType();

// Message of the exception being handled: Exception::Message(), std::exception::what(), or empty.
std::string CurrentExceptionMessage();

}  // namespace fw
