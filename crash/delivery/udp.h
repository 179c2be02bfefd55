// UDP datagrams for the DNS lookup: one socket bound to any local address and port, sending to and
// receiving from IPv4 peers with bounded waits. The platform files are udp_win.cpp (Winsock) and
// udp_posix.cpp (the native build).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "crash/delivery/net.h"

namespace rvx::net {

struct UdpPeer {
  uint32_t address = 0;  // IPv4 address, most significant byte first (127.0.0.1 is 0x7F000001)
  uint16_t port = 0;
  friend bool operator==(const UdpPeer&, const UdpPeer&) = default;
};

// The IPv4 address of `host`: a dotted address as it is, anything else through the platform's host lookup.
bool ResolveIpv4(std::string_view host, uint32_t& address);

class UdpSocket {
 public:
  virtual ~UdpSocket() = default;
  // Sends one datagram; false when it could not be sent whole.
  virtual bool SendTo(const UdpPeer& peer, std::string_view datagram) = 0;
  // Waits at most `milliseconds` for a datagram.
  virtual WaitResult WaitReadable(int milliseconds) = 0;
  // Receives one datagram of at most `size` bytes (the rest of a longer one is dropped): the count, or -1.
  virtual int ReceiveFrom(char* buffer, int size, UdpPeer& from) = 0;
  // The local port the socket is bound to (0 when unknown).
  virtual uint16_t LocalPort() = 0;
};

// A socket bound to any local address and port; null on failure (reason in `error` when given).
std::unique_ptr<UdpSocket> OpenUdpSocket(std::string* error = nullptr);

}  // namespace rvx::net
