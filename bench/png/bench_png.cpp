// Encoding 1920 x 1080 pictures as 256-colour PNG files (format 0) against PIL's quantize(256) and PNG save of
// the same picture, measured in the same run: best time of several rounds, file size, and the PSNR of both
// decoded pictures against the source. Pictures: a synthetic screen-like scene, a smooth colour gradient
// (the hardest case for 256 colours) and a real desktop grabbed from a private X display with application
// windows (bench/png/desktop_picture.sh; skipped when the X programs are missing). The 16-level grey file
// and format 2's choice are shown for comparison.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "crash/ui/bitmap.h"
#include "tests/ui/test_pictures.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kRounds = 7;

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

fs::path TempFile(const std::string& name) {
  return fs::temp_directory_path() / ("bench_png_" + std::to_string(getpid()) + "_" + name);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The real desktop picture, or none when it cannot be made here.
rvx::INVBitmap DesktopPicture() {
  const fs::path bmp = TempFile("desktop.bmp");
  const std::string command = RVX_SOURCE_DIR "/bench/png/desktop_picture.sh " + bmp.string();
  if (std::system(command.c_str()) != 0) return nullptr;
  rvx::INVBitmap picture = rvx::BitmapFromBmpBytes(ReadFile(bmp));
  fs::remove(bmp);
  return picture;
}

void Measure(const char* name, const rvx::INVBitmap& picture) {
  size_t colourSize = 0, greySize = 0, format2Size = 0;
  std::string colour;
  const double tColour = Best(kRounds, [&] { colour = picture->PngBytes(0); });
  colourSize = colour.size();
  const double tGrey = Best(kRounds, [&] { greySize = picture->PngBytes(1).size(); });
  const double tFormat2 = Best(kRounds, [&] { format2Size = picture->PngBytes(2).size(); });

  const fs::path bmp = TempFile("source.bmp"), png = TempFile("ours.png");
  WriteFile(bmp, picture->BmpBytes());
  WriteFile(png, colour);
  const std::string command = "/usr/bin/python3 " RVX_SOURCE_DIR "/bench/png/pil_png.py " + bmp.string() + " " +
                              png.string() + " " + std::to_string(kRounds) + " 2>/dev/null";
  double tPil = 0, psnrPil = 0, psnrOurs = 0;
  long pilSize = 0;
  if (FILE* p = popen(command.c_str(), "r")) {
    if (std::fscanf(p, "%lf %ld %lf %lf", &tPil, &pilSize, &psnrPil, &psnrOurs) != 4) pilSize = 0;
    pclose(p);
  }
  fs::remove(bmp);
  fs::remove(png);

  std::printf("%s %dx%d, best of %d rounds\n", name, picture->Width(), picture->Height(), kRounds);
  std::printf("  %-30s %9s %11s %10s\n", "", "time ms", "size bytes", "PSNR dB");
  if (pilSize > 0) {
    std::printf("  %-30s %9.1f %11zu %10.2f\n", "ours, 256 colours (format 0)", tColour * 1e3, colourSize, psnrOurs);
    std::printf("  %-30s %9.1f %11ld %10.2f\n", "PIL quantize(256) + PNG save", tPil * 1e3, pilSize, psnrPil);
    std::printf("  %-30s %9.2f %11.3f %10.2f\n", "ratio ours/PIL (PSNR: diff)", tColour / tPil,
                static_cast<double>(colourSize) / static_cast<double>(pilSize), psnrOurs - psnrPil);
  } else {
    std::printf("  %-30s %9.1f %11zu\n", "ours, 256 colours (format 0)", tColour * 1e3, colourSize);
    std::printf("  PIL (python3-pil) not available: no ratio\n");
  }
  std::printf("  %-30s %9.1f %11zu\n", "ours, 16 greys (format 1)", tGrey * 1e3, greySize);
  std::printf("  %-30s %9.1f %11zu\n", "ours, format 2", tFormat2 * 1e3, format2Size);
}

}  // namespace

int main() {
  Measure("synthetic screen-like scene", rvx::test::Scene(1920, 1080));
  Measure("synthetic colour gradient", rvx::test::Gradient(1920, 1080));
  if (const rvx::INVBitmap desktop = DesktopPicture())
    Measure("real desktop (X applications)", desktop);
  else
    std::printf("real desktop: not made (bench/png/desktop_picture.sh needs Xvfb, twm, xterm, x11-apps, "
                "imagemagick, xdotool)\n");
  return 0;
}
