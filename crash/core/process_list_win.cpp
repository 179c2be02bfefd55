// The native system-information call for the process list.
#include <windows.h>

#include "crash/core/process_list.h"

namespace rvx {

bool QuerySystemProcesses(std::vector<ProcessRecord>& out) {
  using QueryFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto query = ntdll ? reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")))
                     : nullptr;
  if (!query) return false;
  constexpr ULONG kSystemProcessInformation = 5;
  ULONG needed = 0;
  uint8_t probe[4];
  query(kSystemProcessInformation, probe, 0, &needed);
  std::vector<uint8_t> buffer;
  LONG status = -1;
  if (needed) {
    buffer.resize(size_t(needed) * 2);
    status = query(kSystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
  }
  for (size_t size = 128 * 1024; status < 0 && size <= 4 * 1024 * 1024; size *= 2) {
    buffer.resize(size);
    status = query(kSystemProcessInformation, buffer.data(), static_cast<ULONG>(size), &needed);
  }
  if (status < 0) return false;
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExA(&v);
  uint32_t offset = v.dwMajorVersion >= 5 ? kThreadRecordsNT5 : kThreadRecordsNT4;
  out = ParseSystemProcesses(buffer.data(), buffer.size(),
                             static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer.data())), offset);
  return true;
}

}  // namespace rvx
