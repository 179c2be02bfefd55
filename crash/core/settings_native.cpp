// Host versions of the settings' platform layer (Linux builds: tools, tests, fuzzing): in-memory modules with
// resources stand in for loaded images; the registry is an ordinary process-wide object.
#ifndef _WIN32
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "crash/core/settings.h"
#include "crash/stack/text.h"

namespace rvx::settings_platform {

namespace {
constexpr ModuleHandle kHostProgram = 1;
std::mutex g_registryMutex;
TSettingsRegistry* g_registry = nullptr;
}  // namespace

void ShowMessage(const std::string& text) { std::fprintf(stderr, "Ravex: %s\n", text.c_str()); }

bool ReadRcData(ModuleHandle, std::string_view, std::string&) { return false; }

ModuleHandle ProgramModule() { return kHostProgram; }
ModuleHandle OwnModule() { return kHostProgram; }
ModuleHandle ModuleOfAddress(const void*) { return kHostProgram; }

std::wstring ModuleFileName(ModuleHandle module) {
  if (module != kHostProgram) return {};
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? DecodeUtf8Text(std::string_view(buf, static_cast<size_t>(n))) : std::wstring();
}

std::wstring FileVersionText(ModuleHandle) { return {}; }
std::string ReadVersionVar(ModuleHandle, int32_t) { return {}; }

std::vector<ModuleHandle> ModulesWithSettings() { return {}; }

ModuleHandle DesignHostModule() { return 0; }
const void* ReturnAddressUp(const void*, int, const void* fallback) { return fallback; }

std::wstring ComputerName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return {};
  return AnsiToWide(buf);
}

std::wstring FolderPath(Folder folder) {
  const char* home = getenv("HOME");
  if (!home) return {};
  std::string h = home;
  switch (folder) {
    case Folder::Desktop: return DecodeUtf8Text(h + "/Desktop");
    case Folder::UserAppData: return DecodeUtf8Text(h + "/.local/share");
    case Folder::CommonAppData: return L"/usr/share";
  }
  return {};
}

LocalTime Now() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms};
}

TSettingsRegistry* AcquireRegistry() {
  std::lock_guard<std::mutex> g(g_registryMutex);
  if (!g_registry) g_registry = NewSettingsRegistry();
  ++RegistryRefCount(g_registry);
  return g_registry;
}

void ReleaseRegistry(TSettingsRegistry* registry) {
  std::lock_guard<std::mutex> g(g_registryMutex);
  if (--RegistryRefCount(registry) == 0) {
    DeleteSettingsRegistry(registry);
    if (registry == g_registry) g_registry = nullptr;
  }
}

}  // namespace rvx::settings_platform
#endif
