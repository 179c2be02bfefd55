// Host builds list no modules, processes or devices.
#ifndef _WIN32
#include "crash/core/report_plugins.h"

namespace rvx {
std::string ModulesPluginText() { return {}; }
std::string ProcessesPluginText() { return {}; }
std::string HardwarePluginText() { return {}; }
}  // namespace rvx
#endif
