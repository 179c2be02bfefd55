// The ICMP echo over a raw socket and the system's dial attempt.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>

#include <string>

#include "crash/core/freeze.h"
#include "crash/delivery/online.h"

namespace rvx {

namespace {

// Winsock for the lifetime of the object.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    ok_ = WSAStartup(MAKEWORD(2, 1), &data) == 0;
  }
  ~WinsockSession() {
    if (ok_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

class Socket {
 public:
  explicit Socket(SOCKET s) : s_(s) {}
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return s_; }

 private:
  SOCKET s_;
};

bool ResolveHost(const std::string& host, in_addr& address) {
  unsigned long dotted = inet_addr(host.c_str());
  if (dotted != INADDR_NONE) {
    address.s_addr = dotted;
    return true;
  }
  hostent* entry = gethostbyname(host.c_str());
  if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
  memcpy(&address, entry->h_addr_list[0], sizeof address);
  return true;
}

bool EchoOnce(const std::string& host) {
  WinsockSession winsock;
  if (!winsock.ok()) return false;
  Socket sock(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
  if (sock.get() == INVALID_SOCKET) return false;
  int ttl = 30;
  // The time-to-live option has the number 7 in Winsock 1 and 4 in Winsock 2.
  if (setsockopt(sock.get(), IPPROTO_IP, 7, reinterpret_cast<const char*>(&ttl), sizeof ttl) != 0)
    setsockopt(sock.get(), IPPROTO_IP, 4, reinterpret_cast<const char*>(&ttl), sizeof ttl);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  if (!ResolveHost(host, to.sin_addr)) return false;

  const uint16_t identifier = static_cast<uint16_t>(GetCurrentProcessId());
  const uint16_t sequence = NextEchoSequence();
  EchoPacket packet = BuildEchoRequest(identifier, sequence);
  if (sendto(sock.get(), reinterpret_cast<const char*>(packet.data()), static_cast<int>(packet.size()), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to) == SOCKET_ERROR)
    return false;

  // One second per reply; other ICMP traffic may not keep the wait going for more than a few seconds.
  const DWORD deadline = GetTickCount() + 3000;
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock.get(), &readable);
    timeval wait = {1, 0};
    if (select(0, &readable, nullptr, nullptr, &wait) != 1) return false;
    char buffer[1024];
    sockaddr_in from = {};
    int fromSize = sizeof from;
    int n = recvfrom(sock.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (n == SOCKET_ERROR) return false;
    EchoVerdict v = CheckEchoReply(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n), identifier,
                                   sequence);
    if (v == EchoVerdict::Match) return true;
    if (v == EchoVerdict::End) return false;
    if (static_cast<int32_t>(GetTickCount() - deadline) >= 0) return false;
  }
}

}  // namespace

bool IsOnline(bool tryDial) {
  OnlinePlatform platform;
  platform.echo = EchoOnce;
  platform.processBlocked = [](uint32_t ms) { return ProcessBlocked(ms); };
  platform.attemptConnect = [] { return InternetAttemptConnect(0) == ERROR_SUCCESS; };
  return IsOnline(tryDial, platform);
}

}  // namespace rvx
