// The SMTP reply parser and reader: replies in pieces, multi-line replies, the extension scan, refusals that
// are read to their end, and the limits.
#include <gtest/gtest.h>

#include "crash/delivery/smtp_reply.h"
#include "delivery/smtp_fakes.h"

namespace rvx::smtp {
namespace {

using State = ReplyParser::State;

State FeedAll(ReplyParser& p, std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) p.Feed(piece);
  return p.state();
}

TEST(SmtpReplyParser, CompleteLinesAreAwaitedWhateverThePieces) {
  ReplyParser p;
  p.Begin("220", false);
  EXPECT_EQ(p.Feed("22"), State::NeedMore);
  EXPECT_EQ(p.Feed("0 rea"), State::NeedMore);
  EXPECT_EQ(p.Feed("dy\r"), State::NeedMore);
  EXPECT_EQ(p.Feed("\n"), State::Matched);
  EXPECT_EQ(p.text(), "220 ready");

  p.Begin("250", false);  // a bare LF ends a line too, and a code without text is a whole reply
  EXPECT_EQ(FeedAll(p, {"250\n"}), State::Matched);
}

TEST(SmtpReplyParser, MultiLineRepliesEndAtTheLineWithoutDash) {
  ReplyParser p;
  p.Begin("250", true);
  EXPECT_EQ(FeedAll(p, {"250-mail.test hello\r\n250-SIZE 1000\r\n", "250-AUTH PLAIN LOGIN\r\n"}), State::NeedMore);
  EXPECT_EQ(FeedAll(p, {"250 8BITMIME\r\n"}), State::Matched);
  EXPECT_TRUE(p.extensions().login);
  EXPECT_FALSE(p.extensions().startTls);
}

TEST(SmtpReplyParser, ExtensionScanFindsLoginInEveryFormAndNothingElse) {
  struct Case {
    const char* reply;
    bool login, startTls;
  } cases[] = {
      {"250-x\r\n250 AUTH=LOGIN PLAIN\r\n", true, false},
      {"250-x\r\n250 auth plain login\r\n", true, false},
      {"250-x\r\n250-AUTH PLAIN CRAM-MD5\r\n250 STARTTLS\r\n", false, true},
      {"250-x\r\n250-AUTH PLAIN LOGINX\r\n250 starttls \r\n", false, true},
      {"250-x\r\n250-XAUTH LOGIN\r\n250 STARTTLSX\r\n", false, false},
  };
  for (const Case& c : cases) {
    ReplyParser p;
    p.Begin("250", true);
    EXPECT_EQ(p.Feed(c.reply), State::Matched) << c.reply;
    EXPECT_EQ(p.extensions().login, c.login) << c.reply;
    EXPECT_EQ(p.extensions().startTls, c.startTls) << c.reply;
  }
  ReplyParser p;  // only a requested scan counts
  p.Begin("250", false);
  p.Feed("250-x\r\n250 AUTH LOGIN\r\n");
  EXPECT_FALSE(p.extensions().login);
}

TEST(SmtpReplyParser, RefusalsAreReadToTheirLastLine) {
  ReplyParser p;
  p.Begin("250", false);
  EXPECT_EQ(FeedAll(p, {"550-no such user\r\n"}), State::NeedMore);
  EXPECT_EQ(FeedAll(p, {"550 try again\r\n221 bye\r\n"}), State::Refused);
  EXPECT_EQ(p.text(), "550-no such user 550 try again");
  p.Begin("221", false);  // what followed the refusal is the next reply
  EXPECT_EQ(p.state(), State::Matched);
}

TEST(SmtpReplyParser, BadLinesAndOversizedRepliesFail) {
  for (const char* bad : {"hello\r\n", "25\r\n", "2x0 ok\r\n", "250-ok\r\n550 mixed\r\n", "\r\n"}) {
    ReplyParser p;
    p.Begin("250", false);
    EXPECT_EQ(p.Feed(bad), State::Malformed) << bad;
  }
  ReplyParser p;
  p.Begin("250", false);
  const std::string line = "250-" + std::string(1000, 'x') + "\r\n";
  State s = State::NeedMore;
  for (int i = 0; i < 100 && s == State::NeedMore; ++i) s = p.Feed(line);
  EXPECT_EQ(s, State::TooLong);
  p.Begin("250", false);  // an endless line without a line end is cut off too
  s = State::NeedMore;
  for (int i = 0; i < 100 && s == State::NeedMore; ++i) s = p.Feed(std::string(1000, '2'));
  EXPECT_EQ(s, State::TooLong);
  EXPECT_LE(p.text().size(), 300u);
}

TEST(SmtpReplyReader, FailuresSayWhatHappenedAndLeaveTheConnectionUnusable) {
  auto script = std::make_shared<test::SmtpScript>();
  script->greeting = {"2", "20 hi", "\r\n"};
  script->steps = {{"NOOP", {"550 nope\r\n"}}, {"NOOP", {}}};
  script->Start();
  test::ScriptedStream stream(script);
  ReplyReader reader(stream, 10);
  std::string error;
  EXPECT_TRUE(reader.Read("220", &error));
  stream.Send("NOOP\r\n");
  EXPECT_FALSE(reader.Read("250", &error));
  EXPECT_TRUE(reader.refused());
  EXPECT_TRUE(reader.usable());
  EXPECT_EQ(error, "550 nope");
  stream.Send("NOOP\r\n");
  EXPECT_FALSE(reader.Read("250", &error));
  EXPECT_EQ(error, "no answer within 1 s");
  EXPECT_FALSE(reader.usable());
  EXPECT_FALSE(reader.Read("250", &error));  // nothing more is read from it

  script->Start();
  script->out = {"220 half"};
  script->closed = true;
  ReplyReader closing(stream, 10);
  EXPECT_FALSE(closing.Read("220", &error));
  EXPECT_EQ(error, "the server closed the connection");
}

}  // namespace
}  // namespace rvx::smtp
