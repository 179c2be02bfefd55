// The part of a secured stream that both TLS providers share: encrypted bytes received but not yet used,
// decrypted bytes not yet delivered, and waits that stay within their bounds however the records arrive
// (split over many reads, several in one read, or records that carry no application data at all).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "crash/delivery/net.h"

namespace rvx::tls {

// A point in time a sequence of waits must not pass.
class Deadline {
 public:
  explicit Deadline(int milliseconds);
  // Milliseconds left, 0 once passed.
  int Left() const;

 private:
  std::chrono::steady_clock::time_point end_;
};

enum class ReadResult { Data, Timeout, Closed, Failed };

// Waits for raw bytes until the deadline and appends what one receive brings to `in`.
ReadResult ReadSome(net::IStream& raw, std::string* in, const Deadline& deadline);

// Formats a limit for messages: "30 seconds".
std::string SecondsText(int milliseconds);

class SecuredStream : public net::IStream {
 public:
  bool Send(std::string_view bytes) override;
  net::WaitResult WaitReadable(int milliseconds) override;
  // Delivers decrypted bytes; without any it waits (at most kReceiveLimit) like a blocking receive would.
  int Receive(char* buffer, int size) override;
  bool Secured() const override { return true; }

  static constexpr int kReceiveLimit = 60000;

 protected:
  // `leftover`: encrypted bytes that arrived with the end of the handshake.
  SecuredStream(std::unique_ptr<net::IStream> raw, std::string leftover);

  enum class Step { Progress, NeedMore, Closed, Failed };
  // Decrypts what it can of `in_` (removing what it used) and appends the plain bytes to `plain_`. Progress
  // means that something was used or produced; NeedMore that `in_` holds no complete record.
  virtual Step Decrypt() = 0;
  // The records that carry `piece` (at most MaxPiece() bytes).
  virtual bool Encrypt(std::string_view piece, std::string* records) = 0;
  virtual size_t MaxPiece() const { return 16384; }

  net::IStream& raw() { return *raw_; }

  std::string in_;
  std::string plain_;

 private:
  std::unique_ptr<net::IStream> raw_;
  size_t delivered_ = 0;  // bytes of plain_ already handed out
  bool closed_ = false;
  bool failed_ = false;
};

// StartTls of a provider: opens `Stream` (constructed from the plain stream; `Open(host)` returns the reason
// of a failure, empty on success) and hands it out once it is open.
template <class Stream>
std::unique_ptr<net::IStream> OpenSecured(std::unique_ptr<net::IStream> plain, std::string_view host,
                                          std::string* error) {
  std::string why = "TLS handshake failed: no connection";
  if (plain) {
    auto stream = std::make_unique<Stream>(std::move(plain));
    why = stream->Open(host);
    if (why.empty()) return stream;
  }
  if (error) *error = why;
  return nullptr;
}

}  // namespace rvx::tls
