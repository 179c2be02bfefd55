// The TLS provider of the native build (tests and host tools): OpenSSL over memory buffers, so that the
// records travel through our own stream and its bounded waits. Never part of the Windows product.
#ifndef _WIN32
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "crash/delivery/cert_names.h"
#include "crash/delivery/tls.h"
#include "crash/delivery/tls_stream.h"

namespace rvx::tls {
namespace {

std::string OpenSslReason() {
  std::string reason;
  while (const unsigned long e = ERR_get_error()) {
    if (reason.empty()) {
      const char* text = ERR_reason_error_string(e);
      reason = text ? text : "error " + std::to_string(e);
    }
  }
  return reason.empty() ? "unknown error" : reason;
}

std::string ChainProblem(long result) {
  switch (result) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT: return "self-signed";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return "issued by an untrusted root";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return "issuer unknown";
    case X509_V_ERR_CERT_HAS_EXPIRED: return "expired";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "not yet valid";
    case X509_V_ERR_CERT_REVOKED: return "revoked";
    case X509_V_ERR_INVALID_PURPOSE: return "not for server use";
    default: return X509_verify_cert_error_string(result);
  }
}

class OpenSslStream final : public SecuredStream {
 public:
  explicit OpenSslStream(std::unique_ptr<net::IStream> raw) : SecuredStream(std::move(raw), {}) {}
  ~OpenSslStream() override {
    if (ssl_) {
      if (established_) {  // best effort: tell the server we are done, without waiting for its answer
        SSL_shutdown(ssl_);
        Flush();
      }
      SSL_free(ssl_);  // also frees both memory buffers
    }
    if (ctx_) SSL_CTX_free(ctx_);
  }

  // The handshake and the certificate checks; empty on success, else the reason.
  std::string Open(std::string_view host) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) return "TLS handshake failed: " + OpenSslReason();
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(ctx_);
    const std::string extra = ExtraRootsFile();
    if (!extra.empty() && SSL_CTX_load_verify_locations(ctx_, extra.c_str(), nullptr) != 1)
      return "cannot read the trusted root certificates in " + extra;
    // The chain is still verified; its result is read after the handshake, for a message of our own.
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    ssl_ = SSL_new(ctx_);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (!ssl_ || !in || !out) {
      BIO_free(in);
      BIO_free(out);
      return "TLS handshake failed: " + OpenSslReason();
    }
    SSL_set_bio(ssl_, in, out);
    const std::string name(host);
    if (ParseIpLiteral(name).empty()) SSL_set_tlsext_host_name(ssl_, name.c_str());
    SSL_set_connect_state(ssl_);

    const int limit = HandshakeLimit();
    const Deadline deadline(limit);
    for (;;) {
      ERR_clear_error();
      const int r = SSL_do_handshake(ssl_);
      if (!Flush()) return "TLS handshake failed: the connection was lost";
      if (r == 1) break;
      if (SSL_get_error(ssl_, r) != SSL_ERROR_WANT_READ) return "TLS handshake failed: " + OpenSslReason();
      if (!Feed(deadline, limit)) return feed_error_;
    }
    established_ = true;

    X509* peer = SSL_get1_peer_certificate(ssl_);
    if (!peer) return "certificate not trusted: the server sent none";
    unsigned char* der = nullptr;
    const int size = i2d_X509(peer, &der);
    X509_free(peer);
    if (size <= 0) return "certificate could not be read";
    const std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(size));
    OPENSSL_free(der);
    const long verdict = SSL_get_verify_result(ssl_);
    if (verdict != X509_V_OK) return "certificate not trusted: " + ChainProblem(verdict);
    return CheckCertificateHost(bytes, host);
  }

 protected:
  Step Decrypt() override {
    if (!in_.empty()) {
      if (BIO_write(SSL_get_rbio(ssl_), in_.data(), static_cast<int>(in_.size())) != static_cast<int>(in_.size()))
        return Step::Failed;
      in_.clear();
    }
    bool produced = false;
    char buffer[16384];
    for (;;) {
      ERR_clear_error();
      const int r = SSL_read(ssl_, buffer, sizeof buffer);
      if (r > 0) {
        plain_.append(buffer, static_cast<size_t>(r));
        produced = true;
        continue;
      }
      const int e = SSL_get_error(ssl_, r);
      if (!Flush()) return Step::Failed;  // answers to key updates and the like
      if (produced) return Step::Progress;
      if (e == SSL_ERROR_WANT_READ) return Step::NeedMore;
      if (e != SSL_ERROR_ZERO_RETURN) return Step::Failed;
      SSL_shutdown(ssl_);  // the server's close notification is answered with ours
      Flush();
      return Step::Closed;
    }
  }

  bool Encrypt(std::string_view piece, std::string* records) override {
    ERR_clear_error();
    if (SSL_write(ssl_, piece.data(), static_cast<int>(piece.size())) != static_cast<int>(piece.size())) return false;
    return Take(records);
  }

 private:
  // Moves what OpenSSL wrote to its output buffer into `out`.
  bool Take(std::string* out) {
    BIO* b = SSL_get_wbio(ssl_);
    char buffer[16384];
    int n;
    while ((n = BIO_read(b, buffer, sizeof buffer)) > 0) out->append(buffer, static_cast<size_t>(n));
    return true;
  }
  bool Flush() {
    std::string pending;
    Take(&pending);
    return pending.empty() || raw().Send(pending);
  }
  // During the handshake: hands the next bytes from the server to OpenSSL.
  bool Feed(const Deadline& deadline, int limit) {
    std::string got;
    switch (ReadSome(raw(), &got, deadline)) {
      case ReadResult::Data:
        if (BIO_write(SSL_get_rbio(ssl_), got.data(), static_cast<int>(got.size())) == static_cast<int>(got.size()))
          return true;
        feed_error_ = "TLS handshake failed: out of memory";
        return false;
      case ReadResult::Timeout:
        feed_error_ = "TLS handshake failed: no answer from the server within " + SecondsText(limit);
        return false;
      case ReadResult::Closed:
        feed_error_ = "TLS handshake failed: the server closed the connection";
        return false;
      case ReadResult::Failed:
        break;
    }
    feed_error_ = "TLS handshake failed: the connection was lost";
    return false;
  }

  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  bool established_ = false;
  std::string feed_error_;
};

}  // namespace

std::unique_ptr<net::IStream> StartTls(std::unique_ptr<net::IStream> plain, std::string_view host,
                                       std::string* error) {
  return OpenSecured<OpenSslStream>(std::move(plain), host, error);
}

}  // namespace rvx::tls
#endif
