#include "crash/ui/crash_dialogs.h"

#include "crash/delivery/send.h"
#include "crash/ui/progress_alert.h"

namespace rvx {

void RegisterCrashDialogs() { SetProgressAlertFactory(&CreateProgressAlert); }

}  // namespace rvx
