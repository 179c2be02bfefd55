// The whole sending of a bug report against real peers on 127.0.0.1: the sending sequence with its settings
// pointed at aiosmtpd (SMTP through a server, with AUTH LOGIN), at dnsmasq and aiosmtpd (direct delivery to the
// mail exchanger of the recipient's domain) and at an HTTP server (upload). The report arrives, and the report
// file goes only after a confirmed sending.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/settings_stream.h"
#include "tests/delivery/send_settings.h"
#include "crash/core/exception_record.h"
#include "crash/core/settings.h"
#include "crash/delivery/dns.h"
#include "crash/delivery/online.h"
#include "crash/delivery/send.h"
#include "crash/delivery/smtp.h"
#include "crash/stack/text.h"
#include "crash/ui/picture_object.h"
#include "support/oracle_files.h"
#include "support/peer_process.h"
#include "tests/delivery/child_process.h"
#include "tests/delivery/upload_server.h"
#include "tests/ui/test_pictures.h"

namespace rvx {
namespace {

namespace fs = std::filesystem;
using test::Peer;
using test::ReadAll;

fs::path SinkScript() { return fs::path(RVX_SMTP_PEERS) / "smtp_sink.py"; }

constexpr const char* kReport =
    "exception class   : EAccessViolation\r\nexception message : Access violation at address 00401234\r\n"
    "\r\nmain thread ($1f4):\r\n00401234 +000 crashlab.exe crashlab.cpp 12 +2 Crash\r\n";

class SendToPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "python3-aiosmtpd is not installed";
    dir_ = test::OracleFolder(std::string("send_peer_") +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_ / "lab");
    fs::create_directories(dir_ / "tmp");
    setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    SetSkipOnlineCheck(true);
    module_ = 0x7600000 + 0x10000 * static_cast<ModuleHandle>(++counter_);
  }
  void TearDown() override {
    SetSkipOnlineCheck(false);
    smtp::ProcessSwitches() = smtp::Switches{};
    dns::SetDnsPort(53);
    dns::SetSystemDnsServersOverride(std::nullopt);
    ClearMemoryModules();
    unsetenv("TMPDIR");
  }

  Ref<IRVSettings> Settings(const std::function<void(rvxtest::SettingsStream&)>& more) {
    rvxtest::SettingsStream s;
    rvxtest::SendingOff(s);
    s.Text("MailAddr", "support@corp.example.test");
    s.Text("MailSubj", "Relat\xF3rio de erros").Text("MailBody", "%bugReport%");
    more(s);
    const fs::path program = dir_ / "lab" / "crashlab.exe";
    SetMemoryModule(module_, DecodeUtf8Text(program.string()));
    SetMemoryResource(module_, "ZAVEDO", s.End());
    return Ref<IRVSettings>(SettingsOfModule(module_).get());
  }

  // Through the server on 127.0.0.1 with the account "support".
  Ref<IRVSettings> SmtpClientSettings(uint16_t port, const char* password) {
    return Settings([&](auto& s) {
      s.Bool("MailAsSmtpClient", true).Text("SmtpServer", "127.0.0.1").Int("SmtpPort", port);
      s.Text("SmtpAccount", "support").Text("SmtpPassword", EncodeStoredPassword(password, "127.0.0.1", "support"));
    });
  }

  // The report file beside the program, holding older reports, as a saved report leaves it.
  fs::path ReportFile() const { return dir_ / "lab" / "bugreport.txt"; }
  void WriteReportFile() { std::ofstream(ReportFile(), std::ios::binary) << kReport << "\r\n"; }

  bool Deliver(Ref<IRVSettings> settings) {
    SendRequest r;
    r.report = kReport;
    r.silent = true;  // no failure box, no dialling
    r.settings = std::move(settings);
    SendPlatform platform = SystemSendPlatform();
    platform.programFile = DecodeUtf8Text((dir_ / "lab" / "crashlab.exe").string());
    return DeliverBugReport(r, platform);
  }

  fs::path dir_;
  ModuleHandle module_ = 0;
  static inline int counter_ = 0;
};

TEST_F(SendToPeers, ThroughTheSmtpServerWithLogin) {
  Peer sink(SinkScript(), {dir_.string(), "support", "s3cret"}, dir_);
  const uint16_t port = sink.Port();
  ASSERT_NE(port, 0) << ReadAll(dir_ / "peer.log");
  WriteReportFile();
  auto settings = SmtpClientSettings(port, "s3cret");
  ASSERT_TRUE(Deliver(settings)) << ReadAll(dir_ / "peer.log");

  const std::string mail = ReadAll(dir_ / "message-1.eml");
  EXPECT_NE(mail.find("Subject: =?ISO-8859-1?Q?Relat=F3rio=20de=20erros?="), std::string::npos) << mail;
  EXPECT_NE(mail.find("From: Ravex <support@corp.example.test>"), std::string::npos) << mail;
  EXPECT_NE(mail.find("exception message : Access violation at address 00401234"), std::string::npos);
  EXPECT_NE(mail.find("filename=\"bugreport.txt\""), std::string::npos) << mail;
  EXPECT_NE(ReadAll(dir_ / "message-1.json").find("\"login\": true"), std::string::npos);
  // Sent with a copy of the report file attached: the file goes.
  EXPECT_FALSE(fs::exists(ReportFile()));
}

// The attachment of a mail as it arrived, decoded by Python's email package; empty when there is none.
std::string MailAttachment(const fs::path& mail, const std::string& name, const fs::path& out) {
  const std::string command = "/usr/bin/python3 -c 'import email, sys\n"
                              "m = email.message_from_binary_file(open(sys.argv[1], \"rb\"))\n"
                              "for p in m.walk():\n"
                              "  if p.get_filename() == sys.argv[2]: open(sys.argv[3], \"wb\").write(p.get_payload(decode=True))' " +
                              mail.string() + " " + name + " " + out.string();
  fs::remove(out);
  if (std::system(command.c_str()) != 0) return {};
  return ReadAll(out);
}

// A record's screenshot goes along as a PNG file of the format its ScrShotDepth gives, unless the user
// unticked "attach" after it was taken.
TEST_F(SendToPeers, RecordsScreenshotIsAttachedAsPngOnlyWhileAppendIsOn) {
  Peer sink(SinkScript(), {dir_.string(), "support", "s3cret"}, dir_);
  const uint16_t port = sink.Port();
  ASSERT_NE(port, 0) << ReadAll(dir_ / "peer.log");
  Settings([&](auto& s) {
    s.Bool("MailAsSmtpClient", true).Text("SmtpServer", "127.0.0.1").Int("SmtpPort", port);
    s.Text("SmtpAccount", "support").Text("SmtpPassword", EncodeStoredPassword("s3cret", "127.0.0.1", "support"));
    s.Int("ScrShotDepth", 4).Text("ScrShotSendAs", "tela.png");
  });
  ExceptionParams p;
  p.settings = SettingsOfModule(module_);
  p.address = 0x401234;
  p.dontCompleteYet = true;
  Ref<TIRVException> record = NewExceptionRecord(p);
  ASSERT_TRUE(record);
  const INVBitmap shot = test::Scene(160, 100);
  const std::string grey = shot->PngBytes(1);  // ScrShotDepth 4: the 16-level grey file
  record->SetScreenShot(MakePictureObject(shot));
  record->SetAppendScreenShot(true);
  ASSERT_TRUE(DeliverRecordReport(record.get(), nullptr, nullptr, false, true)) << ReadAll(dir_ / "peer.log");
  EXPECT_TRUE(MailAttachment(dir_ / "message-1.eml", "tela.png", dir_ / "tela-1.png") == grey)
      << ReadAll(dir_ / "message-1.eml").substr(0, 4000);

  record->SetAppendScreenShot(false);
  ASSERT_TRUE(DeliverRecordReport(record.get(), nullptr, nullptr, false, true)) << ReadAll(dir_ / "peer.log");
  const std::string second = ReadAll(dir_ / "message-2.eml");
  EXPECT_NE(second.find("exception"), std::string::npos) << "the report itself still goes";
  EXPECT_EQ(second.find("tela.png"), std::string::npos);
}

TEST_F(SendToPeers, AFailedSendingKeepsTheReportFile) {
  Peer sink(SinkScript(), {dir_.string(), "support", "s3cret"}, dir_);
  const uint16_t port = sink.Port();
  ASSERT_NE(port, 0) << ReadAll(dir_ / "peer.log");
  WriteReportFile();
  auto settings = SmtpClientSettings(port, "wrong");
  EXPECT_FALSE(Deliver(settings));
  EXPECT_FALSE(fs::exists(dir_ / "message-1.eml"));
  EXPECT_EQ(ReadAll(ReportFile()), std::string(kReport) + "\r\n");
}

TEST_F(SendToPeers, DirectlyToTheMailExchangerOfTheRecipientsDomain) {
  const char* dnsmasq = "/usr/sbin/dnsmasq";
  if (!fs::exists(dnsmasq)) GTEST_SKIP() << dnsmasq << " is not installed (package dnsmasq-base)";
  Peer sink(SinkScript(), {dir_.string(), "unused", "unused"}, dir_);
  const uint16_t port = sink.Port();
  ASSERT_NE(port, 0) << ReadAll(dir_ / "peer.log");
  // The domain's mail exchanger is named by its loopback address, so nothing outside this machine is asked.
  rvxtest::ChildProcess dns;
  const uint16_t dnsPort = rvxtest::FreeLoopbackPort(SOCK_DGRAM);
  std::vector<std::string> args{dnsmasq, "--keep-in-foreground", "--port=" + std::to_string(dnsPort),
                                "--listen-address=127.0.0.1", "--bind-interfaces", "--no-resolv", "--no-hosts",
                                "--conf-file=/dev/null", "--pid-file", "--log-facility=-",
                                "--mx-host=corp.example.test,127.0.0.1,10"};
  if (::geteuid() == 0) {
    args.push_back("--user=root");
    args.push_back("--group=root");
  }
  ASSERT_TRUE(dns.Start(args, (dir_ / "dnsmasq.log").string()));
  dns::SetDnsPort(dnsPort);
  dns::SetSystemDnsServersOverride(std::vector<std::string>{"127.0.0.1"});
  smtp::ProcessSwitches().directPort = port;
  std::vector<std::string> hosts;
  for (int i = 0; i < 50 && hosts.empty(); ++i) {  // until dnsmasq answers
    hosts = dns::MxHostsOf("support@corp.example.test");
    if (hosts.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(hosts, std::vector<std::string>{"127.0.0.1"}) << ReadAll(dir_ / "dnsmasq.log");

  auto settings = Settings([](auto& s) { s.Bool("MailAsSmtpServer", true); });
  ASSERT_TRUE(Deliver(settings)) << ReadAll(dir_ / "peer.log");
  const std::string envelope = ReadAll(dir_ / "message-1.json");
  EXPECT_NE(envelope.find("\"to\": [\"support@corp.example.test\"]"), std::string::npos) << envelope;
  EXPECT_NE(envelope.find("\"login\": null"), std::string::npos) << envelope;  // no credentials given
}

TEST_F(SendToPeers, ByUploadToTheWebServer) {
  rvxtest::UploadServer server;
  const std::string why = server.Start("send_peer_upload");
  if (!why.empty()) GTEST_SKIP() << why;
  WriteReportFile();
  auto settings = Settings([&](auto& s) {
    s.Bool("UploadViaHttp", true).Text("HttpServer", "127.0.0.1/200/report").Int("HttpPort", server.port());
  });
  ASSERT_TRUE(Deliver(settings));
  EXPECT_NE(server.Stats("report").find("body_ends_with_delimiter=1"), std::string::npos);
  // The attached copy of the report file: its older reports, then this one.
  const std::string attached = rvxtest::ReadWhole(server.Case("report") / "file-BugReport.bin");
  EXPECT_EQ(attached.rfind(kReport), std::string(kReport).size() + 2) << attached;
  EXPECT_EQ(attached.find(kReport), 0u) << attached;
  EXPECT_NE(rvxtest::ReadWhole(server.Case("report") / "field-MailSubject").find("Relat"), std::string::npos);
  EXPECT_FALSE(fs::exists(ReportFile()));
}

}  // namespace
}  // namespace rvx
