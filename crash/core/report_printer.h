// How the exception record's print action reaches the printer. The printing routine belongs to the crash
// dialogs, which register it at start-up; until then the print action prints nothing.
#pragma once

#include <string>

#include "crash/core/exception_record.h"

namespace rvx {

// Prints a report for an owner window with these settings (null: the program's); the result is the
// action's result.
using ReportPrinter = bool (*)(const std::string& report, WindowHandle owner, IRVSettings* settings);
void SetReportPrinter(ReportPrinter printer);
ReportPrinter GetReportPrinter();

// The record's print hook: the registered printer with the record's complete report and the record's
// settings. False without a printer.
bool PrintRecordReport(IRVException* record, WindowHandle owner);

}  // namespace rvx
