// Certificate names and the host check on arbitrary bytes: never reads outside the input, and every name it
// returns lies inside the input (so nothing is invented or read from elsewhere).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "crash/delivery/cert_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string der(reinterpret_cast<const char*>(data), size);
  rvx::tls::CertNames names;
  if (rvx::tls::ReadCertNames(der, &names)) {
    for (const auto& d : names.dns)
      if (der.find(d) == std::string::npos) std::abort();
    for (const auto& ip : names.ips)
      if ((ip.size() != 4 && ip.size() != 16) || der.find(ip) == std::string::npos) std::abort();
    rvx::tls::CertMatchesHost(names, "smtp.example.com");
    rvx::tls::CertMatchesHost(names, "127.0.0.1");
  }
  const std::string_view tail = std::string_view(der).substr(size / 2);
  rvx::tls::ParseIpLiteral(tail);
  rvx::tls::CheckCertificateHost(std::string_view(der).substr(0, size / 2), tail);
  return 0;
}
