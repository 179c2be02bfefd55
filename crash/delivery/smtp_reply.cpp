#include "crash/delivery/smtp_reply.h"

#include <algorithm>

namespace rvx::smtp {
namespace {

constexpr size_t kMaxReplyText = 300;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
  for (size_t i = 0; i + word.size() <= text.size(); ++i)
    if (StartsWithNoCase(text.substr(i), word)) return true;
  return false;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void ScanExtension(std::string line, Extensions& found) {
  // "AUTH=LOGIN PLAIN" is an old form of "AUTH LOGIN PLAIN".
  std::replace(line.begin(), line.end(), '=', ' ');
  const std::string_view keyword = line.size() > 4 ? std::string_view(line).substr(4) : std::string_view();
  if (!found.login && StartsWithNoCase(keyword, "AUTH ")) {
    const std::string mechanisms = std::string(keyword.substr(4)) + " ";
    if (ContainsNoCase(mechanisms, " LOGIN ")) found.login = true;
  }
  std::string_view word = keyword;
  while (!word.empty() && (word.back() == ' ' || word.back() == '\t')) word.remove_suffix(1);
  if (word.size() == 8 && StartsWithNoCase(word, "STARTTLS")) found.startTls = true;
}

}  // namespace

void ReplyParser::Begin(std::string_view expectedCode, bool scanExtensions) {
  expected_ = std::string(expectedCode);
  scan_ = scanExtensions;
  state_ = State::NeedMore;
  replyBytes_ = 0;
  codeKnown_ = false;
  matches_ = false;
  extensions_ = {};
  text_.clear();
  Feed({});
}

ReplyParser::State ReplyParser::Feed(std::string_view bytes) {
  if (state_ != State::NeedMore) return state_;
  buffer_.append(bytes);
  size_t start = 0;
  while (state_ == State::NeedMore) {
    const size_t end = buffer_.find('\n', start);
    if (end == std::string::npos) break;
    std::string_view line(buffer_.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    replyBytes_ += end + 1 - start;
    start = end + 1;
    if (replyBytes_ > kMaxReplyBytes) {
      state_ = State::TooLong;
      break;
    }
    TakeLine(line);
  }
  buffer_.erase(0, start);
  if (state_ == State::NeedMore && replyBytes_ + buffer_.size() > kMaxReplyBytes) state_ = State::TooLong;
  if (state_ == State::TooLong || state_ == State::Malformed) buffer_.clear();
  return state_;
}

void ReplyParser::TakeLine(std::string_view line) {
  if (text_.size() < kMaxReplyText) {
    if (!text_.empty()) text_ += ' ';
    for (char c : line.substr(0, kMaxReplyText - text_.size()))
      text_ += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  }
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) {
    state_ = State::Malformed;
    return;
  }
  if (!codeKnown_) {
    codeKnown_ = true;
    matches_ = line.substr(0, 3) == expected_;
  } else if (matches_ != (line.substr(0, 3) == expected_)) {
    state_ = State::Malformed;  // the lines of one reply disagree on its code
    return;
  }
  if (matches_ && scan_) ScanExtension(std::string(line), extensions_);
  if (line.size() > 3 && line[3] == '-') return;  // more lines follow
  state_ = matches_ ? State::Matched : State::Refused;
}

net::WaitResult ReplyReader::Wait(int waitMs) {
  // The remaining time is counted from the slices asked for: a stream waits as long as it is asked to.
  int left = waitMs < 0 ? 0 : waitMs;
  for (;;) {
    if (cancelled_ && cancelled_()) {
      wasCancelled_ = true;
      return net::WaitResult::Timeout;
    }
    const int slice = std::min(left, kSliceMs);
    const net::WaitResult r = stream_->WaitReadable(slice);
    if (r != net::WaitResult::Timeout) return r;
    left -= slice;
    if (left <= 0) return r;
  }
}

bool ReplyReader::Read(std::string_view code, std::string* error, bool scanExtensions, int waitMs) {
  auto fail = [&](std::string why) {
    usable_ = false;
    if (error) *error = std::move(why);
    return false;
  };
  if (!usable_) return fail("the connection is no longer usable");
  const int limit = waitMs > 0 ? waitMs : waitMs_;
  wasCancelled_ = false;
  parser_.Begin(code, scanExtensions);
  char piece[1024];
  while (parser_.state() == ReplyParser::State::NeedMore) {
    switch (Wait(limit)) {
      case net::WaitResult::Ready: break;
      case net::WaitResult::Timeout:
        if (wasCancelled_) return fail("the sending was cancelled");
        return fail("no answer within " + std::to_string((limit + 999) / 1000) + " s");
      case net::WaitResult::Failed: return fail("waiting for the answer failed");
    }
    const int n = stream_->Receive(piece, sizeof piece);
    if (n == 0) return fail("the server closed the connection");
    if (n < 0) return fail("receiving the answer failed");
    parser_.Feed(std::string_view(piece, static_cast<size_t>(n)));
  }
  switch (parser_.state()) {
    case ReplyParser::State::Matched: return true;
    case ReplyParser::State::Refused:
      if (error) *error = parser_.text();
      return false;
    case ReplyParser::State::TooLong: return fail("answer longer than 64 KiB");
    default: return fail("malformed answer \"" + parser_.text() + "\"");
  }
}

}  // namespace rvx::smtp
