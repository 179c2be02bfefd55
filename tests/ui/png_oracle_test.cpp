// Our PNG files checked by outside readers: pngcheck validates every file, PIL decodes it and the decoded
// picture is compared with its source (PSNR for palette files, exact levels for grey files).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <cmath>
#include <sstream>

#include "tests/support/oracle_files.h"
#include "tests/ui/png_reader.h"
#include "tests/ui/test_pictures.h"

namespace rvx {
namespace {

namespace fs = std::filesystem;

const char* kPython = "/usr/bin/python3";

using test::HasTool;
using test::WriteFile;

// True when the shell command succeeds.
bool Succeeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

struct Decoded {
  std::string mode;
  int paletteBytes = 0;
  double psnr = 0;
  std::string levels;
  int notNearest = -1;
};

TEST(PngOracle, EveryFilePassesPngcheckAndDecodesCloseToItsSource) {
  if (!HasTool("pngcheck")) GTEST_SKIP() << "pngcheck is not installed";
  if (!Succeeds(std::string(kPython) + " -c 'import PIL'")) GTEST_SKIP() << "Python's PIL (python3-pil) is not installed";
  const fs::path dir = test::OracleFolder("png_oracle_test");

  std::map<std::string, INVBitmap> pictures;
  pictures["gradient"] = test::Gradient(320, 240);
  pictures["scene"] = test::Scene(480, 300);
  pictures["odd"] = test::Scene(33, 7);
  pictures["pixel"] = test::Gradient(2, 2)->Zoom(1, 1);
  INVBitmap greys = TINVBitmap::Create(256, 3);
  for (int x = 0; x < 256; ++x)
    for (int y = 0; y < 3; ++y) test::SetPixel(*greys, x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(255 - x), static_cast<uint8_t>(x / 2));
  pictures["greys"] = greys;

  std::string args, files;
  for (const auto& [name, picture] : pictures) {
    WriteFile(dir / (name + ".bmp"), picture->BmpBytes());
    for (int format : {0, 1}) {
      const std::string png = (dir / (name + "-" + std::to_string(format) + ".png")).string();
      WriteFile(png, picture->PngBytes(format));
      args += std::string(format ? " grey " : " colour ") + (dir / (name + ".bmp")).string() + " " + png;
      files += " " + png;
    }
  }
  const std::string check = Output("pngcheck" + files + " 2>&1; echo rc=$?");
  EXPECT_NE(check.find("rc=0"), std::string::npos) << check;
  EXPECT_EQ(check.find("ERROR"), std::string::npos) << check;

  const std::string script = (fs::path(RVX_SOURCE_DIR) / "tests/ui/png_oracle.py").string();
  std::istringstream out(Output(std::string(kPython) + " " + script + args + " 2>&1"));
  std::map<std::string, Decoded> decoded;
  std::string line;
  while (std::getline(out, line)) {
    std::istringstream l(line);
    std::string file;
    Decoded d;
    l >> file >> d.mode >> d.paletteBytes >> d.psnr >> d.levels >> d.notNearest;
    decoded[fs::path(file).stem().string()] = d;
    std::printf("%s\n", line.c_str());
  }
  ASSERT_EQ(decoded.size(), pictures.size() * 2) << line;

  const std::set<int> levelSet(std::begin(kGreyLevels), std::end(kGreyLevels));
  for (const auto& [name, picture] : pictures) {
    const Decoded& colour = decoded[name + "-0"];
    const Decoded& grey = decoded[name + "-1"];
    EXPECT_EQ(colour.mode, "P") << name;
    EXPECT_EQ(colour.paletteBytes, 768) << name;
    EXPECT_EQ(grey.mode, "P") << name;
    // Grey: every decoded value is one of the levels and the nearest one to the source's grey value, so the
    // error stays within half the widest step (28 / 2).
    std::istringstream levels(grey.levels);
    for (std::string v; std::getline(levels, v, ',');) EXPECT_TRUE(levelSet.count(std::stoi(v))) << name << " " << v;
    EXPECT_GT(grey.psnr, 20 * std::log10(255.0 / 14)) << name;
    EXPECT_EQ(grey.notNearest, 0) << name;
    EXPECT_EQ(grey.paletteBytes, 48) << name;
  }
  // The palette path stays close to the source: smooth gradients and the screen-like scene.
  EXPECT_GT(decoded["gradient-0"].psnr, 32) << "gradient";
  EXPECT_GT(decoded["scene-0"].psnr, 34) << "scene";
  EXPECT_GT(decoded["greys-0"].psnr, 40) << "one-dimensional ramp";
  EXPECT_EQ(decoded["pixel-0"].psnr, 99) << "a single colour is kept exactly";
}

}  // namespace
}  // namespace rvx
