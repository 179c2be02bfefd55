// Mail sending against real peers on 127.0.0.1: Python's aiosmtpd receives the report mail (checked with
// Python's email package), and a scripted server that misbehaves in one way per run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "crash/core/settings.h"
#include "crash/delivery/smtp.h"
#include "crash/delivery/zip.h"
#include "crash/stack/text.h"
#include "crash/ui/png_encoder.h"
#include "crash/ui/progress_alert.h"
#include "support/oracle_files.h"
#include "support/peer_process.h"

namespace rvx::smtp {
namespace {

namespace fs = std::filesystem;
using test::kPython;
using test::Peer;
using test::ReadAll;

bool PythonHas(const char* module) {
  return std::system((std::string(kPython) + " -c 'import " + module + "' >/dev/null 2>&1").c_str()) == 0;
}

fs::path PeersFolder() { return fs::path(RVX_SMTP_PEERS); }

std::wstring Wide(const fs::path& p) { return DecodeUtf8Text(p.string()); }

MailJob LoopbackJob(uint16_t port, const char* sender, const char* recipients) {
  MailJob job;
  job.server = "127.0.0.1";
  job.port = port;
  job.sender = sender;
  job.recipients = recipients;
  job.subject = "s";
  job.body = "b";
  return job;
}

class SmtpPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PythonHas("aiosmtpd")) GTEST_SKIP() << "python3-aiosmtpd is not installed";
    ProcessSwitches() = Switches{};
    ProcessSwitches().heloName = "crashbox.test";
  }
  void TearDown() override { ProcessSwitches() = Switches{}; }
};

TEST_F(SmtpPeers, AiosmtpdReceivesTheReportWithAccentsAndAttachmentsIntact) {
  const fs::path dir = test::OracleFolder("smtp_peer_aiosmtpd");
  Peer sink(PeersFolder() / "smtp_sink.py", {dir.string(), "support@example.test", "s3cr\xC3\xA9t"}, dir);
  const uint16_t port = sink.Port();
  ASSERT_NE(port, 0) << ReadAll(dir / "peer.log");

  // The attachments: a report text, a zip archive of it and a screenshot-like PNG of a few KB.
  std::string report = "Relat\xF3rio de erros\r\n.\r\n..starts with dots\r\nexception class   : EAccessViolation\r\n";
  for (int i = 0; i < 200; ++i) report += "line " + std::to_string(i) + " of the stack\r\n";
  test::WriteFile(dir / "bugreport.txt", report);
  ASSERT_TRUE(ZipFiles(Wide(dir / "report.zip"), {Wide(dir / "bugreport.txt")}, {L"bugreport.txt"}));
  std::vector<uint8_t> pixels(64 * 64 * 4);
  std::mt19937 random(7);
  for (uint8_t& p : pixels) p = static_cast<uint8_t>(random() % 4 * 60);
  test::WriteFile(dir / "screenshot.png", EncodePng(PixelView{64, 64, pixels.data()}, 0));
  ASSERT_GT(fs::file_size(dir / "screenshot.png"), 1000u);

  MailJob job = LoopbackJob(port, "Ravex <crash@example.test>", "support@example.test; boss@example.test");
  job.account = "support@example.test";
  job.password = "s3cr\xC3\xA9t";
  job.subject = "Relat\xF3rio de erros";
  job.body = "Ol\xE1,\n.\n.hidden line\r\nfim";
  job.files = {Wide(dir / "bugreport.txt"), Wide(dir / "report.zip"), Wide(dir / "screenshot.png")};
  job.sendAs = {"bugreport.txt", "report.zip", "screenshot.png"};
  ASSERT_TRUE(SendJob(job)) << job.error << "\n" << ReadAll(dir / "peer.log");

  const std::string envelope = ReadAll(dir / "message-1.json");
  EXPECT_NE(envelope.find("\"from\": \"crash@example.test\""), std::string::npos) << envelope;
  EXPECT_NE(envelope.find("\"to\": [\"support@example.test\", \"boss@example.test\"]"), std::string::npos)
      << envelope;
  EXPECT_NE(envelope.find("\"login\": true"), std::string::npos) << envelope;
  test::WriteFile(dir / "expected.json",
                  R"({"subject": "Relatório de erros", "from": "Ravex <crash@example.test>",
 "to": "support@example.test, boss@example.test", "body": "Olá,\n.\n.hidden line\nfim",
 "attachments": [["bugreport.txt", "application/octet-stream", ")" +
                      (dir / "bugreport.txt").string() + R"("],
   ["report.zip", "application/octet-stream", ")" +
                      (dir / "report.zip").string() + R"("],
   ["screenshot.png", "image/png", ")" +
                      (dir / "screenshot.png").string() + R"("]]})");
  const std::string check = std::string(kPython) + " '" + (PeersFolder() / "check_mail.py").string() + "' '" +
                            (dir / "message-1.eml").string() + "' '" + (dir / "expected.json").string() +
                            "' >'" + (dir / "check.log").string() + "' 2>&1";
  EXPECT_EQ(std::system(check.c_str()), 0) << ReadAll(dir / "check.log");

  // A wrong password is refused by the server, and nothing is delivered.
  job.password = "wrong";
  EXPECT_FALSE(SendJob(job));
  EXPECT_NE(job.error.find("refused the password: 535"), std::string::npos) << job.error;
  EXPECT_FALSE(fs::exists(dir / "message-2.eml"));
}

TEST_F(SmtpPeers, MisbehavingServersEndTheSendingWithAClearReason) {
  struct Case {
    const char* mode;
    const char* error;  // a part of job.error
  } cases[] = {
      {"close-after-ehlo", "SMTP EHLO failed: the server closed the connection"},
      {"slow-greeting", "SMTP the connection failed: no answer within 1 s"},
      {"malformed", "SMTP the connection failed: malformed answer \"hello, this is no SMTP server\""},
      {"busy-451", "SMTP server refused MAIL FROM <crash@example.test>: 451 4.3.0 try again later"},
      {"unknown-550", "SMTP server refused RCPT TO <support@example.test>: 550 5.1.1 no such user"},
      {"reply-flood", "SMTP EHLO failed: answer longer than 64 KiB"},
      {"refused", "SMTP connection failed: cannot connect to 127.0.0.1:"},
  };
  ProcessSwitches().replyWaitMs = 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    const fs::path dir = test::OracleFolder(std::string("smtp_peer_") + c.mode);
    Peer peer(PeersFolder() / "misbehaving_smtp.py", {dir.string(), c.mode, "20"}, dir);
    const uint16_t port = peer.Port();
    ASSERT_NE(port, 0) << ReadAll(dir / "peer.log");
    MailJob job = LoopbackJob(port, "crash@example.test", "support@example.test");
    EXPECT_FALSE(SendJob(job));
    EXPECT_NE(job.error.find(c.error), std::string::npos) << job.error;
    EXPECT_EQ(job.error.find('\n'), std::string::npos);
    peer.Join();
    const std::string commands = ReadAll(dir / "commands.txt");
    // Refusals after the greeting still end with QUIT.
    const std::string mode = c.mode;
    if (mode == "busy-451" || mode == "unknown-550") {
      EXPECT_NE(commands.find("QUIT"), std::string::npos) << commands;
    }
  }
}

}  // namespace
}  // namespace rvx::smtp
