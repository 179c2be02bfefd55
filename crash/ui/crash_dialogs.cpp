#include "crash/ui/crash_dialogs.h"

#include "crash/core/report_printer.h"
#include "crash/delivery/send.h"
#include "crash/ui/assistant_build.h"
#include "crash/ui/exception_box.h"
#include "crash/ui/print_report.h"
#include "crash/ui/progress_alert.h"

namespace rvx {

void RegisterCrashDialogs() {
  InstallAssistantEngine();
  SetProgressAlertFactory(&CreateProgressAlert);
  InstallExceptionBox();
  SetReportPrinter(&PrintReport);
}

}  // namespace rvx
