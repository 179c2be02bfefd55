// The computer's name on Windows.
#include <windows.h>

#include "crash/delivery/smtp.h"

namespace rvx::smtp {

std::string LocalHostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

}  // namespace rvx::smtp
