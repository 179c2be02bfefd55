// Certificates for the TLS tests, made with the openssl command line in a folder of the test: a test root
// and server certificates issued by it or signed by themselves. Keys are P-256, so making them is quick.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/oracle_files.h"

namespace rvx::test {

class TestPki {
 public:
  explicit TestPki(std::filesystem::path dir) : dir_(std::move(dir)) {}

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path Pem(const std::string& name) const { return dir_ / (name + ".pem"); }
  std::filesystem::path Key(const std::string& name) const { return dir_ / (name + ".key"); }

  // The root "Ravex Test Root" (root.pem, root.key). True on success.
  bool MakeRoot() {
    return Run("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3 -subj \"/CN=Ravex Test Root\""
               " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign"
               " -keyout " + Q(Key("root")) + " -out " + Q(Pem("root")));
  }

  // A server certificate `name`.pem/.key with the subject `subject` ("/CN=...") and, when `alt_names` is not
  // empty, the subject alternative names given in openssl's syntax ("DNS:a.example,IP:127.0.0.1"). Issued by
  // the root, or signed by itself when `self_signed`.
  bool MakeServer(const std::string& name, const std::string& subject, const std::string& alt_names,
                  bool self_signed = false) {
    const std::filesystem::path ext = dir_ / (name + ".ext");
    std::string lines = "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    if (!alt_names.empty()) lines += "subjectAltName=" + alt_names + "\n";
    WriteFile(ext, lines);
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + Q(Key(name));
    if (self_signed)
      return Run("req -x509" + key + " -days 3 -subj " + Q(subject) + " -extensions v3 -config " +
                 Q(Config(name, lines)) + " -out " + Q(Pem(name)));
    const std::filesystem::path csr = dir_ / (name + ".csr");
    return Run("req -new" + key + " -subj " + Q(subject) + " -out " + Q(csr)) &&
           Run("x509 -req -in " + Q(csr) + " -CA " + Q(Pem("root")) + " -CAkey " + Q(Key("root")) +
               " -CAcreateserial -days 3 -extfile " + Q(ext) + " -out " + Q(Pem(name)));
  }

  // The set the connection tests use: the root; "good" for localhost and 127.0.0.1 (subject `goodSubject`),
  // "other" for mail.example.org, and "self", a self-signed one for localhost.
  bool MakeServerSet(const std::string& goodSubject) {
    return MakeRoot() && MakeServer("good", goodSubject, "DNS:localhost,IP:127.0.0.1") &&
           MakeServer("other", "/CN=mail.example.org", "DNS:mail.example.org") &&
           MakeServer("self", "/CN=localhost", "DNS:localhost", true);
  }

  // The DER bytes of `name`.pem.
  std::string Der(const std::string& name) {
    const std::filesystem::path der = dir_ / (name + ".der");
    if (!Run("x509 -in " + Q(Pem(name)) + " -outform DER -out " + Q(der))) return {};
    std::ifstream f(der, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

 private:
  static std::string Q(const std::filesystem::path& p) { return Q(p.string()); }
  static std::string Q(const std::string& s) { return "'" + s + "'"; }

  std::filesystem::path Config(const std::string& name, const std::string& ext_lines) {
    const std::filesystem::path cfg = dir_ / (name + ".cnf");
    WriteFile(cfg, "[req]\ndistinguished_name=dn\n[dn]\n[v3]\n" + ext_lines);
    return cfg;
  }

  bool Run(const std::string& args) {
    const std::string log = (dir_ / "openssl.log").string();
    return std::system(("openssl " + args + " >>'" + log + "' 2>&1").c_str()) == 0;
  }

  std::filesystem::path dir_;
};

}  // namespace rvx::test
