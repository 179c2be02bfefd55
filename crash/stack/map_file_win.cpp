// Symbol data of the running process: the process-wide cache keyed by the module file's last-write time, the
// module glue for choosing a source (resource, files beside the module, settings fingerprint) and the
// disassembler's hooks.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "crash/stack/decoder.h"
#include "crash/stack/map_file.h"
#include "crash/stack/module.h"
#include "crash/stack/safe_read.h"
#include "crash/stack/symbol_sources.h"
#include "crash/stack/text.h"

namespace rvx {
namespace {

struct CacheEntry {
  uint32_t dosTime;
  std::shared_ptr<const TMapFile> map;
};

// Used from the thread that composes a report; deliberately without a lock, as that thread may run while
// every other thread is held.
// The report thread, the handling thread (address correction) and listings all ask for symbol data.
std::mutex& CacheMutex() {
  static std::mutex* m = new std::mutex;  // lives until the end of the process
  return *m;
}

std::vector<CacheEntry>& Cache() {
  static std::vector<CacheEntry> cache;
  return cache;
}

bool FileAttributes(const std::string& name, WIN32_FILE_ATTRIBUTE_DATA& out) {
  return GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &out) &&
         !(out.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint32_t DosTimeOf(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileAttributes(name, a) || !FileTimeToLocalFileTime(&a.ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return (uint32_t(date) << 16) | time;
}

uint32_t DayOf(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  FILETIME local;
  if (!FileAttributes(name, a) || !FileTimeToLocalFileTime(&a.ftLastWriteTime, &local)) return 0;
  uint64_t t = (uint64_t(local.dwHighDateTime) << 32) | local.dwLowDateTime;
  return static_cast<uint32_t>(t / (10000000ull * 86400));
}

bool ReadWholeFile(const std::string& name, std::string& bytes) {
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(h, &size) && size.QuadPart < (256ll << 20);
  if (ok) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = bytes.empty() || (ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                           got == bytes.size());
  }
  CloseHandle(h);
  return ok;
}

std::shared_ptr<const TMapFile> Build(Address module, const std::string& fileName) {
  auto map = std::make_shared<TMapFile>();
  try {
    ProcessReader memory;
    SymbolSourceEnv env;
    env.memory = &memory;
    env.module = module;
    env.moduleFileName = fileName;
    env.symbolResource = [module] { return ResourceText(module, L"RVX", L"EXCEPT"); };
    env.minimalFingerprint = [module] { return MinDebugInfoOf(ResourceText(module, MAKEINTRESOURCEW(10), L"ZAVEDO")); };
    env.readFile = ReadWholeFile;
    env.fileDay = DayOf;
    LoadSymbolData(env, *map);
  } catch (...) {
    *map = TMapFile{};
  }
  return map;
}

}  // namespace

std::shared_ptr<const TMapFile> SymbolDataFor(Address address) {
  try {
    Address module = 0;
    if (address == 0) {
      module = static_cast<Address>(reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)));
    } else {
      MEMORY_BASIC_INFORMATION mbi;
      if (VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), &mbi, sizeof mbi) != sizeof mbi ||
          mbi.State != MEM_COMMIT || !mbi.AllocationBase)
        return std::make_shared<TMapFile>();
      module = static_cast<Address>(reinterpret_cast<uintptr_t>(mbi.AllocationBase));
    }
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(module)), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::make_shared<TMapFile>();
    std::string fileName(path, n);
    uint32_t dosTime = DosTimeOf(fileName);
    std::lock_guard<std::mutex> lock(CacheMutex());
    auto& cache = Cache();
    for (size_t i = 0; i < cache.size(); ++i) {
      if (!SameTextNoCase(cache[i].map->moduleFileName, fileName)) continue;
      if (cache[i].dosTime == dosTime && cache[i].map->module == module) return cache[i].map;
      cache[i] = std::move(cache.back());
      cache.pop_back();
      break;
    }
    auto map = Build(module, fileName);
    if (map->valid) cache.push_back({dosTime, map});
    return map;
  } catch (...) {
    return std::make_shared<TMapFile>();
  }
}

bool SymbolInfoAt(Address address, SymbolInfo& out) {
  if (address == 0) address = static_cast<Address>(reinterpret_cast<uintptr_t>(__builtin_return_address(0))) - 1;
  out = SymbolInfo{};
  try {
    auto map = SymbolDataFor(address);
    if (!map->valid) return false;
    out.moduleFileName = map->moduleFileName;
    TMfSegment s = SegmentAt(*map, true, address);
    if (s.valid) out.unit = s.unit;
    LineResult l = LineAt(*map, address);
    out.line = l.line > 0 ? static_cast<uint32_t>(l.line) : 0;
    TMfPublic p = PublicAt(*map, address);
    if (p.valid) {
      out.publicAddress = p.address;
      out.publicName = p.name;
    }
    return s.valid || p.valid;
  } catch (...) {
    return false;
  }
}

std::string RoutineNameAt(Address address) {
  auto map = SymbolDataFor(address);
  return map->valid ? RoutineNameIn(*map, address) : "";
}

void LineNumberAt(Address address, uint32_t& line, Address& lowest, Address& next) {
  if (line != 0 && address >= lowest && address < next) return;
  auto map = SymbolDataFor(address);
  if (!map->valid) {
    line = 0;
    lowest = address;
    next = address + 1;
    return;
  }
  LineNumberIn(*map, address, line, lowest, next);
}

void InstallSymbolHooks() {
  SetFunctionNameHook([](Address a) -> std::wstring {
    std::string name = RoutineNameAt(a);
    return std::wstring(name.begin(), name.end());
  });
  // The listing caches [low, high] inclusive.
  SetLineNumberHook([](Address a, uint32_t& line, Address& low, Address& high) -> bool {
    uint32_t l = 0;
    Address lowest = a, next = a + 1;
    LineNumberAt(a, l, lowest, next);
    line = l;
    low = lowest;
    high = next > lowest ? next - 1 : lowest;
    return l != 0;
  });
}

void FreeSymbolData() {
  std::lock_guard<std::mutex> lock(CacheMutex());
  Cache().clear();
}

namespace {
// Installed with the unit's initialisation; the cache is emptied at its finalisation.
struct SymbolHooksInstaller {
  SymbolHooksInstaller() {
    Cache();  // built first, so that it outlives this object
    InstallSymbolHooks();
  }
  ~SymbolHooksInstaller() { FreeSymbolData(); }
} g_symbolHooksInstaller;
}  // namespace

}  // namespace rvx
