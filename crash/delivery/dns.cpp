#include "crash/delivery/dns.h"

#include <mutex>

#include "crash/delivery/net.h"

namespace rvx::dns {
namespace {

constexpr int kMaxReferrals = 10;

struct Switches {
  std::mutex lock;
  uint16_t port = 53;
  std::vector<std::string> roots{"a.root-servers.net", "b.root-servers.net"};
  std::optional<std::vector<std::string>> systemServers;
};
Switches& TheSwitches() {
  static Switches s;
  return s;
}

// The name servers of `zone`, found by following referrals from the root servers.
std::vector<std::string> ZoneServers(const std::string& zone, const std::vector<std::string>& roots,
                                     const QueryFunction& query) {
  DnsNames r = query(zone, roots, QueryType::NS);
  if (!r.answers.empty()) return r.answers;
  if (r.authorities.empty()) return {};
  r = query(zone, r.authorities, QueryType::NS);
  for (int i = 0; i < kMaxReferrals && r.answers.empty() && !r.authorities.empty(); ++i) {
    r = query(zone, r.authorities, QueryType::NS);
  }
  return r.answers.empty() ? r.authorities : r.answers;
}

}  // namespace

std::string DomainOf(std::string_view address) {
  const size_t at = address.find('@');
  if (at != std::string_view::npos) address.remove_prefix(at + 1);
  if (!address.empty() && address.back() == '>') address.remove_suffix(1);
  return std::string(address);
}

std::string ParentDomain(std::string_view domain) {
  size_t dots = 0;
  for (size_t i = domain.size(); i-- > 0;) {
    if (domain[i] == '.' && ++dots == 3) return std::string(domain.substr(i + 1));
  }
  return std::string(domain);
}

std::vector<std::string> LookUpMx(std::string_view address, const std::vector<std::string>& systemServers,
                                  const std::vector<std::string>& rootServers, const QueryFunction& query,
                                  std::string* error) {
  const std::string domain = DomainOf(address);
  const std::string parent = ParentDomain(domain);
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return std::vector<std::string>{};
  };
  if (domain.empty()) return fail("no domain in the address \"" + std::string(address) + "\"");
  std::vector<std::string> servers = systemServers;
  if (servers.empty()) {
    servers = ZoneServers(parent, rootServers, query);
    if (servers.empty()) return fail("no name server found for " + parent + " from the root servers");
  }
  DnsNames r = query(domain, servers, QueryType::MX);
  if (r.answers.empty() && parent != domain) r = query(parent, servers, QueryType::MX);
  if (r.answers.empty()) {
    return fail("no mail exchanger found for " + domain + (r.error.empty() ? "" : " (" + r.error + ")"));
  }
  return r.answers;
}

std::vector<std::string> MxHostsOf(std::string_view address, std::string* error) {
  try {
    net::NetLibrary library(1, 1);
    if (!library.ok()) {
      if (error) *error = "the networking library cannot be started";
      return {};
    }
    return LookUpMx(address, SystemDnsServers(), RootServers(), DnsQuery, error);
  } catch (...) {
    if (error) *error = "mail exchanger lookup failed (out of memory)";
    return {};
  }
}

std::vector<std::string> SystemDnsServers() {
  {
    Switches& s = TheSwitches();
    std::lock_guard guard(s.lock);
    if (s.systemServers) return *s.systemServers;
  }
  return PlatformDnsServers();
}

void SetDnsPort(uint16_t port) {
  Switches& s = TheSwitches();
  std::lock_guard guard(s.lock);
  s.port = port;
}
uint16_t DnsPort() {
  Switches& s = TheSwitches();
  std::lock_guard guard(s.lock);
  return s.port;
}
void SetRootServers(std::vector<std::string> servers) {
  Switches& s = TheSwitches();
  std::lock_guard guard(s.lock);
  s.roots = std::move(servers);
}
std::vector<std::string> RootServers() {
  Switches& s = TheSwitches();
  std::lock_guard guard(s.lock);
  return s.roots;
}
void SetSystemDnsServersOverride(std::optional<std::vector<std::string>> servers) {
  Switches& s = TheSwitches();
  std::lock_guard guard(s.lock);
  s.systemServers = std::move(servers);
}

}  // namespace rvx::dns
