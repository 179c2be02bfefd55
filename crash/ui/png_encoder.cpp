#include "crash/ui/png_encoder.h"

#include <array>
#include <cstdlib>

#include "crash/delivery/deflate.h"
#include "crash/ui/colour_quantizer.h"

namespace rvx {

const uint8_t kGreyLevels[16] = {0, 28, 52, 73, 92, 109, 125, 140, 155, 170, 185, 199, 213, 227, 241, 255};

namespace {

void PutBigEndian(std::string& out, uint32_t v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
  out.append(b, 4);
}

void PutChunk(std::string& out, const char type[4], std::string_view data) {
  PutBigEndian(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.append(type, 4);
  out.append(data);
  PutBigEndian(out, Crc32Of(out.data() + start, out.size() - start));
}

// Index of the level nearest to a grey value; the lower level on ties.
uint8_t NearestGreyLevel(int grey) {
  int best = 0;
  for (int k = 1; k < 16; ++k)
    if (std::abs(kGreyLevels[k] - grey) < std::abs(kGreyLevels[best] - grey)) best = k;
  return static_cast<uint8_t>(best);
}

bool Valid(const PixelView& p) { return p.bits && p.width > 0 && p.height > 0; }

}  // namespace

int64_t PngSizeLimit(int format) {
  switch (format) {
    case 2: return 51200;
    case 3: return 102400;
    case 4: return 204800;
    case 5: return 307200;
    default: return 0;
  }
}

uint32_t Adler32(const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t a = 1, b = 0;
  while (length > 0) {
    // 5552 bytes is the longest run whose sums cannot overflow 32 bits before the reduction.
    const size_t n = length < 5552 ? length : 5552;
    for (size_t i = 0; i < n; ++i) {
      a += p[i];
      b += a;
    }
    a %= 65521;
    b %= 65521;
    p += n;
    length -= n;
  }
  return (b << 16) | a;
}

std::string PngContainer(int width, int height, int bitDepth, std::string_view palette, std::string_view scanlines) {
  const int64_t capacity = DeflateCapacity(static_cast<int64_t>(scanlines.size()));
  if (capacity > INT32_MAX) return {};
  std::string idat("\x78\x01", 2);
  idat.resize(2 + static_cast<size_t>(capacity));
  const int32_t n = DeflateBuffer(scanlines.data(), idat.data() + 2, static_cast<int32_t>(scanlines.size()),
                                  static_cast<int32_t>(capacity), DeflateEffort::kThorough);
  if (n <= 0) return {};
  idat.resize(2 + static_cast<size_t>(n));
  PutBigEndian(idat, Adler32(scanlines.data(), scanlines.size()));

  std::string header;
  PutBigEndian(header, static_cast<uint32_t>(width));
  PutBigEndian(header, static_cast<uint32_t>(height));
  header += static_cast<char>(bitDepth);
  header += '\x03';  // colour type: palette
  header.append(3, '\0');  // compression, filter, interlace

  std::string png("\x89PNG\r\n\x1A\n", 8);
  PutChunk(png, "IHDR", header);
  PutChunk(png, "PLTE", palette);
  PutChunk(png, "IDAT", idat);
  PutChunk(png, "IEND", {});
  return png;
}

std::string EncodePalettePng(const PixelView& picture) {
  if (!Valid(picture)) return {};
  const Palette256 palette =
      QuantizeColours(picture.bits, static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height));
  std::string plte;
  plte.reserve(768);
  for (const PaletteColour& c : palette) {
    plte += static_cast<char>(c.red);
    plte += static_cast<char>(c.green);
    plte += static_cast<char>(c.blue);
  }
  NearestColourMap map(palette);
  const size_t stride = static_cast<size_t>(picture.width) + 1;
  std::string lines(stride * static_cast<size_t>(picture.height), '\0');
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* px = picture.Row(y);
    char* out = lines.data() + stride * y + 1;  // filter byte 0 in front
    for (int x = 0; x < picture.width; ++x, px += 4) out[x] = static_cast<char>(map.IndexOf(px[0], px[1], px[2]));
  }
  return PngContainer(picture.width, picture.height, 8, plte, lines);
}

std::string EncodeGreyPng(const PixelView& picture) {
  if (!Valid(picture)) return {};
  std::string plte;
  for (uint8_t level : kGreyLevels) plte.append(3, static_cast<char>(level));
  std::array<uint8_t, 256> levelOf{};
  for (int g = 0; g < 256; ++g) levelOf[g] = NearestGreyLevel(g);
  const size_t stride = (static_cast<size_t>(picture.width) + 1) / 2 + 1;
  std::string lines(stride * static_cast<size_t>(picture.height), '\0');
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* px = picture.Row(y);
    auto* out = reinterpret_cast<uint8_t*>(lines.data() + stride * y + 1);
    for (int x = 0; x < picture.width; ++x, px += 4) {
      const uint8_t level = levelOf[GreyOf(px[0], px[1], px[2])];
      out[x / 2] |= (x % 2 == 0) ? static_cast<uint8_t>(level << 4) : level;
    }
  }
  return PngContainer(picture.width, picture.height, 4, plte, lines);
}

std::string EncodePng(const PixelView& picture, int format) {
  if (!Valid(picture)) return {};
  if (format < 0 || format > 5) format = 0;
  std::string colour;
  if (format != 1) {
    colour = EncodePalettePng(picture);
    if (!colour.empty() && (format == 0 || static_cast<int64_t>(colour.size()) <= PngSizeLimit(format)))
      return colour;
  }
  std::string grey = EncodeGreyPng(picture);
  if (colour.empty() || (!grey.empty() && grey.size() < colour.size())) return grey;
  return colour;
}

}  // namespace rvx
