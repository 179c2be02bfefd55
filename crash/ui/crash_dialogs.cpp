#include "crash/ui/crash_dialogs.h"

#include "crash/core/exception_record.h"
#include "crash/core/report_printer.h"
#include "crash/delivery/send.h"
#include "crash/ui/assistant_build.h"
#include "crash/ui/exception_box.h"
#include "crash/ui/picture_object.h"
#include "crash/ui/print_report.h"
#include "crash/ui/progress_alert.h"
#include "crash/ui/screenshot.h"

namespace rvx {

namespace {
// The record's screenshot, taken the first time the record needs it: the whole screen or, with
// ScrShotAppOnly, the program's own windows.
Ref<IRefCounted> TakeRecordScreenShot(IRVException* record) {
  return MakePictureObject(TakeScreenShot(record && record->ScrShotAppOnly()));
}
}  // namespace

void RegisterCrashDialogs() {
  InstallAssistantEngine();
  SetProgressAlertFactory(&CreateProgressAlert);
  InstallExceptionBox();
  SetReportPrinter(&PrintReport);
  RecordHooks hooks = GetRecordHooks();
  hooks.takeScreenShot = TakeRecordScreenShot;
  SetRecordHooks(hooks);
}

}  // namespace rvx
