// Host versions of the record's platform layer (Linux builds: tests, tools, fuzzing). Files are written with
// the standard library; there are no windows, dialogs or versions.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "crash/core/exception_record.h"
#include "crash/stack/text.h"

namespace rvx::record_platform {

namespace {
std::string HostPath(const std::wstring& path) {
  std::string p = EncodeUtf8Text(path);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}
}  // namespace

ReportTime LocalNow() {
  auto t = settings_platform::Now();
  return {t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond};
}
std::wstring ProgramPath() { return settings_platform::ModuleFileName(settings_platform::ProgramModule()); }
std::wstring OwnModulePath() { return ProgramPath(); }
bool FileTime(const std::wstring& path, ReportTime& time) {
  struct stat st;
  if (stat(HostPath(path).c_str(), &st) != 0) return false;
  std::tm tm{};
  localtime_r(&st.st_mtime, &tm);
  time = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0};
  return true;
}
std::string UserName() {
  const char* u = getenv("USER");
  return u ? u : "";
}
std::wstring WindowsFolder() { return {}; }
std::string CommandLineWithArguments() { return {}; }
uint32_t ProcessId() { return static_cast<uint32_t>(getpid()); }
bool Is9x() { return false; }
bool IsNT() { return true; }
std::string ModuleFileVersion(const std::wstring&) { return {}; }
std::string LoadedModuleVersion(const char*) { return {}; }

bool RewriteFile(const std::wstring& path, const std::function<std::string(const std::string& old)>& compose) {
  std::string p = HostPath(path);
  std::error_code ec;
  auto folder = std::filesystem::path(p).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  std::string old;
  {
    std::ifstream in(p, std::ios::binary);
    if (in) {
      std::ostringstream s;
      s << in.rdbuf();
      old = s.str();
    }
  }
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  std::string text = compose(old);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

std::wstring UserAppDataFolder() { return settings_platform::FolderPath(settings_platform::Folder::UserAppData); }
void PostToWindow(WindowHandle, uint32_t) {}
void SendToWindow(WindowHandle, uint32_t) {}
WindowHandle OpenExceptionBox() { return nullptr; }
bool ProcessBlocked() { return false; }
void Beep() {}
bool AskSaveFileName(IRVException*, WindowHandle, std::wstring&) { return false; }
void RestoreArrowCursor() {}

}  // namespace rvx::record_platform
#endif
