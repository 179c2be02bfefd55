// SMTP replies: the line parser (fed bytes as they arrive, in any pieces) and the reader that drives it from a
// stream with a bounded wait per piece and a cap on the buffered size.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "crash/delivery/net.h"

namespace rvx::smtp {

// What the EHLO reply announced.
struct Extensions {
  bool login = false;     // an AUTH line names the LOGIN mechanism (also in the form AUTH=LOGIN)
  bool startTls = false;  // a STARTTLS line
};

// Parses one reply. Lines end with LF (a CR before it is dropped); every line must begin with three digits,
// and a "-" after them announces more lines. The reply matches when its code equals the expected one.
class ReplyParser {
 public:
  enum class State { NeedMore, Matched, Refused, Malformed, TooLong };

  static constexpr size_t kMaxReplyBytes = 64 * 1024;

  // Starts a new reply; bytes left over from the previous one are kept (a server that answers early).
  void Begin(std::string_view expectedCode, bool scanExtensions);
  // Adds received bytes and parses every complete line. Once the state is no longer NeedMore it stays.
  State Feed(std::string_view bytes);
  State state() const { return state_; }

  const Extensions& extensions() const { return extensions_; }
  // The reply's lines joined with blanks, control bytes replaced, cut to a readable length.
  const std::string& text() const { return text_; }

 private:
  void TakeLine(std::string_view line);

  std::string expected_;
  bool scan_ = false;
  State state_ = State::NeedMore;
  std::string buffer_;      // bytes not yet consumed as lines
  size_t replyBytes_ = 0;   // bytes of the current reply consumed so far
  bool codeKnown_ = false;  // the first line fixed the reply's code
  bool matches_ = false;
  Extensions extensions_;
  std::string text_;
};

// Reads replies from a stream. Every wait for data is bounded by `waitMs` (or the wait given to Read) and
// is split into short slices, between which `cancelled` (when set) is asked whether to give up.
class ReplyReader {
 public:
  ReplyReader(net::IStream& stream, int waitMs, std::function<bool()> cancelled = {})
      : stream_(&stream), waitMs_(waitMs), cancelled_(std::move(cancelled)) {}
  void SetStream(net::IStream& stream) { stream_ = &stream; }

  static constexpr int kSliceMs = 250;

  // True when a complete reply with `code` arrived. Otherwise `error` gets a one-line reason: the server's
  // reply text when it answered with another code (refused() is then true), else what went wrong.
  // `waitMs` above 0 replaces the reader's limit for every wait of this reply.
  bool Read(std::string_view code, std::string* error = nullptr, bool scanExtensions = false, int waitMs = 0);
  // True when the last Read ended because the sending was cancelled.
  bool cancelled() const { return wasCancelled_; }
  bool refused() const { return parser_.state() == ReplyParser::State::Refused; }

  const Extensions& extensions() const { return parser_.extensions(); }
  const std::string& text() const { return parser_.text(); }
  // False after a timeout, a closed or failed stream or an unreadable reply: nothing more can be said on it.
  bool usable() const { return usable_; }

 private:
  // Waits for data up to `waitMs` in slices; Timeout also when cancelled (wasCancelled_ is then set).
  net::WaitResult Wait(int waitMs);

  net::IStream* stream_;
  int waitMs_;
  std::function<bool()> cancelled_;
  bool wasCancelled_ = false;
  ReplyParser parser_;
  bool usable_ = true;
};

}  // namespace rvx::smtp
