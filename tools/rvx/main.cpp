// rvx: command-line entry to the crash reporter's core for users and scripts.
#include "tools/rvx/command.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace rvxtool {
namespace {
std::vector<const RvxCommand*>& Registry() {
  static std::vector<const RvxCommand*> list;
  return list;
}

void PrintUsage(std::ostream& os) {
  os << "usage: rvx COMMAND [ARGUMENTS]\n\ncommands:\n";
  auto list = Registry();
  std::sort(list.begin(), list.end(), [](auto* a, auto* b) { return std::string(a->name) < b->name; });
  for (const auto* c : list) os << c->usage << "\n";
  os << "  rvx help\n";
}
}  // namespace

RvxCommand::RvxCommand(const char* n, const char* u, int (*r)(const Args&)) : name(n), usage(u), run(r) {
  Registry().push_back(this);
}

int Fail(const std::string& message, int code) {
  std::cerr << "rvx: " << message << "\n";
  return code;
}

int UsageError(const std::string& message) {
  std::cerr << "rvx: " << message << "\n(run 'rvx help' for usage)\n";
  return 2;
}

bool ReadFileBytes(const std::string& path, std::string& out, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read '" + path + "'";
    return false;
  }
  std::ostringstream ss;
  ss << f.rdbuf();
  if (f.bad()) {
    error = "error reading '" + path + "'";
    return false;
  }
  out = ss.str();
  return true;
}

bool WriteFileBytes(const std::string& path, const std::string& data, std::string& error) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f || !f.write(data.data(), static_cast<std::streamsize>(data.size())) || !f.flush()) {
    error = "cannot write '" + path + "'";
    return false;
  }
  return true;
}

}  // namespace rvxtool

int main(int argc, char** argv) {
  using namespace rvxtool;
  if (argc < 2 || std::string(argv[1]) == "help" || std::string(argv[1]) == "--help" ||
      std::string(argv[1]) == "-h") {
    PrintUsage(argc < 2 ? std::cerr : std::cout);
    return argc < 2 ? 2 : 0;
  }
  std::string group = argv[1];
  for (const auto* c : Registry()) {
    if (group == c->name) return c->run(Args(argv + 2, argv + argc));
  }
  return UsageError("unknown command '" + group + "'");
}
