// DNS datagrams: the query bytes, and replies read from hand-made datagrams (compression, cut-off data,
// pointer loops, foreign identifiers, records of other types, MX preferences).
#include <gtest/gtest.h>

#include "crash/delivery/dns_message.h"
#include "tests/delivery/dns_datagram.h"

namespace {

using rvx::dns::BuildQuery;
using rvx::dns::ParseReply;
using rvx::dns::QueryType;
using rvx::dns::ReplyStatus;
using rvxtest::Labels;
using rvxtest::Pointer;
using rvxtest::ReplyBuilder;
using rvxtest::U16;
using Names = std::vector<std::string>;

TEST(DnsQueryDatagram, HeaderQuestionTypeAndClass) {
  const std::string q = BuildQuery("mail.example.com", QueryType::MX, 0xABCD);
  const std::string expected = std::string("\xAB\xCD\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12) +
                               "\x04mail\x07" "example\x03" "com" + std::string("\0\0\x0f\0\x01", 5);
  EXPECT_EQ(q, expected);
  EXPECT_EQ(BuildQuery("example.com.", QueryType::NS, 1).substr(12),
            "\x07" "example\x03" "com" + std::string("\0\0\x02\0\x01", 5));
}

TEST(DnsQueryDatagram, NamesThatCannotBeWrittenGiveNothing) {
  EXPECT_EQ(BuildQuery("", QueryType::MX, 1), "");
  EXPECT_EQ(BuildQuery(".", QueryType::MX, 1), "");
  EXPECT_EQ(BuildQuery("a..b", QueryType::MX, 1), "");
  EXPECT_EQ(BuildQuery(".a", QueryType::MX, 1), "");
  EXPECT_EQ(BuildQuery(std::string(64, 'x') + ".com", QueryType::MX, 1), "");
  EXPECT_NE(BuildQuery(std::string(63, 'x') + ".com", QueryType::MX, 1), "");
  std::string huge;
  for (int i = 0; i < 9; ++i) huge += std::string(60, 'a' + i) + ".";
  EXPECT_EQ(BuildQuery(huge + "com", QueryType::MX, 1), "");  // over 512 bytes
}

TEST(DnsReply, MailExchangersComeInPreferenceOrder) {
  ReplyBuilder r("example.com", 15);
  r.Mx(30, "c.example.com").Mx(10, "a.example.com").Mx(20, "b1.example.com").Mx(20, "b2.example.com");
  const auto reply = ParseReply(r.Bytes(), QueryType::MX, r.id);
  EXPECT_EQ(reply.status, ReplyStatus::Names);
  EXPECT_EQ(reply.answers, (Names{"a.example.com", "b1.example.com", "b2.example.com", "c.example.com"}));
  EXPECT_TRUE(reply.authorities.empty());
}

TEST(DnsReply, CompressedNamesAreFollowed) {
  ReplyBuilder r("example.com", 15);
  // "mx1" + pointer to the question's "example.com"; then "mx2" + pointer to "mx1.example.com" inside the
  // first record's data (a two-step chain).
  const size_t firstRecord = 12 + r.question.size();
  const uint16_t firstTarget = static_cast<uint16_t>(firstRecord + 2 + 2 + 2 + 4 + 2 + 2);
  r.Record(false, Pointer(12), 15, U16(5) + "\x03mx1" + Pointer(12));
  r.Record(false, Pointer(12), 15, U16(6) + "\x03mx2" + Pointer(firstTarget));
  const auto reply = ParseReply(r.Bytes(), QueryType::MX, r.id);
  EXPECT_EQ(reply.answers, (Names{"mx1.example.com", "mx2.mx1.example.com"}));
}

TEST(DnsReply, PointerLoopsAndBadNamesSkipOnlyTheirRecord) {
  ReplyBuilder r("example.com", 15);
  const uint16_t recordData = static_cast<uint16_t>(12 + r.question.size() + 2 + 10);
  r.Record(false, Pointer(12), 15, U16(1) + Pointer(recordData + 2));  // points at itself
  const uint16_t second = static_cast<uint16_t>(recordData + 4 + 12);
  r.Record(false, Pointer(12), 15, U16(2) + "\x01x" + Pointer(second + 2));  // label then back to itself
  r.Record(false, Pointer(12), 15, U16(3) + std::string("\x03" "a\0b\x03" "com\0", 9));  // NUL in a label
  r.Record(false, Pointer(12), 15, U16(4) + Labels("white space.com").replace(6, 1, " "));
  r.Record(false, Pointer(12), 15, U16(5) + Pointer(0x3FFF));                    // beyond the datagram
  r.Mx(9, "good.example.com");
  const auto reply = ParseReply(r.Bytes(), QueryType::MX, r.id);
  EXPECT_EQ(reply.answers, (Names{"good.example.com"}));
}

TEST(DnsReply, EveryCutOffReplyIsReadSafely) {
  ReplyBuilder r("example.com", 15);
  r.Mx(10, "a.example.com").Mx(20, "b.example.com");
  const std::string full = r.Bytes();
  for (size_t n = 0; n < full.size(); ++n) {
    // A copy of exactly n bytes, so the sanitizer sees any read past the end.
    const std::string cut = full.substr(0, n);
    const auto reply = ParseReply(cut, QueryType::MX, r.id);
    EXPECT_EQ(reply.status, n < 12 ? ReplyStatus::NotOurs : ReplyStatus::Names) << n;
    EXPECT_LE(reply.answers.size(), n == full.size() ? 2u : 1u) << n;
  }
  EXPECT_EQ(ParseReply(full, QueryType::MX, r.id).answers.size(), 2u);
}

TEST(DnsReply, OnlyResponsesToThisQueryCount) {
  ReplyBuilder r("example.com", 15);
  r.Mx(10, "a.example.com");
  EXPECT_EQ(ParseReply(r.Bytes(), QueryType::MX, r.id + 1).status, ReplyStatus::NotOurs);
  ReplyBuilder question = r;
  question.flags2 = 0x01;  // a query, not a response
  EXPECT_EQ(ParseReply(question.Bytes(), QueryType::MX, r.id).status, ReplyStatus::NotOurs);
  ReplyBuilder refused = r;
  refused.flags3 = 0x83;  // name error
  const auto reply = ParseReply(refused.Bytes(), QueryType::MX, r.id);
  EXPECT_EQ(reply.status, ReplyStatus::ServerError);
  EXPECT_TRUE(reply.answers.empty());
}

TEST(DnsReply, RecordsOfOtherTypesAreNotMailExchangers) {
  ReplyBuilder r("alias.example.com", 15);
  r.Record(false, Pointer(12), 5, Labels("target.example.com"));  // CNAME
  r.Record(false, Labels("target.example.com"), 15, U16(10) + Labels("mx.example.com"));
  r.Record(true, Labels("example.com"), 6, Labels("ns.example.com") + Labels("admin.example.com") +
                                               std::string(20, '\0'));  // SOA
  r.Record(true, Labels("example.com"), 2, Labels("ns1.example.com"));
  const auto mx = ParseReply(r.Bytes(), QueryType::MX, r.id);
  EXPECT_EQ(mx.answers, (Names{"mx.example.com"}));
  EXPECT_TRUE(mx.authorities.empty());  // authority records are read for NS queries only

  ReplyBuilder referral("example.com", 2);
  referral.Record(true, Labels("com"), 6, Labels("a.gtld.test") + Labels("admin.test") + std::string(20, '\0'));
  referral.Record(true, Labels("com"), 2, Labels("a.gtld.test"));
  referral.Record(true, Labels("com"), 2, Labels("b.gtld.test"));
  const auto ns = ParseReply(referral.Bytes(), QueryType::NS, referral.id);
  EXPECT_TRUE(ns.answers.empty());
  EXPECT_EQ(ns.authorities, (Names{"a.gtld.test", "b.gtld.test"}));
}

TEST(DnsReply, RecordDataTooShortForItsNameIsSkipped) {
  ReplyBuilder r("example.com", 15);
  r.Record(false, Pointer(12), 15, U16(1));                            // preference only
  r.Record(false, Pointer(12), 15, U16(2) + "\x02mx");                 // name runs past its record
  r.Record(false, Pointer(12), 15, U16(3) + Labels("ok.example.com"));
  EXPECT_EQ(ParseReply(r.Bytes(), QueryType::MX, r.id).answers, (Names{"ok.example.com"}));
}

}  // namespace
