#include "crash/delivery/tls_stream.h"

#include <algorithm>
#include <cstring>

namespace rvx::tls {

Deadline::Deadline(int milliseconds)
    : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds)) {}

int Deadline::Left() const {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

ReadResult ReadSome(net::IStream& raw, std::string* in, const Deadline& deadline) {
  switch (raw.WaitReadable(deadline.Left())) {
    case net::WaitResult::Ready: break;
    case net::WaitResult::Timeout: return ReadResult::Timeout;
    case net::WaitResult::Failed: return ReadResult::Failed;
  }
  char buffer[16384];
  const int n = raw.Receive(buffer, sizeof buffer);
  if (n < 0) return ReadResult::Failed;
  if (n == 0) return ReadResult::Closed;
  in->append(buffer, static_cast<size_t>(n));
  return ReadResult::Data;
}

std::string SecondsText(int milliseconds) {
  const int seconds = (milliseconds + 999) / 1000;
  return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

SecuredStream::SecuredStream(std::unique_ptr<net::IStream> raw, std::string leftover)
    : in_(std::move(leftover)), raw_(std::move(raw)) {}

bool SecuredStream::Send(std::string_view bytes) {
  if (failed_) return false;
  std::string records;
  while (!bytes.empty()) {
    const std::string_view piece = bytes.substr(0, MaxPiece());
    records.clear();
    if (!Encrypt(piece, &records) || !raw_->Send(records)) {
      failed_ = true;
      return false;
    }
    bytes.remove_prefix(piece.size());
  }
  return true;
}

net::WaitResult SecuredStream::WaitReadable(int milliseconds) {
  const Deadline deadline(milliseconds);
  for (;;) {
    if (delivered_ < plain_.size() || closed_) return net::WaitResult::Ready;
    if (failed_) return net::WaitResult::Failed;
    switch (Decrypt()) {
      case Step::Progress: continue;
      case Step::Closed: closed_ = true; continue;
      case Step::Failed: failed_ = true; return net::WaitResult::Failed;
      case Step::NeedMore: break;
    }
    switch (ReadSome(*raw_, &in_, deadline)) {
      case ReadResult::Data: break;
      case ReadResult::Timeout: return net::WaitResult::Timeout;
      // A peer that drops the connection without a close notification: the reader sees the end of data.
      case ReadResult::Closed: closed_ = true; break;
      case ReadResult::Failed: failed_ = true; return net::WaitResult::Failed;
    }
  }
}

int SecuredStream::Receive(char* buffer, int size) {
  if (size <= 0) return 0;
  if (delivered_ == plain_.size() && WaitReadable(kReceiveLimit) != net::WaitResult::Ready) return -1;
  if (delivered_ == plain_.size()) return failed_ ? -1 : 0;  // closed
  const size_t n = std::min(static_cast<size_t>(size), plain_.size() - delivered_);
  std::memcpy(buffer, plain_.data() + delivered_, n);
  delivered_ += n;
  if (delivered_ == plain_.size()) {
    plain_.clear();
    delivered_ = 0;
  }
  return static_cast<int>(n);
}

}  // namespace rvx::tls
