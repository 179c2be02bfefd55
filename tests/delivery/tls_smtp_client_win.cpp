// The Windows half of the STARTTLS mail test (the Linux half, starttls_win_test.py, runs the server and
// judges the outcome). Commands:
//   install ROOT.der   adds the test root to the machine's root store (the store SChannel's chain check uses)
//   remove ROOT.der    takes it out again
//   send HOST PORT ACCOUNT PASSWORD
//                      one mail over SMTP: greeting, EHLO, STARTTLS, the upgrade through tls::StartTls, EHLO
//                      again, AUTH LOGIN, one message, QUIT. Prints "sent" or "failed: <reason>"; exit code 0
//                      only when the server accepted the message.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "crash/delivery/cipher.h"
#include "crash/delivery/net.h"
#include "crash/delivery/tls.h"

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

// Reads one SMTP reply (all its lines) and tells whether it starts with `code`.
bool Reply(rvx::net::IStream& s, const char* code, std::string* text) {
  text->clear();
  char c;
  std::string line;
  while (s.WaitReadable(10000) == rvx::net::WaitResult::Ready && s.Receive(&c, 1) == 1) {
    line += c;
    if (c != '\n') continue;
    *text += line;
    const bool more = line.size() > 3 && line[3] == '-';
    line.clear();
    if (!more) return text->compare(0, 3, code) == 0;
  }
  return false;
}

int Send(const char* host, int port, const char* account, const char* password) {
  rvx::net::NetLibrary library(2, 2);
  std::string error, text;
  auto fail = [&](const std::string& why) {
    std::printf("failed: %s\n", why.c_str());
    return 1;
  };
  std::unique_ptr<rvx::net::IStream> s = rvx::net::ConnectTcp(host, static_cast<uint16_t>(port), &error);
  if (!s) return fail(error);
  if (!Reply(*s, "220", &text)) return fail("no greeting");
  if (!s->Send("EHLO crashbox.test\r\n") || !Reply(*s, "250", &text)) return fail("EHLO refused");
  if (text.find("STARTTLS") == std::string::npos) return fail("STARTTLS not offered");
  if (!s->Send("STARTTLS\r\n") || !Reply(*s, "220", &text)) return fail("STARTTLS refused: " + text.substr(0, 40));
  s = rvx::tls::StartTls(std::move(s), host, &error);
  if (!s) return fail(error);
  const bool dialogue =
      s->Send("EHLO crashbox.test\r\n") && Reply(*s, "250", &text) && s->Send("AUTH LOGIN\r\n") &&
      Reply(*s, "334", &text) && s->Send(rvx::Base64Encode(account) + "\r\n") && Reply(*s, "334", &text) &&
      s->Send(rvx::Base64Encode(password) + "\r\n") && Reply(*s, "235", &text) &&
      s->Send("MAIL FROM:<crash@crashbox.test>\r\n") && Reply(*s, "250", &text) &&
      s->Send("RCPT TO:<support@example.org>\r\n") && Reply(*s, "250", &text) && s->Send("DATA\r\n") &&
      Reply(*s, "354", &text) &&
      s->Send("Subject: TLS from Windows\r\n\r\nsent through SChannel\r\n.\r\n") && Reply(*s, "250", &text);
  if (!dialogue) return fail("the server answered " + text.substr(0, 60));
  s->Send("QUIT\r\n");
  Reply(*s, "221", &text);
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
