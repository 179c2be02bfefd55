// Views, identity checks and the parent process for the process's named kernel objects.
#include <windows.h>

#include "crash/core/shared_objects.h"

namespace rvx {

namespace {

bool Committed(const void* view, uint32_t size, bool write) {
  auto p = reinterpret_cast<uintptr_t>(view);
  uint64_t end = uint64_t(p) + size;
  while (p < end) {
    MEMORY_BASIC_INFORMATION mbi{};
    if (VirtualQuery(reinterpret_cast<const void*>(p), &mbi, sizeof mbi) != sizeof mbi) return false;
    DWORD prot = mbi.Protect & 0xFF;
    bool readable = prot == PAGE_READONLY || prot == PAGE_READWRITE || prot == PAGE_WRITECOPY ||
                    prot == PAGE_EXECUTE_READ || prot == PAGE_EXECUTE_READWRITE || prot == PAGE_EXECUTE_WRITECOPY;
    bool writable = prot == PAGE_READWRITE || prot == PAGE_EXECUTE_READWRITE;
    if (mbi.State != MEM_COMMIT || (mbi.Protect & PAGE_GUARD) || !readable || (write && !writable)) return false;
    uintptr_t next = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= p) return false;
    p = next;
  }
  return true;
}

}  // namespace

void* MapSharedView(void* mapping, uint32_t size, bool write) {
  if (!mapping || mapping == INVALID_HANDLE_VALUE || !size) return nullptr;
  void* view = MapViewOfFile(mapping, write ? FILE_MAP_READ | FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, size);
  if (view && !Committed(view, size, write)) {
    UnmapViewOfFile(view);
    view = nullptr;
  }
  return view;
}

bool SameSharedMemory(void* own, void* other, uint32_t size) {
  if (!own || !other || own == other || other == INVALID_HANDLE_VALUE || size < 4) return false;
  auto* mine = static_cast<volatile uint32_t*>(MapSharedView(own, size, true));
  auto* theirs = mine ? static_cast<volatile uint32_t*>(MapSharedView(other, size, false)) : nullptr;
  bool same = false;
  if (theirs) {
    LARGE_INTEGER t{};
    QueryPerformanceCounter(&t);
    uint32_t saved = mine[0];
    uint32_t nonce = static_cast<uint32_t>(t.QuadPart) ^ static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mine));
    mine[0] = nonce;
    same = theirs[0] == nonce;
    mine[0] = ~nonce;
    same = same && theirs[0] == ~nonce;
    mine[0] = saved;
    UnmapViewOfFile(const_cast<uint32_t*>(theirs));
  }
  if (mine) UnmapViewOfFile(const_cast<uint32_t*>(mine));
  return same;
}

uint32_t ParentProcessId() {
  struct BasicInformation {
    LONG exitStatus;
    void* peb;
    ULONG_PTR affinityMask;
    LONG basePriority;
    ULONG_PTR processId;
    ULONG_PTR parentProcessId;
  } info{};
  using QueryFn = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto query = ntdll ? reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
                           GetProcAddress(ntdll, "NtQueryInformationProcess")))
                     : nullptr;
  // Class 0: the basic information.
  if (!query || query(GetCurrentProcess(), 0, &info, sizeof info, nullptr) < 0) return 0;
  return static_cast<uint32_t>(info.parentProcessId);
}

}  // namespace rvx
