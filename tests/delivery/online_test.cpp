// The online check: the echo request's bytes, the reply check and the order of echo and dialling.
#include <gtest/gtest.h>

#include <vector>

#include "crash/delivery/online.h"

using namespace rvx;

namespace {
std::vector<uint8_t> Reply(uint8_t type, uint16_t id, uint16_t seq, size_t ipHeader = 20, size_t extra = 0) {
  std::vector<uint8_t> d(ipHeader + kEchoSize + extra, 0);
  d[0] = static_cast<uint8_t>(0x40 | (ipHeader / 4));
  EchoPacket p = BuildEchoRequest(id, seq);
  std::copy(p.begin(), p.end(), d.begin() + static_cast<long>(ipHeader));
  d[ipHeader] = type;
  return d;
}
}  // namespace

TEST(Echo, RequestBytes) {
  EchoPacket p = BuildEchoRequest(0x1234, 1);
  const uint8_t head[8] = {8, 0, 0x11, 0x3c, 0x34, 0x12, 0x01, 0x00};
  EXPECT_TRUE(std::equal(head, head + 8, p.begin()));
  for (size_t at = 8; at < kEchoSize; at += 4) {
    EXPECT_EQ(p[at] | p[at + 1] << 8 | p[at + 2] << 16 | static_cast<uint32_t>(p[at + 3]) << 24, 0xDEADBEEFu);
  }
  // 8 + 6 * (0xbeef + 0xdead) = 0x9b1b0 -> 0xb1b0 + 9 = 0xb1b9 -> complement 0x4e46.
  EchoPacket zero = BuildEchoRequest(0, 0);
  EXPECT_EQ(zero[2] | zero[3] << 8, 0x4e46);
}

TEST(Echo, ChecksumCarriesTheFoldOverflow) {
  // 0x9b1b0 + 0xffff + 0x4e47 = 0xafff6; a single fold gives 0xb0000 and would store 0xffff. The correct
  // sum folds again: 0xfff6 + 0xa = 0x10000 -> 0x0001 -> 0xfffe.
  EchoPacket p = BuildEchoRequest(0xffff, 0x4e47);
  EXPECT_EQ(p[2] | p[3] << 8, 0xfffe);
  // Every request sums to 0xffff with its checksum in place, as the receiving host checks.
  for (uint32_t seq = 0; seq < 0x10000; seq += 7) {
    EchoPacket q = BuildEchoRequest(0xfedc, static_cast<uint16_t>(seq));
    uint32_t sum = 0;
    for (size_t i = 0; i < kEchoSize; i += 2) sum += q[i] | q[i + 1] << 8;
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    ASSERT_EQ(sum, 0xffffu) << seq;
  }
  const uint8_t odd[3] = {1, 2, 3};
  EXPECT_EQ(EchoChecksum(odd, 3), static_cast<uint16_t>(~(0x0201 + 3)));
}

TEST(Echo, SequenceWraps) {
  uint16_t first = NextEchoSequence();
  uint16_t last = first;
  for (int i = 0; i < 65536; ++i) {
    uint16_t next = NextEchoSequence();
    ASSERT_EQ(next, static_cast<uint16_t>(last + 1));
    last = next;
  }
  EXPECT_EQ(last, first);  // 65536 steps later, through 65535 -> 0
}

TEST(Echo, ReplyCheck) {
  auto ok = Reply(0, 7, 9);
  EXPECT_EQ(CheckEchoReply(ok.data(), ok.size(), 7, 9), EchoVerdict::Match);
  auto options = Reply(0, 7, 9, 24, 5);  // IP options and trailing bytes
  EXPECT_EQ(CheckEchoReply(options.data(), options.size(), 7, 9), EchoVerdict::Match);
  auto other = Reply(0, 7, 8);
  EXPECT_EQ(CheckEchoReply(other.data(), other.size(), 7, 9), EchoVerdict::Ignore);
  auto otherId = Reply(0, 6, 9);
  EXPECT_EQ(CheckEchoReply(otherId.data(), otherId.size(), 7, 9), EchoVerdict::Ignore);
  auto request = Reply(8, 7, 9);  // our own request seen on loopback
  EXPECT_EQ(CheckEchoReply(request.data(), request.size(), 7, 9), EchoVerdict::Ignore);
  EXPECT_EQ(CheckEchoReply(ok.data(), ok.size() - 1, 7, 9), EchoVerdict::End);
  auto longHeader = Reply(0, 7, 9, 60);
  longHeader[0] = 0x4f;  // says 60 bytes of header
  EXPECT_EQ(CheckEchoReply(longHeader.data(), 60 + kEchoSize - 1, 7, 9), EchoVerdict::End);
  EXPECT_EQ(CheckEchoReply(nullptr, 0, 7, 9), EchoVerdict::End);
}

TEST(Online, OrderOfChecks) {
  std::vector<std::string> calls;
  EchoOutcome echo = EchoOutcome::Unreachable;
  bool dialWorks = true, blocked = false;
  OnlinePlatform p;
  p.echo = [&](const std::string& host) {
    calls.push_back("echo " + host);
    return echo;
  };
  p.processBlocked = [&](uint32_t ms) {
    calls.push_back("blocked " + std::to_string(ms));
    return blocked;
  };
  p.attemptConnect = [&] {
    calls.push_back("dial");
    if (dialWorks) echo = EchoOutcome::Answered;
    return dialWorks;
  };
  SetOnlineEchoHost("127.0.0.1");
  EXPECT_FALSE(IsOnline(false, p));
  EXPECT_EQ(calls, (std::vector<std::string>{"echo 127.0.0.1"}));  // no dialling when not allowed

  calls.clear();
  EXPECT_TRUE(IsOnline(true, p));
  EXPECT_EQ(calls, (std::vector<std::string>{"echo 127.0.0.1", "blocked 250", "dial", "echo 127.0.0.1"}));

  calls.clear();
  echo = EchoOutcome::Unreachable, blocked = true;
  EXPECT_FALSE(IsOnline(true, p));
  EXPECT_EQ(calls.back(), "blocked 250");  // a blocked process never dials

  calls.clear();
  blocked = false, dialWorks = false;
  EXPECT_FALSE(IsOnline(true, p));  // the dial failed and the host is still out of reach
  EXPECT_EQ(calls, (std::vector<std::string>{"echo 127.0.0.1", "blocked 250", "dial"}));

  calls.clear();
  SetSkipOnlineCheck(true);
  EXPECT_TRUE(IsOnline(true, p));
  EXPECT_TRUE(calls.empty());
  SetSkipOnlineCheck(false);
  SetOnlineEchoHost("");
  EXPECT_NE(OnlineEchoHost(), "127.0.0.1");  // back to the public host
}

TEST(Online, ACheckThatCannotTellLetsTheSendingTry) {
  // No permission for echoes, no name lookup, or a network that drops echo requests: the check tells
  // nothing, and a computer that may well be online must not be kept from sending.
  OnlinePlatform p;
  int dials = 0;
  p.echo = [](const std::string&) { return EchoOutcome::CannotTell; };
  p.attemptConnect = [&] { return ++dials, false; };
  EXPECT_TRUE(IsOnline(false, p));
  EXPECT_TRUE(IsOnline(true, p));  // a failed dial attempt changes nothing about that
  EXPECT_EQ(dials, 1);
  EXPECT_TRUE(IsOnline(false, OnlinePlatform{}));  // no echo at all
}

TEST(Online, TheSystemsCheck) {
  // The system's own check, as the sending calls it: the loopback host answers; a name that cannot be looked
  // up makes the check impossible, and the sending is tried.
  SetOnlineEchoHost("127.0.0.1");
  EXPECT_TRUE(IsOnline(false));
  SetOnlineEchoHost("no-such-host.invalid");
  EXPECT_TRUE(IsOnline(false));
  SetOnlineEchoHost("");
}
