// The system's DNS servers in the native build: the resolver configuration file.
#ifndef _WIN32
#include <fstream>

#include "crash/delivery/dns.h"

namespace rvx::dns {

std::vector<std::string> PlatformDnsServers() {
  std::ifstream file("/etc/resolv.conf", std::ios::binary);
  if (!file) return {};
  std::string text(64 * 1024, '\0');  // far more than any resolver configuration holds
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(file.gcount()));
  return ParseResolverConfig(text);
}

}  // namespace rvx::dns
#endif
