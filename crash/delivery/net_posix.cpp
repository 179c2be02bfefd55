// TCP streams of the native build (tests and host tools): BSD sockets.
#ifndef _WIN32
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "crash/delivery/net.h"
#include "crash/delivery/socket_wait.h"

namespace rvx::net {
namespace {

class PosixStream final : public IStream {
 public:
  explicit PosixStream(int fd) : fd_(fd) {}
  ~PosixStream() override { ::close(fd_); }

  bool Send(std::string_view bytes) override {
    while (!bytes.empty()) {
      const size_t piece = bytes.size() < 1024 ? bytes.size() : 1024;
      const ssize_t sent = ::send(fd_, bytes.data(), piece, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
  }
  WaitResult WaitReadable(int milliseconds) override {
    return WaitSocketReadable(static_cast<uintptr_t>(fd_), milliseconds);
  }
  int Receive(char* buffer, int size) override {
    ssize_t r;
    do r = ::recv(fd_, buffer, static_cast<size_t>(size), 0);
    while (r < 0 && errno == EINTR);
    return r < 0 ? -1 : static_cast<int>(r);
  }

 private:
  int fd_;
};

}  // namespace

NetLibrary::NetLibrary(int, int) : ok_(true) {}
NetLibrary::~NetLibrary() = default;

std::unique_ptr<IStream> ConnectTcp(std::string_view host, uint16_t port, std::string* error) {
  auto fail = [&](std::string why) -> std::unique_ptr<IStream> {
    if (error) *error = std::move(why);
    return nullptr;
  };
  const std::string name(host);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, name.c_str(), &addr.sin_addr) != 1) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found)
      return fail("cannot resolve host " + name);
    addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return fail("cannot open a socket");
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int e = errno;
    ::close(fd);
    return fail("cannot connect to " + name + ":" + std::to_string(port) + " (" + std::strerror(e) + ")");
  }
  return std::make_unique<PosixStream>(fd);
}

}  // namespace rvx::net
#endif
