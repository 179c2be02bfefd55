// The names a server certificate is issued for, read from its DER bytes, and the check that one of them names
// the host we connected to. Both TLS providers use this after their chain check: a provider may not compare
// names itself, and we want the same rules and the same messages on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rvx::tls {

struct CertNames {
  std::vector<std::string> dns;  // DNS names of the subject alternative names, as stored
  std::vector<std::string> ips;  // IP addresses of the subject alternative names: 4 or 16 raw bytes each
  std::string common_name;       // the subject's (last) common name in UTF-8; empty when it has none
};

// Reads the subject alternative names and the subject common name of a DER certificate. False when the bytes
// are not a well-formed certificate as far as these fields go; never reads outside `der`.
bool ReadCertNames(std::string_view der, CertNames* out);

// The raw bytes of an IPv4 (4 bytes) or IPv6 (16 bytes, also in brackets) address literal; empty for anything
// else, e.g. a host name.
std::string ParseIpLiteral(std::string_view host);

// One DNS name or pattern of a certificate against a host name: ignoring case and a trailing dot; a wildcard
// only as the whole leftmost label of a pattern with at least two labels after it, matching exactly one label.
bool NameMatchesHost(std::string_view pattern, std::string_view host);

// Whether the certificate names `host`: an address literal only by an IP entry; a host name by the DNS
// entries, or by the common name when there are no DNS entries.
bool CertMatchesHost(const CertNames& names, std::string_view host);

// Empty when the DER certificate is issued for `host`, else a one-line reason
// ("certificate is for mail.example.org, not smtp.example.com").
std::string CheckCertificateHost(std::string_view der, std::string_view host);

}  // namespace rvx::tls
