// Starting the registered mail program: the "mailto" handler's command from the registry, its environment
// variables expanded, then the command line started as a new process.
#include <windows.h>

#include <string>

#include "crash/delivery/mailto.h"

namespace rvx {

namespace {

// The default value of HKEY_CLASSES_ROOT\mailto\shell\open\command, at most 260 bytes; false when the key
// or the value is missing or longer.
bool RegisteredMailtoCommand(std::string& command) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  char buffer[261] = {};
  DWORD size = 260, type = 0;
  LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  buffer[size < 260 ? size : 260] = 0;  // stored values need not end with a zero
  command = buffer;
  return !command.empty();
}

bool ExpandEnvironment(const std::string& text, std::string& expanded) {
  char buffer[261] = {};
  DWORD n = ExpandEnvironmentStringsA(text.c_str(), buffer, 260);
  if (n == 0 || n > 260) return false;  // a cut expansion would start the wrong program
  expanded = buffer;
  return true;
}

}  // namespace

bool SendViaMailClient(std::string_view recipients, std::string_view subject, std::string_view body) {
  std::string command, expanded;
  if (!RegisteredMailtoCommand(command) || !ExpandEnvironment(command, expanded)) return false;
  const bool nt = (GetVersion() & 0x80000000u) == 0;
  std::string line = MailClientCommandLine(expanded, recipients, subject, body, nt);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace rvx
