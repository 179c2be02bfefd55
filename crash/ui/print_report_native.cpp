// The host build has no printers: nothing is printed.
#ifndef _WIN32
#include "crash/ui/print_report.h"

namespace rvx {

bool PrintReport(const std::string&, WindowHandle, IRVSettings*) { return false; }

void SetPrinterChooser(PrinterChooser) {}

}  // namespace rvx
#endif
