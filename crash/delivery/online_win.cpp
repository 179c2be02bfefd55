// The ICMP echo through the system's echo service (open to every user, unlike a raw socket) and the
// system's dial attempt.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <wininet.h>

#include <cstring>
#include <string>

#include "crash/core/freeze.h"
#include "crash/delivery/online.h"

namespace rvx {

namespace {

constexpr DWORD kEchoWaitMs = 3000;

// Winsock for the lifetime of the object (the host lookup needs it).
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

bool ResolveHost(const std::string& host, in_addr& address) {
  unsigned long dotted = inet_addr(host.c_str());
  if (dotted != INADDR_NONE) {
    address.s_addr = dotted;
    return true;
  }
  hostent* entry = gethostbyname(host.c_str());
  if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
  std::memcpy(&address, entry->h_addr_list[0], sizeof address);
  return true;
}

// What a failed echo's status says: only a report of no way to the host means offline.
EchoOutcome FailureOutcome(DWORD status) {
  switch (status) {
    case IP_DEST_NET_UNREACHABLE:
    case IP_DEST_HOST_UNREACHABLE:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE: return EchoOutcome::Unreachable;
    default: return EchoOutcome::CannotTell;  // timed out (perhaps dropped), no permission, no resources
  }
}

EchoOutcome EchoOnce(const std::string& host) {
  WinsockSession winsock;
  if (!winsock.ok()) return EchoOutcome::CannotTell;
  in_addr target{};
  if (!ResolveHost(host, target)) return EchoOutcome::CannotTell;
  HANDLE icmp = IcmpCreateFile();
  if (icmp == INVALID_HANDLE_VALUE) return EchoOutcome::CannotTell;
  // The payload of our echo request: 24 bytes holding 0xDEADBEEF six times.
  const EchoPacket request = BuildEchoRequest(static_cast<uint16_t>(GetCurrentProcessId()), NextEchoSequence());
  char payload[kEchoSize - 8];
  std::memcpy(payload, request.data() + 8, sizeof payload);
  // Room for one reply, its payload and an ICMP error's datagram, as the service asks.
  char replies[sizeof(ICMP_ECHO_REPLY) + sizeof payload + 8 + 64];
  IP_OPTION_INFORMATION options{};
  options.Ttl = 30;
  const DWORD count = IcmpSendEcho(icmp, target.s_addr, payload, sizeof payload, &options, replies, sizeof replies,
                                   kEchoWaitMs);
  const DWORD error = count == 0 ? GetLastError() : 0;
  IcmpCloseHandle(icmp);
  if (count == 0) return FailureOutcome(error);
  const auto* reply = reinterpret_cast<const ICMP_ECHO_REPLY*>(replies);
  if (reply->Status == IP_SUCCESS) return EchoOutcome::Answered;
  return FailureOutcome(reply->Status);
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
