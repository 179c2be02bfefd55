// The whole mail-exchanger lookup against dnsmasq on 127.0.0.1: system servers, the parent-domain rule, the
// iterative path from root servers. Native only.
#include <gtest/gtest.h>

#include <filesystem>

#include "crash/delivery/dns.h"
#include "tests/delivery/child_process.h"
#include "tests/support/oracle_files.h"

namespace {

using namespace rvx::dns;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

// A UDP socket on 127.0.0.1 (any free port).
struct LoopbackUdp {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  uint16_t port = 0;
  LoopbackUdp() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~LoopbackUdp() { ::close(fd); }
  void SendTo(const sockaddr_in& to, const std::string& d) const {
    ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
};

// Restores the process-wide switches after each test.
class DnsSwitches : public ::testing::Test {
 protected:
  void TearDown() override {
    SetDnsPort(53);
    SetRootServers({"a.root-servers.net", "b.root-servers.net"});
    SetSystemDnsServersOverride(std::nullopt);
  }
};

// dnsmasq on 127.0.0.1 with MX records for corp.example.test and an NS record that names 127.0.0.1 itself,
// so the iterative path can be walked from a "root" on the same server.
class Dnsmasq : public DnsSwitches {
 protected:
  void SetUp() override {
    if (!fs::exists(kBinary)) GTEST_SKIP() << kBinary << " is not installed (package dnsmasq-base)";
    const fs::path dir = rvx::test::OracleFolder("dns_server_test");
    for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
      port_ = rvxtest::FreeLoopbackPort(SOCK_DGRAM);
      std::vector<std::string> args{kBinary, "--keep-in-foreground", "--port=" + std::to_string(port_),
                                    "--listen-address=127.0.0.1", "--bind-interfaces", "--no-resolv", "--no-hosts",
                                    "--conf-file=/dev/null", "--pid-file", "--log-facility=-", "--log-queries",
                                    "--mx-host=corp.example.test,mx-b.corp.example.test,20",
                                    "--mx-host=corp.example.test,mx-a.corp.example.test,10",
                                    "--dns-rr=corp.example.test,2,0331323701300130013100"};
      if (::geteuid() == 0) {  // stay root: a change of user would lose the stop-with-the-test signal
        args.push_back("--user=root");
        args.push_back("--group=root");
      }
      server_.Stop();
      if (!server_.Start(args, (dir / "dnsmasq.log").string())) continue;
      ready_ = WaitUntilAnswering();
    }
    ASSERT_TRUE(ready_) << "dnsmasq did not start; see " << (dir / "dnsmasq.log");
    SetDnsPort(port_);
  }
  void TearDown() override {
    server_.Stop();
    DnsSwitches::TearDown();
  }
  bool WaitUntilAnswering() {
    LoopbackUdp probe;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{0, 100000};
    ::setsockopt(probe.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const std::string query = BuildQuery("corp.example.test", QueryType::MX, 7);
    for (int i = 0; i < 50 && server_.Running(); ++i) {
      probe.SendTo(to, query);
      char buf[512];
      if (::recv(probe.fd, buf, sizeof buf, 0) > 0) return true;
    }
    return false;
  }

  static constexpr const char* kBinary = "/usr/sbin/dnsmasq";
  rvxtest::ChildProcess server_;
  uint16_t port_ = 0;
  bool ready_ = false;
};

TEST_F(Dnsmasq, MailExchangersOfTheDomainThroughTheSystemServers) {
  SetSystemDnsServersOverride(Names{"127.0.0.1"});
  std::string error;
  EXPECT_EQ(MxHostsOf("Help Desk <help@corp.example.test>", &error),
            (Names{"mx-a.corp.example.test", "mx-b.corp.example.test"}))
      << error;
}

TEST_F(Dnsmasq, ParentDomainAnswersForADeeperDomain) {
  SetSystemDnsServersOverride(Names{"127.0.0.1"});
  std::string error;
  EXPECT_EQ(MxHostsOf("someone@deep.sub.corp.example.test", &error),
            (Names{"mx-a.corp.example.test", "mx-b.corp.example.test"}))
      << error;
  EXPECT_TRUE(MxHostsOf("someone@other.example.test", &error).empty());
  EXPECT_NE(error.find("other.example.test"), std::string::npos) << error;
}

TEST_F(Dnsmasq, IterativeLookupFromTheRootServersWithoutSystemServers) {
  SetSystemDnsServersOverride(Names{});
  SetRootServers({"127.0.0.1", "localhost"});
  std::string error;
  EXPECT_EQ(MxHostsOf("a@x.corp.example.test", &error), (Names{"mx-a.corp.example.test", "mx-b.corp.example.test"}))
      << error;
}

}  // namespace
