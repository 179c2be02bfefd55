// Files for tests that hand our output to outside checkers: a fresh folder per test program (under the
// artefacts folder when there is one, so the files can be looked at afterwards), and writing bytes to a file.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace rvx::test {

inline bool HasTool(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::filesystem::path OracleFolder(const std::string& name) {
  namespace fs = std::filesystem;
  const char* art = std::getenv("RVX_ARTEFACTS");
  fs::path dir = fs::path(art && *art ? art : fs::temp_directory_path().string()) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

inline void WriteFile(const std::filesystem::path& p, const std::string& data) {
  std::ofstream f(p, std::ios::binary);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

}  // namespace rvx::test
