// Encoding a 1920 x 1080 screen-like picture as a 256-colour PNG (format 0) against PIL's quantize(256) and
// PNG save of the same picture, measured in the same run: best time of several rounds and file size.
// Also the 16-level grey file and format 2's choice for comparison.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "crash/ui/bitmap.h"
#include "tests/ui/test_pictures.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double Best(int rounds, F&& work) {
  double best = 1e30;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

}  // namespace

int main() {
  const rvx::INVBitmap picture = rvx::test::Scene(1920, 1080);
  constexpr int kRounds = 7;
  size_t colourSize = 0, greySize = 0, format2Size = 0;
  const double tColour = Best(kRounds, [&] { colourSize = picture->PngBytes(0).size(); });
  const double tGrey = Best(kRounds, [&] { greySize = picture->PngBytes(1).size(); });
  const double tFormat2 = Best(kRounds, [&] { format2Size = picture->PngBytes(2).size(); });

  const auto bmp = std::filesystem::temp_directory_path() / ("bench_png_" + std::to_string(getpid()) + ".bmp");
  {
    const std::string bytes = picture->BmpBytes();
    std::ofstream(bmp, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const std::string command = "/usr/bin/python3 " RVX_SOURCE_DIR "/bench/png/pil_png.py " + bmp.string() + " " +
                              std::to_string(kRounds) + " 2>/dev/null";
  double tPil = 0;
  long pilSize = 0;
  if (FILE* p = popen(command.c_str(), "r")) {
    if (std::fscanf(p, "%lf %ld", &tPil, &pilSize) != 2) pilSize = 0;
    pclose(p);
  }
  std::filesystem::remove(bmp);

  std::printf("picture 1920x1080 screen-like, best of %d rounds\n", kRounds);
  std::printf("  ours, 256 colours (format 0): %7.1f ms %8zu bytes\n", tColour * 1e3, colourSize);
  std::printf("  ours, 16 greys (format 1):    %7.1f ms %8zu bytes\n", tGrey * 1e3, greySize);
  std::printf("  ours, format 2:               %7.1f ms %8zu bytes\n", tFormat2 * 1e3, format2Size);
  if (pilSize > 0) {
    std::printf("  PIL quantize(256) + PNG save: %7.1f ms %8ld bytes\n", tPil * 1e3, pilSize);
    std::printf("  ratio ours/PIL (256 colours): time %.2f, size %.2f\n", tColour / tPil,
                static_cast<double>(colourSize) / static_cast<double>(pilSize));
  } else {
    std::printf("  PIL (python3-pil) not available: no ratio\n");
  }
  return 0;
}
