// Plain TCP connections for the delivery methods: the networking library's lifetime, connecting by dotted
// address or host lookup, whole-buffer sends in pieces, bounded waits for data. The platform files are
// net_win.cpp (Winsock) and net_posix.cpp (the native build, used by tests and host tools).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace rvx::net {

// Starts the platform's networking library for the lifetime of the object.
class NetLibrary {
 public:
  explicit NetLibrary(int major = 1, int minor = 1);
  ~NetLibrary();
  NetLibrary(const NetLibrary&) = delete;
  NetLibrary& operator=(const NetLibrary&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

enum class WaitResult { Ready, Timeout, Failed };

// One connected byte stream (plain TCP, or TLS over it).
class IStream {
 public:
  virtual ~IStream() = default;
  // Sends the whole buffer in pieces of at most 1024 bytes; false as soon as one send fails.
  virtual bool Send(std::string_view bytes) = 0;
  // Waits at most `milliseconds` until data (or the peer's close) can be received.
  virtual WaitResult WaitReadable(int milliseconds) = 0;
  // Receives up to `size` bytes: the count, 0 when the peer closed, -1 on failure.
  virtual int Receive(char* buffer, int size) = 0;
  // True when the stream is protected by TLS with a checked certificate.
  virtual bool Secured() const { return false; }
};

// Resolves `host` (dotted address first, then the platform's host lookup) and connects to `port`.
// Null on failure, with a one-line reason in `error` when given.
std::unique_ptr<IStream> ConnectTcp(std::string_view host, uint16_t port, std::string* error = nullptr);

}  // namespace rvx::net
