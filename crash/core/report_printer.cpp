#include "crash/core/report_printer.h"

#include <atomic>

namespace rvx {

namespace {
std::atomic<ReportPrinter> g_printer{nullptr};
}  // namespace

void SetReportPrinter(ReportPrinter printer) { g_printer.store(printer); }

ReportPrinter GetReportPrinter() { return g_printer.load(); }

bool PrintRecordReport(IRVException* record, WindowHandle owner) {
  ReportPrinter printer = g_printer.load();
  if (!printer || !record) return false;
  return printer(record->CompleteBugReport(), owner, record);
}

}  // namespace rvx
