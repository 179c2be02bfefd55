// The upload's answer reader on arbitrary server bytes, delivered in pieces. Input: one byte giving the piece
// size (1..256), then the answer. The reader must end with a verdict, a reason for every failure, a location
// only with success, and never take more than its byte bound.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crash/delivery/http_upload.h"

namespace {

class Pieces final : public rvx::net::IStream {
 public:
  Pieces(std::string_view data, size_t piece) : data_(data), piece_(piece) {}
  bool Send(std::string_view) override { return true; }
  rvx::net::WaitResult WaitReadable(int) override { return rvx::net::WaitResult::Ready; }
  int Receive(char* buffer, int size) override {
    if (size <= 0) std::abort();
    size_t n = data_.size() < piece_ ? data_.size() : piece_;
    if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
    data_.copy(buffer, n);
    data_.remove_prefix(n);
    taken_ += n;
    return static_cast<int>(n);
  }
  size_t taken() const { return taken_; }

 private:
  std::string_view data_;
  size_t piece_;
  size_t taken_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string answerBytes(reinterpret_cast<const char*>(data + 1), size - 1);
  Pieces stream(answerBytes, static_cast<size_t>(data[0]) + 1);
  const rvx::http::Answer a = rvx::http::ReadAnswer(stream, 1000);
  if (a.ok != a.error.empty()) std::abort();
  if (!a.location.empty() && !a.ok) std::abort();
  if (a.location.find_first_of("\r\n") != std::string::npos) std::abort();
  if (stream.taken() > rvx::http::kMaxAnswerBytes) std::abort();
  return 0;
}
