// DNS over UDP for direct mail delivery: the mail-exchanger lookup of an address's domain, the query of a
// list of servers, and the system's DNS servers. Datagrams are built and read in dns_message.h.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crash/delivery/dns_message.h"

namespace rvx::dns {

// The mail exchangers of the domain of `address` (the text after its first "@", without a trailing ">"),
// best preference first; empty when none was found, with a one-line reason in `error` when given.
// Asks the system's DNS servers; without any, resolves iteratively from the root name servers.
std::vector<std::string> MxHostsOf(std::string_view address, std::string* error = nullptr);

// The system's DNS servers as dotted addresses (the override below when one is set).
std::vector<std::string> SystemDnsServers();

struct DnsNames {
  std::vector<std::string> answers;
  std::vector<std::string> authorities;  // NS queries only
  std::string error;                     // why nothing came back, when nothing did
};

// Sends the query for `name` to every server of the list (dotted addresses or host names) from one UDP
// socket and waits up to 5 seconds per reply. Only replies from a server that was asked, carrying the
// query's identifier, count; the first one that yields names ends the wait.
DnsNames DnsQuery(std::string_view name, const std::vector<std::string>& servers, QueryType type);

// ---- the lookup's steps, for callers that bring their own query --------------------------------------

using QueryFunction =
    std::function<DnsNames(std::string_view name, const std::vector<std::string>& servers, QueryType type)>;

// The domain of an address: after its first "@" (the whole text without one), without a trailing ">".
std::string DomainOf(std::string_view address);
// The domain reduced to its last three labels.
std::string ParentDomain(std::string_view domain);

// MX lookup with the system servers `systemServers`, or iteratively from `rootServers` when that list is
// empty. The parent domain is asked when the domain itself has no mail exchanger.
std::vector<std::string> LookUpMx(std::string_view address, const std::vector<std::string>& systemServers,
                                  const std::vector<std::string>& rootServers, const QueryFunction& query,
                                  std::string* error = nullptr);

// ---- process-wide switches (tests point them at servers of their own) ---------------------------------

// The UDP port that queries go to; 53 unless changed.
void SetDnsPort(uint16_t port);
uint16_t DnsPort();

// The two root name servers asked when the system names no DNS server (host names or dotted addresses).
void SetRootServers(std::vector<std::string> servers);
std::vector<std::string> RootServers();

// Replaces what the system reports as its DNS servers (an empty list: the system has none); nullopt
// returns to the system's own list.
void SetSystemDnsServersOverride(std::optional<std::vector<std::string>> servers);

// ---- reading the system's lists ---------------------------------------------------------------------

// The "nameserver" entries of a resolver configuration text that are IPv4 dotted addresses.
std::vector<std::string> ParseResolverConfig(std::string_view text);
// A registry server list: split at "," when it holds one, else at blanks; entries trimmed, empty ones dropped.
std::vector<std::string> SplitServerList(std::string_view text);
// The IP Helper's view: the current server first (when there is one), then every non-empty server of the
// list that differs from the first entry.
std::vector<std::string> MergeServerLists(std::string_view current, const std::vector<std::string>& list);

// The platform's own list (dns_win.cpp, dns_posix.cpp).
std::vector<std::string> PlatformDnsServers();

}  // namespace rvx::dns
