// Host build: no echo service and no dialling: the sending is always tried.
#ifndef _WIN32
#include "crash/delivery/online.h"

namespace rvx {
bool IsOnline(bool tryDial) { return IsOnline(tryDial, OnlinePlatform{}); }
}  // namespace rvx
#endif
