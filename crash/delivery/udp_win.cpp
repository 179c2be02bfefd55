// UDP sockets on Windows: Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "crash/delivery/socket_wait.h"
#include "crash/delivery/udp.h"

namespace rvx::net {
namespace {

class WinsockUdpSocket final : public UdpSocket {
 public:
  explicit WinsockUdpSocket(SOCKET s) : s_(s) {}
  ~WinsockUdpSocket() override { ::closesocket(s_); }

  bool SendTo(const UdpPeer& peer, std::string_view datagram) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(peer.port);
    to.sin_addr.s_addr = ::htonl(peer.address);
    const int sent = ::sendto(s_, datagram.data(), static_cast<int>(datagram.size()), 0,
                              reinterpret_cast<sockaddr*>(&to), sizeof to);
    return sent == static_cast<int>(datagram.size());
  }
  WaitResult WaitReadable(int milliseconds) override {
    return WaitSocketReadable(static_cast<uintptr_t>(s_), milliseconds);
  }
  int ReceiveFrom(char* buffer, int size, UdpPeer& from) override {
    sockaddr_in source{};
    int length = sizeof source;
    int r = ::recvfrom(s_, buffer, size, 0, reinterpret_cast<sockaddr*>(&source), &length);
    // A datagram longer than the buffer arrives cut; an ICMP "port unreachable" of an earlier send shows as
    // a reset. Neither is a failure of the socket.
    if (r == SOCKET_ERROR) {
      const int e = ::WSAGetLastError();
      if (e == WSAEMSGSIZE) r = size;
      else if (e == WSAECONNRESET) r = 0;
      else return -1;
    }
    from.address = ::ntohl(source.sin_addr.s_addr);
    from.port = ::ntohs(source.sin_port);
    return r;
  }
  uint16_t LocalPort() override {
    sockaddr_in self{};
    int length = sizeof self;
    if (::getsockname(s_, reinterpret_cast<sockaddr*>(&self), &length) == SOCKET_ERROR) return 0;
    return ::ntohs(self.sin_port);
  }

 private:
  SOCKET s_;
};

}  // namespace

WaitResult WaitSocketReadable(uintptr_t socket, int milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  const SOCKET s = static_cast<SOCKET>(socket);
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
  const int r = ::select(0, &set, nullptr, nullptr, &tv);
  if (r == SOCKET_ERROR) return WaitResult::Failed;
  return r == 0 ? WaitResult::Timeout : WaitResult::Ready;
}

bool ResolveIpv4(std::string_view host, uint32_t& address) {
  const std::string name(host);
  if (name.empty()) return false;
  unsigned long a = ::inet_addr(name.c_str());
  if (a == INADDR_NONE && name != "255.255.255.255") {
    hostent* h = ::gethostbyname(name.c_str());
    if (!h || h->h_addrtype != AF_INET || !h->h_addr_list || !h->h_addr_list[0]) return false;
    std::memcpy(&a, h->h_addr_list[0], sizeof a);
  }
  address = ::ntohl(a);
  return true;
}

std::unique_ptr<UdpSocket> OpenUdpSocket(std::string* error) {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any) == SOCKET_ERROR) {
    if (error) *error = "cannot open a UDP socket (Winsock error " + std::to_string(::WSAGetLastError()) + ")";
    if (s != INVALID_SOCKET) ::closesocket(s);
    return nullptr;
  }
  return std::make_unique<WinsockUdpSocket>(s);
}

}  // namespace rvx::net
