// Command groups of the rvx tool. Each cmd_*.cpp registers its group with a static RvxCommand.
#pragma once
#include <string>
#include <vector>

namespace rvxtool {

using Args = std::vector<std::string>;

// A group such as "settings" or "disasm": run() gets the arguments after the group name and returns the
// process exit code; usage is one or more lines shown by "rvx help".
struct RvxCommand {
  const char* name;
  const char* usage;
  int (*run)(const Args& args);
  RvxCommand(const char* name, const char* usage, int (*run)(const Args&));
};

// Prints "rvx: " + message to standard error and returns 2 (bad arguments) or 1 (failed work).
int Fail(const std::string& message, int code = 1);
int UsageError(const std::string& message);

bool ReadFileBytes(const std::string& path, std::string& out, std::string& error);
bool WriteFileBytes(const std::string& path, const std::string& data, std::string& error);

}  // namespace rvxtool
