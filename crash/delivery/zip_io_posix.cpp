// File access of the zip writer for the native (non-Windows) build: paths are UTF-16 texts converted to
// UTF-8 file names.
#ifndef _WIN32
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "crash/delivery/zip.h"

namespace rvx {
namespace {

std::string FileNameOf(const std::wstring& path) {
  std::string out;
  for (size_t i = 0; i < path.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(path[i]) & 0xFFFF;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && (path[i + 1] & 0xFC00) == 0xDC00) {
      c = 0x10000 + ((c - 0xD800) << 10) + ((static_cast<uint32_t>(path[++i]) & 0xFFFF) - 0xDC00);
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
              static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      out += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
              static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return out;
}

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
  void CloseArchive() override {
    if (archive_) std::fclose(archive_);
    archive_ = nullptr;
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
