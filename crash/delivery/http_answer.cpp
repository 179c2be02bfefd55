// The upload server's answer: a status line (after any "100 Continue" interim answers), and for a redirect
// its location. Everything here is untrusted bytes from the network.
#include <chrono>
#include <cctype>

#include "crash/delivery/http_upload.h"

namespace rvx::http {
namespace {

// Printable text for a one-line error message.
std::string Shown(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 80)) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

bool Fail(Answer& answer, std::string why) {
  answer.ok = false;
  answer.error = std::move(why);
  return true;
}

// The "Location:" header of the header block, if its line is complete.
bool FindLocation(std::string_view headers, std::string& location) {
  size_t at = headers.find("\r\n");
  while (at != std::string_view::npos) {
    const std::string_view rest = headers.substr(at + 2);
    const size_t end = rest.find("\r\n");
    if (end == std::string_view::npos) return false;
    const std::string_view line = rest.substr(0, end);
    if (StartsWithNoCase(line, "location:")) {
      std::string_view value = line.substr(9);
      value = value.substr(0, value.find_first_of("\r\n"));  // a bare CR or LF ends the line too
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
      if (value.empty()) return false;
      location.assign(value);
      return true;
    }
    if (line.empty()) return false;  // end of the header block
    at += 2 + end;
  }
  return false;
}

}  // namespace

bool JudgeAnswer(std::string& received, bool ended, Answer& answer) {
  if (received.size() >= kMaxAnswerBytes) ended = true;
  for (;;) {
    const size_t lineEnd = received.find("\r\n");
    if (lineEnd == std::string::npos) {
      if (!ended) return false;
      if (received.empty()) return Fail(answer, "the server closed the connection without answering");
      return Fail(answer, "the server's answer is not HTTP: \"" + Shown(received) + "\"");
    }
    const std::string_view line(received.data(), lineEnd);
    const size_t blank = line.find(' ');
    const std::string_view status = blank == std::string_view::npos
                                        ? std::string_view()
                                        : line.substr(blank + 1, line.find(' ', blank + 1) - blank - 1);
    const bool digits = status.size() == 3 && std::isdigit(static_cast<unsigned char>(status[0])) &&
                        std::isdigit(static_cast<unsigned char>(status[1])) &&
                        std::isdigit(static_cast<unsigned char>(status[2]));
    if (!StartsWithNoCase(line, "HTTP/") || !digits)
      return Fail(answer, "the server's answer is not HTTP: \"" + Shown(line) + "\"");
    if (status == "100") {
      const size_t blockEnd = received.find("\r\n\r\n");
      if (blockEnd == std::string::npos) {
        if (!ended) return false;
        return Fail(answer, "the server closed the connection after \"" + Shown(line) + "\"");
      }
      received.erase(0, blockEnd + 4);
      continue;
    }
    if (status == "200") {
      answer.ok = true;
      answer.error.clear();
      return true;
    }
    if (status == "302") {
      if (FindLocation(received, answer.location)) {
        answer.ok = true;
        answer.error.clear();
        return true;
      }
      if (!ended && received.find("\r\n\r\n") == std::string::npos) return false;
      return Fail(answer, "the server answered \"" + Shown(line) + "\" without a location");
    }
    return Fail(answer, "the server answered \"" + Shown(line) + "\"");
  }
}

Answer ReadAnswer(net::IStream& stream, int milliseconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  Answer answer;
  std::string received;
  bool ended = false;
  char piece[kAnswerPiece];
  while (!JudgeAnswer(received, ended, answer)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const net::WaitResult wait = left > 0 ? stream.WaitReadable(static_cast<int>(left)) : net::WaitResult::Timeout;
    if (wait == net::WaitResult::Timeout) {
      answer.error = "no answer from the server within " + std::to_string((milliseconds + 999) / 1000) + " s";
      return answer;
    }
    const size_t room = kMaxAnswerBytes - received.size();
    const int got = wait == net::WaitResult::Ready
                        ? stream.Receive(piece, static_cast<int>(room < sizeof piece ? room : sizeof piece))
                        : -1;
    if (got < 0) {
      answer.error = "receiving the server's answer failed";
      return answer;
    }
    if (got == 0) ended = true;
    received.append(piece, static_cast<size_t>(got));
  }
  return answer;
}

bool OpenableRedirect(std::string_view url) {
  if (!StartsWithNoCase(url, "http://") && !StartsWithNoCase(url, "https://")) return false;
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return false;
  }
  return true;
}

}  // namespace rvx::http
