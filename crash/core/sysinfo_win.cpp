// System information read from Windows.
#include <windows.h>
#include <wtsapi32.h>

#include "crash/core/sysinfo.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {
int64_t g_startMs = 0;

bool CounterMs(int64_t& ms) {
  LARGE_INTEGER f, c;
  if (!QueryPerformanceFrequency(&f) || !QueryPerformanceCounter(&c) || f.QuadPart < 1000) return false;
  ms = c.QuadPart / (f.QuadPart / 1000);
  return true;
}
}  // namespace

void RecordStartTime() {
  int64_t ms;
  if (CounterMs(ms)) g_startMs = ms;
}
int64_t StartTimeMs() { return g_startMs; }

std::string ComputerNameText() {
  char name[261] = {};
  DWORD size = 260;
  if (!GetComputerNameA(name, &size)) return {};
  return std::string(name, size);
}

std::string RegistryText(RegistryRoot root, const std::string& key, const std::string& value) {
  HKEY k;
  if (RegOpenKeyExA(root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key.c_str(), 0,
                    KEY_READ, &k) != ERROR_SUCCESS)
    return {};
  DWORD type = 0, size = 0;
  std::string out;
  if (RegQueryValueExA(k, value.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    out.resize(size);
    if (RegQueryValueExA(k, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(out.data()), &size) !=
        ERROR_SUCCESS)
      out.clear();
    else
      out.resize(size);
    if (type == REG_SZ || type == REG_EXPAND_SZ) out.resize(strnlen(out.c_str(), out.size()));
  }
  RegCloseKey(k);
  return out;
}

bool UserIsAdmin() {
  using CheckFn = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (!advapi) advapi = LoadLibraryA("advapi32.dll");
  auto check = advapi ? reinterpret_cast<CheckFn>(GetProcAddress(advapi, "CheckTokenMembership")) : nullptr;
  if (!check) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins))
    return false;
  BOOL member = FALSE;
  bool ok = check(nullptr, admins, &member) && member;
  FreeSid(admins);
  return ok;
}

std::string TerminalClientName() {
  if (OsInfo().is9x || GetSystemMetrics(SM_REMOTESESSION) == 0) return {};
  HMODULE wts = LoadLibraryA("wtsapi32.dll");
  if (!wts) return {};
  using QueryFn = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPSTR*, DWORD*);
  using FreeFn = void(WINAPI*)(PVOID);
  auto query = reinterpret_cast<QueryFn>(GetProcAddress(wts, "WTSQuerySessionInformationA"));
  auto release = reinterpret_cast<FreeFn>(GetProcAddress(wts, "WTSFreeMemory"));
  std::string out;
  LPSTR buffer = nullptr;
  DWORD length = 0;
  if (query && release && query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSClientName, &buffer, &length)) {
    if (length > 1) out.assign(buffer, length - 1);
    release(buffer);
  }
  FreeLibrary(wts);
  return out;
}

std::string OsVersionText() {
  TOS os = OsInfo();
  return WideToAnsi(os.description) + " build " + DecimalText(os.build);
}

std::string OsLanguageText() {
  char name[261] = {};
  if (GetLocaleInfoA(0x800, 0x1001, name, 260) == 0) return {};
  return name;
}

std::string SystemUpTimeText() {
  LARGE_INTEGER f, c;
  if (!QueryPerformanceFrequency(&f) || !QueryPerformanceCounter(&c) || f.QuadPart == 0) return {};
  return DurationText(c.QuadPart / f.QuadPart);
}

std::string ProgramUpTimeText() {
  int64_t now;
  if (g_startMs == 0 || !CounterMs(now)) return {};
  return UpTimeText(now, g_startMs);
}

std::string CpuNameText() {
  return CleanCpuName(
      RegistryText(RegistryRoot::LocalMachine, "hardware\\description\\system\\centralProcessor\\0", "ProcessorNameString"));
}

int CpuCount() {
  std::vector<std::string> names;
  for (int n = 1; n <= 15; ++n) {
    names.push_back(RegistryText(RegistryRoot::LocalMachine,
                                 "hardware\\description\\system\\centralProcessor\\" + std::to_string(n),
                                 "ProcessorNameString"));
    if (names.back().empty()) break;
  }
  return CountProcessors(names);
}

std::string PhysicalMemoryText() {
  using ExFn = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
  auto ex = reinterpret_cast<ExFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GlobalMemoryStatusEx"));
  if (ex) {
    MEMORYSTATUSEX m{};
    m.dwLength = 64;
    if (ex(&m)) return MemoryText(m.ullAvailPhys, m.ullTotalPhys);
    return {};
  }
  MEMORYSTATUS m{};
  m.dwLength = 32;
  GlobalMemoryStatus(&m);
  return MemoryText(m.dwAvailPhys, m.dwTotalPhys);
}

std::string SystemResourcesText() {
  // Only the 9x family has free-resource percentages; no system we run on does.
  return {};
}

std::string DiskFreeText(char drive) {
  if (drive == '\\' || drive == 0) return {};
  char root[4] = {drive, ':', '\\', 0};
  using ExFn = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  auto ex = reinterpret_cast<ExFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA"));
  uint64_t bytes = 0;
  if (ex) {
    ULARGE_INTEGER avail, total, free;
    if (!ex(root, &avail, &total, &free)) return {};
    bytes = free.QuadPart;
  } else {
    DWORD spc, bps, freeClusters, clusters;
    if (!GetDiskFreeSpaceA(root, &spc, &bps, &freeClusters, &clusters)) return {};
    bytes = static_cast<uint64_t>(spc) * bps * freeClusters;
  }
  return DriveFreeText(drive, bytes);
}

std::string DisplayModeText() {
  HDC dc = GetDC(nullptr);
  if (!dc) return {};
  int bits = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
  ReleaseDC(nullptr, dc);
  return DecimalText(GetSystemMetrics(SM_CXSCREEN)) + "x" + DecimalText(GetSystemMetrics(SM_CYSCREEN)) + ", " +
         DecimalText(bits) + " bit";
}

std::string AllocatedMemoryText() {
  uint64_t sum = 0;
  uintptr_t address = 0;
  uintptr_t lastBase = ~uintptr_t(0);
  bool lastIsImage = false;
  MEMORY_BASIC_INFORMATION info;
  while (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == sizeof info) {
    if (info.State == MEM_COMMIT) {
      uintptr_t base = reinterpret_cast<uintptr_t>(info.AllocationBase);
      if (base != lastBase) {
        wchar_t file[MAX_PATH];
        lastBase = base;
        lastIsImage = base && GetModuleFileNameW(reinterpret_cast<HMODULE>(base), file, MAX_PATH) > 0;
      }
      if (!lastIsImage) sum += info.RegionSize;
    }
    uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return SizeText(sum);
}

}  // namespace rvx
