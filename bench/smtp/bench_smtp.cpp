// Sending a bug report with a 1 MB attachment to a loopback aiosmtpd with login, in plain and after STARTTLS:
// our SMTP client against Python's smtplib sending the same message to the same server in the same run.
// Prints the best time of each and the ratio (ours / smtplib). Needs /usr/bin/python3 with python3-aiosmtpd
// and the openssl command (the STARTTLS server's certificates are made for the run).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "crash/core/settings.h"
#include "crash/delivery/smtp.h"
#include "crash/delivery/tls.h"
#include "crash/stack/text.h"
#include "crash/ui/progress_alert.h"
#include "tests/delivery/test_pki.h"
#include "tests/support/oracle_files.h"
#include "tests/support/peer_process.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 7;

// One line of the table: ours and smtplib against the server started by `sink`; false when anything failed.
bool Measure(const char* what, rvx::test::Peer& sink, const fs::path& dir, const std::string& trustedRoot) {
  const uint16_t port = sink.Port();
  if (port == 0) {
    std::printf("%s: the server did not start:\n%s\n", what, rvx::test::ReadAll(dir / "peer.log").c_str());
    return false;
  }
  double ours = 1e9;
  for (int i = 0; i < kRounds; ++i) {
    rvx::MailJob job;
    job.server = "127.0.0.1";
    job.port = port;
    job.account = "bench";
    job.password = "s3cret";
    job.sender = "Ravex <crash@example.test>";
    job.recipients = "support@example.test";
    job.subject = "Relat\xF3rio de erros";
    job.body = "Ol\xE1,\nthe report is attached.\n";
    job.files = {rvx::DecodeUtf8Text((dir.parent_path() / "attachment.bin").string())};
    job.sendAs = {"bugreport.bin"};
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = rvx::SendJob(job);
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!ok) {
      std::printf("%s: sending failed: %s\n", what, job.error.c_str());
      return false;
    }
    ours = std::min(ours, t);
  }

  const std::string cmd = std::string(rvx::test::kPython) + " '" + RVX_BENCH_SMTP + "/smtplib_send.py' " +
                          std::to_string(port) + " bench s3cret '" + (dir.parent_path() / "attachment.bin").string() +
                          "' " + std::to_string(kRounds) + (trustedRoot.empty() ? "" : " '" + trustedRoot + "'");
  FILE* p = popen(cmd.c_str(), "r");
  double peer = 0;
  if (!p || std::fscanf(p, "%lf", &peer) != 1 || peer <= 0) {
    if (p) pclose(p);
    std::printf("%s: smtplib run failed\n", what);
    return false;
  }
  pclose(p);
  std::printf("1 MB attachment over loopback SMTP with login, %s, best of %d: ours %.1f ms, smtplib %.1f ms, "
              "ratio ours/smtplib %.2f\n",
              what, kRounds, ours * 1e3, peer * 1e3, ours / peer);
  return true;
}

}  // namespace

int main() {
  const fs::path dir = rvx::test::OracleFolder("bench_smtp");
  std::string attachment(1 << 20, '\0');
  std::mt19937 random(11);
  for (char& c : attachment) c = static_cast<char>(random());
  rvx::test::WriteFile(dir / "attachment.bin", attachment);
  rvx::smtp::ProcessSwitches().heloName = "crashbox.test";

  fs::create_directories(dir / "plain");
  rvx::test::Peer plain(fs::path(RVX_SMTP_PEERS) / "smtp_sink.py",
                        {(dir / "plain").string(), "bench", "s3cret", "600"}, dir / "plain");
  if (!Measure("plain", plain, dir / "plain", "")) return 1;

  fs::create_directories(dir / "tls");
  rvx::test::TestPki pki(dir / "tls");
  if (!pki.MakeServerSet("/CN=localhost")) {
    std::printf("STARTTLS: the test certificates could not be made (openssl missing?)\n");
    return 1;
  }
  rvx::tls::SetExtraRootsFile(pki.Pem("root").string());
  rvx::test::Peer secured(fs::path(RVX_SMTP_PEERS) / "starttls_sink.py",
                          {(dir / "tls").string(), "bench", "s3cret", pki.Pem("good").string(),
                           pki.Key("good").string(), "tls", "600"},
                          dir / "tls");
  return Measure("after STARTTLS", secured, dir / "tls", pki.Pem("root").string()) ? 0 : 1;
}
