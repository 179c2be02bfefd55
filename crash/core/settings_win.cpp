// Windows part of the settings: resources, modules, folders, clock, and the per-process registry anchor
// (a named mutex and a named shared memory holding the registry's address, a marker and the process id).
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>

#include "crash/core/settings.h"
#include "crash/core/shared_objects.h"
#include "crash/stack/safe_read.h"
#include "crash/stack/text.h"

namespace rvx::settings_platform {

namespace {

bool Readable(const void* address, size_t size) {
  auto p = reinterpret_cast<uintptr_t>(address);
  uintptr_t end = p + size;
  if (p == 0 || end < p) return false;
  while (p < end) {
    MEMORY_BASIC_INFORMATION mbi{};
    if (!VirtualQuery(reinterpret_cast<const void*>(p), &mbi, sizeof mbi) || mbi.State != MEM_COMMIT) return false;
    DWORD prot = mbi.Protect & 0xFF;
    if ((mbi.Protect & PAGE_GUARD) || prot == PAGE_NOACCESS || prot == PAGE_EXECUTE) return false;
    p = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
  }
  return true;
}

HMODULE AsModule(ModuleHandle m) { return reinterpret_cast<HMODULE>(m); }

std::string Suffix() { return HexText(GetCurrentProcessId()); }

// Attaching to and releasing the registry is serialised between the threads of this module by a lock of its
// own and between the modules of the process by the named mutex. Another program of the session can create
// that name first and hold the mutex for ever, so the wait for it is bounded; once it has run out the module
// only tries it from then on. An abandoned mutex belongs to the waiter like a released one.
constexpr DWORD kRegistryMutexWaitMs = 2000;
std::mutex g_moduleGuard;
std::atomic<bool> g_mutexHeldElsewhere{false};
// The registry this module's settings objects use, and how many references they hold (under the guard).
TSettingsRegistry* g_moduleRegistry = nullptr;
uint32_t g_moduleReferences = 0;

class RegistryGuard {
 public:
  RegistryGuard() : local_(g_moduleGuard) {
    mutex_ = CreateMutexA(nullptr, FALSE, ("RavexSettingsMtx" + Suffix()).c_str());
    if (!mutex_) return;
    DWORD r = WaitForSingleObject(mutex_, g_mutexHeldElsewhere ? 0 : kRegistryMutexWaitMs);
    owned_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    if (r == WAIT_TIMEOUT) g_mutexHeldElsewhere = true;
  }
  ~RegistryGuard() {
    if (owned_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
  }
  RegistryGuard(const RegistryGuard&) = delete;
  RegistryGuard& operator=(const RegistryGuard&) = delete;

 private:
  std::lock_guard<std::mutex> local_;
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
};

// The named anchor: the registry's address, then a marker and the process id.
struct RegistryAnchor {
  uint32_t registry;
  uint32_t marker;
  uint32_t processId;
};

// The registry at an address read from the anchor, when it is a registry block that this process made: it
// lies in private writable memory of the process and starts with the stamp of that very block.
TSettingsRegistry* VerifiedRegistry(uint32_t address) {
  if (!address || address % alignof(void*)) return nullptr;
  MEMORY_BASIC_INFORMATION mbi{};
  if (VirtualQuery(reinterpret_cast<const void*>(address), &mbi, sizeof mbi) != sizeof mbi) return nullptr;
  DWORD prot = mbi.Protect & 0xFF;
  uint64_t regionEnd = uint64_t(reinterpret_cast<uintptr_t>(mbi.BaseAddress)) + mbi.RegionSize;
  if (mbi.State != MEM_COMMIT || mbi.Type != MEM_PRIVATE || (mbi.Protect & PAGE_GUARD) ||
      (prot != PAGE_READWRITE && prot != PAGE_EXECUTE_READWRITE) || uint64_t(address) + SettingsRegistrySize() > regionEnd)
    return nullptr;
  TRegistryStamp stamp{};
  if (!SafeRead(address, &stamp, sizeof stamp, nullptr)) return nullptr;
  if (!RegistryStampMatches(stamp, address, GetCurrentProcessId())) return nullptr;
  return reinterpret_cast<TSettingsRegistry*>(static_cast<uintptr_t>(address));
}

}  // namespace

void ShowMessage(const std::string& text) { MessageBoxA(nullptr, text.c_str(), "Ravex", MB_OK | MB_ICONERROR); }

bool ReadRcData(ModuleHandle module, std::string_view name, std::string& data) {
  HRSRC res = FindResourceA(AsModule(module), std::string(name).c_str(), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (!res) return false;
  HGLOBAL h = LoadResource(AsModule(module), res);
  const void* p = h ? LockResource(h) : nullptr;
  if (!p) return false;
  data.assign(static_cast<const char*>(p), SizeofResource(AsModule(module), res));
  return true;
}

ModuleHandle ProgramModule() { return reinterpret_cast<ModuleHandle>(GetModuleHandleW(nullptr)); }

ModuleHandle ModuleOfAddress(const void* address) {
  HMODULE m = nullptr;
  if (!address || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                          GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                      static_cast<LPCWSTR>(address), &m))
    return 0;
  return reinterpret_cast<ModuleHandle>(m);
}

ModuleHandle OwnModule() { return ModuleOfAddress(reinterpret_cast<const void*>(&OwnModule)); }

std::wstring ModuleFileName(ModuleHandle module) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(AsModule(module), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    if (buf.size() > 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::wstring FileVersionText(ModuleHandle module) {
  std::wstring file = ModuleFileName(module);
  DWORD ignored = 0;
  DWORD size = file.empty() ? 0 : GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (!size) return {};
  std::string block(size, '\0');
  if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info || len < sizeof *info)
    return {};
  auto part = [](DWORD v) { return std::to_wstring(v); };
  return part(HIWORD(info->dwFileVersionMS)) + L"." + part(LOWORD(info->dwFileVersionMS)) + L"." +
         part(HIWORD(info->dwFileVersionLS)) + L"." + part(LOWORD(info->dwFileVersionLS));
}

std::string ReadVersionVar(ModuleHandle module, int32_t offset) {
  auto slot = reinterpret_cast<const char* const*>(module + static_cast<uintptr_t>(static_cast<intptr_t>(offset)));
  if (!Readable(slot, sizeof *slot)) return {};
  const char* text = *slot;
  std::string result;
  for (size_t i = 0; i < 4096; ++i) {
    if (!Readable(text + i, 1)) return {};
    if (text[i] == 0) return result;
    result += text[i];
  }
  return {};
}

std::vector<ModuleHandle> ModulesWithSettings() {
  std::vector<ModuleHandle> list;
  SYSTEM_INFO si{};
  GetSystemInfo(&si);
  auto p = reinterpret_cast<uintptr_t>(si.lpMinimumApplicationAddress);
  auto end = reinterpret_cast<uintptr_t>(si.lpMaximumApplicationAddress);
  while (p < end) {
    MEMORY_BASIC_INFORMATION mbi{};
    if (!VirtualQuery(reinterpret_cast<const void*>(p), &mbi, sizeof mbi)) break;
    bool accessible = mbi.State == MEM_COMMIT && !(mbi.Protect & PAGE_GUARD) && (mbi.Protect & 0xFF) != PAGE_NOACCESS;
    if (mbi.BaseAddress == mbi.AllocationBase && accessible && mbi.Type == MEM_IMAGE) {
      auto m = reinterpret_cast<ModuleHandle>(mbi.AllocationBase);
      if (FindResourceA(AsModule(m), "ZAVEDO", MAKEINTRESOURCEA(10))) list.push_back(m);
    }
    uintptr_t next = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= p) break;
    p = next;
  }
  return list;
}

ModuleHandle DesignHostModule() { return reinterpret_cast<ModuleHandle>(GetModuleHandleA("RavexIde_.bpl")); }

const void* ReturnAddressUp(const void* frame, int frames, const void* fallback) {
  auto f = static_cast<const void* const*>(frame);
  const void* address = fallback;
  for (int i = 0; i < frames; ++i) {
    if (!Readable(f, 2 * sizeof(void*))) break;
    auto next = static_cast<const void* const*>(f[0]);
    if (next <= f || !Readable(next, 2 * sizeof(void*))) break;
    f = next;
    address = f[1];
  }
  return address;
}

std::wstring ComputerName() {
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(buf, &n) ? std::wstring(buf, n) : std::wstring();
}

std::wstring FolderPath(Folder folder) {
  int csidl = folder == Folder::Desktop       ? CSIDL_DESKTOPDIRECTORY
              : folder == Folder::UserAppData ? CSIDL_APPDATA
                                              : CSIDL_COMMON_APPDATA;
  wchar_t buf[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buf))) return {};
  return buf;
}

LocalTime Now() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

// The registry that the modules of the process share through the anchor, or, where the anchor's name is
// taken by an object that is not this process's, a registry of this module's own: the settings then work
// as before, only not shared with other modules. The module keeps using the registry it holds references
// to, so all its settings objects share one registry either way.
TSettingsRegistry* AcquireRegistry() {
  RegistryGuard guard;
  if (g_moduleRegistry) {
    ++g_moduleReferences;
    ++RegistryRefCount(g_moduleRegistry);
    return g_moduleRegistry;
  }
  std::string name = "RavexSettingsBuf2" + Suffix();
  SetLastError(0);  // tells a new object from an existing one below
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(RegistryAnchor),
                                      name.c_str());
  bool existed = mapping && GetLastError() == ERROR_ALREADY_EXISTS;
  auto* view = static_cast<RegistryAnchor*>(MapSharedView(mapping, sizeof(RegistryAnchor), true));
  TSettingsRegistry* registry = nullptr;
  if (view && existed) {
    RegistryAnchor anchor;
    std::memcpy(&anchor, view, sizeof anchor);  // read once: the content may change under us
    if (anchor.marker == kSettingsAnchorMarker && anchor.processId == GetCurrentProcessId())
      registry = VerifiedRegistry(anchor.registry);
  }
  if (registry) {
    CloseHandle(mapping);  // the registry keeps the handle of the module that made it
  } else {
    registry = NewSettingsRegistry(GetCurrentProcessId());
    if (view) {
      RegistryAnchor anchor{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(registry)), kSettingsAnchorMarker,
                            GetCurrentProcessId()};
      std::memcpy(view, &anchor, sizeof anchor);
      RegistryMapping(registry) = mapping;
    } else if (mapping) {
      CloseHandle(mapping);
    }
  }
  if (view) UnmapViewOfFile(view);
  ++RegistryRefCount(registry);
  g_moduleRegistry = registry;
  g_moduleReferences = 1;
  return registry;
}

void ReleaseRegistry(TSettingsRegistry* registry) {
  RegistryGuard guard;
  if (registry == g_moduleRegistry && --g_moduleReferences == 0) g_moduleRegistry = nullptr;
  if (--RegistryRefCount(registry) == 0) {
    HANDLE mapping = RegistryMapping(registry);
    DeleteSettingsRegistry(registry);
    if (mapping) CloseHandle(mapping);
  }
}

}  // namespace rvx::settings_platform
