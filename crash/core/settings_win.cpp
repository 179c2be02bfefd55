// Windows part of the settings: resources, modules, folders, clock, and the per-process registry anchor
// (a named mutex and a named 4-byte shared memory holding the registry's address).
#include <windows.h>
#include <shlobj.h>

#include "crash/core/settings.h"
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

// Everyone may open the named objects.
struct OpenSecurity {
  SECURITY_DESCRIPTOR sd{};
  SECURITY_ATTRIBUTES sa{};
  OpenSecurity() {
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = &sd;
  }
};

std::string Suffix() { return HexText(GetCurrentProcessId()); }

HANDLE LockRegistryMutex() {
  OpenSecurity sec;
  HANDLE m = CreateMutexA(&sec.sa, FALSE, ("RavexSettingsMtx" + Suffix()).c_str());
  if (m) WaitForSingleObject(m, INFINITE);
  return m;
}

void UnlockRegistryMutex(HANDLE m) {
  if (!m) return;
  ReleaseMutex(m);
  CloseHandle(m);
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

TSettingsRegistry* AcquireRegistry() {
  HANDLE mtx = LockRegistryMutex();
  if (!mtx) {
    ShowMessage("internal error (opening settings buffer)");
    return nullptr;
  }
  TSettingsRegistry* registry = nullptr;
  std::string name = "RavexSettingsBuf2" + Suffix();
  if (HANDLE existing = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str())) {
    if (void* view = MapViewOfFile(existing, FILE_MAP_READ, 0, 0, sizeof(void*))) {
      registry = *static_cast<TSettingsRegistry* const*>(view);
      UnmapViewOfFile(view);
    }
    CloseHandle(existing);
  }
  if (!registry) {
    OpenSecurity sec;
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &sec.sa, PAGE_READWRITE, 0, sizeof(void*), name.c_str());
    void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(void*)) : nullptr;
    if (!view) {
      if (mapping) CloseHandle(mapping);
      UnlockRegistryMutex(mtx);
      ShowMessage("internal error (opening settings buffer)");
      return nullptr;
    }
    registry = NewSettingsRegistry();
    RegistryMapping(registry) = mapping;
    *static_cast<TSettingsRegistry**>(view) = registry;
    UnmapViewOfFile(view);
  }
  ++RegistryRefCount(registry);
  UnlockRegistryMutex(mtx);
  return registry;
}

void ReleaseRegistry(TSettingsRegistry* registry) {
  HANDLE mtx = LockRegistryMutex();
  if (--RegistryRefCount(registry) == 0) {
    HANDLE mapping = RegistryMapping(registry);
    DeleteSettingsRegistry(registry);
    if (mapping) CloseHandle(mapping);
  }
  UnlockRegistryMutex(mtx);
}

}  // namespace rvx::settings_platform
