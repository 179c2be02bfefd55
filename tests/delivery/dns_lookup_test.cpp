// The mail-exchanger lookup's steps over a scripted query function: system servers, the parent-domain rule,
// the iterative path from the root servers with its referral limit; and the system's server lists.
#include <gtest/gtest.h>

#include <map>

#include "crash/delivery/dns.h"

namespace {

using namespace rvx::dns;
using Names = std::vector<std::string>;

// Answers from a table keyed by "TYPE name@servers"; records every question asked.
struct ScriptedDns {
  std::map<std::string, DnsNames> table;
  std::vector<std::string> asked;

  static std::string Key(std::string_view name, const Names& servers, QueryType type) {
    std::string key = std::string(type == QueryType::MX ? "MX " : "NS ") + std::string(name) + "@";
    for (const auto& s : servers) key += s + ",";
    return key;
  }
  QueryFunction Function() {
    return [this](std::string_view name, const Names& servers, QueryType type) {
      asked.push_back(Key(name, servers, type));
      auto it = table.find(asked.back());
      return it == table.end() ? DnsNames{{}, {}, "no answer"} : it->second;
    };
  }
};

TEST(MxLookup, DomainAndParentDomainOfAnAddress) {
  EXPECT_EQ(DomainOf("Support <help@mail.example.com>"), "mail.example.com");
  EXPECT_EQ(DomainOf("a@b@example.com"), "b@example.com");
  EXPECT_EQ(DomainOf("example.com"), "example.com");
  EXPECT_EQ(ParentDomain("a.b.mail.example.com"), "mail.example.com");
  EXPECT_EQ(ParentDomain("mail.example.com"), "mail.example.com");
  EXPECT_EQ(ParentDomain("com"), "com");
}

TEST(MxLookup, SystemServersAreAskedForTheDomainThenItsParent) {
  ScriptedDns dns;
  const Names servers{"10.0.0.1", "10.0.0.2"};
  dns.table[ScriptedDns::Key("mail.example.com", servers, QueryType::MX)] = {{"mx1.example.com", "mx2.example.com"}, {}, {}};
  std::string error;
  EXPECT_EQ(LookUpMx("x@a.b.mail.example.com>", servers, {"root"}, dns.Function(), &error),
            (Names{"mx1.example.com", "mx2.example.com"}));
  EXPECT_EQ(dns.asked, (Names{"MX a.b.mail.example.com@10.0.0.1,10.0.0.2,", "MX mail.example.com@10.0.0.1,10.0.0.2,"}));

  // A domain of three labels is its own parent: asked once, and the failure names it.
  dns.asked.clear();
  EXPECT_TRUE(LookUpMx("x@none.example.com", servers, {"root"}, dns.Function(), &error).empty());
  EXPECT_EQ(dns.asked.size(), 1u);
  EXPECT_NE(error.find("none.example.com"), std::string::npos) << error;

  EXPECT_TRUE(LookUpMx("nobody@", servers, {}, dns.Function(), &error).empty());
  EXPECT_NE(error.find("no domain"), std::string::npos) << error;
}

TEST(MxLookup, WithoutSystemServersReferralsAreFollowedFromTheRoots) {
  ScriptedDns dns;
  const Names roots{"root-a", "root-b"};
  const std::string zone = "mail.example.com";  // the parent domain of the address
  dns.table[ScriptedDns::Key(zone, roots, QueryType::NS)] = {{}, {"tld-1", "tld-2"}, {}};
  dns.table[ScriptedDns::Key(zone, {"tld-1", "tld-2"}, QueryType::NS)] = {{}, {"ns.example.com"}, {}};
  dns.table[ScriptedDns::Key(zone, {"ns.example.com"}, QueryType::NS)] = {{"ns1.example.com", "ns2.example.com"}, {}, {}};
  dns.table[ScriptedDns::Key(zone, {"ns1.example.com", "ns2.example.com"}, QueryType::MX)] = {{"mx.example.com"}, {}, {}};
  EXPECT_EQ(LookUpMx("user@x.mail.example.com", {}, roots, dns.Function()), (Names{"mx.example.com"}));
  ASSERT_EQ(dns.asked.size(), 5u);
  EXPECT_EQ(dns.asked[3], "MX x.mail.example.com@ns1.example.com,ns2.example.com,");
  EXPECT_EQ(dns.asked[4], "MX mail.example.com@ns1.example.com,ns2.example.com,");
}

TEST(MxLookup, EndlessReferralsStopAfterTenAndTheirServersAreUsed) {
  ScriptedDns dns;
  const Names roots{"root"};
  dns.table[ScriptedDns::Key("example.com", roots, QueryType::NS)] = {{}, {"loop"}, {}};
  dns.table[ScriptedDns::Key("example.com", {"loop"}, QueryType::NS)] = {{}, {"loop"}, {}};
  dns.table[ScriptedDns::Key("example.com", {"loop"}, QueryType::MX)] = {{"mx.example.com"}, {}, {}};
  EXPECT_EQ(LookUpMx("user@example.com", {}, roots, dns.Function()), (Names{"mx.example.com"}));
  EXPECT_EQ(dns.asked.size(), 1u + 1u + 10u + 1u);

  ScriptedDns silent;
  std::string error;
  EXPECT_TRUE(LookUpMx("user@example.com", {}, roots, silent.Function(), &error).empty());
  EXPECT_NE(error.find("root"), std::string::npos) << error;
}

TEST(SystemDnsServerLists, ResolverConfigRegistryListsAndIpHelperOrder) {
  EXPECT_EQ(ParseResolverConfig("# comment\nnameserver 10.0.0.1\n  nameserver\t192.168.1.254 # home\r\n"
                                "nameserver ::1\nnameservers 1.1.1.1\nnameserver 300.1.1.1\nsearch x\n"
                                "nameserver 8.8.8.8"),
            (Names{"10.0.0.1", "192.168.1.254", "8.8.8.8"}));
  EXPECT_EQ(SplitServerList("10.0.0.1, 10.0.0.2,,10.0.0.3 "), (Names{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(SplitServerList(" 10.0.0.1  10.0.0.2\t10.0.0.3"), (Names{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  EXPECT_TRUE(SplitServerList("   ").empty());
  EXPECT_EQ(MergeServerLists("10.0.0.9", {"10.0.0.1", "", "10.0.0.9", "10.0.0.2"}),
            (Names{"10.0.0.9", "10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(MergeServerLists("", {"", "10.0.0.1", "10.0.0.1"}), (Names{"10.0.0.1"}));
}

TEST(SystemDnsServerLists, TheOverrideReplacesTheSystemList) {
  SetSystemDnsServersOverride(Names{"127.0.0.1"});
  EXPECT_EQ(SystemDnsServers(), (Names{"127.0.0.1"}));
  SetSystemDnsServersOverride(Names{});
  EXPECT_TRUE(SystemDnsServers().empty());
  SetSystemDnsServersOverride(std::nullopt);
}

}  // namespace
