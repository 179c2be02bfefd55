// Recognising the framework's thread objects among thread parameters, and the stubs that route a thread
// class's execute routine through the crash reporter.
//
// A thread parameter is any 32-bit value. It counts as a framework thread object when it points to a C++
// object whose class, or one of up to 15 ancestors, is named "TThread" (any namespace). The class is read
// from the object's virtual table and type information as GCC lays them out on 32-bit x86 (the Itanium C++
// ABI), through a memory reader, so that a parameter that is no object at all is simply not one.
//
// The execute stub is 12 bytes of code: mov edx, original; mov eax, wrapper; jmp eax. The virtual table
// slot of a class's execute routine is pointed at it; the wrapper then receives the thread object in ECX
// (as the routine did) and the original routine in EDX, the register convention of a fastcall routine with
// two arguments.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "crash/stack/memory_reader.h"

namespace rvx {

constexpr int kThreadClassAncestors = 15;

// Readable names of the object's class and its ancestors, nearest first (breadth-first over several bases,
// no repeats), at most 1 + maxAncestors; empty when the address holds no readable object with type
// information.
std::vector<std::string> ObjectClassNames(const MemoryReader& memory, Address object,
                                          int maxAncestors = kThreadClassAncestors);

// "TThread" for "fw::TThread", "Outer::Inner" -> "Inner"; template arguments are left alone.
std::string UnqualifiedName(const std::string& readable);

// Whether the value is a framework thread object; its class name (readable) in `className`.
bool IsThreadObject(const MemoryReader& memory, Address parameter, std::string* className = nullptr);

using ExecuteStubBytes = std::array<uint8_t, 12>;
ExecuteStubBytes MakeExecuteStub(Address original, Address wrapper);
// Whether the bytes are such a stub (of any wrapper); the original routine it carries in `original`.
bool IsExecuteStub(const uint8_t* bytes, size_t size, Address* original = nullptr);

}  // namespace rvx
