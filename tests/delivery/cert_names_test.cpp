// Names read from certificates that openssl made, and the host-name rules applied to them.
#include <gtest/gtest.h>

#include "crash/delivery/cert_names.h"
#include "tests/delivery/test_pki.h"

namespace {

using rvx::tls::CertMatchesHost;
using rvx::tls::CertNames;
using rvx::tls::CheckCertificateHost;
using rvx::tls::NameMatchesHost;
using rvx::tls::ParseIpLiteral;
using rvx::tls::ReadCertNames;

class CertNamesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!rvx::test::HasTool("openssl")) GTEST_SKIP() << "openssl is not installed";
    pki_ = new rvx::test::TestPki(rvx::test::OracleFolder("cert_names_test"));
    ASSERT_TRUE(pki_->MakeRoot());
    ASSERT_TRUE(pki_->MakeServer("multi", "/O=Ravex/CN=ignored.example.net",
                                 "DNS:mail.example.org,DNS:*.Example.COM,IP:127.0.0.1,IP:::1,email:a@b.c,URI:http://x"));
    ASSERT_TRUE(pki_->MakeServer("cn_only", "/C=DE/CN=first.example.org/CN=smtp.example.org", ""));
    ASSERT_TRUE(pki_->MakeServer("self", "/CN=self.example.org", "DNS:self.example.org", true));
    ASSERT_TRUE(pki_->MakeServer("ip_only", "/CN=127.0.0.1", "IP:10.1.2.3"));
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }
  static rvx::test::TestPki* pki_;
};
rvx::test::TestPki* CertNamesTest::pki_ = nullptr;

TEST_F(CertNamesTest, ReadsAltNamesAndCommonName) {
  CertNames n;
  ASSERT_TRUE(ReadCertNames(pki_->Der("multi"), &n));
  EXPECT_EQ(n.dns, (std::vector<std::string>{"mail.example.org", "*.Example.COM"}));
  ASSERT_EQ(n.ips.size(), 2u);
  EXPECT_EQ(n.ips[0], std::string("\x7F\x00\x00\x01", 4));
  EXPECT_EQ(n.ips[1], std::string(15, '\0') + "\x01");
  EXPECT_EQ(n.common_name, "ignored.example.net");

  ASSERT_TRUE(ReadCertNames(pki_->Der("cn_only"), &n));
  EXPECT_TRUE(n.dns.empty());
  EXPECT_EQ(n.common_name, "smtp.example.org");  // the last, most specific one

  ASSERT_TRUE(ReadCertNames(pki_->Der("self"), &n));
  EXPECT_EQ(n.dns, std::vector<std::string>{"self.example.org"});
  ASSERT_TRUE(ReadCertNames(pki_->Der("root"), &n));
  EXPECT_EQ(n.common_name, "Ravex Test Root");
}

TEST_F(CertNamesTest, MatchesTheWayAClientMust) {
  const std::string multi = pki_->Der("multi");
  EXPECT_EQ(CheckCertificateHost(multi, "mail.example.org"), "");
  EXPECT_EQ(CheckCertificateHost(multi, "MAIL.Example.org."), "");
  EXPECT_EQ(CheckCertificateHost(multi, "smtp.example.com"), "");
  EXPECT_EQ(CheckCertificateHost(multi, "127.0.0.1"), "");
  EXPECT_EQ(CheckCertificateHost(multi, "[::1]"), "");
  EXPECT_EQ(CheckCertificateHost(multi, "0:0:0:0:0:0:0:1"), "");
  // The common name does not count next to DNS names; the wildcard covers one label only.
  EXPECT_NE(CheckCertificateHost(multi, "ignored.example.net"), "");
  EXPECT_NE(CheckCertificateHost(multi, "a.b.example.com"), "");
  EXPECT_NE(CheckCertificateHost(multi, "example.com"), "");
  EXPECT_EQ(CheckCertificateHost(multi, "smtp.example.net"),
            "certificate is for mail.example.org, *.Example.COM, 127.0.0.1, 0:0:0:0:0:0:0:1, not smtp.example.net");

  const std::string cn = pki_->Der("cn_only");
  EXPECT_EQ(CheckCertificateHost(cn, "smtp.example.org"), "");
  EXPECT_EQ(CheckCertificateHost(cn, "first.example.org"),
            "certificate is for smtp.example.org, not first.example.org");

  // An address is matched only by IP entries, never by a common name that spells it.
  const std::string ip = pki_->Der("ip_only");
  EXPECT_EQ(CheckCertificateHost(ip, "10.1.2.3"), "");
  EXPECT_EQ(CheckCertificateHost(ip, "127.0.0.1"), "certificate is for 10.1.2.3, not 127.0.0.1");
}

TEST_F(CertNamesTest, DamagedCertificatesAreRefusedWithoutReadingPastTheEnd) {
  const std::string der = pki_->Der("multi");
  ASSERT_GT(der.size(), 100u);
  CertNames n;
  for (size_t cut = 0; cut < der.size(); ++cut) {
    // A copy of exactly `cut` bytes, so that the sanitizer sees any read past it.
    const std::string part = der.substr(0, cut);
    EXPECT_FALSE(ReadCertNames(part, &n)) << cut;
  }
  EXPECT_EQ(CheckCertificateHost(der.substr(0, 40), "mail.example.org"), "certificate could not be read");
  std::string huge = der;
  huge[1] = '\x84';  // a length of four bytes that runs far past the input
  EXPECT_FALSE(ReadCertNames(huge, &n));
  std::string indefinite = der;
  indefinite[1] = '\x80';
  EXPECT_FALSE(ReadCertNames(indefinite, &n));
}

// A certificate skeleton built by hand: only the fields the reader walks, with the given subject common name
// value (tag and bytes) and extensions.
std::string Tlv(uint8_t tag, const std::string& body) {
  std::string r(1, static_cast<char>(tag));
  if (body.size() < 0x80) {
    r += static_cast<char>(body.size());
  } else {
    r += '\x82';
    r += static_cast<char>(body.size() >> 8);
    r += static_cast<char>(body.size() & 0xFF);
  }
  return r + body;
}

std::string Skeleton(uint8_t cn_tag, const std::string& cn, const std::string& extensions) {
  const std::string cn_atv = Tlv(0x30, Tlv(0x06, "\x55\x04\x03") + Tlv(cn_tag, cn));
  const std::string subject = Tlv(0x30, Tlv(0x31, cn_atv));
  std::string tbs = Tlv(0xA0, Tlv(0x02, "\x02")) + Tlv(0x02, "\x01") + Tlv(0x30, "") + Tlv(0x30, "") +
                    Tlv(0x30, "") + subject + Tlv(0x30, "");
  if (!extensions.empty()) tbs += Tlv(0xA3, Tlv(0x30, extensions));
  return Tlv(0x30, Tlv(0x30, tbs) + Tlv(0x30, "") + Tlv(0x03, ""));
}

TEST(CertNamesByHand, WideStringsAndCriticalAltNames) {
  CertNames n;
  // BMPString "Mü" and UniversalString "a" U+1F600: converted to UTF-8.
  ASSERT_TRUE(ReadCertNames(Skeleton(0x1E, std::string("\x00M\x00\xFC", 4), ""), &n));
  EXPECT_EQ(n.common_name, "M\xC3\xBC");
  ASSERT_TRUE(ReadCertNames(Skeleton(0x1C, std::string("\x00\x00\x00" "a" "\x00\x01\xF6\x00", 8), ""), &n));
  EXPECT_EQ(n.common_name, "a\xF0\x9F\x98\x80");
  // A common name that cannot be decoded (odd length for two-byte characters) names nothing.
  ASSERT_TRUE(ReadCertNames(Skeleton(0x1E, "abc", ""), &n));
  EXPECT_EQ(n.common_name, "");

  // A critical alternative-names extension next to another one; a name of any other kind is passed over.
  const std::string names = Tlv(0x30, Tlv(0x81, "a@b.c") + Tlv(0x82, "smtp.example.com") + Tlv(0x87, "\x01\x02\x03"));
  const std::string alt = Tlv(0x30, Tlv(0x06, "\x55\x1D\x11") + Tlv(0x01, "\xFF") + Tlv(0x04, names));
  const std::string other = Tlv(0x30, Tlv(0x06, "\x55\x1D\x13") + Tlv(0x04, Tlv(0x30, "")));
  ASSERT_TRUE(ReadCertNames(Skeleton(0x0C, "cn.example.com", other + alt), &n));
  EXPECT_EQ(n.dns, std::vector<std::string>{"smtp.example.com"});
  EXPECT_TRUE(n.ips.empty());  // three bytes are no address
  EXPECT_TRUE(CertMatchesHost(n, "smtp.example.com"));
  EXPECT_FALSE(CertMatchesHost(n, "cn.example.com"));
  // An extension whose value is not an octet string is damage, not something to skip.
  const std::string broken = Tlv(0x30, Tlv(0x06, "\x55\x1D\x11") + Tlv(0x30, names));
  EXPECT_FALSE(ReadCertNames(Skeleton(0x0C, "cn.example.com", broken), &n));
}

TEST(HostNameRules, Wildcards) {
  EXPECT_TRUE(NameMatchesHost("*.example.com", "smtp.example.com"));
  EXPECT_TRUE(NameMatchesHost("*.EXAMPLE.com.", "Smtp.Example.Com"));
  EXPECT_FALSE(NameMatchesHost("*.example.com", "example.com"));
  EXPECT_FALSE(NameMatchesHost("*.example.com", ".example.com"));
  EXPECT_FALSE(NameMatchesHost("*.example.com", "a.smtp.example.com"));
  EXPECT_FALSE(NameMatchesHost("*.com", "example.com"));      // would cover a whole top-level domain
  EXPECT_FALSE(NameMatchesHost("*", "localhost"));
  EXPECT_FALSE(NameMatchesHost("*.", "localhost"));
  EXPECT_FALSE(NameMatchesHost("sm*.example.com", "smtp.example.com"));  // only whole labels
  EXPECT_FALSE(NameMatchesHost("*tp.example.com", "smtp.example.com"));
  EXPECT_FALSE(NameMatchesHost("smtp.*.com", "smtp.example.com"));
  EXPECT_FALSE(NameMatchesHost("*.*.com", "a.example.com"));
  EXPECT_FALSE(NameMatchesHost("*.example.com", "*.example.com"));  // a host is never a pattern
}

TEST(HostNameRules, ExactNames) {
  EXPECT_TRUE(NameMatchesHost("localhost", "LOCALHOST"));
  EXPECT_FALSE(NameMatchesHost("", ""));
  EXPECT_FALSE(NameMatchesHost("example.com", "example.com.evil"));
  EXPECT_FALSE(NameMatchesHost(std::string_view("smtp.example.com\0.evil.org", 26), "smtp.example.com"));
  EXPECT_FALSE(NameMatchesHost("smtp..example.com", "smtp..example.com"));
  EXPECT_FALSE(NameMatchesHost("smtp.example.com", "smtp.example.com.."));
}

TEST(HostNameRules, AddressLiterals) {
  EXPECT_EQ(ParseIpLiteral("192.168.0.255"), std::string("\xC0\xA8\x00\xFF", 4));
  EXPECT_EQ(ParseIpLiteral("::ffff:1.2.3.4"), std::string(10, '\0') + "\xFF\xFF\x01\x02\x03\x04");
  EXPECT_EQ(ParseIpLiteral("2001:db8::"), std::string("\x20\x01\x0d\xb8", 4) + std::string(12, '\0'));
  EXPECT_EQ(ParseIpLiteral("::").size(), 16u);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "1..2.3", "1:2", ":::", "1::2::3",
                          "12345::", "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7::8", "[::1", "example.com", "1.2.3.x"})
    EXPECT_EQ(ParseIpLiteral(bad), "") << bad;

  CertNames names;
  names.common_name = "10.0.0.1";
  EXPECT_FALSE(CertMatchesHost(names, "10.0.0.1"));
  names.dns = {"10.0.0.1"};
  EXPECT_FALSE(CertMatchesHost(names, "10.0.0.1"));
  names.ips = {std::string("\x0A\x00\x00\x01", 4)};
  EXPECT_TRUE(CertMatchesHost(names, "10.0.0.1"));
  EXPECT_FALSE(CertMatchesHost(names, "10.0.0.2"));
}

}  // namespace
