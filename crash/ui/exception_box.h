// The exception box: the window that tells the user about an exception and offers to send, save, print or
// show the bug report, continue, restart or close the program. Three forms (full box, plain box with
// details, plain box); the full box opens expanded, with the bug report below its buttons, when the record's
// AutoShowBugRep is set. Other parts find the open box as the first top-level window of the process of the
// class "RavexWndClass" and talk to it with messages:
//   0x0709  the bug report changed (the box's own report-changed callback posts it)
//   0x070A  show the details (as a click on "show")
//   0x070B  close the box (the record's continue, restart and close operations send it)
//   WM_NULL with both parameters 777: close the box (the main thread answers again)
// Windows only; elsewhere the pipeline keeps its own way of showing exceptions.
#pragma once

#include "crash/core/exception_record.h"

namespace rvx {

enum BoxForm : int;  // exception_box_layout.h

constexpr unsigned kBoxMsgReportChanged = 0x0709;
constexpr unsigned kBoxMsgShowDetails = 0x070A;
constexpr unsigned kBoxMsgClose = 0x070B;
constexpr unsigned kBoxCloseParam = 777;
constexpr const char* kBoxClassName = "RavexWndClass";

// Creates and shows the box and runs its modal loop in the calling thread until the box is gone (and again,
// expanded, when it was closed to show the details). The chosen action has been carried out on return.
void RunExceptionBox(IRVException* record, bool beep, BoxForm form);

// Makes the pipeline show exceptions with the box (every show setting; 1 runs the named assistant first).
void InstallExceptionBox();

}  // namespace rvx
