// SMTP sessions against scripted servers: the dialogue, refusals at every step, authentication and STARTTLS,
// direct delivery through mail exchangers, the message bytes and the progress areas.
#include <gtest/gtest.h>

#include <filesystem>

#include "crash/delivery/cipher.h"
#include "crash/delivery/smtp.h"
#include "crash/delivery/smtp_message.h"
#include "crash/stack/text.h"
#include "delivery/smtp_fakes.h"
#include "support/oracle_files.h"

namespace rvx::smtp {
namespace {

namespace fs = std::filesystem;
using test::SmtpScript;
using Steps = std::vector<SmtpScript::Step>;

const std::string kEhloLogin = "250-mail.test\r\n250-SIZE 100000\r\n250 AUTH=LOGIN PLAIN\r\n";

// The whole dialogue of a message with login, from EHLO to QUIT.
Steps Dialogue(const std::string& ehloReply = kEhloLogin) {
  return {{"EHLO ", {ehloReply}},
          {"AUTH LOGIN", {"334 VXNlcm5hbWU6\r\n"}},
          {Base64Encode("support"), {"334 UGFzc3dvcmQ6\r\n"}},
          {Base64Encode("s3cret"), {"235 ok\r\n"}},
          {"MAIL FROM:", {"250 ok\r\n"}},
          {"RCPT TO:", {"250 ok\r\n"}},
          {"DATA", {"354 go on\r\n"}},
          {".", {"250 queued\r\n"}},
          {"QUIT", {"221 bye\r\n"}}};
}

std::shared_ptr<SmtpScript> Script(Steps steps) {
  auto s = std::make_shared<SmtpScript>();
  s->steps = std::move(steps);
  return s;
}

MailJob LoginJob(const std::shared_ptr<SmtpScript>& script) {
  MailJob job = test::ScriptedJob(script);
  job.account = "support";
  job.password = "s3cret";
  return job;
}

std::vector<std::string> Verbs(const SmtpScript& s) {
  std::vector<std::string> v;
  for (const std::string& c : s.commands) v.push_back(c.substr(0, c.find_first_of(" :")));
  return v;
}

class SmtpSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ProcessSwitches() = Switches{};
    ProcessSwitches().heloName = "crashbox";
    ProcessSwitches().replyWaitMs = 1000;  // the scripted server answers at once or never
  }
  void TearDown() override { ProcessSwitches() = Switches{}; }
};

TEST_F(SmtpSession, SendsTheWholeDialogueWithLoginThroughTheServer) {
  auto script = Script(Dialogue());
  script->greeting = {"22", "0 mail.test ready\r\n"};  // a greeting in two pieces is read to its line end
  MailJob job = LoginJob(script);
  job.recipients = " support@example.test ; Boss <boss@example.test>,";
  ASSERT_TRUE(script->steps.size() == 9);
  script->steps.insert(script->steps.begin() + 6, {"RCPT TO:", {"250 ok\r\n"}});
  EXPECT_TRUE(SendJob(job)) << job.error;
  EXPECT_TRUE(job.error.empty());
  EXPECT_TRUE(script->unexpected.empty()) << script->unexpected.front();
  EXPECT_EQ(script->commands,
            (std::vector<std::string>{"EHLO crashbox", "AUTH LOGIN", "c3VwcG9ydA==", "czNjcmV0",
                                      "MAIL FROM:<crash@example.test>", "RCPT TO:<support@example.test>",
                                      "RCPT TO:<boss@example.test>", "DATA", ".", "QUIT"}));
  EXPECT_NE(script->message.find("To: <support@example.test>, Boss <boss@example.test>\r\n"), std::string::npos);
}

TEST_F(SmtpSession, RefusalAtEveryStepFailsWithTheServersWordsAndQuitsWhenItShould) {
  struct Case {
    size_t step;           // index in Dialogue() whose answer is replaced; 99: the greeting
    std::string answer;
    bool quit;             // QUIT is still said
    std::string inError;
  } cases[] = {
      {99, "554 go away\r\n", false, "refused the connection: 554 go away"},
      {1, "535 no\r\n", true, "refused AUTH LOGIN: 535 no"},
      {2, "535 who\r\n", true, "refused the account: 535 who"},
      {3, "535 bad password\r\n", true, "refused the password: 535 bad password"},
      {4, "451 later\r\n", true, "refused MAIL FROM <crash@example.test>: 451 later"},
      {5, "550 no such user\r\n", true, "refused RCPT TO <support@example.test>: 550 no such user"},
      {6, "554 no data\r\n", true, "refused DATA: 554 no data"},
      {7, "552 too big\r\n", true, "refused the message: 552 too big"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inError);
    Steps steps = Dialogue();
    auto script = Script(steps);
    if (c.step == 99) {
      script->greeting = {c.answer};
    } else {
      script->steps[c.step].pieces = {c.answer};
      script->steps.resize(c.step + 1);
      script->steps.push_back({"QUIT", {"221 bye\r\n"}});
    }
    MailJob job = LoginJob(script);
    EXPECT_FALSE(SendJob(job));
    EXPECT_NE(job.error.find(c.inError), std::string::npos) << job.error;
    EXPECT_EQ(script->Sent("QUIT"), c.quit);
    EXPECT_TRUE(script->unexpected.empty());
  }
}

TEST_F(SmtpSession, SwitchesReplaceTheSenderAddressAndTheSubjectEncoding) {
  Steps steps = Dialogue();
  steps.erase(steps.begin() + 1, steps.begin() + 4);
  auto script = Script(steps);
  MailJob job = test::ScriptedJob(script);
  job.sender.clear();  // the first recipient stands in for a missing sender
  job.recipients = "a@example.test, b@example.test";
  steps.insert(steps.begin() + 3, {"RCPT", {"250 ok\r\n"}});
  script->steps = steps;
  job.subject = "Relat\xF3rio";
  ProcessSwitches().utf8Subject = true;
  EXPECT_TRUE(SendJob(job)) << job.error;
  EXPECT_EQ(script->commands[1], "MAIL FROM:<a@example.test>");
  EXPECT_NE(script->message.find("From: <a@example.test>\r\nSubject: =?UTF-8?B?UmVsYXTDs3Jpbw==?=\r\n"),
            std::string::npos);

  script = Script(steps);
  job = test::ScriptedJob(script);
  job.recipients = "a@example.test, b@example.test";
  ProcessSwitches().mailFrom = "<>";
  EXPECT_TRUE(SendJob(job)) << job.error;
  EXPECT_EQ(script->commands[1], "MAIL FROM:<>");
}

TEST_F(SmtpSession, HeloIsTriedWhenEhloIsRefusedAndNeitherLeavesTheConnectionWithoutQuit) {
  auto script = Script({{"EHLO", {"502 what\r\n"}}, {"HELO", {"250 hi\r\n"}}});
  for (size_t i = 4; i < 9; ++i) script->steps.push_back(Dialogue()[i]);
  MailJob job = test::ScriptedJob(script);
  EXPECT_TRUE(SendJob(job)) << job.error;

  script = Script({{"EHLO", {"502 what\r\n"}}, {"HELO", {"501 no\r\n"}}});
  job = test::ScriptedJob(script);
  EXPECT_FALSE(SendJob(job));
  EXPECT_NE(job.error.find("refused HELO: 501 no"), std::string::npos) << job.error;
  EXPECT_FALSE(script->Sent("QUIT"));
}

TEST_F(SmtpSession, CredentialsNeedTheLoginMechanism) {
  auto script = Script({{"EHLO", {"250-mail.test\r\n250 AUTH PLAIN\r\n"}}, {"QUIT", {"221 bye\r\n"}}});
  MailJob job = LoginJob(script);
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(Verbs(*script), (std::vector<std::string>{"EHLO", "QUIT"}));
  EXPECT_NE(job.error.find("does not offer the LOGIN authentication"), std::string::npos) << job.error;

  // Without credentials nothing is asked even of a server that offers LOGIN.
  Steps steps = Dialogue();
  steps.erase(steps.begin() + 1, steps.begin() + 4);
  script = Script(steps);
  job = test::ScriptedJob(script);
  EXPECT_TRUE(SendJob(job)) << job.error;
  EXPECT_FALSE(script->Sent("AUTH"));
}

TEST_F(SmtpSession, OneAcceptedRecipientIsEnoughAndNoneIsAFailure) {
  Steps steps = Dialogue();
  steps.insert(steps.begin() + 6, {"RCPT TO:<b@", {"550 no such user\r\n"}});
  auto script = Script(steps);
  MailJob job = LoginJob(script);
  job.recipients = "a@example.test,b@example.test";
  EXPECT_TRUE(SendJob(job)) << job.error;
  EXPECT_TRUE(script->Sent("DATA"));

  steps = Dialogue();
  steps[5].pieces = {"550 no such user\r\n"};
  steps.insert(steps.begin() + 6, {"RCPT TO:<b@", {"550-unknown\r\n550 really\r\n"}});
  steps.resize(7);
  steps.push_back({"QUIT", {"221 bye\r\n"}});
  script = Script(steps);
  job = LoginJob(script);
  job.recipients = "a@example.test;b@example.test";
  EXPECT_FALSE(SendJob(job));
  EXPECT_FALSE(script->Sent("DATA"));
  EXPECT_TRUE(script->Sent("QUIT"));
  EXPECT_NE(job.error.find("RCPT TO <b@example.test>: 550-unknown 550 really"), std::string::npos) << job.error;
}

TEST_F(SmtpSession, NothingToSayResetsAndIsNoDelivery) {
  Steps steps = Dialogue();
  steps[6] = {"RSET", {"250 reset\r\n"}};
  steps.erase(steps.begin() + 7);
  auto script = Script(steps);
  MailJob job = LoginJob(script);
  job.subject.clear();
  job.body.clear();
  // Nothing reached the server: the caller must not take it for sent (and remove the report).
  EXPECT_FALSE(SendJob(job));
  EXPECT_NE(job.error.find("nothing to send"), std::string::npos) << job.error;
  EXPECT_FALSE(script->Sent("DATA"));
  EXPECT_TRUE(script->Sent("QUIT"));
  EXPECT_TRUE(script->unexpected.empty());
}

TEST_F(SmtpSession, TheServersAnswerToTheMessageIsAwaitedLongAndQuitCannotUndoIt) {
  // A server that checks the message for two minutes before it answers has it: that is a delivery.
  Steps steps = Dialogue();
  steps[7].delayMs = 2 * 60 * 1000;
  auto script = Script(steps);
  MailJob job = LoginJob(script);
  EXPECT_TRUE(SendJob(job)) << job.error;
  EXPECT_TRUE(script->Sent("QUIT"));

  // The long wait has its end, and the user's cancelling ends it sooner; neither counts as sent.
  ProcessSwitches().finalReplyWaitMs = 3000;
  script = Script(steps);
  job = LoginJob(script);
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(job.error, "SMTP the message failed: no answer within 3 s");
  ProcessSwitches().finalReplyWaitMs = Switches{}.finalReplyWaitMs;
  script = Script(steps);
  job = LoginJob(script);
  int asked = 0;
  job.cancelled = [&] { return script->Sent(".") && ++asked > 4; };
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(job.error, "SMTP the message failed: the sending was cancelled");
  EXPECT_LT(script->waitedMs, 5 * 1000);

  // No answer to QUIT, a refusal of QUIT or a connection closed after the message was taken: sent.
  for (int variant = 0; variant < 3; ++variant) {
    steps = Dialogue();
    if (variant == 0) steps[8].pieces = {};
    if (variant == 1) steps[8].pieces = {"500 what\r\n"};
    if (variant == 2) steps[7].closeAfter = true;
    script = Script(steps);
    job = LoginJob(script);
    EXPECT_TRUE(SendJob(job)) << variant << ": " << job.error;
    EXPECT_TRUE(job.error.empty()) << job.error;
  }
}

TEST_F(SmtpSession, StartTlsSecuresTheConnectionBeforeAnyCredential) {
  Steps steps = Dialogue("250-mail.test\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n");
  // Plain bytes that follow the 220 are not trusted: they must not be taken as the answer to EHLO.
  steps.insert(steps.begin() + 1, {"STARTTLS", {"220 go ahead\r\n250 forged\r\n"}});
  steps.insert(steps.begin() + 2, {"EHLO", {kEhloLogin}});
  auto script = Script(steps);
  MailJob job = LoginJob(script);
  EXPECT_TRUE(SendJob(job)) << job.error;
  EXPECT_EQ(Verbs(*script), (std::vector<std::string>{"EHLO", "STARTTLS", "EHLO", "AUTH", "c3VwcG9ydA==",
                                                      "czNjcmV0", "MAIL", "RCPT", "DATA", ".", "QUIT"}));
  EXPECT_EQ(script->secured, 9);  // everything after STARTTLS went through the secured stream
}

TEST_F(SmtpSession, AFailedStartTlsSendsNoCredential) {
  const std::string offer = "250-mail.test\r\n250-AUTH LOGIN\r\n250 STARTTLS\r\n";
  auto script = Script({{"EHLO", {offer}}, {"STARTTLS", {"454 not now\r\n"}}, {"QUIT", {"221 bye\r\n"}}});
  MailJob job = LoginJob(script);
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(Verbs(*script), (std::vector<std::string>{"EHLO", "STARTTLS", "QUIT"}));
  EXPECT_NE(job.error.find("refused STARTTLS: 454 not now"), std::string::npos) << job.error;

  script = Script({{"EHLO", {offer}}, {"STARTTLS", {"220 go ahead\r\n"}}});
  job = LoginJob(script);
  job.startTls = [](std::unique_ptr<net::IStream>, std::string_view host, std::string* error) {
    *error = "certificate not issued for " + std::string(host);
    return std::unique_ptr<net::IStream>();
  };
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(Verbs(*script), (std::vector<std::string>{"EHLO", "STARTTLS"}));
  EXPECT_EQ(job.error, "TLS with the SMTP server mail.example.test failed: certificate not issued for "
                       "mail.example.test");

  // An upgrade that hands back an unprotected stream is no upgrade.
  script = Script({{"EHLO", {offer}}, {"STARTTLS", {"220 go ahead\r\n"}}, {"QUIT", {"221 bye\r\n"}}});
  job = LoginJob(script);
  job.startTls = [script](std::unique_ptr<net::IStream> plain, std::string_view, std::string*) { return plain; };
  EXPECT_FALSE(SendJob(job));
  EXPECT_FALSE(script->Sent("AUTH"));
  EXPECT_NE(job.error.find("not secured"), std::string::npos) << job.error;
}

TEST_F(SmtpSession, BrokenConnectionsAndSilenceEndTheSessionWithAReason) {
  Steps steps = Dialogue();
  steps[4].pieces = {};  // silent after MAIL FROM
  auto script = Script(steps);
  MailJob job = LoginJob(script);
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(job.error, "SMTP MAIL FROM <crash@example.test> failed: no answer within 1 s");
  EXPECT_FALSE(script->Sent("QUIT"));

  steps = Dialogue();
  steps[6].closeAfter = true;
  steps[6].pieces = {"354 go"};  // half a line, then the server is gone
  script = Script(steps);
  job = LoginJob(script);
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(job.error, "SMTP DATA failed: the server closed the connection");

  job = LoginJob(script);
  job.connect = [](std::string_view, uint16_t, std::string* error) {
    *error = "cannot connect to mail.example.test:587 (Connection refused)";
    return std::unique_ptr<net::IStream>();
  };
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(job.error, "SMTP connection failed: cannot connect to mail.example.test:587 (Connection refused)");
}

TEST_F(SmtpSession, ControlBytesInAddressesAndNamesAreRefusedBeforeConnecting) {
  auto script = Script(Dialogue());
  for (auto change : std::vector<std::function<void(MailJob&)>>{
           [](MailJob& j) { j.recipients = "a@example.test\r\nRCPT TO:<victim@example.test>"; },
           [](MailJob& j) { j.sender = "x@example.test>\rDATA"; },
           [](MailJob& j) {
             j.files = {L"/nonexistent"};
             j.sendAs = {"a\"\r\nX-Injected: 1"};
           },
           [](MailJob&) { ProcessSwitches().heloName = "host\nMAIL FROM:<x@y>"; }}) {
    MailJob job = LoginJob(script);
    change(job);
    EXPECT_FALSE(SendJob(job));
    EXPECT_NE(job.error.find("contains control characters"), std::string::npos) << job.error;
    ProcessSwitches().heloName = "crashbox";
    ProcessSwitches().replyWaitMs = 1000;  // the scripted server answers at once or never
  }
  EXPECT_EQ(script->connects, 0);
}

TEST_F(SmtpSession, DirectDeliveryTriesEachRecipientsExchangersInOrder) {
  std::vector<std::string> hosts;
  auto good = Script(Dialogue());
  good->steps.erase(good->steps.begin() + 1, good->steps.begin() + 4);
  auto bad = Script({{"EHLO", {"250 ok\r\n"}}, {"MAIL", {"550 not from you\r\n"}}, {"QUIT", {"221 bye\r\n"}}});
  MailJob job = test::ScriptedJob(good);
  job.server.clear();
  job.port = 25;
  job.recipients = "a@first.test, b@second.test, c@third.test";
  job.mxLookup = [](std::string_view address, std::string* error) -> std::vector<std::string> {
    if (address == "a@first.test") return {"mx1.first.test", "mx2.first.test"};
    if (address == "b@second.test") return {"mx.second.test"};
    *error = "no answer";
    return {};
  };
  job.connect = [&](std::string_view host, uint16_t port, std::string*) -> std::unique_ptr<net::IStream> {
    hosts.emplace_back(std::string(host) + ":" + std::to_string(port));
    if (host == "mx1.first.test") return nullptr;
    auto s = host == "mx2.first.test" ? good : bad;
    s->Start();
    return std::make_unique<test::ScriptedStream>(s);
  };
  EXPECT_TRUE(SendJob(job)) << job.error;
  EXPECT_EQ(hosts, (std::vector<std::string>{"mx1.first.test:25", "mx2.first.test:25", "mx.second.test:25"}));
  EXPECT_EQ(good->commands[2], "RCPT TO:<a@first.test>");
  EXPECT_NE(good->message.find("To: <a@first.test>\r\n"), std::string::npos);

  bad = Script(bad->steps);
  job.recipients = "b@second.test;c@third.test";
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(job.error,
            "b@second.test: SMTP server refused MAIL FROM <crash@example.test>: 550 not from you; "
            "c@third.test: no mail exchanger for c@third.test: no answer");
}

// ---- the message ----------------------------------------------------------------------------------------

TEST(SmtpMessage, HeaderTextsAreExact) {
  MessageTexts texts;
  texts.recipients = {"support@example.test"};
  texts.sender = "Ravex <crash@example.test>";
  texts.subject = "Relat\xF3rio de erros";
  // 8 Dec 2026 13:05:09 UTC in 100 ns units since 1601.
  texts.fileTime = (1796735109ull + 11644473600ull) * 10000000ull + 1234567;
  EXPECT_EQ(MessageHeader(texts),
            "To: <support@example.test>\r\n"
            "From: Ravex <crash@example.test>\r\n"
            "Subject: =?ISO-8859-1?Q?Relat=F3rio=20de=20erros?=\r\n"
            "Date: 8 Dec 2026 13:05:09 UT\r\n"
            "Message-ID: <01dd8714c0978707@Ravex>\r\n");
  EXPECT_EQ(EncodeSubject("Relat\xF3rio de erros", true), "=?UTF-8?B?UmVsYXTDs3JpbyBkZSBlcnJvcw==?=");
  EXPECT_EQ(EncodeSubject("a=b_c?", false), "=?ISO-8859-1?Q?a=3Db=5Fc=3F?=");
  EXPECT_EQ(DateText((951782400ull + 11644473600ull) * 10000000ull), "29 Feb 2000 00:00:00 UT");
  EXPECT_EQ(DateText(0), "1 Jan 1601 00:00:00 UT");
}

TEST(SmtpMessage, BodyKeepsEveryByteThroughData) {
  EXPECT_EQ(DataSafeBody(".first\r\n.\r\nmid.dle\n..two\rlast."), "..first\r\n..\r\nmid.dle\r\n...two\r\nlast.");
  EXPECT_EQ(DataSafeBody("a\r\r\nb\n\n"), "a\r\n\r\nb\r\n\r\n");
  EXPECT_EQ(DataSafeBody(""), "");
}

TEST(SmtpMessage, AttachmentTypesAndNames) {
  EXPECT_EQ(ContentTypeOf(L"C:\\tmp\\shot.PNG"), "image/png");
  EXPECT_EQ(ContentTypeOf(L"C:\\tmp\\shot.png.txt"), "application/octet-stream");
  EXPECT_EQ(AttachmentHeader(L"x.png", "a\"b.png"),
            "--RavexBugReport_multipart_boundary\r\n"
            "Content-Type: image/png; name=\"a\\\"b.png\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"a\\\"b.png\"\r\n\r\n");
}

class SmtpMessageSession : public SmtpSession {
 protected:
  fs::path dir_ = test::OracleFolder("smtp_session_test");
  std::wstring File(const std::string& name, const std::string& bytes) {
    test::WriteFile(dir_ / name, bytes);
    return DecodeUtf8Text((dir_ / name).string());
  }
};

TEST_F(SmtpMessageSession, MultipartMessageBytesAreExactApartFromDateAndIdentifier) {
  std::string report(100, 'r');
  auto script = Script(Dialogue());
  MailJob job = LoginJob(script);
  job.subject = "Relat\xF3rio de erros";
  job.body = "Line one\n.\nend";
  job.files = {File("report.txt", report), File("empty.bin", ""), DecodeUtf8Text((dir_ / "gone.zip").string()),
               File("shot.png", "\x89PNG")};
  job.sendAs = {"bugreport.txt", "empty.bin", "gone.zip", "screenshot.png"};
  ASSERT_TRUE(SendJob(job)) << job.error;
  const std::string& m = script->message;
  const size_t date = m.find("Date: "), id = m.find("Message-ID: <");
  ASSERT_NE(date, std::string::npos);
  ASSERT_NE(id, std::string::npos);
  const std::string b64 = Base64Encode(report);
  const std::string expected =
      "To: <support@example.test>\r\n"
      "From: Ravex <crash@example.test>\r\n"
      "Subject: =?ISO-8859-1?Q?Relat=F3rio=20de=20erros?=\r\n" +
      m.substr(date, m.find("\r\n", date) + 2 - date) + m.substr(id, 38) +
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"RavexBugReport_multipart_boundary\"\r\n"
      "\r\n"
      "This is a multi-part message in MIME format.\r\n"
      "\r\n"
      "--RavexBugReport_multipart_boundary\r\n"
      "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
      "Content-Transfer-Encoding: 8bit\r\n"
      "\r\n"
      "Line one\r\n"
      "..\r\n"
      "end\r\n"
      "--RavexBugReport_multipart_boundary\r\n"
      "Content-Type: application/octet-stream; name=\"bugreport.txt\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"bugreport.txt\"\r\n"
      "\r\n" +
      b64.substr(0, 76) + "\r\n" + b64.substr(76) + "\r\n" +
      "--RavexBugReport_multipart_boundary\r\n"
      "Content-Type: image/png; name=\"screenshot.png\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"screenshot.png\"\r\n"
      "\r\n"
      "iVBORw==\r\n"
      "--RavexBugReport_multipart_boundary--\r\n"
      "\r\n";
  EXPECT_EQ(m, expected);
}

TEST_F(SmtpMessageSession, AnUnreadableAttachmentAbortsTheMessageInsteadOfDeliveringItCut) {
  fs::create_directories(dir_ / "folder.bin");
  auto script = Script(Dialogue());
  MailJob job = LoginJob(script);
  job.files = {File("a.txt", "abc"), DecodeUtf8Text((dir_ / "folder.bin").string())};
  job.sendAs = {"a.txt", "folder.bin"};
  EXPECT_FALSE(SendJob(job));
  EXPECT_EQ(job.error, "cannot read the attachment folder.bin");
  EXPECT_FALSE(script->Sent("."));  // the server never sees the end of the message
  EXPECT_FALSE(script->Sent("QUIT"));
}

TEST_F(SmtpMessageSession, ProgressAreasAndStepsFollowTheSession) {
  auto script = Script(Dialogue());
  MailJob job = LoginJob(script);
  auto progress = MakeRef<test::RecordingProgress>();
  job.progress = progress;
  job.files = {File("a.bin", std::string(1000, 'a')), File("e.bin", ""), File("b.bin", std::string(57, 'b'))};
  job.sendAs = {"a.bin", "e.bin", "b.bin"};
  ASSERT_TRUE(SendJob(job)) << job.error;
  std::vector<std::string> expected = {"remove", "append  1000", "append  100", "append  100", "append  200",
                                       "append  200", "append  100", "append  100", "append  100", "append  100",
                                       "append  100", "append  54", "append  3", "append  500", "append  100"};
  // Connect (2), greeting, login, MAIL FROM, RCPT TO, DATA, header, body: one area each after the first.
  expected.insert(expected.end(), 10, "finish");
  expected.insert(expected.end(), {"position 1000", "finish", "position 1000", "finish", "finish", "finish",
                                   "active 14", "close"});
  EXPECT_EQ(progress->calls, expected);
  EXPECT_EQ(SessionAreas(job, {-1, 0, 1}, true).front(), (ProgressArea{"", 500}));

  // The texts come from the settings; the areas between them have none (the window repeats the last text).
  job.settings = Ref<IRVSettings>(new TIRVSettings(ModuleHandle{0}));
  const std::vector<ProgressArea> areas = SessionAreas(job, {-1, 0, 570}, true);
  const std::vector<ProgressArea> expectedAreas = {
      {job.settings->MxLookMsg(), 500}, {job.settings->ConnMsg(), 100}, {"", 100}, {"", 200},
      {job.settings->AuthMsg(), 200}, {job.settings->SendMailMsg(), 100}, {"", 100}, {"", 100}, {"", 100},
      {"", 100}, {job.settings->SendAttMsg(), 30}, {job.settings->SendFinalMsg(), 500}, {"", 100}};
  EXPECT_EQ(areas, expectedAreas);
  EXPECT_EQ(areas[1].text, "Connecting to server...");
}

}  // namespace
}  // namespace rvx::smtp
