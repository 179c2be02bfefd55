// Reading BMP files from memory. Every size the file states is checked against the bytes there are before
// anything is read, so a file that is cut short or lies about its sizes gives no picture rather than a fault.
#include <array>
#include <cstring>

#include "crash/ui/bitmap.h"

namespace rvx {
namespace {

uint32_t U32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
uint16_t U16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// One channel described by a bit mask, scaled to 0..255.
struct MaskChannel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit MaskChannel(uint32_t m) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    max = m >> shift;
  }
  uint8_t Of(uint32_t v) const {
    if (!max) return 0;
    return static_cast<uint8_t>(static_cast<uint64_t>((v & mask) >> shift) * 255 / max);
  }
};

}  // namespace

INVBitmap BitmapFromBmpBytes(std::string_view b) {
  if (b.size() < 14 + 40 || b[0] != 'B' || b[1] != 'M') return nullptr;
  const uint64_t pixelOffset = U32(b, 10);
  const uint32_t infoSize = U32(b, 14);
  if (infoSize < 40 || 14 + static_cast<uint64_t>(infoSize) > b.size()) return nullptr;
  const int32_t width = static_cast<int32_t>(U32(b, 18));
  const int32_t rawHeight = static_cast<int32_t>(U32(b, 22));
  const int bpp = U16(b, 28);
  const uint32_t compression = U32(b, 30);
  const uint32_t coloursUsed = U32(b, 46);
  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) return nullptr;
  const bool topDown = rawHeight < 0;
  const int32_t height = topDown ? -rawHeight : rawHeight;
  if (static_cast<int64_t>(width) * height > kMaxBitmapPixels) return nullptr;

  const bool bitFields = compression == 3;
  if (compression != 0 && !(bitFields && (bpp == 16 || bpp == 32))) return nullptr;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return nullptr;

  // Bit-field masks follow a 40-byte header; larger headers carry them inside.
  uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
  if (bpp == 16) {
    masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F;
  }
  size_t tableAt = 14 + static_cast<size_t>(infoSize);
  if (bitFields) {
    if (14 + 40 + 12 > b.size()) return nullptr;
    for (int i = 0; i < 3; ++i) masks[i] = U32(b, 14 + 40 + 4 * i);
    if (infoSize == 40) tableAt += 12;
  }
  const MaskChannel red(masks[0]), green(masks[1]), blue(masks[2]);

  std::array<uint8_t, 4 * 256> palette{};
  if (bpp <= 8) {
    uint64_t count = coloursUsed ? coloursUsed : (1u << bpp);
    if (count > 256) count = 256;
    if (tableAt + count * 4 > b.size()) return nullptr;
    std::memcpy(palette.data(), b.data() + tableAt, count * 4);
  }

  const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
  if (pixelOffset > b.size() || stride * static_cast<uint64_t>(height) > b.size() - pixelOffset) return nullptr;

  INVBitmap bitmap = TINVBitmap::Create(width, height);
  if (!bitmap) return nullptr;
  for (int32_t y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint8_t*>(b.data() + pixelOffset + stride * static_cast<uint64_t>(y));
    const int32_t bottomUpRow = topDown ? height - 1 - y : y;
    uint8_t* out = bitmap->Bits() + static_cast<size_t>(bottomUpRow) * width * 4;
    for (int32_t x = 0; x < width; ++x, out += 4) {
      if (bpp <= 8) {
        const int perByte = 8 / bpp;
        const int shift = 8 - bpp * (x % perByte + 1);
        const int index = (row[x / perByte] >> shift) & ((1 << bpp) - 1);
        std::memcpy(out, palette.data() + index * 4, 3);
      } else if (bpp == 24) {
        std::memcpy(out, row + x * 3, 3);
      } else {
        const uint32_t v = bpp == 16 ? static_cast<uint32_t>(row[x * 2] | row[x * 2 + 1] << 8)
                                     : static_cast<uint32_t>(row[x * 4] | row[x * 4 + 1] << 8 | row[x * 4 + 2] << 16 |
                                                             static_cast<uint32_t>(row[x * 4 + 3]) << 24);
        out[0] = blue.Of(v);
        out[1] = green.Of(v);
        out[2] = red.Of(v);
      }
      out[3] = 0;
    }
  }
  return bitmap;
}

}  // namespace rvx
