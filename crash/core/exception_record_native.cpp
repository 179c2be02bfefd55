// Host versions of the record's platform layer (Linux builds: tests, tools, fuzzing). Files are written with
// the standard library; there are no windows, dialogs or versions.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>

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

namespace {
class PosixReportFile : public ReportFile {
 public:
  explicit PosixReportFile(int fd) : fd_(fd) {}
  bool Size(uint64_t& size) override {
    struct stat st;
    if (fstat(fd_, &st) != 0 || st.st_size < 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
  }
  bool ReadAt(uint64_t offset, char* dest, size_t count) override {
    while (count > 0) {
      ssize_t got = pread(fd_, dest, count, static_cast<off_t>(offset));
      if (got <= 0) return false;
      dest += got;
      count -= static_cast<size_t>(got);
      offset += static_cast<uint64_t>(got);
    }
    return true;
  }
  bool WriteAt(uint64_t offset, std::string_view bytes) override {
    while (!bytes.empty()) {
      ssize_t written = pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
      if (written <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(written));
      offset += static_cast<uint64_t>(written);
    }
    return true;
  }
  bool Truncate(uint64_t size) override { return ftruncate(fd_, static_cast<off_t>(size)) == 0; }

 private:
  int fd_;
};
}  // namespace

bool UpdateFile(const std::wstring& path, const std::function<bool(ReportFile& file)>& update) {
  std::string p = HostPath(path);
  std::error_code ec;
  auto folder = std::filesystem::path(p).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  int fd = open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  PosixReportFile file(fd);
  bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0 && update(file);
  if (close(fd) != 0) ok = false;
  return ok;
}

std::wstring UserAppDataFolder() { return settings_platform::FolderPath(settings_platform::Folder::UserAppData); }
void PostToWindow(WindowHandle, uint32_t) {}
void SendToWindow(WindowHandle, uint32_t) {}
WindowHandle OpenExceptionBox() { return nullptr; }
bool ProcessBlocked() { return false; }
void Beep() {}
bool AskSaveFileName(IRVException*, WindowHandle, std::wstring&) { return false; }
void RestoreArrowCursor() {}
void CloseThreadHandle(void*) {}
void TellUnavailable(WindowHandle, const std::string& text) {
  std::string line = "Ravex: " + text + "\n";
  fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace rvx::record_platform
#endif
