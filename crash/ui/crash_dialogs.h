// Connects the crash reporter's windows to the parts that use them: the assistant form engine to the
// assistant lookup of the settings, the progress window to the sending of reports, the exception box to the
// pipeline, the report printing to the print action, and the screenshot to the exception record (its
// takeScreenShot hook; the other record hooks are left as they are). A program that carries the crash reporter
// calls it once at start-up, before StartCrashReporter.
#pragma once

namespace rvx {

void RegisterCrashDialogs();

}  // namespace rvx
