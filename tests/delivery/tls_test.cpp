// The STARTTLS upgrade through the native provider against a Python TLS server on 127.0.0.1: trusted
// certificates carry data both ways, untrusted or misnamed ones are refused with their reason, and a server
// that breaks off or falls silent during the handshake gives a clear failure within the handshake limit.
#include <gtest/gtest.h>

#include <algorithm>

#include "crash/delivery/tls.h"
#include "tests/support/peer_process.h"
#include "tests/delivery/test_pki.h"

namespace {

using rvx::net::IStream;
using rvx::net::WaitResult;
using rvx::test::Peer;

const std::string kScript = std::string(RVX_SOURCE_DIR) + "/tests/delivery/tls_server.py";

// Receives until `want` bytes arrived (or the stream ends or stays silent for 10 seconds).
std::string ReceiveBytes(IStream& s, size_t want) {
  std::string got;
  char buffer[4096];
  while (got.size() < want && s.WaitReadable(10000) == WaitResult::Ready) {
    const int n = s.Receive(buffer, static_cast<int>(std::min(sizeof buffer, want - got.size())));
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

// A connection that hands out what arrives a few bytes at a time (1 to 7, in turn): records and handshake
// messages then always come in pieces.
class Trickle final : public IStream {
 public:
  explicit Trickle(std::unique_ptr<IStream> inner) : inner_(std::move(inner)) {}
  bool Send(std::string_view bytes) override { return inner_->Send(bytes); }
  WaitResult WaitReadable(int milliseconds) override {
    return pending_.empty() ? inner_->WaitReadable(milliseconds) : WaitResult::Ready;
  }
  int Receive(char* buffer, int size) override {
    if (pending_.empty()) {
      char more[4096];
      const int n = inner_->Receive(more, sizeof more);
      if (n <= 0) return n;
      pending_.assign(more, static_cast<size_t>(n));
    }
    step_ = step_ % 7 + 1;
    const size_t n = std::min({pending_.size(), static_cast<size_t>(size), step_});
    pending_.copy(buffer, n);
    pending_.erase(0, n);
    return static_cast<int>(n);
  }

 private:
  std::unique_ptr<IStream> inner_;
  std::string pending_;
  size_t step_ = 0;
};

class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new rvx::test::TestPki(rvx::test::OracleFolder("tls_test"));
    ASSERT_TRUE(pki_->MakeServerSet("/CN=Ravex test server"));
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }
  void SetUp() override {
    rvx::tls::SetExtraRootsFile(pki_->Pem("root").string());
    rvx::tls::SetHandshakeLimit(30000);
  }
  void TearDown() override { rvx::tls::SetExtraRootsFile(""); }

  // Starts the server in `mode` with certificate `cert`, talks the clear-text part and upgrades.
  std::unique_ptr<IStream> Upgrade(const std::string& mode, const std::string& cert, const std::string& host,
                                   std::string* error, bool trickle = false) {
    static int runs = 0;  // a fresh folder per server: no port file of an earlier one
    const std::filesystem::path folder = pki_->dir() / ("run" + std::to_string(++runs));
    std::filesystem::create_directories(folder);
    server_ = std::make_unique<Peer>(
        kScript, std::vector<std::string>{folder.string(), mode, pki_->Pem(cert).string(), pki_->Key(cert).string()},
        folder);
    const uint16_t port = server_->Port();
    EXPECT_NE(port, 0);
    log_ = folder / "peer.log";
    auto plain = rvx::net::ConnectTcp("127.0.0.1", port, error);
    if (!plain) return nullptr;
    EXPECT_EQ(ReceiveBytes(*plain, 11), "220 ready\r\n");
    EXPECT_TRUE(plain->Send("STARTTLS\r\n"));
    EXPECT_EQ(ReceiveBytes(*plain, 8), "220 go\r\n");
    EXPECT_FALSE(plain->Secured());
    if (trickle) plain = std::make_unique<Trickle>(std::move(plain));
    return rvx::tls::StartTls(std::move(plain), host, error);
  }

  static rvx::test::TestPki* pki_;
  std::unique_ptr<Peer> server_;
  std::filesystem::path log_;  // the server's output
};
rvx::test::TestPki* TlsTest::pki_ = nullptr;

TEST_F(TlsTest, TrustedServerCarriesDataBothWaysUntilItCloses) {
  std::string error;
  auto tls = Upgrade("echo", "good", "localhost", &error);
  ASSERT_TRUE(tls) << error;
  EXPECT_TRUE(tls->Secured());
  EXPECT_EQ(ReceiveBytes(*tls, 8), "secure\r\n");
  // Records without application data (session tickets) must not look like data.
  EXPECT_EQ(tls->WaitReadable(300), WaitResult::Timeout);

  // One megabyte in pieces of 16 KB, each echoed before the next goes out.
  std::string sent, echoed;
  for (int i = 0; i < 64; ++i) {
    std::string piece(16384, '\0');
    for (size_t k = 0; k < piece.size(); ++k) piece[k] = static_cast<char>((k * 31 + static_cast<size_t>(i) * 7) & 0xFF);
    ASSERT_TRUE(tls->Send(piece));
    sent += piece;
    echoed += ReceiveBytes(*tls, piece.size());
    ASSERT_EQ(echoed.size(), sent.size()) << "piece " << i;
  }
  EXPECT_TRUE(echoed == sent);

  ASSERT_TRUE(tls->Send("last words BYE\r\n"));
  EXPECT_EQ(ReceiveBytes(*tls, 20), "last words 221 bye\r\n");
  // After the server's close notification the stream reports its end, once and for good.
  EXPECT_EQ(tls->WaitReadable(10000), WaitResult::Ready);
  char c;
  EXPECT_EQ(tls->Receive(&c, 1), 0);
  EXPECT_EQ(tls->Receive(&c, 1), 0);
  server_->Join();
  EXPECT_EQ(rvx::test::ReadAll(log_), "");  // the server saw the whole dialogue without an error
}

TEST_F(TlsTest, RecordsArrivingInSmallPiecesAreReassembled) {
  std::string error;
  auto tls = Upgrade("echo", "good", "localhost", &error, true);
  ASSERT_TRUE(tls) << error;
  EXPECT_EQ(ReceiveBytes(*tls, 8), "secure\r\n");
  std::string piece(40000, '\0');
  for (size_t k = 0; k < piece.size(); ++k) piece[k] = static_cast<char>(k * 7 + k / 251);
  ASSERT_TRUE(tls->Send(piece));
  EXPECT_TRUE(ReceiveBytes(*tls, piece.size()) == piece);
}

TEST_F(TlsTest, AnAddressLiteralIsCheckedAgainstTheAddressEntries) {
  std::string error;
  auto tls = Upgrade("echo", "good", "127.0.0.1", &error);
  ASSERT_TRUE(tls) << error;
  EXPECT_EQ(ReceiveBytes(*tls, 8), "secure\r\n");
}

TEST_F(TlsTest, UntrustedCertificatesAreRefused) {
  std::string error;
  EXPECT_FALSE(Upgrade("echo", "self", "localhost", &error));
  EXPECT_EQ(error, "certificate not trusted: self-signed");

  rvx::tls::SetExtraRootsFile("");  // the test root is not among the system's roots
  EXPECT_FALSE(Upgrade("echo", "good", "localhost", &error));
  EXPECT_EQ(error, "certificate not trusted: issuer unknown");

  rvx::tls::SetExtraRootsFile((pki_->dir() / "missing.pem").string());
  EXPECT_FALSE(Upgrade("echo", "good", "localhost", &error));
  EXPECT_EQ(error.rfind("cannot read the trusted root certificates in ", 0), 0u) << error;
}

TEST_F(TlsTest, ACertificateForAnotherHostIsRefused) {
  std::string error;
  EXPECT_FALSE(Upgrade("echo", "other", "smtp.example.com", &error));
  EXPECT_EQ(error, "certificate is for mail.example.org, not smtp.example.com");
  EXPECT_FALSE(Upgrade("echo", "good", "localhost.localdomain", &error));
  EXPECT_EQ(error, "certificate is for localhost, 127.0.0.1, not localhost.localdomain");
}

TEST_F(TlsTest, BrokenHandshakesFailClearlyAndInTime) {
  std::string error;
  EXPECT_FALSE(Upgrade("close", "good", "localhost", &error));
  EXPECT_EQ(error, "TLS handshake failed: the server closed the connection");

  rvx::tls::SetHandshakeLimit(1500);
  EXPECT_FALSE(Upgrade("silent", "good", "localhost", &error));
  EXPECT_EQ(error, "TLS handshake failed: no answer from the server within 2 seconds");

  EXPECT_FALSE(rvx::tls::StartTls(nullptr, "localhost", &error));
  EXPECT_EQ(error, "TLS handshake failed: no connection");
}

}  // namespace
