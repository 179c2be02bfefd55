// File access of the zip writer on Windows.
#include <windows.h>

#include "crash/delivery/zip.h"

namespace rvx {
namespace {

const wchar_t* PathOf(const std::wstring& path) { return path.c_str(); }

class Win32ZipIo : public ZipIo {
 public:
  ~Win32ZipIo() override { CloseArchive(); }

  bool CreateArchive(const std::wstring& path) override {
    archive_ = CreateFileW(PathOf(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return archive_ != INVALID_HANDLE_VALUE;
  }
  bool WriteArchive(const void* data, size_t size) override {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(archive_, p, chunk, &written, nullptr) || written != chunk) return false;
      p += chunk;
      size -= chunk;
    }
    return true;
  }
  bool CloseArchive() override {
    if (archive_ == INVALID_HANDLE_VALUE) return false;
    const bool ok = CloseHandle(archive_) != 0;
    archive_ = INVALID_HANDLE_VALUE;
    return ok;
  }
  void DeleteArchive(const std::wstring& path) override { DeleteFileW(PathOf(path)); }

  bool ReadSource(const std::wstring& path, ZipSource& source) override {
    HANDLE f = CreateFileW(PathOf(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = GetFileInformationByHandle(f, &info) && info.nFileSizeHigh == 0 && info.nFileSizeLow < 0x70000000u &&
              !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (ok) {
      source.data.resize(info.nFileSizeLow);
      DWORD done = 0;
      while (ok && done < info.nFileSizeLow) {
        DWORD got = 0;
        ok = ReadFile(f, source.data.data() + done, info.nFileSizeLow - done, &got, nullptr) && got > 0;
        done += got;
      }
    }
    CloseHandle(f);
    if (!ok) return false;
    FILETIME local{};
    SYSTEMTIME t{};
    if (FileTimeToLocalFileTime(&info.ftLastWriteTime, &local) && FileTimeToSystemTime(&local, &t)) {
      DosDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, source.dosDate, source.dosTime);
    } else {
      DosDateTime(1980, 1, 1, 0, 0, 0, source.dosDate, source.dosTime);
    }
    source.attributes = info.dwFileAttributes;
    return true;
  }

 private:
  HANDLE archive_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<ZipIo> MakePlatformZipIo() { return std::make_unique<Win32ZipIo>(); }

}  // namespace rvx
