// File access for saving pictures in the native (non-Windows) build: paths are UTF-16 texts converted to
// UTF-8 file names.
#ifndef _WIN32
#include <cstdio>

#include "crash/stack/text.h"
#include "crash/ui/bitmap.h"

namespace rvx {
namespace {

class NativeBitmapFileIo : public BitmapFileIo {
 public:
  ~NativeBitmapFileIo() override { Close(); }
  bool Create(const std::wstring& path) override {
    file_ = std::fopen(EncodeUtf8Text(path).c_str(), "wb");
    return file_ != nullptr;
  }
  bool Write(const void* data, size_t size) override { return file_ && std::fwrite(data, 1, size, file_) == size; }
  bool Close() override {
    if (!file_) return false;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }
  void Delete(const std::wstring& path) override { std::remove(EncodeUtf8Text(path).c_str()); }

 private:
  FILE* file_ = nullptr;
};

}  // namespace

std::unique_ptr<BitmapFileIo> MakePlatformBitmapFileIo() { return std::make_unique<NativeBitmapFileIo>(); }

}  // namespace rvx
#endif
