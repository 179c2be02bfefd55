// Mail sending with STARTTLS from end to end: SendJob against aiosmtpd on 127.0.0.1, which offers STARTTLS
// and logs every AUTH it receives. Credentials go only over a connection whose certificate was checked; a
// refused certificate or a refused STARTTLS ends the sending before any AUTH.
#include <gtest/gtest.h>

#include <filesystem>

#include "crash/core/settings.h"
#include "crash/delivery/fields.h"
#include "crash/delivery/mail_job.h"
#include "crash/delivery/smtp.h"
#include "crash/delivery/tls.h"
#include "crash/ui/progress_alert.h"
#include "tests/support/peer_process.h"
#include "tests/delivery/test_pki.h"

namespace {

namespace fs = std::filesystem;
using rvx::MailJob;
using rvx::test::ReadAll;

const std::string kSink = std::string(RVX_SOURCE_DIR) + "/tests/delivery/peers/starttls_sink.py";

class StartTlsMail : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new rvx::test::TestPki(rvx::test::OracleFolder("starttls_mail_test"));
    ASSERT_TRUE(pki_->MakeServerSet("/CN=localhost"));
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }
  void SetUp() override {
    if (std::system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "python3-aiosmtpd is not installed";
    rvx::tls::SetExtraRootsFile(pki_->Pem("root").string());
    rvx::smtp::ProcessSwitches() = rvx::smtp::Switches{};
    rvx::smtp::ProcessSwitches().heloName = "crashbox.test";
  }
  void TearDown() override {
    rvx::tls::SetExtraRootsFile("");
    rvx::smtp::ProcessSwitches() = rvx::smtp::Switches{};
  }

  // Sends one report through a sink with certificate `cert` in `mode` to `server`; `folder` gets the
  // sink's files (auth.log, message-1.eml).
  bool Send(const std::string& name, const std::string& cert, const std::string& mode, const std::string& server,
            std::string* error, fs::path* folder) {
    *folder = pki_->dir() / name;
    fs::create_directories(*folder);
    rvx::test::Peer sink(kSink, {folder->string(), "support@example.test", "s3cret", pki_->Pem(cert).string(),
                                 pki_->Key(cert).string(), mode, "60"},
                         *folder);
    const uint16_t port = sink.Port();
    EXPECT_NE(port, 0) << ReadAll(*folder / "peer.log");
    MailJob job;
    job.server = server;
    job.port = port;
    job.sender = "crash@example.test";
    job.recipients = "support@example.test";
    job.subject = "report";
    job.body = "a bug report";
    job.account = "support@example.test";
    job.password = "s3cret";
    const bool sent = rvx::SendJob(job);
    *error = job.error;
    sink.Join();  // the sink has written everything it saw
    return sent;
  }

  static rvx::test::TestPki* pki_;
};
rvx::test::TestPki* StartTlsMail::pki_ = nullptr;

TEST_F(StartTlsMail, TrustedCertificateTheMailArrivesAndCredentialsWentOnlyOverTls) {
  std::string error;
  fs::path dir;
  ASSERT_TRUE(Send("trusted", "good", "tls", "localhost", &error, &dir)) << error;
  EXPECT_EQ(ReadAll(dir / "auth.log"), "AUTH LOGIN secured=yes\n");
  EXPECT_NE(ReadAll(dir / "message-1.eml").find("a bug report"), std::string::npos);
}

TEST_F(StartTlsMail, RefusedCertificatesEndTheSendingBeforeAuth) {
  struct Case {
    const char* name;
    const char* cert;
    const char* server;
    const char* reason;
  } cases[] = {
      {"self_signed", "self", "localhost", "certificate not trusted: self-signed"},
      {"other_host", "other", "127.0.0.1", "certificate is for mail.example.org, not 127.0.0.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    fs::path dir;
    EXPECT_FALSE(Send(c.name, c.cert, "tls", c.server, &error, &dir));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "auth.log")) << ReadAll(dir / "auth.log");
    EXPECT_FALSE(fs::exists(dir / "message-1.eml"));
  }
}

TEST_F(StartTlsMail, StartTlsAnsweredWith454FailsWithoutAuth) {
  std::string error;
  fs::path dir;
  EXPECT_FALSE(Send("refused_starttls", "good", "refuse", "localhost", &error, &dir));
  EXPECT_NE(error.find("454"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir / "auth.log")) << ReadAll(dir / "auth.log");
  EXPECT_FALSE(fs::exists(dir / "message-1.eml"));
}

}  // namespace
