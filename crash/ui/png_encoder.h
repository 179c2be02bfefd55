// PNG files of a 32-bit picture: a 256-colour palette image or a 16-level grey image, chosen by a format
// number (see PngFormat), in the container the assistant attaches to report mails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rvx {

// A read-only view of 32-bit pixels: blue, green, red, unused; rows bottom-up, 4 * width bytes each.
struct PixelView {
  int width = 0;
  int height = 0;
  const uint8_t* bits = nullptr;
  const uint8_t* Row(int fromTop) const { return bits + static_cast<size_t>(height - 1 - fromTop) * width * 4; }
};

// Format numbers: 0 = 256-colour palette image; 1 = 16-level grey image; 2..5 = the palette image, unless
// it is longer than PngSizeLimit(format) bytes, then the shorter of it and the grey image. Other numbers
// are taken as 0.
int64_t PngSizeLimit(int format);

// The PNG file of the picture; empty only for an empty picture or when no image data could be produced.
// The picture itself is never changed.
std::string EncodePng(const PixelView& picture, int format);

// The two encodings on their own (empty when compression fails).
std::string EncodePalettePng(const PixelView& picture);
std::string EncodeGreyPng(const PixelView& picture);

// The 16 grey levels of the grey image.
extern const uint8_t kGreyLevels[16];

// The grey value of a pixel: (red * 77 + green * 151 + blue * 28) / 256.
inline uint8_t GreyOf(uint8_t blue, uint8_t green, uint8_t red) {
  return static_cast<uint8_t>((red * 77 + green * 151 + blue * 28) >> 8);
}

// Adler-32 (RFC 1950) of a buffer, starting from 1.
uint32_t Adler32(const void* data, size_t length);

// The PNG container around image rows that are already filtered: signature, IHDR, PLTE, IDAT (zlib stream
// over DeflateBuffer), IEND. `palette` holds 3 bytes per entry. Empty when compression fails.
std::string PngContainer(int width, int height, int bitDepth, std::string_view palette, std::string_view scanlines);

}  // namespace rvx
