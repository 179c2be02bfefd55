// DNS datagrams: the query that the lookup sends (one question, recursion desired) and the reading of a
// reply into the names it carries. Nothing here touches the network; every byte of a reply is untrusted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rvx::dns {

enum class QueryType : uint16_t { NS = 2, MX = 15 };

inline constexpr size_t kMaxDatagram = 512;

// The query datagram for `name` (labels separated by "."; one trailing "." is allowed). Empty when the name
// cannot be written: an empty label, a label over 63 bytes, or a datagram over 512 bytes.
std::string BuildQuery(std::string_view name, QueryType type, uint16_t id);

enum class ReplyStatus {
  Names,       // a response to the query; the lists may still be empty
  ServerError, // a response with a non-zero response code
  NotOurs,     // too short, not a response, or another identifier: not a reply to this query
};

struct Reply {
  ReplyStatus status = ReplyStatus::NotOurs;
  // Host names from the answer records of the queried type; MX targets ordered by preference (lowest first,
  // arrival order among equals).
  std::vector<std::string> answers;
  // NS queries only: the name servers of the authority records.
  std::vector<std::string> authorities;
};

// Reads a reply to the query with identifier `id` and type `type`. Records of other types (a CNAME in the
// answer section, the SOA of a negative answer) are passed over; a record that does not fit in the datagram
// ends the reading, keeping what was read before it.
Reply ParseReply(std::string_view datagram, QueryType type, uint16_t id);

}  // namespace rvx::dns
