// Host build: no raw ICMP socket and no dialling; only the skip switch answers online.
#ifndef _WIN32
#include "crash/delivery/online.h"

namespace rvx {
bool IsOnline(bool tryDial) { return IsOnline(tryDial, OnlinePlatform{}); }
}  // namespace rvx
#endif
