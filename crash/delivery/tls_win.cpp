// The TLS provider of the product: SChannel through SSPI. SChannel is told not to judge the server's
// certificate (a provider may not do so reliably anyway); we check the chain against the system's roots with
// the SSL policy, and the host name with our own rules, before a single byte of the caller's goes out.
#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>

#include <cstdio>
#include <cstring>

#include "crash/delivery/cert_names.h"
#include "crash/delivery/tls.h"
#include "crash/delivery/tls_stream.h"

namespace rvx::tls {
namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

std::string HexCode(unsigned long code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", code);
  return text;
}

std::string StatusText(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_ILLEGAL_MESSAGE: return "the server sent a message that is not TLS";
    case SEC_E_ALGORITHM_MISMATCH:
    case SEC_E_UNSUPPORTED_FUNCTION: return "no protocol version or cipher in common with the server";
    case SEC_E_INVALID_TOKEN: return "the server sent an invalid handshake message";
    case SEC_E_MESSAGE_ALTERED:
    case SEC_E_DECRYPT_FAILURE: return "a record failed its integrity check";
    case SEC_E_INSUFFICIENT_MEMORY: return "out of memory";
    case SEC_E_NO_CREDENTIALS:
    case SEC_E_INTERNAL_ERROR: return "the system's TLS provider failed (" + HexCode(static_cast<unsigned long>(status)) + ")";
    default: return "error " + HexCode(static_cast<unsigned long>(status));
  }
}

std::string TrustProblem(DWORD error, const CERT_CHAIN_CONTEXT* chain) {
  switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
      if (chain->cChain > 0 && chain->rgpChain[0]->cElement == 1) return "self-signed";
      return "issued by an untrusted root";
    case static_cast<DWORD>(CERT_E_CHAINING): return "issuer unknown";
    case static_cast<DWORD>(CERT_E_EXPIRED): return "expired or not yet valid";
    case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING): return "validity outside its issuer's";
    case static_cast<DWORD>(CERT_E_REVOKED):
    case static_cast<DWORD>(CRYPT_E_REVOKED): return "revoked";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE): return "not for server use";
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE): return "bad signature";
    default: return "error " + HexCode(error);
  }
}

// Frees what SSPI allocated for an output buffer.
struct OutputToken {
  SecBuffer buffers[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 2, buffers};
  ~OutputToken() {
    for (SecBuffer& b : buffers)
      if (b.pvBuffer) ::FreeContextBuffer(b.pvBuffer);
  }
  std::string_view Token() const {
    return {static_cast<const char*>(buffers[0].pvBuffer), buffers[0].pvBuffer ? buffers[0].cbBuffer : 0};
  }
};

class SchannelStream final : public SecuredStream {
 public:
  explicit SchannelStream(std::unique_ptr<net::IStream> raw) : SecuredStream(std::move(raw), {}) {
    SecInvalidateHandle(&cred_);
    SecInvalidateHandle(&ctx_);
  }
  ~SchannelStream() override {
    if (established_) SendCloseNotify();
    if (SecIsValidHandle(&ctx_)) ::DeleteSecurityContext(&ctx_);
    if (SecIsValidHandle(&cred_)) ::FreeCredentialsHandle(&cred_);
  }

  // The handshake and the certificate checks; empty on success, else the reason.
  std::string Open(std::string_view host) {
    host_ = std::string(host);
    SCHANNEL_CRED cred{};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    // TLS 1.2 is named explicitly: older systems do not offer it to clients by default.
    cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry;
    auto acquire = [&] {
      return ::AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                         &cred, nullptr, nullptr, &cred_, &expiry);
    };
    SECURITY_STATUS acquired = acquire();
    if (acquired != SEC_E_OK) {  // systems that predate the strong-crypto switch refuse it
      cred.dwFlags &= ~static_cast<DWORD>(SCH_USE_STRONG_CRYPTO);
      acquired = acquire();
    }
    if (acquired != SEC_E_OK) {
      SecInvalidateHandle(&cred_);
      return "TLS handshake failed: " + StatusText(acquired);
    }
    const int limit = HandshakeLimit();
    const std::string failed = Handshake(Deadline(limit), limit);
    if (!failed.empty()) return failed;
    established_ = true;
    if (::QueryContextAttributesA(&ctx_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK || sizes_.cbMaximumMessage == 0)
      return "TLS handshake failed: the record sizes are unknown";
    return CheckCertificate();
  }

 protected:
  Step Decrypt() override {
    if (in_.empty()) return Step::NeedMore;
    SecBuffer b[4] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_DATA, in_.data()},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    const SECURITY_STATUS status = ::DecryptMessage(&ctx_, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return Step::NeedMore;
    if (status == SEC_I_CONTEXT_EXPIRED) {  // the server's close notification
      in_.clear();
      return Step::Closed;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return Step::Failed;
    // The buffers point into in_ (decrypted in place): take the data and the unused rest before in_ changes.
    std::string rest;
    for (const SecBuffer& x : b) {
      if (x.BufferType == SECBUFFER_DATA && x.pvBuffer && x.cbBuffer) plain_.append(static_cast<char*>(x.pvBuffer), x.cbBuffer);
      if (x.BufferType == SECBUFFER_EXTRA && x.cbBuffer && x.cbBuffer <= in_.size())
        rest.assign(in_.data() + (in_.size() - x.cbBuffer), x.cbBuffer);
    }
    in_.swap(rest);
    if (status == SEC_I_RENEGOTIATE) {
      // A new handshake (or, with newer protocol versions, a post-handshake message): what is left of the
      // input goes to the security context; it answers within the handshake limit.
      const int limit = HandshakeLimit();
      if (!Handshake(Deadline(limit), limit).empty()) return Step::Failed;
      SecPkgContext_StreamSizes sizes;
      if (::QueryContextAttributesA(&ctx_, SECPKG_ATTR_STREAM_SIZES, &sizes) == SEC_E_OK && sizes.cbMaximumMessage)
        sizes_ = sizes;
    }
    return Step::Progress;
  }

  bool Encrypt(std::string_view piece, std::string* records) override {
    const size_t header = sizes_.cbHeader, trailer = sizes_.cbTrailer;
    records->assign(header + piece.size() + trailer, '\0');
    std::memcpy(records->data() + header, piece.data(), piece.size());
    SecBuffer b[4] = {{static_cast<unsigned long>(header), SECBUFFER_STREAM_HEADER, records->data()},
                      {static_cast<unsigned long>(piece.size()), SECBUFFER_DATA, records->data() + header},
                      {static_cast<unsigned long>(trailer), SECBUFFER_STREAM_TRAILER, records->data() + header + piece.size()},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    if (::EncryptMessage(&ctx_, 0, &desc, 0) != SEC_E_OK) return false;
    records->resize(static_cast<size_t>(b[0].cbBuffer) + b[1].cbBuffer + b[2].cbBuffer);
    return true;
  }

  size_t MaxPiece() const override { return sizes_.cbMaximumMessage ? sizes_.cbMaximumMessage : 4096; }

 private:
  // Runs the handshake loop until the context is complete: the first handshake (no context yet) or one the
  // server asked for later. Input comes from in_ first, then from the connection within the deadline; what
  // follows the last handshake message stays in in_ for the record layer.
  std::string Handshake(const Deadline& deadline, int limit) {
    bool read_first = false;  // a later handshake starts from what in_ already holds
    bool first_call = !SecIsValidHandle(&ctx_);
    bool asked_for_certificate = false;
    for (;;) {
      if (read_first) {
        switch (ReadSome(raw(), &in_, deadline)) {
          case ReadResult::Data: break;
          case ReadResult::Timeout: return "TLS handshake failed: no answer from the server within " + SecondsText(limit);
          case ReadResult::Closed: return "TLS handshake failed: the server closed the connection";
          case ReadResult::Failed: return "TLS handshake failed: the connection was lost";
        }
      }
      SecBuffer in[2] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN, in_.empty() ? nullptr : in_.data()},
                         {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
      OutputToken out;
      unsigned long attributes = 0;
      TimeStamp expiry;
      const SECURITY_STATUS status = ::InitializeSecurityContextA(
          &cred_, first_call ? nullptr : &ctx_, host_.data(), kContextFlags, 0, 0, first_call ? nullptr : &in_desc, 0,
          first_call ? &ctx_ : nullptr, &out.desc, &attributes, &expiry);
      if (first_call && status != SEC_I_CONTINUE_NEEDED && status != SEC_E_OK) SecInvalidateHandle(&ctx_);
      first_call = false;
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        read_first = true;
        continue;
      }
      // Tokens go out also with a failure: they carry the alert that tells the server why.
      const std::string_view token = out.Token();
      if (!token.empty() && !raw().Send(token) && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
        return "TLS handshake failed: the connection was lost";
      if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
        // The server asks for a client certificate. We have none: the same input once more goes on without
        // one; a server that keeps asking is refused.
        if (asked_for_certificate) return "TLS handshake failed: the server insists on a client certificate";
        asked_for_certificate = true;
        read_first = false;
        continue;
      }
      if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return "TLS handshake failed: " + StatusText(status);
      // What the call did not use stays for the next call, or for the record layer after the last one.
      if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer && in[1].cbBuffer <= in_.size())
        in_.erase(0, in_.size() - in[1].cbBuffer);
      else
        in_.clear();
      if (status == SEC_E_OK) return {};
      read_first = in_.empty();  // more handshake messages to come
      if (deadline.Left() == 0) return "TLS handshake failed: no answer from the server within " + SecondsText(limit);
    }
  }

  std::string CheckCertificate() {
    PCCERT_CONTEXT cert = nullptr;
    if (::QueryContextAttributesA(&ctx_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert)
      return "certificate not trusted: the server sent none";
    std::string problem;
    static char kServerAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {kServerAuth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!::CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr, &chain) || !chain) {
      problem = "certificate not trusted: its chain could not be built (" + HexCode(::GetLastError()) + ")";
    } else {
      std::wstring wide_host(host_.begin(), host_.end());
      HTTPSPolicyCallbackData https{};
      https.cbStruct = sizeof https;
      https.dwAuthType = AUTHTYPE_SERVER;
      https.pwszServerName = wide_host.data();
      CERT_CHAIN_POLICY_PARA policy{};
      policy.cbSize = sizeof policy;
      policy.pvExtraPolicyPara = &https;
      CERT_CHAIN_POLICY_STATUS verdict{};
      verdict.cbSize = sizeof verdict;
      const std::string der(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
      const std::string name_problem = CheckCertificateHost(der, host_);
      if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict)) {
        problem = "certificate not trusted: the check could not run (" + HexCode(::GetLastError()) + ")";
      } else if (verdict.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
        // The system's name rules: older systems do not read address entries, so for an address literal ours
        // decide; for a host name both must agree.
        if (!name_problem.empty()) problem = name_problem;
        else if (ParseIpLiteral(host_).empty()) problem = "certificate is not for " + host_;
      } else if (verdict.dwError != 0) {
        problem = "certificate not trusted: " + TrustProblem(verdict.dwError, chain);
      } else {
        problem = name_problem;
      }
      ::CertFreeCertificateChain(chain);
    }
    ::CertFreeCertificateContext(cert);
    return problem;
  }

  // Best effort at the end: the close notification, without waiting for the server's.
  void SendCloseNotify() {
    DWORD kind = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof kind, SECBUFFER_TOKEN, &kind};
    SecBufferDesc control_desc{SECBUFFER_VERSION, 1, &control};
    if (::ApplyControlToken(&ctx_, &control_desc) != SEC_E_OK) return;
    OutputToken out;
    unsigned long attributes = 0;
    TimeStamp expiry;
    const SECURITY_STATUS status = ::InitializeSecurityContextA(&cred_, &ctx_, host_.data(), kContextFlags, 0, 0,
                                                                nullptr, 0, nullptr, &out.desc, &attributes, &expiry);
    if ((status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) && !out.Token().empty()) raw().Send(out.Token());
  }

  std::string host_;
  CredHandle cred_;
  CtxtHandle ctx_;
  SecPkgContext_StreamSizes sizes_{};
  bool established_ = false;
};

}  // namespace

std::unique_ptr<net::IStream> StartTls(std::unique_ptr<net::IStream> plain, std::string_view host,
                                       std::string* error) {
  return OpenSecured<SchannelStream>(std::move(plain), host, error);
}

}  // namespace rvx::tls
