// Modules loaded after start-up: the library loading routines are replaced in the import tables of every
// module; after a load, the import replacements of the crash reporter (thread creation, work items, the
// loading routines themselves, and whatever else was registered) are applied to every module, which reaches
// the new library and every library it brought along. A slot that holds its replacement already is left
// alone, so modules patched before are not patched twice; a library unloaded and loaded again is patched
// afresh.
#include <windows.h>

#include <mutex>
#include <utility>
#include <vector>

#include "crash/core/hooks.h"
#include "crash/core/import_slots.h"
#include "crash/core/thread_hooks.h"
#include "crash/stack/safe_read.h"

namespace rvx {
namespace {

std::mutex g_lock;
std::vector<std::pair<const void*, const void*>> g_replacements;

using LoadAFn = HMODULE(WINAPI*)(LPCSTR);
using LoadWFn = HMODULE(WINAPI*)(LPCWSTR);
using LoadExAFn = HMODULE(WINAPI*)(LPCSTR, HANDLE, DWORD);
using LoadExWFn = HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD);
LoadAFn g_loadA = nullptr;
LoadWFn g_loadW = nullptr;
LoadExAFn g_loadExA = nullptr;
LoadExWFn g_loadExW = nullptr;

// After a load that succeeded; the loader's last error stays what the load left.
HMODULE Loaded(HMODULE module) {
  if (module) {
    DWORD error = GetLastError();
    PatchLoadedModules();
    SetLastError(error);
  }
  return module;
}

HMODULE WINAPI ReplacementLoadLibraryA(LPCSTR name) { return Loaded(g_loadA(name)); }
HMODULE WINAPI ReplacementLoadLibraryW(LPCWSTR name) { return Loaded(g_loadW(name)); }
HMODULE WINAPI ReplacementLoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  return Loaded(g_loadExA(name, file, flags));
}
HMODULE WINAPI ReplacementLoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  return Loaded(g_loadExW(name, file, flags));
}

template <class Fn>
void Replace(const char* routine, Fn replacement, Fn& original) {
  void* found = nullptr;
  PatchImportedRoutine("kernel32.dll", routine, reinterpret_cast<void*>(replacement), &found);
  if (!found) return;
  original = reinterpret_cast<Fn>(found);
  AddLoadedModuleReplacement(found, reinterpret_cast<void*>(replacement));
}

}  // namespace

std::vector<uintptr_t> PatchableModules() {
  std::vector<uintptr_t> result;
  // The module list of the process (a toolhelp snapshot is much slower under Wine).
  using EnumFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
  auto enumModules = reinterpret_cast<EnumFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32EnumProcessModules")));
  std::vector<HMODULE> modules(256);
  DWORD needed = 0;
  bool listed = false;
  // Libraries may be loaded meanwhile: grow the list until it holds them all.
  for (int attempt = 0; enumModules && attempt < 8; ++attempt) {
    DWORD capacity = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
    if (!enumModules(GetCurrentProcess(), modules.data(), capacity, &needed)) break;
    if (needed <= capacity) {
      modules.resize(needed / sizeof(HMODULE));
      listed = true;
      break;
    }
    modules.resize(needed / sizeof(HMODULE) + 64);
  }
  if (!listed) return {reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr))};
  for (HMODULE m : modules) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(m, path, MAX_PATH);
    if (!IsKernelModuleFile(path)) result.push_back(reinterpret_cast<uintptr_t>(m));
  }
  return result;
}

void AddLoadedModuleReplacement(const void* original, const void* replacement) {
  if (!original || !replacement) return;
  std::lock_guard<std::mutex> g(g_lock);
  for (auto& r : g_replacements)
    if (r.first == original) {
      r.second = replacement;
      return;
    }
  g_replacements.emplace_back(original, replacement);
}

int PatchLoadedModules() {
  std::vector<Address> originals;
  std::vector<uintptr_t> replacements;
  {
    std::lock_guard<std::mutex> g(g_lock);
    for (const auto& r : g_replacements) {
      originals.push_back(static_cast<Address>(reinterpret_cast<uintptr_t>(r.first)));
      replacements.push_back(reinterpret_cast<uintptr_t>(r.second));
    }
  }
  if (originals.empty()) return 0;
  // One walk of each module's import tables for all replacements: this runs after every library load.
  int patched = 0;
  for (uintptr_t m : PatchableModules()) {
    RegionCachingReader memory;
    for (const ImportSlot& s : ImportSlotsHoldingAny(memory, static_cast<Address>(m), originals))
      if (PatchBytes(reinterpret_cast<void*>(static_cast<uintptr_t>(s.slot)), &replacements[s.routine], 4)) ++patched;
  }
  return patched;
}

void InstallModuleLoadHooks() {
  Replace("LoadLibraryA", &ReplacementLoadLibraryA, g_loadA);
  Replace("LoadLibraryW", &ReplacementLoadLibraryW, g_loadW);
  Replace("LoadLibraryExA", &ReplacementLoadLibraryExA, g_loadExA);
  Replace("LoadLibraryExW", &ReplacementLoadLibraryExW, g_loadExW);
}

void RemoveModuleLoadHooks() {
  std::lock_guard<std::mutex> g(g_lock);
  g_replacements.clear();
}

}  // namespace rvx
