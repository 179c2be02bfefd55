// Without a window system there is no screen to take: the screenshot is none, and the record stops asking.
#ifndef _WIN32
#include "crash/ui/screenshot.h"

namespace rvx {

INVBitmap TakeScreenShot(bool) { return nullptr; }

}  // namespace rvx
#endif
