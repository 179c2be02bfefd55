// File access of the zip writer for the native (non-Windows) build: paths are UTF-16 texts converted to
// UTF-8 file names.
#ifndef _WIN32
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "crash/delivery/zip.h"
#include "crash/stack/text.h"

namespace rvx {
namespace {

std::string FileNameOf(const std::wstring& path) { return EncodeUtf8Text(path); }

class PosixZipIo : public ZipIo {
 public:
  ~PosixZipIo() override { CloseArchive(); }

  bool CreateArchive(const std::wstring& path) override {
    archive_ = std::fopen(FileNameOf(path).c_str(), "wb");
    return archive_ != nullptr;
  }
  bool WriteArchive(const void* data, size_t size) override {
    return archive_ && std::fwrite(data, 1, size, archive_) == size;
  }
  bool CloseArchive() override {
    if (!archive_) return false;
    // The buffered rest is written here: a failure now means a truncated archive.
    const bool ok = std::fflush(archive_) == 0 && !std::ferror(archive_);
    const bool closed = std::fclose(archive_) == 0;
    archive_ = nullptr;
    return ok && closed;
  }
  void DeleteArchive(const std::wstring& path) override { std::remove(FileNameOf(path).c_str()); }

  bool ReadSource(const std::wstring& path, ZipSource& source) override {
    FILE* f = std::fopen(FileNameOf(path).c_str(), "rb");
    if (!f) return false;
    struct stat st {};
    bool ok = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
      source.data.resize(static_cast<size_t>(st.st_size));
      ok = std::fread(source.data.data(), 1, source.data.size(), f) == source.data.size();
    }
    std::fclose(f);
    if (!ok) return false;
    std::tm local{};
    const time_t t = st.st_mtime;
    localtime_r(&t, &local);
    DosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                source.dosDate, source.dosTime);
    // The MS-DOS attributes a Windows system would report: archive, plus read-only when not writable.
    source.attributes = 0x20 | ((st.st_mode & S_IWUSR) ? 0 : 0x01);
    return true;
  }

 private:
  FILE* archive_ = nullptr;
};

}  // namespace

std::unique_ptr<ZipIo> MakePlatformZipIo() { return std::make_unique<PosixZipIo>(); }

}  // namespace rvx
#endif
