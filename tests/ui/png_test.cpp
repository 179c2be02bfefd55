// PNG files of pictures, read back with a strict reader of our own: container, both encodings, the
// format rule and the colour quantizer.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "crash/ui/colour_quantizer.h"
#include "tests/ui/png_reader.h"
#include "tests/ui/test_pictures.h"

namespace rvx {
namespace {

using test::ReadPng;
using test::SetPixel;

INVBitmap Noise(int w, int h, unsigned seed) {
  INVBitmap b = TINVBitmap::Create(w, h);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < static_cast<size_t>(w) * h * 4; ++i) b->Bits()[i] = (i % 4 == 3) ? 0 : rng() & 0xFF;
  return b;
}

TEST(Adler32, KnownValuesAndLongRuns) {
  EXPECT_EQ(Adler32("", 0), 1u);
  EXPECT_EQ(Adler32("Wikipedia", 9), 0x11E60398u);
  // Long runs of 0xFF stress the deferred reduction; compare with a reduction after every byte.
  const std::string ones(100000, '\xFF');
  uint32_t a = 1, b = 0;
  for (unsigned char c : ones) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  EXPECT_EQ(Adler32(ones.data(), ones.size()), (b << 16) | a);
}

TEST(PngEncoder, TwoColourPaletteImageKeepsFullPaletteAndExactPixels) {
  INVBitmap b = TINVBitmap::Create(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) SetPixel(*b, x, y, (x + y) % 2 ? 200 : 10, (x + y) % 2 ? 30 : 250, 77);
  const auto parts = ReadPng(b->PngBytes(0), 6);
  EXPECT_EQ(parts.types, (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
  EXPECT_EQ(parts.width, 5u);
  EXPECT_EQ(parts.height, 3u);
  EXPECT_EQ(parts.bitDepth, 8);
  EXPECT_EQ(parts.colourType, 3);
  ASSERT_EQ(parts.palette.size(), 768u);
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(parts.scanlines[y * 6], 0) << "filter byte";
    for (int x = 0; x < 5; ++x) {
      const int k = static_cast<uint8_t>(parts.scanlines[y * 6 + 1 + x]);
      const std::string rgb = parts.palette.substr(k * 3, 3);
      EXPECT_EQ(rgb, (x + y) % 2 ? std::string("\xC8\x1E\x4D") : std::string("\x0A\xFA\x4D")) << x << "," << y;
    }
  }
  // Only the two colours are in use; every other entry is black.
  std::set<std::string> entries;
  for (int k = 0; k < 256; ++k) entries.insert(parts.palette.substr(k * 3, 3));
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries.count(std::string(3, '\0')));
}

TEST(PngEncoder, GreyImageUsesNearestLevelsAndPacksTwoPixelsPerByte) {
  // Grey values on and between the levels, with ties (14 lies between 0 and 28, 40 between 28 and 52).
  const int greys[] = {0, 13, 14, 15, 40, 41, 100, 254, 255};
  const int expected[] = {0, 0, 0, 1, 1, 2, 4, 15, 15};
  const int w = 9;
  INVBitmap b = TINVBitmap::Create(w, 1);
  for (int x = 0; x < w; ++x) SetPixel(*b, x, 0, static_cast<uint8_t>(greys[x]), static_cast<uint8_t>(greys[x]), static_cast<uint8_t>(greys[x]));
  const auto parts = ReadPng(b->PngBytes(1), (w + 1) / 2 + 1);
  EXPECT_EQ(parts.bitDepth, 4);
  ASSERT_EQ(parts.palette.size(), 48u);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(parts.palette.substr(k * 3, 3), std::string(3, static_cast<char>(kGreyLevels[k])));
  for (int x = 0; x < w; ++x) {
    const uint8_t byte = static_cast<uint8_t>(parts.scanlines[1 + x / 2]);
    EXPECT_EQ(x % 2 ? byte & 15 : byte >> 4, expected[x]) << "grey " << greys[x];
  }
  EXPECT_EQ(parts.scanlines.back() & 15, 0) << "odd width ends with an empty low half";

  // The grey value weighs red, green and blue as 77, 151 and 28 of 256.
  EXPECT_EQ(GreyOf(0, 0, 255), 76);
  EXPECT_EQ(GreyOf(0, 255, 0), 150);
  EXPECT_EQ(GreyOf(255, 0, 0), 27);

  // Row lengths of narrow pictures: 2 x 1 gives 2 bytes, 3 x 1 gives 3.
  for (int width : {2, 3}) {
    INVBitmap n = TINVBitmap::Create(width, 1);
    for (int x = 0; x < width; ++x) SetPixel(*n, x, 0, 255, 255, 255);
    const auto p = ReadPng(n->PngBytes(1), (width + 1) / 2 + 1);
    EXPECT_EQ(p.scanlines, width == 2 ? std::string("\0\xFF", 2) : std::string("\0\xFF\xF0", 3));
  }
}

TEST(PngEncoder, FormatRuleChoosesByLimitAndNeverChangesThePicture) {
  // Noise: a colour file between the second and the third limit, and a shorter grey one.
  INVBitmap b = Noise(350, 350, 7);
  const std::string before(reinterpret_cast<const char*>(b->Bits()), 350 * 350 * 4);
  const std::string colour = EncodePalettePng(b->View());
  const std::string grey = EncodeGreyPng(b->View());
  ASSERT_GT(colour.size(), 102400u);
  ASSERT_LE(colour.size(), 204800u);
  ASSERT_LT(grey.size(), colour.size());
  EXPECT_EQ(b->PngBytes(0), colour);
  EXPECT_EQ(b->PngBytes(1), grey);
  EXPECT_EQ(b->PngBytes(2), grey);
  EXPECT_EQ(b->PngBytes(3), grey);
  EXPECT_EQ(b->PngBytes(4), colour);
  EXPECT_EQ(b->PngBytes(5), colour);
  EXPECT_EQ(b->PngBytes(99), colour) << "unknown formats are format 0";
  // Encoding, grey included, leaves the colours of the picture alone.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b->Bits()), before.size()), before);

  // A small picture stays in colour under every limit.
  INVBitmap small = test::Gradient(40, 30);
  EXPECT_EQ(small->PngBytes(2), EncodePalettePng(small->View()));
}

TEST(ColourQuantizer, FewColoursInSeparateCellsAreKeptExactly) {
  std::vector<uint8_t> pixels;
  std::set<std::tuple<int, int, int>> colours;
  for (int i = 0; i < 200; ++i) {
    const int r = (i * 37 % 32) * 8 + 3, g = (i * 11 % 32) * 8 + 5, b = (i % 7) * 32 + 1;
    colours.insert({r, g, b});
    for (int n = 0; n < 1 + i % 5; ++n) pixels.insert(pixels.end(), {uint8_t(b), uint8_t(g), uint8_t(r), 0});
  }
  const Palette256 palette = QuantizeColours(pixels.data(), pixels.size() / 4);
  NearestColourMap map(palette);
  for (size_t p = 0; p < pixels.size(); p += 4) {
    const PaletteColour c = palette[map.IndexOf(pixels[p], pixels[p + 1], pixels[p + 2])];
    EXPECT_EQ(c, (PaletteColour{pixels[p + 2], pixels[p + 1], pixels[p]}));
  }
}

TEST(ColourQuantizer, ColourSumsOfHugeScreensDoNotOverflow) {
  // 16 Mi white pixels: the red sum alone is 4.3e9, beyond 32 bits.
  const size_t count = size_t{4096} * 4096;
  std::vector<uint8_t> pixels(count * 4, 255);
  for (size_t i = 0; i < 1000; ++i) pixels[i * 4] = pixels[i * 4 + 1] = pixels[i * 4 + 2] = 0;
  const Palette256 palette = QuantizeColours(pixels.data(), count);
  std::set<std::tuple<int, int, int>> entries;
  for (const auto& c : palette) entries.insert({c.red, c.green, c.blue});
  EXPECT_TRUE(entries.count({255, 255, 255}));
  EXPECT_TRUE(entries.count({0, 0, 0}));
}

TEST(PngEncoder, EmptyPictureGivesNoFile) {
  EXPECT_TRUE(EncodePng(PixelView{}, 0).empty());
  EXPECT_TRUE(EncodePng(PixelView{0, 5, reinterpret_cast<const uint8_t*>("")}, 1).empty());
}

}  // namespace
}  // namespace rvx
