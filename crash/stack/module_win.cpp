// Module image helpers for the running process: images in memory, module files, versions, resources, the
// per-thread message windows and method thunks.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "crash/stack/module.h"
#include "crash/stack/safe_read.h"
#include "crash/stack/text.h"

namespace rvx {
namespace {

const ProcessReader& Reader() {
  static const ProcessReader reader;
  return reader;
}

template <typename T>
T* Ptr(Address a) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(a));
}

bool IsNineX() { return (GetVersion() & 0x80000000u) != 0; }

std::string NarrowLow(const wchar_t* w, size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(w[i] & 0xFF);
  return s;
}

bool ModuleFileBytes(Address module, std::string& bytes) {
  size_t size = 0;
  const void* view = MapModuleFile(module, &size);
  if (!view) return false;
  // The view is copied with a guarded read: a file truncated under us must not fault the process.
  bytes.resize(size);
  SIZE_T done = 0;
  bool ok = ReadProcessMemory(GetCurrentProcess(), view, bytes.data(), size, &done) && done == size;
  UnmapModuleFile(view);
  return ok;
}

}  // namespace

const ExportEnvironment& ProcessExportEnvironment() {
  static const ExportEnvironment env = [] {
    ExportEnvironment e;
    e.moduleFile = ModuleFileBytes;
    e.loadedModule = [](const std::string& name) -> Address {
      return static_cast<Address>(reinterpret_cast<uintptr_t>(GetModuleHandleA(name.c_str())));
    };
    e.procAddress = [](Address module, const std::string& name, uint32_t ordinal) -> Address {
      HMODULE h = Ptr<HINSTANCE__>(module);
      FARPROC p = ordinal ? GetProcAddress(h, MAKEINTRESOURCEA(ordinal)) : GetProcAddress(h, name.c_str());
      return static_cast<Address>(reinterpret_cast<uintptr_t>(p));
    };
    return e;
  }();
  return env;
}

bool IsReadable(Address address, uint32_t count) {
  MEMORY_BASIC_INFORMATION mbi;
  if (VirtualQuery(Ptr<void>(address), &mbi, sizeof mbi) != sizeof mbi) return false;
  if (mbi.State != MEM_COMMIT || (mbi.Protect & PAGE_GUARD) || !(mbi.Protect & 0x6E)) return false;
  uint64_t end = uint64_t(reinterpret_cast<uintptr_t>(mbi.BaseAddress)) + mbi.RegionSize;
  return end >= uint64_t(address) + count;
}

Address PeNtHeaders(ModuleHandle module) {
  if (!IsReadable(module, 2)) return 0;
  return PeNtHeaders(Reader(), module);
}
Address PeDataDirectory(ModuleHandle module, int index) { return PeDataDirectory(Reader(), module, index); }
Address PeExportDirectory(ModuleHandle module) { return PeExportDirectory(Reader(), module); }
uint32_t PeImageSize(Address ntHeaders) { return PeImageSize(Reader(), ntHeaders); }
uint32_t PeRvaToFileOffset(Address ntHeaders, uint32_t rva) { return PeRvaToFileOffset(Reader(), ntHeaders, rva); }

const void* MapModuleFile(ModuleHandle module, size_t* size) {
  HANDLE file = INVALID_HANDLE_VALUE;
  if (IsNineX()) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(Ptr<HINSTANCE__>(module), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  } else {
    std::vector<wchar_t> path(32768);
    DWORD n = GetModuleFileNameW(Ptr<HINSTANCE__>(module), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return nullptr;
    file = CreateFileW(path.data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  CloseHandle(file);
  if (!mapping) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  if (size) *size = high ? 0 : low;
  return view;
}

void UnmapModuleFile(const void* view) {
  if (view) UnmapViewOfFile(view);
}

Address ResolveForwarder(ModuleHandle module, uint32_t rva) {
  return ResolveForwarder(Reader(), module, rva, ProcessExportEnvironment());
}
Address ResolveExportByName(ModuleHandle module, const char* name, bool verify) {
  return name ? ResolveExportByName(Reader(), module, name, verify, ProcessExportEnvironment()) : 0;
}
Address ResolveExportByOrdinal(ModuleHandle module, uint32_t ordinal) {
  return ResolveExportByOrdinal(Reader(), module, ordinal, ProcessExportEnvironment());
}
std::string ExportNameAt(ModuleHandle module, Address address, bool demangle) {
  return ExportNameAt(Reader(), module, address, demangle);
}
std::wstring ExportNameAtW(ModuleHandle module, Address address, bool demangle) {
  std::string s = ExportNameAt(module, address, demangle);
  return std::wstring(s.begin(), s.end());
}

bool ModuleFromAddress(Address address, ModuleHandle& module, std::string& fileName) {
  MEMORY_BASIC_INFORMATION mbi;
  if (VirtualQuery(Ptr<void>(address), &mbi, sizeof mbi) != sizeof mbi || mbi.State != MEM_COMMIT ||
      !mbi.AllocationBase)
    return false;
  HMODULE h = static_cast<HMODULE>(mbi.AllocationBase);
  if (IsNineX()) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(h, path, MAX_PATH);
    if (n == 0) return false;
    fileName.assign(path, n);
  } else {
    std::vector<wchar_t> path(32768);
    DWORD n = GetModuleFileNameW(h, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return false;
    fileName = NarrowLow(path.data(), n);
  }
  module = static_cast<Address>(reinterpret_cast<uintptr_t>(h));
  return true;
}

std::wstring FileVersionOfW(const std::wstring& fileName) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(fileName.c_str(), &handle);
  if (!size) return L"";
  std::vector<uint8_t> data(size);
  if (!GetFileVersionInfoW(fileName.c_str(), 0, size, data.data())) return L"";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed &&
      len >= sizeof(VS_FIXEDFILEINFO) && (fixed->dwFileVersionMS || fixed->dwFileVersionLS)) {
    std::string v = FileVersionText(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    return std::wstring(v.begin(), v.end());
  }
  DWORD* translation = nullptr;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &len) ||
      !translation || len < 4)
    return L"";
  wchar_t key[64];
  swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", LOWORD(*translation), HIWORD(*translation));
  wchar_t* value = nullptr;
  if (!VerQueryValueW(data.data(), key, reinterpret_cast<void**>(&value), &len) || !value) return L"";
  return std::wstring(value);
}

std::string FileVersionOf(const std::string& fileName) {
  std::wstring w(fileName.begin(), fileName.end());
  std::wstring v = FileVersionOfW(w);
  return NarrowLow(v.data(), v.size());
}

std::string ResourceText(ModuleHandle module, const wchar_t* type, const wchar_t* name) {
  HMODULE h = Ptr<HINSTANCE__>(module);
  HRSRC res = FindResourceW(h, name, type);
  if (!res) return "";
  DWORD size = SizeofResource(h, res);
  HGLOBAL global = LoadResource(h, res);
  if (!global) return "";
  const void* data = LockResource(global);
  std::string out;
  if (data && size) out.assign(static_cast<const char*>(data), size);
  UnlockResource(global);
  FreeResource(global);
  return out;
}

uint32_t TicksSince(uint32_t startTick) { return TicksBetween(startTick, GetTickCount()); }

uint16_t FreeSystemResourcesPercent(uint16_t) {
  // Only the 9x family has the 16-bit resource heaps.
  return 0;
}

void AllowMessageThroughFilter(void* window, uint32_t message) {
  HMODULE user = GetModuleHandleW(L"user32.dll");
  if (!user) return;
  using FilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  using Filter = BOOL(WINAPI*)(UINT, DWORD);
  if (auto ex = reinterpret_cast<FilterEx>(reinterpret_cast<void*>(GetProcAddress(user, "ChangeWindowMessageFilterEx")))) {
    ex(static_cast<HWND>(window), message, 1 /* MSGFLT_ALLOW */, nullptr);
  } else if (auto f = reinterpret_cast<Filter>(reinterpret_cast<void*>(GetProcAddress(user, "ChangeWindowMessageFilter")))) {
    f(message, 1 /* MSGFLT_ADD */);
  }
}

void* MethodThunk(void* object, void* code) {
  auto* p = static_cast<uint8_t*>(VirtualAlloc(nullptr, 17, MEM_COMMIT, PAGE_EXECUTE_READWRITE));
  if (!p) return nullptr;
  uint32_t obj = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
  uint32_t method = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(code));
  uint32_t slot = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p + 13));
  p[0] = 0x58;  // pop eax (return address)
  p[1] = 0x68;  // push object
  std::memcpy(p + 2, &obj, 4);
  p[6] = 0x50;  // push eax
  p[7] = 0xFF;  // jmp [slot]
  p[8] = 0x25;
  std::memcpy(p + 9, &slot, 4);
  std::memcpy(p + 13, &method, 4);
  FlushInstructionCache(GetCurrentProcess(), p, 17);
  return p;
}

}  // namespace rvx
