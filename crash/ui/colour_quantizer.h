// Colour reduction of a 32-bit picture to a 256-entry palette (Wu's variance-minimising box cuts over a
// 33 x 33 x 33 colour histogram) and the mapping of every pixel to its nearest palette entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rvx {

struct PaletteColour {
  uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const PaletteColour&) const = default;
};

// Always 256 entries; entries of empty boxes and beyond the last box are black.
using Palette256 = std::array<PaletteColour, 256>;

// Pixels are 4 bytes each in the order blue, green, red, unused; `count` pixels in any order.
Palette256 QuantizeColours(const uint8_t* pixels, size_t count);

// Maps pixels to palette indices: the entry with the smallest sum of absolute channel differences (the first
// on ties). The search runs once per 15-bit colour (top five bits of each channel) and is reused for every
// later pixel of that colour class.
class NearestColourMap {
 public:
  explicit NearestColourMap(const Palette256& palette);
  uint8_t IndexOf(uint8_t blue, uint8_t green, uint8_t red);

 private:
  const Palette256& palette_;
  std::vector<int16_t> cache_;  // 32768 entries, -1 = not yet searched
};

}  // namespace rvx
