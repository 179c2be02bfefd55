// File access for saving pictures on Windows: created or overwritten without sharing, write access only.
#include <windows.h>

#include "crash/ui/bitmap.h"

namespace rvx {
namespace {

class WinBitmapFileIo : public BitmapFileIo {
 public:
  ~WinBitmapFileIo() override { Close(); }
  bool Create(const std::wstring& path) override {
    file_ = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
  }
  bool Write(const void* data, size_t size) override {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
      DWORD written = 0;
      if (file_ == INVALID_HANDLE_VALUE || !WriteFile(file_, p, chunk, &written, nullptr) || written != chunk)
        return false;
      p += chunk;
      size -= chunk;
    }
    return true;
  }
  bool Close() override {
    if (file_ == INVALID_HANDLE_VALUE) return false;
    const bool ok = CloseHandle(file_) != 0;
    file_ = INVALID_HANDLE_VALUE;
    return ok;
  }
  void Delete(const std::wstring& path) override { DeleteFileW(path.c_str()); }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<BitmapFileIo> MakePlatformBitmapFileIo() { return std::make_unique<WinBitmapFileIo>(); }

}  // namespace rvx
