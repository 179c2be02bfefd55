// The system's DNS servers in the native build: the resolver configuration file.
#ifndef _WIN32
#include <fstream>
#include <sstream>

#include "crash/delivery/dns.h"

namespace rvx::dns {

std::vector<std::string> PlatformDnsServers() {
  std::ifstream file("/etc/resolv.conf", std::ios::binary);
  if (!file) return {};
  std::ostringstream text;
  text << file.rdbuf();
  return ParseResolverConfig(text.str());
}

}  // namespace rvx::dns
#endif
