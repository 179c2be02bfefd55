// The computer's name in the native build.
#ifndef _WIN32
#include <unistd.h>

#include "crash/delivery/smtp.h"

namespace rvx::smtp {

std::string LocalHostName() {
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

}  // namespace rvx::smtp
#endif
