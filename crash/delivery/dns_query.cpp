// One DNS question put to a list of servers over UDP.
#include <chrono>
#include <random>

#include "crash/delivery/dns.h"
#include "crash/delivery/udp.h"

namespace rvx::dns {
namespace {

constexpr auto kReplyWait = std::chrono::seconds(5);

// A fresh identifier per query, so that a late or forged datagram cannot pass for the reply.
uint16_t NewQueryId() {
  thread_local std::mt19937 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937(seed);
  }();
  return static_cast<uint16_t>(generator() & 0xFFFF);
}

}  // namespace

DnsNames DnsQuery(std::string_view name, const std::vector<std::string>& servers, QueryType type) {
  DnsNames result;
  const uint16_t id = NewQueryId();
  const std::string query = BuildQuery(name, type, id);
  if (query.empty()) {
    result.error = "\"" + std::string(name) + "\" is not a domain name";
    return result;
  }
  auto socket = net::OpenUdpSocket(&result.error);
  if (!socket) return result;

  const uint16_t port = DnsPort();
  std::vector<net::UdpPeer> asked;
  for (const std::string& server : servers) {
    net::UdpPeer peer{0, port};
    if (!net::ResolveIpv4(server, peer.address)) continue;
    bool known = false;
    for (const auto& p : asked) known = known || p == peer;
    if (known) continue;
    if (socket->SendTo(peer, query)) asked.push_back(peer);
  }
  if (asked.empty()) {
    result.error = "no DNS server could be asked";
    return result;
  }

  std::vector<bool> answered(asked.size(), false);
  size_t outstanding = asked.size();
  bool anyReply = false;
  auto deadline = std::chrono::steady_clock::now() + kReplyWait;
  char buffer[kMaxDatagram];
  while (outstanding > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                            std::chrono::steady_clock::now());
    if (left.count() <= 0 || socket->WaitReadable(static_cast<int>(left.count())) != net::WaitResult::Ready) break;
    net::UdpPeer from;
    const int size = socket->ReceiveFrom(buffer, sizeof buffer, from);
    if (size < 0) break;
    size_t which = asked.size();
    for (size_t i = 0; i < asked.size(); ++i) {
      if (asked[i] == from && !answered[i]) which = i;
    }
    if (which == asked.size()) continue;  // not from a server we asked, or a second datagram of one
    Reply reply = ParseReply(std::string_view(buffer, static_cast<size_t>(size)), type, id);
    if (reply.status == ReplyStatus::NotOurs) continue;
    answered[which] = true;
    --outstanding;
    anyReply = true;
    deadline = std::chrono::steady_clock::now() + kReplyWait;
    if (reply.status == ReplyStatus::ServerError) continue;
    result.answers = std::move(reply.answers);
    result.authorities = std::move(reply.authorities);
    if (!result.answers.empty() || !result.authorities.empty()) break;
  }
  if (result.answers.empty() && result.authorities.empty()) {
    result.error = anyReply ? "the DNS servers know no " + std::string(type == QueryType::MX ? "MX" : "NS") +
                                  " record of " + std::string(name)
                            : "no answer from the DNS servers within 5 s";
  }
  return result;
}

}  // namespace rvx::dns
