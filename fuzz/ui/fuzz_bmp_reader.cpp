// BitmapFromBmpBytes on arbitrary files. The bytes are copied to an allocation of their exact size, so any
// read past the end is caught. A picture that is read must be one of a size the bytes could hold, must
// survive our own BMP bytes unchanged, and must encode and zoom without faults.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crash/ui/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  rvx::INVBitmap b = rvx::BitmapFromBmpBytes(bytes);
  if (!b) return 0;
  const int64_t pixels = static_cast<int64_t>(b->Width()) * b->Height();
  if (pixels <= 0 || pixels > static_cast<int64_t>(size) * 8) std::abort();  // at least one bit a pixel
  rvx::INVBitmap again = rvx::BitmapFromBmpBytes(b->BmpBytes());
  if (!again || again->Width() != b->Width() || again->Height() != b->Height() ||
      std::memcmp(again->Bits(), b->Bits(), static_cast<size_t>(pixels) * 4) != 0)
    std::abort();
  if (pixels <= 4096) {
    if (b->PngBytes(2).empty()) std::abort();
    if (!b->Zoom(17, 9)) std::abort();
  }
  return 0;
}
