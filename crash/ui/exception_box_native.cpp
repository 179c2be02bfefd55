// Without windows the pipeline keeps its text output.
#ifndef _WIN32
#include "crash/ui/exception_box.h"
#include "crash/ui/exception_box_layout.h"

namespace rvx {

void RunExceptionBox(IRVException*, bool, BoxForm) {}
void InstallExceptionBox() {}

}  // namespace rvx
#endif
