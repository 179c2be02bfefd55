// The DNS reply reader on arbitrary datagrams. Input: one byte choosing the query type (even: MX, odd: NS),
// then the datagram, whose own first two bytes are taken as the query's identifier so that most inputs get
// past the header. The datagram sits in a buffer of its exact size, so any read past it is caught; every name
// handed out must be a usable host name.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "crash/delivery/dns_message.h"

namespace {

void CheckName(const std::string& name) {
  if (name.empty() || name.size() > 253 || name.front() == '.' || name.back() == '.') std::abort();
  if (name.find("..") != std::string::npos) std::abort();
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto type = (data[0] & 1) ? rvx::dns::QueryType::NS : rvx::dns::QueryType::MX;
  const size_t n = size - 1;
  const auto copy = std::make_unique<char[]>(n ? n : 1);
  std::memcpy(copy.get(), data + 1, n);
  const uint16_t id = n >= 2 ? static_cast<uint16_t>((data[1] << 8) | data[2]) : 0;
  const rvx::dns::Reply reply = rvx::dns::ParseReply(std::string_view(copy.get(), n), type, id);
  if (reply.status != rvx::dns::ReplyStatus::Names && (!reply.answers.empty() || !reply.authorities.empty()))
    std::abort();
  if (type == rvx::dns::QueryType::MX && !reply.authorities.empty()) std::abort();
  for (const auto& name : reply.answers) CheckName(name);
  for (const auto& name : reply.authorities) CheckName(name);
  return 0;
}
