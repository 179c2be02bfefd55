// The Windows half of the STARTTLS mail test (the Linux half, starttls_win_test.py, runs the server and
// judges the outcome). Commands:
//   install ROOT.der   adds the test root to the machine's root store (the store SChannel's chain check uses)
//   remove ROOT.der    takes it out again
//   send HOST PORT ACCOUNT PASSWORD
//                      one report mail through SendJob with AUTH LOGIN (STARTTLS when the server offers it).
//                      Prints "sent" or "failed: <reason>"; exit code 0 only when the mail was delivered.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "crash/core/settings.h"
#include "crash/delivery/fields.h"
#include "crash/delivery/mail_job.h"
#include "crash/delivery/smtp.h"
#include "crash/ui/progress_alert.h"

namespace {

std::string ReadFile(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

int RootStore(bool install, const char* path) {
  const std::string der = ReadFile(path);
  if (der.empty()) {
    std::printf("failed: cannot read %s\n", path);
    return 2;
  }
  HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (!store) {
    std::printf("failed: cannot open the root store (%lu)\n", ::GetLastError());
    return 2;
  }
  PCCERT_CONTEXT cert = ::CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                       static_cast<DWORD>(der.size()));
  bool ok = cert != nullptr;
  if (ok && install) {
    ok = ::CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  } else if (ok) {
    PCCERT_CONTEXT found = ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr);
    ok = !found || ::CertDeleteCertificateFromStore(found);  // deleting frees `found`
  }
  if (cert) ::CertFreeCertificateContext(cert);
  ::CertCloseStore(store, 0);
  std::printf(ok ? "%s\n" : "failed: %s (%lu)\n", install ? "installed" : "removed", ::GetLastError());
  return ok ? 0 : 2;
}

int Send(const char* host, int port, const char* account, const char* password) {
  rvx::MailJob job;
  job.server = host;
  job.port = static_cast<uint16_t>(port);
  job.sender = "crash@crashbox.test";
  job.recipients = "support@example.org";
  job.subject = "TLS from Windows";
  job.body = "sent through SChannel";
  job.account = account;
  job.password = password;
  rvx::smtp::ProcessSwitches().heloName = "crashbox.test";
  if (!rvx::SendJob(job)) {
    std::printf("failed: %s\n", job.error.c_str());
    return 1;
  }
  std::printf("sent\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if ((command == "install" || command == "remove") && argc == 3) return RootStore(command == "install", argv[2]);
  if (command == "send" && argc == 6) return Send(argv[2], std::atoi(argv[3]), argv[4], argv[5]);
  std::printf("usage: tls_smtp_client install|remove ROOT.der | send HOST PORT ACCOUNT PASSWORD\n");
  return 2;
}
