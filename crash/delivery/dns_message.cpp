#include "crash/delivery/dns_message.h"

#include <algorithm>

namespace rvx::dns {
namespace {

constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxNameText = 253;  // longest host name as text
constexpr int kMaxPointerHops = 32;   // compression pointers followed for one name

uint16_t U16(std::string_view b, size_t at) {
  return static_cast<uint16_t>((static_cast<uint8_t>(b[at]) << 8) | static_cast<uint8_t>(b[at + 1]));
}
void PutU16(std::string& out, uint16_t v) {
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v & 0xFF);
}

// A label byte that can stand in a host name we hand on: printable ASCII, no blank, no dot.
bool HostByte(uint8_t c) { return c > 0x20 && c < 0x7F && c != '.'; }

// Reads the name at `pos`. `after` receives the offset behind the name where it is stored (behind its first
// compression pointer when it has one). With `text` null the name is only skipped and its bytes are not
// judged. False when the name leaves the datagram, loops, is too long or holds bytes a host name cannot.
bool ReadName(std::string_view msg, size_t pos, size_t& after, std::string* text) {
  bool jumped = false;
  int hops = 0;
  size_t textSize = 0;
  for (;;) {
    if (pos >= msg.size()) return false;
    const uint8_t len = static_cast<uint8_t>(msg[pos]);
    if (len == 0) {
      if (!jumped) after = pos + 1;
      return true;
    }
    if ((len & 0xC0) == 0xC0) {
      if (pos + 1 >= msg.size() || ++hops > kMaxPointerHops) return false;
      if (!jumped) after = pos + 2;
      jumped = true;
      pos = (static_cast<size_t>(len & 0x3F) << 8) | static_cast<uint8_t>(msg[pos + 1]);
      continue;
    }
    if (len & 0xC0) return false;  // extended label types are not used by name servers
    if (pos + 1 + len > msg.size()) return false;
    textSize += (textSize ? 1 : 0) + len;
    if (textSize > kMaxNameText) return false;
    if (text) {
      const std::string_view label = msg.substr(pos + 1, len);
      if (!std::all_of(label.begin(), label.end(), [](char c) { return HostByte(static_cast<uint8_t>(c)); }))
        return false;
      if (!text->empty()) *text += '.';
      *text += label;
    }
    pos += 1 + len;
  }
}

}  // namespace

std::string BuildQuery(std::string_view name, QueryType type, uint16_t id) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.empty()) return {};
  std::string out;
  PutU16(out, id);
  out += '\x01';  // recursion desired
  out += '\0';
  PutU16(out, 1);
  out.append(6, '\0');
  while (true) {
    const size_t dot = name.find('.');
    const std::string_view label = name.substr(0, dot);
    if (label.empty() || label.size() > 63) return {};
    out += static_cast<char>(label.size());
    out += label;
    if (dot == std::string_view::npos) break;
    name.remove_prefix(dot + 1);
  }
  out += '\0';
  PutU16(out, static_cast<uint16_t>(type));
  PutU16(out, 1);  // class IN
  if (out.size() > kMaxDatagram) return {};
  return out;
}

Reply ParseReply(std::string_view msg, QueryType type, uint16_t id) {
  Reply reply;
  if (msg.size() < kHeaderSize || U16(msg, 0) != id || !(static_cast<uint8_t>(msg[2]) & 0x80)) return reply;
  if (static_cast<uint8_t>(msg[3]) & 0x0F) {
    reply.status = ReplyStatus::ServerError;
    return reply;
  }
  reply.status = ReplyStatus::Names;
  const size_t questions = U16(msg, 4), answers = U16(msg, 6), authorities = U16(msg, 8);
  size_t pos = kHeaderSize;
  for (size_t i = 0; i < questions; ++i) {
    if (!ReadName(msg, pos, pos, nullptr) || pos + 4 > msg.size()) return reply;
    pos += 4;
  }
  struct Found {
    uint16_t preference;
    std::string name;
  };
  std::vector<Found> found;
  const size_t records = answers + (type == QueryType::NS ? authorities : 0);
  for (size_t i = 0; i < records; ++i) {
    if (!ReadName(msg, pos, pos, nullptr) || pos + 10 > msg.size()) break;
    const uint16_t recordType = U16(msg, pos);
    const size_t rdata = pos + 10, rdlength = U16(msg, pos + 8);
    if (rdata + rdlength > msg.size()) break;
    pos = rdata + rdlength;
    const bool inAnswer = i < answers;
    // Only records of the queried type name hosts; authority records count for NS queries only.
    if (recordType != static_cast<uint16_t>(type)) continue;
    const size_t nameAt = rdata + (type == QueryType::MX ? 2 : 0);
    if (nameAt >= rdata + rdlength) continue;
    std::string name;
    size_t nameEnd = 0;
    if (!ReadName(msg, nameAt, nameEnd, &name) || nameEnd > rdata + rdlength || name.empty()) continue;
    if (inAnswer)
      found.push_back({type == QueryType::MX ? U16(msg, rdata) : uint16_t{0}, std::move(name)});
    else
      reply.authorities.push_back(std::move(name));
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Found& a, const Found& b) { return a.preference < b.preference; });
  for (auto& f : found) reply.answers.push_back(std::move(f.name));
  return reply;
}

}  // namespace rvx::dns
