// Test doubles for mail sending: a scripted SMTP server behind a stream (answers each expected command with
// the scripted pieces, records everything it receives) and a progress window that records its calls.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "crash/core/settings.h"
#include "crash/delivery/mail_job.h"
#include "crash/ui/progress_alert.h"

namespace rvx::test {

struct SmtpScript {
  struct Step {
    std::string expect;               // prefix of the command that triggers the answer
    std::vector<std::string> pieces;  // received one piece per Receive; none: the server stays silent
    bool closeAfter = false;          // the server closes the connection after answering
    int delayMs = 0;                  // the answer comes once the client has waited this long for it
  };
  std::vector<std::string> greeting{"220 test ready\r\n"};
  std::vector<Step> steps;

  // What the client did.
  std::vector<std::string> commands;  // lines outside the message
  std::string message;                // the lines between DATA and the final dot, each with CR LF
  std::string received;               // every byte
  std::vector<std::string> unexpected;
  int connects = 0;
  int secured = 0;  // commands received over the upgraded stream

  // Run time.
  size_t next = 0;
  std::deque<std::string> out;
  std::vector<std::string> held;  // an answer that comes after heldMs of waiting
  int heldMs = 0;
  int waitedMs = 0;               // how long the client waited for the held answer so far
  bool closed = false;
  bool inData = false;
  std::string partial;

  void Start() {
    ++connects;
    out.assign(greeting.begin(), greeting.end());
  }
  void TakeLine(const std::string& line, bool overTls) {
    if (inData) {
      if (line == ".") {
        inData = false;
        commands.push_back(line);
        if (overTls) ++secured;
        Answer(line);
      } else {
        message += line + "\r\n";
      }
      return;
    }
    commands.push_back(line);
    if (overTls) ++secured;
    Answer(line);
  }
  void Answer(const std::string& line) {
    if (next >= steps.size() || line.compare(0, steps[next].expect.size(), steps[next].expect) != 0) {
      unexpected.push_back(line);
      out.push_back("502 not in the script\r\n");
      return;
    }
    const Step& s = steps[next++];
    if (s.delayMs > 0) {
      held = s.pieces;
      heldMs = s.delayMs;
      waitedMs = 0;
    } else {
      for (const std::string& p : s.pieces) out.push_back(p);
    }
    if (!s.pieces.empty() && s.pieces.back().compare(0, 3, "354") == 0) inData = true;
    if (s.closeAfter) closed = true;
  }
  bool Sent(const std::string& prefix) const {
    for (const std::string& c : commands)
      if (c.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
};

class ScriptedStream : public net::IStream {
 public:
  ScriptedStream(std::shared_ptr<SmtpScript> script, bool overTls = false) : s_(std::move(script)), tls_(overTls) {}
  bool Send(std::string_view bytes) override {
    if (s_->closed) return false;
    s_->received.append(bytes);
    s_->partial.append(bytes);
    size_t end;
    while ((end = s_->partial.find("\r\n")) != std::string::npos) {
      const std::string line = s_->partial.substr(0, end);
      s_->partial.erase(0, end + 2);
      s_->TakeLine(line, tls_);
    }
    return true;
  }
  net::WaitResult WaitReadable(int milliseconds) override {
    if (s_->out.empty() && !s_->held.empty()) {
      s_->waitedMs += milliseconds;
      if (s_->waitedMs < s_->heldMs) return net::WaitResult::Timeout;
      s_->out.insert(s_->out.end(), s_->held.begin(), s_->held.end());
      s_->held.clear();
    }
    return s_->out.empty() && !s_->closed ? net::WaitResult::Timeout : net::WaitResult::Ready;
  }
  int Receive(char* buffer, int size) override {
    if (s_->out.empty()) return 0;
    std::string& piece = s_->out.front();
    const int n = std::min<int>(size, static_cast<int>(piece.size()));
    piece.copy(buffer, static_cast<size_t>(n));
    piece.erase(0, static_cast<size_t>(n));
    if (piece.empty()) s_->out.pop_front();
    return n;
  }
  bool Secured() const override { return tls_; }

 private:
  std::shared_ptr<SmtpScript> s_;
  bool tls_;
};

// A job that talks to the script; hosts connected to are recorded.
inline MailJob ScriptedJob(const std::shared_ptr<SmtpScript>& script, std::vector<std::string>* hosts = nullptr) {
  MailJob job;
  job.server = "mail.example.test";
  job.port = 587;
  job.sender = "Ravex <crash@example.test>";
  job.recipients = "support@example.test";
  job.subject = "Erro";
  job.body = "Hello";
  job.connect = [script, hosts](std::string_view host, uint16_t, std::string*) -> std::unique_ptr<net::IStream> {
    if (hosts) hosts->emplace_back(host);
    script->Start();
    return std::make_unique<ScriptedStream>(script);
  };
  job.startTls = [script](std::unique_ptr<net::IStream> plain, std::string_view, std::string*) {
    plain.reset();
    return std::unique_ptr<net::IStream>(std::make_unique<ScriptedStream>(script, true));
  };
  return job;
}

class RecordingProgress : public RefObject<IProgressAlert> {
 public:
  std::vector<std::string> calls;  // "append TEXT WEIGHT", "finish", "position N", "active N", "remove", "close"
  std::string GetCaptionText() override { return {}; }
  void SetCaptionText(std::string_view) override {}
  int32_t GetBarPosition() override { return 0; }
  void SetBarPosition(int32_t p) override { calls.push_back("position " + std::to_string(p)); }
  void AppendArea(std::string_view text, int64_t weight) override {
    calls.push_back("append " + std::string(text) + " " + std::to_string(weight));
  }
  void RemoveAllAreas() override { calls.push_back("remove"); }
  void FinishArea() override { calls.push_back("finish"); }
  int32_t GetActiveArea() override { return 0; }
  void SetActiveArea(int32_t index) override { calls.push_back("active " + std::to_string(index)); }
  void PumpMessages() override {}
  bool OpenAlert(ProgressWindowHandle, bool) override { return true; }
  void CloseAlert() override { calls.push_back("close"); }
};

}  // namespace rvx::test
