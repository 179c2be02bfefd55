// UDP sockets of the native build (tests and host tools): BSD sockets.
#ifndef _WIN32
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crash/delivery/socket_wait.h"
#include "crash/delivery/udp.h"

namespace rvx::net {
namespace {

class PosixUdpSocket final : public UdpSocket {
 public:
  explicit PosixUdpSocket(int fd) : fd_(fd) {}
  ~PosixUdpSocket() override { ::close(fd_); }

  bool SendTo(const UdpPeer& peer, std::string_view datagram) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(peer.port);
    to.sin_addr.s_addr = htonl(peer.address);
    const ssize_t sent = ::sendto(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(datagram.size());
  }
  WaitResult WaitReadable(int milliseconds) override {
    return WaitSocketReadable(static_cast<uintptr_t>(fd_), milliseconds);
  }
  int ReceiveFrom(char* buffer, int size, UdpPeer& from) override {
    sockaddr_in source{};
    socklen_t length = sizeof source;
    ssize_t r;
    do r = ::recvfrom(fd_, buffer, static_cast<size_t>(size), 0, reinterpret_cast<sockaddr*>(&source), &length);
    while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    from.address = source.sin_family == AF_INET ? ntohl(source.sin_addr.s_addr) : 0;
    from.port = ntohs(source.sin_port);
    return static_cast<int>(r);
  }
  uint16_t LocalPort() override {
    sockaddr_in self{};
    socklen_t length = sizeof self;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &length) != 0) return 0;
    return ntohs(self.sin_port);
  }

 private:
  int fd_;
};

}  // namespace

WaitResult WaitSocketReadable(uintptr_t socket, int milliseconds) {
  pollfd p{static_cast<int>(socket), POLLIN, 0};
  int r;
  do r = ::poll(&p, 1, milliseconds < 0 ? 0 : milliseconds);
  while (r < 0 && errno == EINTR);
  if (r < 0) return WaitResult::Failed;
  return r == 0 ? WaitResult::Timeout : WaitResult::Ready;
}

bool ResolveIpv4(std::string_view host, uint32_t& address) {
  const std::string name(host);
  in_addr a{};
  if (::inet_pton(AF_INET, name.c_str(), &a) != 1) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    a = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
  }
  address = ntohl(a.s_addr);
  return true;
}

std::unique_ptr<UdpSocket> OpenUdpSocket(std::string* error) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
    if (error) *error = std::string("cannot open a UDP socket (") + std::strerror(errno) + ")";
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixUdpSocket>(fd);
}

}  // namespace rvx::net
#endif
