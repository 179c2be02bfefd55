#include "crash/ui/crash_dialogs.h"

#include "crash/delivery/send.h"
#include "crash/ui/assistant_build.h"
#include "crash/ui/exception_box.h"
#include "crash/ui/progress_alert.h"

namespace rvx {

void RegisterCrashDialogs() {
  InstallAssistantEngine();
  SetProgressAlertFactory(&CreateProgressAlert);
  InstallExceptionBox();
}

}  // namespace rvx
