// Printing a bug report: the system's print dialog, then the report in 8-point "Courier New" with margins of
// 10 mm (20 mm on the left), word-wrapped, page after page.
#pragma once

#include <string>

#include "crash/core/settings.h"

namespace rvx {

using WindowHandle = void*;

// Prints `report` for an owner window with the document name PrintBtnTxt of `settings` (null: the
// program's settings). Nothing is printed when the process is blocked (a beep instead), when the dialog is
// cancelled or when the document cannot be started. The result is always false.
bool PrintReport(const std::string& report, WindowHandle owner, IRVSettings* settings);

// The printer a print goes to: a printer device context, which the printing takes over and releases, and
// optionally a file that receives the printer's output instead of the printer.
struct PrintTarget {
  void* dc = nullptr;  // HDC
  std::string outputFile;
};
// Chooses the printer; false: nothing is printed. The default shows the system's print dialog.
using PrinterChooser = bool (*)(WindowHandle owner, PrintTarget& target);
void SetPrinterChooser(PrinterChooser chooser);  // null: the print dialog again

}  // namespace rvx
