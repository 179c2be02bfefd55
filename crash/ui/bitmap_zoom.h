// Resampling of 32-bit pictures with the Mitchell-Netravali cubic (B = C = 1/3), and the size rule that
// fits a picture into a wanted box keeping its proportions.
#pragma once

#include <cstdint>
#include <vector>

#include "crash/ui/png_encoder.h"

namespace rvx {

// The filter kernel for a distance x >= 0.
double MitchellNetravali(double x);

// The size a w x h picture gets when zoomed into wantW x wantH; false when a size is not positive.
bool FittedSize(int w, int h, int wantW, int wantH, int& outW, int& outH);

// One destination pixel's sources along an axis: source positions (already mirrored into range) with
// 16.16 fixed-point weights.
struct Contributor {
  int source;
  int32_t weight;
};
std::vector<std::vector<Contributor>> Contributors(int sourceSize, int destinationSize);

// Resamples `source` into a destination of outW x outH pixels (bottom-up rows, fourth byte 0).
// Sizes must be positive.
std::vector<uint8_t> Resample(const PixelView& source, int outW, int outH);

}  // namespace rvx
