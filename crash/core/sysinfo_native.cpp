// Host stand-ins for the system information (Linux builds: tools, tests, fuzzing).
#ifndef _WIN32
#include <unistd.h>

#include <chrono>

#include "crash/core/sysinfo.h"

namespace rvx {

namespace {
int64_t g_startMs = 0;
int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

void RecordStartTime() { g_startMs = NowMs(); }
int64_t StartTimeMs() { return g_startMs; }

std::string ComputerNameText() {
  char name[261] = {};
  return gethostname(name, 260) == 0 ? name : "";
}
std::string RegistryText(RegistryRoot, const std::string&, const std::string&) { return {}; }
bool UserIsAdmin() { return geteuid() == 0; }
std::string TerminalClientName() { return {}; }
std::string OsVersionText() { return {}; }
std::string OsLanguageText() { return {}; }
std::string SystemUpTimeText() { return {}; }
std::string ProgramUpTimeText() { return g_startMs ? UpTimeText(NowMs(), g_startMs) : std::string(); }
std::string CpuNameText() { return {}; }
int CpuCount() { return 1; }
std::string PhysicalMemoryText() { return {}; }
std::string SystemResourcesText() { return {}; }
std::string DiskFreeText(char) { return {}; }
std::string DisplayModeText() { return {}; }
std::string AllocatedMemoryText() { return {}; }

}  // namespace rvx
#endif
