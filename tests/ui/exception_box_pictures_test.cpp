// The pictures that tools/pictures.py draws for the exception box: each resource (the BMP file without its
// 14-byte file header, as the resource compiler stores it) has the exact size the box draws, and is drawn.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crash/ui/exception_box_logic.h"

namespace rvx {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ExceptionBoxPictures, EveryPictureHasTheSizeTheBoxDrawsAndIsVisible) {
  const auto dir = std::filesystem::temp_directory_path() / ("box_pictures_" + std::to_string(::getpid()));
  const std::string command = "/usr/bin/python3 " RVX_SOURCE_DIR "/tools/pictures.py " + dir.string() + " " +
                              (dir / "pictures.rc").string();
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string rc = ReadFile(dir / "pictures.rc");
  const std::pair<const char*, int> pictures[] = {
      {"RVISEND", 16},  {"RVISAVE", 16},    {"RVIPRINT", 16}, {"RVISHOW", 16},          {"RVICONTINUE", 16},
      {"RVIRESTART", 16}, {"RVICLOSE", 16}, {"RVIBIG", 32},   {"RVICANTCONTINUE", 16}};
  for (const auto& [name, side] : pictures) {
    SCOPED_TRACE(name);
    EXPECT_NE(rc.find(std::string(name) + " BITMAP "), std::string::npos);
    const std::string file = ReadFile(dir / (std::string(name) + ".bmp"));
    ASSERT_GT(file.size(), 14u);
    const std::string resource = file.substr(14);
    EXPECT_EQ(PictureSide(resource.size()), side);
    // Drawn over white and over black: opaque parts look the same on both, and some are opaque.
    std::vector<uint8_t> white(side * side * 4, 255), black(side * side * 4, 0);
    PixelSurface w{white.data(), side, side}, b{black.data(), side, side};
    const auto* bytes = reinterpret_cast<const uint8_t*>(resource.data());
    ASSERT_TRUE(BlendPictureOnto(bytes, resource.size(), w, 0, 0));
    ASSERT_TRUE(BlendPictureOnto(bytes, resource.size(), b, 0, 0));
    int opaque = 0, clear = 0;
    for (size_t i = 0; i < white.size(); i += 4) {
      const int diff = white[i] - black[i];
      opaque += diff <= 1 ? 1 : 0;
      clear += diff >= 250 ? 1 : 0;
    }
    EXPECT_GT(opaque, side * side / 8);  // a picture, not an empty square
    EXPECT_GT(clear, side * side / 8);   // with a transparent background
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace rvx
