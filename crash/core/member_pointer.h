// What a member function pointer holds under GCC's C++ ABI on x86: the routine's address, or, for a virtual
// routine, 1 + the offset of its slot in the virtual table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rvx {

template <class MemberFunction>
uintptr_t MemberPointer(MemberFunction function) {
  struct {
    uintptr_t pointer;
    ptrdiff_t adjust;
  } raw;
  static_assert(sizeof raw == sizeof function, "member function pointer layout");
  std::memcpy(&raw, &function, sizeof raw);
  return raw.pointer;
}

// The index of a virtual routine's slot in the virtual table; -1 for a routine that is not virtual.
template <class MemberFunction>
int VirtualSlot(MemberFunction function) {
  uintptr_t pointer = MemberPointer(function);
  return pointer & 1 ? static_cast<int>((pointer - 1) / sizeof(void*)) : -1;
}

}  // namespace rvx
