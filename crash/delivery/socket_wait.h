// The bounded wait for data on a socket, shared by the TCP streams and the UDP sockets (defined with the
// UDP sockets of each platform).
#pragma once

#include <cstdint>

#include "crash/delivery/net.h"

namespace rvx::net {

// Waits at most `milliseconds` (negative counts as 0) until `socket` has data or its peer closed.
WaitResult WaitSocketReadable(uintptr_t socket, int milliseconds);

}  // namespace rvx::net
