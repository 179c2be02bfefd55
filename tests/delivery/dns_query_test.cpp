// DnsQuery over the platform's own UDP sockets: a scripted server on the loopback interface sends forged,
// foreign and malformed datagrams before the true reply; servers that cannot be asked or stay silent.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "crash/delivery/dns.h"
#include "crash/delivery/udp.h"
#include "tests/delivery/dns_datagram.h"

namespace {

using namespace rvx::dns;
using Names = std::vector<std::string>;

class DnsQueryOverUdp : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.ok()); }
  void TearDown() override { SetDnsPort(53); }
  rvx::net::NetLibrary library_{2, 2};
};

TEST_F(DnsQueryOverUdp, ForgedAndForeignDatagramsAreIgnored) {
  auto server = rvx::net::OpenUdpSocket();
  auto stranger = rvx::net::OpenUdpSocket();
  ASSERT_TRUE(server && stranger);
  SetDnsPort(server->LocalPort());
  std::vector<uint16_t> ids;
  std::thread peer([&] {
    for (int round = 0; round < 3; ++round) {
      char buf[512];
      rvx::net::UdpPeer from;
      if (server->WaitReadable(10000) != rvx::net::WaitResult::Ready) return;
      const int got = server->ReceiveFrom(buf, sizeof buf, from);
      if (got < 12) return;
      const uint16_t id = static_cast<uint16_t>((static_cast<uint8_t>(buf[0]) << 8) | static_cast<uint8_t>(buf[1]));
      ids.push_back(id);
      rvxtest::ReplyBuilder forged("example.test", 15);
      forged.id = static_cast<uint16_t>(id + 1);
      forged.Mx(1, "wrong-id.test");
      server->SendTo(from, forged.Bytes());
      rvxtest::ReplyBuilder foreign("example.test", 15);
      foreign.id = id;
      foreign.Mx(1, "other-port.test");
      stranger->SendTo(from, foreign.Bytes());  // right identifier, but from a port that was not asked
      rvxtest::ReplyBuilder echo = foreign;
      echo.flags2 = 0x01;  // a query, not a response
      server->SendTo(from, echo.Bytes());
      server->SendTo(from, "junk");
      rvxtest::ReplyBuilder good("example.test", 15);
      good.id = id;
      good.Mx(20, "second.test").Mx(10, "first.test");
      server->SendTo(from, good.Bytes());
    }
  });
  for (int round = 0; round < 3; ++round) {
    const DnsNames r = DnsQuery("example.test", {"127.0.0.1"}, QueryType::MX);
    EXPECT_EQ(r.answers, (Names{"first.test", "second.test"})) << r.error;
  }
  peer.join();
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_GT(std::set<uint16_t>(ids.begin(), ids.end()).size(), 1u) << "every query needs its own identifier";
}

TEST_F(DnsQueryOverUdp, ServersThatCannotBeAskedOrDoNotAnswer) {
  auto mute = rvx::net::OpenUdpSocket();
  ASSERT_TRUE(mute);
  SetDnsPort(mute->LocalPort());
  DnsNames r = DnsQuery("example.test", {"no-such-host.invalid"}, QueryType::MX);
  EXPECT_TRUE(r.answers.empty());
  EXPECT_EQ(r.error, "no DNS server could be asked");
  r = DnsQuery("example.test", {"127.0.0.1"}, QueryType::MX);  // one bounded wait of 5 s
  EXPECT_TRUE(r.answers.empty());
  EXPECT_NE(r.error.find("no answer"), std::string::npos) << r.error;
  r = DnsQuery("bad..name", {"127.0.0.1"}, QueryType::MX);
  EXPECT_NE(r.error.find("not a domain name"), std::string::npos) << r.error;
}

}  // namespace
