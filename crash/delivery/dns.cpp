#include "crash/delivery/dns.h"

namespace rvx::dns {

std::vector<std::string> MxHostsOf(std::string_view, std::string* error) {
  if (error) *error = "mail exchanger lookup is not available";
  return {};
}

std::vector<std::string> SystemDnsServers() { return {}; }

}  // namespace rvx::dns
