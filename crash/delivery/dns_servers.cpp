// The system's DNS servers: the lists as the system stores them.
#include <cctype>

#include "crash/delivery/dns.h"

namespace rvx::dns {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool IsDottedIpv4(std::string_view s) {
  int parts = 0;
  while (true) {
    size_t digits = 0;
    unsigned value = 0;
    while (digits < s.size() && std::isdigit(static_cast<unsigned char>(s[digits]))) {
      value = value * 10 + static_cast<unsigned>(s[digits] - '0');
      if (++digits > 3) return false;
    }
    if (digits == 0 || value > 255) return false;
    ++parts;
    s.remove_prefix(digits);
    if (s.empty()) return parts == 4;
    if (s.front() != '.' || parts == 4) return false;
    s.remove_prefix(1);
  }
}

}  // namespace

std::vector<std::string> ParseResolverConfig(std::string_view text) {
  std::vector<std::string> servers;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    constexpr std::string_view kKey = "nameserver";
    if (line.substr(0, kKey.size()) != kKey || line.size() == kKey.size() ||
        !std::isspace(static_cast<unsigned char>(line[kKey.size()])))
      continue;
    line = Trim(line.substr(kKey.size()));
    line = line.substr(0, line.find_first_of(" \t#;"));
    if (IsDottedIpv4(line)) servers.emplace_back(line);
  }
  return servers;
}

std::vector<std::string> SplitServerList(std::string_view text) {
  const bool commas = text.find(',') != std::string_view::npos;
  std::vector<std::string> servers;
  while (!text.empty()) {
    const size_t end = commas ? text.find(',') : text.find_first_of(" \t");
    const std::string_view item = Trim(text.substr(0, end));
    if (!item.empty()) servers.emplace_back(item);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return servers;
}

std::vector<std::string> MergeServerLists(std::string_view current, const std::vector<std::string>& list) {
  std::vector<std::string> servers;
  if (!Trim(current).empty()) servers.emplace_back(Trim(current));
  for (const std::string& s : list) {
    const std::string_view item = Trim(s);
    if (item.empty() || (!servers.empty() && item == servers.front())) continue;
    servers.emplace_back(item);
  }
  return servers;
}

}  // namespace rvx::dns
