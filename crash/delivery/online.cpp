#include "crash/delivery/online.h"

#include <atomic>
#include <mutex>

namespace rvx {

uint16_t EchoChecksum(const uint8_t* bytes, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += static_cast<uint32_t>(bytes[i] | bytes[i + 1] << 8);
  if (size & 1) sum += bytes[size - 1];
  // Fold until no carry is left: a single fold drops the carry when the low half overflows, and the host
  // then discards the request as damaged.
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint16_t>(~sum & 0xffff);
}

EchoPacket BuildEchoRequest(uint16_t identifier, uint16_t sequence) {
  EchoPacket p{};
  p[0] = 8;  // echo request
  p[1] = 0;
  p[4] = static_cast<uint8_t>(identifier);
  p[5] = static_cast<uint8_t>(identifier >> 8);
  p[6] = static_cast<uint8_t>(sequence);
  p[7] = static_cast<uint8_t>(sequence >> 8);
  for (size_t at = 8; at < kEchoSize; at += 4) {
    p[at] = 0xEF, p[at + 1] = 0xBE, p[at + 2] = 0xAD, p[at + 3] = 0xDE;
  }
  uint16_t sum = EchoChecksum(p.data(), p.size());
  p[2] = static_cast<uint8_t>(sum);
  p[3] = static_cast<uint8_t>(sum >> 8);
  return p;
}

namespace {
std::atomic<uint16_t> g_sequence{0};
std::atomic<bool> g_skip{false};
std::mutex g_hostMutex;
std::string g_host;  // guarded by g_hostMutex
constexpr const char* kDefaultEchoHost = "www.google.com";
}  // namespace

uint16_t NextEchoSequence() { return static_cast<uint16_t>(g_sequence.fetch_add(1) + 1); }

EchoVerdict CheckEchoReply(const uint8_t* datagram, size_t size, uint16_t identifier, uint16_t sequence) {
  if (!datagram || size == 0) return EchoVerdict::End;
  const size_t header = static_cast<size_t>(datagram[0] & 0x0f) * 4;
  if (size < header + kEchoSize) return EchoVerdict::End;
  const uint8_t* icmp = datagram + header;
  const uint16_t id = static_cast<uint16_t>(icmp[4] | icmp[5] << 8);
  const uint16_t seq = static_cast<uint16_t>(icmp[6] | icmp[7] << 8);
  return icmp[0] == 0 && id == identifier && seq == sequence ? EchoVerdict::Match : EchoVerdict::Ignore;
}

void SetSkipOnlineCheck(bool skip) { g_skip = skip; }
bool SkipOnlineCheck() { return g_skip; }

void SetOnlineEchoHost(std::string host) {
  std::lock_guard<std::mutex> lock(g_hostMutex);
  g_host = std::move(host);
}

std::string OnlineEchoHost() {
  std::lock_guard<std::mutex> lock(g_hostMutex);
  return g_host.empty() ? std::string(kDefaultEchoHost) : g_host;
}

bool IsOnline(bool tryDial, const OnlinePlatform& platform) {
  if (SkipOnlineCheck()) return true;
  if (!platform.echo) return true;  // no way to check: try
  const std::string host = OnlineEchoHost();
  EchoOutcome outcome = platform.echo(host);
  if (outcome == EchoOutcome::Answered) return true;
  if (tryDial && !(platform.processBlocked && platform.processBlocked(250)) && platform.attemptConnect &&
      platform.attemptConnect())
    outcome = platform.echo(host);
  return outcome != EchoOutcome::Unreachable;
}

}  // namespace rvx
