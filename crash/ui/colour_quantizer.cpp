// Wu's colour quantization. The histogram has 33 cells per axis: cell 0 is a zero border so that the
// cumulative moments can be read with inclusion-exclusion, and channel value v falls in cell v / 8 + 1.
// Moments are summed in 64 bits: a virtual screen of several large monitors exceeds 2^31 in the colour sums.
#include "crash/ui/colour_quantizer.h"

#include <cstdlib>

namespace rvx {
namespace {

constexpr int kSide = 33;
constexpr int kCells = kSide * kSide * kSide;
constexpr int kMaxColours = 256;

constexpr int Cell(int r, int g, int b) { return r * kSide * kSide + g * kSide + b; }

// A box of the colour cube: lower bounds exclusive, upper bounds inclusive.
struct Box {
  int r0 = 0, r1 = 0, g0 = 0, g1 = 0, b0 = 0, b1 = 0;
  int Volume() const { return (r1 - r0) * (g1 - g0) * (b1 - b0); }
};

enum Axis { kRed, kGreen, kBlue };

struct Moments {
  std::vector<int64_t> weight, red, green, blue;
  std::vector<double> squares;
  Moments() : weight(kCells), red(kCells), green(kCells), blue(kCells), squares(kCells) {}
};

struct Sums {
  int64_t w = 0, r = 0, g = 0, b = 0;
  Sums operator-(const Sums& o) const { return {w - o.w, r - o.r, g - o.g, b - o.b}; }
  Sums operator+(const Sums& o) const { return {w + o.w, r + o.r, g + o.g, b + o.b}; }
  double SquaredMeanTimesWeight() const {
    return (static_cast<double>(r) * r + static_cast<double>(g) * g + static_cast<double>(b) * b) /
           static_cast<double>(w);
  }
};

// Turns the histogram into cumulative moments: cell (r, g, b) then holds the sums over [1..r]x[1..g]x[1..b].
void Accumulate(Moments& m) {
  for (int r = 1; r < kSide; ++r) {
    // Sums over [1..g] x [1..b] of this red plane, per blue position.
    std::array<int64_t, kSide> aw{}, ar{}, ag{}, ab{};
    std::array<double, kSide> a2{};
    for (int g = 1; g < kSide; ++g) {
      int64_t lw = 0, lr = 0, lg = 0, lb = 0;
      double l2 = 0;
      for (int b = 1; b < kSide; ++b) {
        const int i = Cell(r, g, b);
        lw += m.weight[i]; lr += m.red[i]; lg += m.green[i]; lb += m.blue[i]; l2 += m.squares[i];
        aw[b] += lw; ar[b] += lr; ag[b] += lg; ab[b] += lb; a2[b] += l2;
        const int below = Cell(r - 1, g, b);
        m.weight[i] = m.weight[below] + aw[b];
        m.red[i] = m.red[below] + ar[b];
        m.green[i] = m.green[below] + ag[b];
        m.blue[i] = m.blue[below] + ab[b];
        m.squares[i] = m.squares[below] + a2[b];
      }
    }
  }
}

template <typename T>
T Volume(const Box& c, const std::vector<T>& t) {
  return t[Cell(c.r1, c.g1, c.b1)] - t[Cell(c.r1, c.g1, c.b0)] - t[Cell(c.r1, c.g0, c.b1)] +
         t[Cell(c.r1, c.g0, c.b0)] - t[Cell(c.r0, c.g1, c.b1)] + t[Cell(c.r0, c.g1, c.b0)] +
         t[Cell(c.r0, c.g0, c.b1)] - t[Cell(c.r0, c.g0, c.b0)];
}

Sums BoxSums(const Box& c, const Moments& m) {
  return {Volume(c, m.weight), Volume(c, m.red), Volume(c, m.green), Volume(c, m.blue)};
}

// The sums over the part of the box whose coordinate on `axis` is at most `position`.
Sums LowerPart(Box c, Axis axis, int position, const Moments& m) {
  (axis == kRed ? c.r1 : axis == kGreen ? c.g1 : c.b1) = position;
  return BoxSums(c, m);
}

double Variance(const Box& c, const Moments& m) {
  const Sums s = BoxSums(c, m);
  if (s.w == 0) return 0;
  return Volume(c, m.squares) - s.SquaredMeanTimesWeight();
}

// The cut along one axis that maximises the summed squared means of both halves; cut = -1 when every
// position leaves one half empty.
double BestCut(const Box& c, Axis axis, const Sums& whole, const Moments& m, int& cut) {
  const int first = (axis == kRed ? c.r0 : axis == kGreen ? c.g0 : c.b0) + 1;
  const int last = axis == kRed ? c.r1 : axis == kGreen ? c.g1 : c.b1;
  double best = 0;
  cut = -1;
  for (int i = first; i < last; ++i) {
    const Sums lower = LowerPart(c, axis, i, m);
    if (lower.w == 0) continue;
    const Sums upper = whole - lower;
    if (upper.w == 0) continue;
    const double score = lower.SquaredMeanTimesWeight() + upper.SquaredMeanTimesWeight();
    if (score > best) {
      best = score;
      cut = i;
    }
  }
  return best;
}

// Splits `a` into itself and `b`; false when the best axis is red and red cannot be cut.
bool Split(Box& a, Box& b, const Moments& m) {
  const Sums whole = BoxSums(a, m);
  int cutR, cutG, cutB;
  const double maxR = BestCut(a, kRed, whole, m, cutR);
  const double maxG = BestCut(a, kGreen, whole, m, cutG);
  const double maxB = BestCut(a, kBlue, whole, m, cutB);
  b = a;
  if (maxR >= maxG && maxR >= maxB) {
    if (cutR < 0) return false;
    a.r1 = b.r0 = cutR;
  } else if (maxG >= maxR && maxG >= maxB) {
    a.g1 = b.g0 = cutG;
  } else {
    a.b1 = b.b0 = cutB;
  }
  return true;
}

}  // namespace

Palette256 QuantizeColours(const uint8_t* pixels, size_t count) {
  Palette256 palette{};
  if (!pixels || count == 0) return palette;
  Moments m;
  std::array<double, 256> square{};
  for (int i = 0; i < 256; ++i) square[i] = static_cast<double>(i) * i;
  for (size_t p = 0; p < count; ++p) {
    const uint8_t* px = pixels + p * 4;
    const int b = px[0], g = px[1], r = px[2];
    const int i = Cell((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
    m.weight[i] += 1;
    m.red[i] += r;
    m.green[i] += g;
    m.blue[i] += b;
    m.squares[i] += square[r] + square[g] + square[b];
  }
  Accumulate(m);

  std::array<Box, kMaxColours> boxes{};
  std::array<double, kMaxColours> variance{};
  boxes[0] = {0, kSide - 1, 0, kSide - 1, 0, kSide - 1};
  int used = kMaxColours;
  int next = 0;
  for (int i = 1; i < kMaxColours; ++i) {
    if (Split(boxes[next], boxes[i], m)) {
      variance[next] = boxes[next].Volume() > 1 ? Variance(boxes[next], m) : 0;
      variance[i] = boxes[i].Volume() > 1 ? Variance(boxes[i], m) : 0;
    } else {
      variance[next] = 0;
      --i;  // the same step again with another box
    }
    next = 0;
    double largest = variance[0];
    for (int k = 1; k <= i; ++k)
      if (variance[k] > largest) {
        largest = variance[k];
        next = k;
      }
    if (largest <= 0) {
      used = i + 1;
      break;
    }
  }
  for (int k = 0; k < used; ++k) {
    const Sums s = BoxSums(boxes[k], m);
    if (s.w == 0) continue;
    palette[k] = {static_cast<uint8_t>(s.r / s.w), static_cast<uint8_t>(s.g / s.w), static_cast<uint8_t>(s.b / s.w)};
  }
  return palette;
}

NearestColourMap::NearestColourMap(const Palette256& palette) : palette_(palette), cache_(32768, -1) {}

uint8_t NearestColourMap::IndexOf(uint8_t blue, uint8_t green, uint8_t red) {
  const int key = (blue >> 3) * 1024 + (green >> 3) * 32 + (red >> 3);
  if (cache_[key] >= 0) return static_cast<uint8_t>(cache_[key]);
  int best = 0, bestDistance = 1 << 30;
  for (int k = 0; k < 256; ++k) {
    const PaletteColour& c = palette_[k];
    const int d = std::abs(c.red - red) + std::abs(c.green - green) + std::abs(c.blue - blue);
    if (d < bestDistance) {
      bestDistance = d;
      best = k;
    }
  }
  cache_[key] = static_cast<int16_t>(best);
  return static_cast<uint8_t>(best);
}

}  // namespace rvx
