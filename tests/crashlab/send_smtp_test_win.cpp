// crashlab.exe sends its report to a small SMTP server on 127.0.0.1 run by this test: by the record's send
// action and by the automatic background send of a thrown exception. The mail that arrives is checked.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "crashlab/crashlab_run.h"

namespace {

// Accepts sessions one after the other and answers every command with success; keeps the commands and the
// message of each session.
class LoopbackSmtp {
 public:
  LoopbackSmtp() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int size = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    listen(listener_, 4);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackSmtp() {
    closesocket(listener_);  // ends accept
    thread_.join();
    WSACleanup();
  }
  int Port() const { return port_; }
  std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> g(mutex_);
    return messages_;
  }

 private:
  static bool Line(SOCKET s, std::string& buffer, std::string& line) {
    for (;;) {
      size_t end = buffer.find("\r\n");
      if (end != std::string::npos) {
        line = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        return true;
      }
      char chunk[4096];
      int n = recv(s, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buffer.append(chunk, static_cast<size_t>(n));
    }
  }
  static void Reply(SOCKET s, const std::string& text) { send(s, text.data(), static_cast<int>(text.size()), 0); }

  void Session(SOCKET s) {
    DWORD wait = 30000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
    std::string buffer, line, transcript;
    Reply(s, "220 loopback ready\r\n");
    while (Line(s, buffer, line)) {
      transcript += line + "\r\n";
      std::string verb = line.substr(0, 4);
      for (char& c : verb) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      if (verb == "EHLO") {
        Reply(s, "250-loopback\r\n250 AUTH LOGIN\r\n");
      } else if (verb == "DATA") {
        Reply(s, "354 go on\r\n");
        while (Line(s, buffer, line) && line != ".") transcript += line + "\r\n";
        {
          std::lock_guard<std::mutex> g(mutex_);
          messages_.push_back(transcript);
        }
        Reply(s, "250 queued\r\n");
      } else if (verb == "QUIT") {
        Reply(s, "221 bye\r\n");
        break;
      } else {
        Reply(s, "250 ok\r\n");
      }
    }
    closesocket(s);
  }
  void Serve() {
    for (;;) {
      SOCKET s = accept(listener_, nullptr, nullptr);
      if (s == INVALID_SOCKET) return;
      Session(s);
    }
  }

  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> messages_;
};

TEST(SendSmtp, SendActionDeliversAndMarksTheRecord) {
  LoopbackSmtp server;
  SetEnvironmentVariableA("RVX_SMTP_PORT", std::to_string(server.Port()).c_str());
  Outcome o = RunLab("send-smtp");
  ASSERT_TRUE(o.finished) << o.out;
  EXPECT_NE(o.out.find("send result 1 sent 1"), std::string::npos) << o.out;
  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mails[0].find("MAIL FROM:<lab@example.org>"), std::string::npos) << mails[0];
  EXPECT_NE(mails[0].find("RCPT TO:<lab@example.org>"), std::string::npos) << mails[0];
  EXPECT_NE(mails[0].find("Ravex"), std::string::npos) << mails[0];
  EXPECT_NE(mails[0].find("bugreport.txt"), std::string::npos) << mails[0];
}

TEST(SendSmtp, AutomaticSendRunsInTheBackgroundBeforeTheProgramEnds) {
  LoopbackSmtp server;
  SetEnvironmentVariableA("RVX_SMTP_PORT", std::to_string(server.Port()).c_str());
  Outcome o = RunLab("send-smtp-auto");
  ASSERT_TRUE(o.finished) << o.out;
  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u) << o.out;
  EXPECT_NE(mails[0].find("ELabError"), std::string::npos) << mails[0];
  // Sent, so the automatic save that only saves unsent reports left the report file alone.
  EXPECT_TRUE(o.report.empty()) << o.report;
}

}  // namespace
