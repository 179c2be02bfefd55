// Running a program of the Windows build under Wine from a benchmark, and reading "name value" lines of its
// output.
#pragma once
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace bench {

// Runs exe (from build/win32/bin) with args in the scratch folder `dir` (its bugreport.txt removed first)
// through the project's Wine wrapper; returns its output.
inline std::string RunWine(const std::string& root, const std::string& dir, const std::string& exe,
                           const std::string& args) {
  std::string out = dir + "/out.txt";
  std::string cmd = "mkdir -p " + dir + " && rm -f " + dir + "/bugreport.txt && cp " + root + "/build/win32/bin/" + exe +
                    " " + dir + "/ && cd " + dir + " && RVX_WINE_BUILD=" + root + "/build/win32 " + root +
                    "/tools/wine-exec.sh ./" + exe + " " + args + " >" + out + " 2>/dev/null </dev/null";
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(out);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The number after "name " in the text, -1 when missing.
inline double Field(const std::string& text, const std::string& name) {
  size_t at = text.find(name + " ");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + name.size() + 1);
}

}  // namespace bench
