// DNS over UDP for direct mail delivery: the query datagram, the answer parser, the mail-exchanger lookup of
// an address's domain and the system's DNS servers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rvx::dns {

// The mail exchangers of the domain of `address` (the text after its first "@", without a trailing ">"),
// best preference first; empty when none was found, with a one-line reason in `error` when given.
std::vector<std::string> MxHostsOf(std::string_view address, std::string* error = nullptr);

// The system's DNS servers as dotted addresses.
std::vector<std::string> SystemDnsServers();

}  // namespace rvx::dns
