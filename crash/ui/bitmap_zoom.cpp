#include "crash/ui/bitmap_zoom.h"

#include <cmath>

namespace rvx {

double MitchellNetravali(double x) {
  if (x < 1) return 7.0 / 6.0 * x * x * x - 2.0 * x * x + 8.0 / 9.0;
  if (x < 2) return -7.0 / 18.0 * x * x * x + 2.0 * x * x - 10.0 / 3.0 * x + 16.0 / 9.0;
  return 0;
}

bool FittedSize(int w, int h, int wantW, int wantH, int& outW, int& outH) {
  if (w <= 0 || h <= 0 || wantW <= 0 || wantH <= 0) return false;
  outW = wantW;
  outH = wantH;
  const int64_t w1 = static_cast<int64_t>(wantH) * w / h;
  const int64_t h1 = static_cast<int64_t>(wantW) * h / w;
  if (wantH < h1 || wantW < w1) {
    if (static_cast<int64_t>(h) * 65536 / wantH < static_cast<int64_t>(w) * 65536 / wantW)
      outH = static_cast<int>(h1);
    else
      outW = static_cast<int>(w1);
  }
  // A very flat or very narrow picture may round one side down to nothing; keep at least one pixel.
  if (outW < 1) outW = 1;
  if (outH < 1) outH = 1;
  return true;
}

namespace {

// Mirrors a position at the picture's edges. A mirrored position of a tiny picture can still fall outside
// (a one-pixel source, two pixels beyond), so the result is clamped as well.
int Mirror(int64_t j, int s) {
  if (j < 0) j = -j;
  if (j >= s) j = 2 * static_cast<int64_t>(s) - 1 - j;
  if (j < 0) j = 0;
  if (j >= s) j = s - 1;
  return static_cast<int>(j);
}

int32_t Fixed(double weight) { return static_cast<int32_t>(std::lround(weight * 65536.0)); }

uint8_t Channel(int64_t sum) {
  if (sum < 0) return 0;
  if (sum > 255 * 65536) return 255;
  return static_cast<uint8_t>(sum >> 16);
}

}  // namespace

std::vector<std::vector<Contributor>> Contributors(int s, int d) {
  std::vector<std::vector<Contributor>> list(static_cast<size_t>(d));
  const int64_t S = s, D = d;
  if (d >= s) {
    const float scale = static_cast<float>(s) / static_cast<float>(d);
    for (int64_t i = 0; i < D; ++i) {
      const double centre = static_cast<double>(i * scale);
      for (int64_t j = (S * i - 3 * D + 1) / D; j <= (S * i + 3 * D - 1) / D; ++j) {
        const double x = std::fabs(centre - static_cast<double>(j));
        if (x < 2) list[i].push_back({Mirror(j, s), Fixed(MitchellNetravali(x))});
      }
    }
  } else {
    const double t = static_cast<double>(d) / static_cast<double>(s);
    for (int64_t i = 0; i < D; ++i) {
      for (int64_t j = (S * (i - 2) - D + 1) / D; j <= (S * (i + 2) + D - 1) / D; ++j) {
        const double x = std::fabs(static_cast<double>(i) - static_cast<double>(j) * t);
        if (x < 2) list[i].push_back({Mirror(j, s), Fixed(MitchellNetravali(x) * t)});
      }
    }
  }
  return list;
}

std::vector<uint8_t> Resample(const PixelView& src, int outW, int outH) {
  std::vector<uint8_t> out(static_cast<size_t>(outW) * static_cast<size_t>(outH) * 4);
  const auto across = Contributors(src.width, outW);
  const auto down = Contributors(src.height, outH);
  // One column of the horizontally filtered picture (blue, green, red per source row, top to bottom).
  std::vector<uint8_t> column(static_cast<size_t>(src.height) * 3);
  for (int x = 0; x < outW; ++x) {
    for (int y = 0; y < src.height; ++y) {
      const uint8_t* row = src.Row(y);
      int64_t b = 0, g = 0, r = 0;
      for (const Contributor& c : across[x]) {
        const uint8_t* px = row + static_cast<size_t>(c.source) * 4;
        b += static_cast<int64_t>(px[0]) * c.weight;
        g += static_cast<int64_t>(px[1]) * c.weight;
        r += static_cast<int64_t>(px[2]) * c.weight;
      }
      column[y * 3] = Channel(b);
      column[y * 3 + 1] = Channel(g);
      column[y * 3 + 2] = Channel(r);
    }
    for (int y = 0; y < outH; ++y) {
      int64_t b = 0, g = 0, r = 0;
      for (const Contributor& c : down[y]) {
        const uint8_t* px = column.data() + static_cast<size_t>(c.source) * 3;
        b += static_cast<int64_t>(px[0]) * c.weight;
        g += static_cast<int64_t>(px[1]) * c.weight;
        r += static_cast<int64_t>(px[2]) * c.weight;
      }
      uint8_t* px = out.data() + (static_cast<size_t>(outH - 1 - y) * outW + x) * 4;  // rows bottom-up
      px[0] = Channel(b);
      px[1] = Channel(g);
      px[2] = Channel(r);
    }
  }
  return out;
}

}  // namespace rvx
