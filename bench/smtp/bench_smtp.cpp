// Sending a bug report with a 1 MB attachment to a loopback aiosmtpd with login: our SMTP client against
// Python's smtplib sending the same message to the same server in the same run. Prints the best time of each
// and the ratio (ours / smtplib). Needs /usr/bin/python3 with python3-aiosmtpd.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "crash/core/settings.h"
#include "crash/delivery/smtp.h"
#include "crash/stack/text.h"
#include "crash/ui/progress_alert.h"
#include "tests/support/oracle_files.h"
#include "tests/support/peer_process.h"

namespace fs = std::filesystem;

int main() {
  constexpr int kRounds = 7;
  const fs::path dir = rvx::test::OracleFolder("bench_smtp");
  rvx::test::Peer sink(fs::path(RVX_SMTP_PEERS) / "smtp_sink.py", {dir.string(), "bench", "s3cret", "600"}, dir);
  const uint16_t port = sink.Port();
  if (port == 0) {
    std::printf("aiosmtpd did not start (python3-aiosmtpd missing?):\n%s\n", rvx::test::ReadAll(dir / "peer.log").c_str());
    return 1;
  }
  std::string attachment(1 << 20, '\0');
  std::mt19937 random(11);
  for (char& c : attachment) c = static_cast<char>(random());
  rvx::test::WriteFile(dir / "attachment.bin", attachment);

  rvx::smtp::ProcessSwitches().heloName = "crashbox.test";
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
    job.files = {rvx::DecodeUtf8Text((dir / "attachment.bin").string())};
    job.sendAs = {"bugreport.bin"};
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = rvx::SendJob(job);
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!ok) {
      std::printf("sending failed: %s\n", job.error.c_str());
      return 1;
    }
    ours = std::min(ours, t);
  }

  const std::string cmd = std::string(rvx::test::kPython) + " '" + RVX_BENCH_SMTP + "/smtplib_send.py' " +
                          std::to_string(port) + " bench s3cret '" + (dir / "attachment.bin").string() + "' " +
                          std::to_string(kRounds);
  FILE* p = popen(cmd.c_str(), "r");
  double peer = 0;
  if (!p || std::fscanf(p, "%lf", &peer) != 1 || peer <= 0) {
    if (p) pclose(p);
    std::printf("smtplib run failed\n");
    return 1;
  }
  pclose(p);
  std::printf("1 MB attachment over loopback SMTP with login, best of %d: ours %.1f ms, smtplib %.1f ms, "
              "ratio ours/smtplib %.2f\n",
              kRounds, ours * 1e3, peer * 1e3, ours / peer);
  return 0;
}
