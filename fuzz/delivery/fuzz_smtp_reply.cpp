// SMTP replies from an arbitrary server: the bytes arrive in arbitrary pieces and are read as a series of
// replies, each expecting one of the codes a session expects. Never crashes, never keeps more than the cap,
// and a decided reply stays decided however much more arrives.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "crash/delivery/smtp_reply.h"

namespace {

// A server whose bytes are the fuzz input, handed out in pieces of the sizes the input's first bytes say.
class InputStream : public rvx::net::IStream {
 public:
  InputStream(std::string_view bytes, uint8_t pieceSeed) : rest_(bytes), seed_(pieceSeed | 1) {}
  bool Send(std::string_view) override { return true; }
  rvx::net::WaitResult WaitReadable(int) override {
    return rest_.empty() ? rvx::net::WaitResult::Timeout : rvx::net::WaitResult::Ready;
  }
  int Receive(char* buffer, int size) override {
    seed_ = static_cast<uint8_t>(seed_ * 13 + 7);
    size_t n = std::min<size_t>({rest_.size(), static_cast<size_t>(size), static_cast<size_t>(seed_ % 64 + 1)});
    rest_.copy(buffer, n);
    rest_.remove_prefix(n);
    return static_cast<int>(n);
  }

 private:
  std::string_view rest_;
  uint8_t seed_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const char* const kCodes[] = {"220", "250", "334", "235", "354", "221"};
  const uint8_t plan = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  // The parser fed piece by piece.
  rvx::smtp::ReplyParser parser;
  parser.Begin(kCodes[plan % 6], plan & 0x80);
  using State = rvx::smtp::ReplyParser::State;
  size_t at = 0, step = data[1] % 17 + 1;
  while (at < bytes.size()) {
    const State before = parser.state();
    const State after = parser.Feed(bytes.substr(at, step));
    if (before != State::NeedMore && after != before) std::abort();
    if (after == State::Matched || after == State::Refused) parser.Begin(kCodes[(plan + at) % 6], at & 1);
    if (after == State::TooLong || after == State::Malformed) parser.Begin(kCodes[plan % 6], false);
    if (parser.text().size() > 300) std::abort();
    at += step;
  }

  // The reader over a stream, until the input runs out.
  InputStream stream(bytes, data[1]);
  rvx::smtp::ReplyReader reader(stream, 1);
  std::string error;
  for (int i = 0; i < 64 && reader.usable(); ++i) {
    const bool ok = reader.Read(kCodes[(plan + i) % 6], &error, (i & 1) != 0);
    if (!ok && error.empty()) std::abort();
    if (error.find('\n') != std::string::npos || error.find('\r') != std::string::npos) std::abort();
    error.clear();
  }
  return 0;
}
