// TCP streams on Windows: Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "crash/delivery/net.h"
#include "crash/delivery/socket_wait.h"

namespace rvx::net {
namespace {

class WinsockStream final : public IStream {
 public:
  explicit WinsockStream(SOCKET s) : s_(s) {}
  ~WinsockStream() override { ::closesocket(s_); }

  bool Send(std::string_view bytes) override {
    while (!bytes.empty()) {
      const int piece = bytes.size() < 1024 ? static_cast<int>(bytes.size()) : 1024;
      const int sent = ::send(s_, bytes.data(), piece, 0);
      if (sent == SOCKET_ERROR || sent <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
  }
  WaitResult WaitReadable(int milliseconds) override {
    return WaitSocketReadable(static_cast<uintptr_t>(s_), milliseconds);
  }
  int Receive(char* buffer, int size) override {
    const int r = ::recv(s_, buffer, size, 0);
    return r == SOCKET_ERROR ? -1 : r;
  }

 private:
  SOCKET s_;
};

}  // namespace

NetLibrary::NetLibrary(int major, int minor) {
  WSADATA data;
  ok_ = ::WSAStartup(MAKEWORD(major, minor), &data) == 0;
}
NetLibrary::~NetLibrary() {
  if (ok_) ::WSACleanup();
}

std::unique_ptr<IStream> ConnectTcp(std::string_view host, uint16_t port, std::string* error) {
  auto fail = [&](std::string why) -> std::unique_ptr<IStream> {
    if (error) *error = std::move(why);
    return nullptr;
  };
  const std::string name(host);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = ::htons(port);
  addr.sin_addr.s_addr = ::inet_addr(name.c_str());
  if (addr.sin_addr.s_addr == INADDR_NONE || name.empty()) {
    hostent* h = ::gethostbyname(name.c_str());
    if (!h || h->h_addrtype != AF_INET || !h->h_addr_list || !h->h_addr_list[0])
      return fail("cannot resolve host " + name);
    std::memcpy(&addr.sin_addr, h->h_addr_list[0], sizeof addr.sin_addr);
  }
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return fail("cannot open a socket");
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
    const int e = ::WSAGetLastError();
    ::closesocket(s);
    return fail("cannot connect to " + name + ":" + std::to_string(port) + " (Winsock error " +
                std::to_string(e) + ")");
  }
  return std::make_unique<WinsockStream>(s);
}

}  // namespace rvx::net
