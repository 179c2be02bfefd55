// Pictures for the picture tests and the benchmark: gradients and a screen-like scene.
#pragma once

#include <cmath>
#include <cstdint>

#include "crash/ui/bitmap.h"

namespace rvx::test {

// Sets pixel (x, y), y counted from the top.
inline void SetPixel(TINVBitmap& b, int x, int y, uint8_t red, uint8_t green, uint8_t blue) {
  uint8_t* p = b.Bits() + (static_cast<size_t>(b.Height() - 1 - y) * b.Width() + x) * 4;
  p[0] = blue;
  p[1] = green;
  p[2] = red;
  p[3] = 0;
}

// Red across, green down, blue along the diagonal.
inline INVBitmap Gradient(int w, int h) {
  INVBitmap b = TINVBitmap::Create(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      SetPixel(*b, x, y, static_cast<uint8_t>(x * 255 / (w - 1)), static_cast<uint8_t>(y * 255 / (h - 1)),
               static_cast<uint8_t>((x + y) * 255 / (w + h - 2)));
  return b;
}

// A screen-like scene: a desktop with a soft photo-like background (smooth waves plus grain), windows with
// shaded title bars, grey client areas and rows of dark "text" strokes.
inline INVBitmap Scene(int w, int h) {
  INVBitmap b = TINVBitmap::Create(w, h);
  uint32_t seed = 12345;
  auto noise = [&seed] {
    seed = seed * 1103515245 + 12345;
    return static_cast<int>((seed >> 16) & 15) - 8;
  };
  auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double u = x / static_cast<double>(w), v = y / static_cast<double>(h);
      SetPixel(*b, x, y, clamp(90 + 70 * std::sin(u * 7 + v * 3) + noise()),
               clamp(120 + 60 * std::cos(v * 9 - u * 2) + noise()), clamp(160 + 50 * std::sin(u * v * 20) + noise()));
    }
  for (int win = 0; win < 3; ++win) {
    const int x0 = w / 10 + win * w / 5, y0 = h / 8 + win * h / 6, ww = w / 2, wh = h / 2;
    for (int y = y0; y < y0 + wh && y < h; ++y)
      for (int x = x0; x < x0 + ww && x < w; ++x) {
        const int dy = y - y0, dx = x - x0;
        if (dy < 24) {
          SetPixel(*b, x, y, 0, static_cast<uint8_t>(60 + dx * 120 / ww), static_cast<uint8_t>(140 + dx * 100 / ww));
        } else {
          const bool text = dy % 18 > 6 && dy % 18 < 15 && (dx / 7 + dy / 18 + win) % 9 != 0 && dx > 10 &&
                            dx < ww - 30 && ((dx * 7 + dy * 3) % 5) != 0;
          const uint8_t g = text ? 30 : 236;
          SetPixel(*b, x, y, g, g, static_cast<uint8_t>(text ? 30 : 240));
        }
      }
  }
  return b;
}

}  // namespace rvx::test
