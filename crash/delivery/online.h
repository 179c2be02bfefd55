// Whether the computer is online: an ICMP echo to a public host, after an attempt to dial when allowed.
// The echo packet and the reply check are portable; the system's echo service and the dialling live in
// online_win.cpp. The check only keeps a computer that is surely offline from trying: when it cannot tell
// (no permission, no name lookup, a network that drops echo requests) the sending is tried.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace rvx {

inline constexpr size_t kEchoSize = 32;
using EchoPacket = std::array<uint8_t, kEchoSize>;

// The 16-bit ones'-complement checksum of the little-endian words of `size` bytes (an odd last byte counts
// as the low byte of a word), stored little-endian it makes the packet sum to 0xffff.
uint16_t EchoChecksum(const uint8_t* bytes, size_t size);

// An echo request: type 8, code 0, checksum, identifier and sequence number (little-endian), and 24 bytes
// holding the value 0xDEADBEEF six times.
EchoPacket BuildEchoRequest(uint16_t identifier, uint16_t sequence);

// The next number of the process-wide echo counter (incremented before every echo; 65535 wraps to 0).
uint16_t NextEchoSequence();

enum class EchoVerdict { Match, Ignore, End };
// A datagram received on the raw socket (IP header, then ICMP): End when it is shorter than its IP header
// plus 32 bytes, Match for the echo reply (type 0) to our identifier and sequence number, Ignore otherwise.
EchoVerdict CheckEchoReply(const uint8_t* datagram, size_t size, uint16_t identifier, uint16_t sequence);

// Process-wide switches: skip the check (always online), and the host asked (empty: a well-known public web
// host; tests point it at "127.0.0.1").
void SetSkipOnlineCheck(bool skip);
bool SkipOnlineCheck();
void SetOnlineEchoHost(std::string host);
std::string OnlineEchoHost();

// What one echo found: an answer; no way to the host (the system said so); or nothing that tells.
enum class EchoOutcome { Answered, Unreachable, CannotTell };

// What the check needs of the system.
struct OnlinePlatform {
  std::function<EchoOutcome(const std::string& host)> echo;  // sends one echo and waits for its reply
  std::function<bool(uint32_t waitMs)> processBlocked;
  std::function<bool()> attemptConnect;  // the system's dial attempt (may show the dial-up dialog)
};

// The check over a given system: skip switch, echo, then (when dialling is allowed and the process is not
// blocked) the dial attempt followed by a second echo. Offline only when the last echo was Unreachable; an
// echo that cannot tell (or no echo at all) counts as online, so that the sending is tried.
bool IsOnline(bool tryDial, const OnlinePlatform& platform);
// The same over this system (online_win.cpp; elsewhere the echo is not available, which counts as online).
bool IsOnline(bool tryDial);

}  // namespace rvx
