// Handing a report to the user's mail program: recipient lists, MAPI recipient entries, the mailto address
// and the command line of the registered mail program.
#include <gtest/gtest.h>

#include "crash/delivery/mailto.h"
#include "crash/delivery/mapi.h"

using namespace rvx;

TEST(MailRecipients, NormalisingAndSplitting) {
  EXPECT_EQ(NormaliseRecipients(" a@x.org ; b@y.org,c@z.org  "), "a@x.org,b@y.org,c@z.org");
  EXPECT_EQ(NormaliseRecipients("Ann Lee <a@x.org>;  Bo <b@y.org>"), "Ann Lee <a@x.org>,Bo <b@y.org>");
  EXPECT_EQ(SplitRecipients("a@x.org;;b@y.org ,"), (std::vector<std::string>{"a@x.org", "b@y.org"}));
  EXPECT_TRUE(SplitRecipients(" ; ").empty());
}

TEST(MapiRecipients, EntriesFromTheList) {
  // Two addresses separated by ";" give two entries, each address with the SMTP prefix.
  auto two = MapiRecipients("a@x.org; b@y.org");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0], (MapiRecipient{"a@x.org", "SMTP:a@x.org"}));
  EXPECT_EQ(two[1], (MapiRecipient{"b@y.org", "SMTP:b@y.org"}));
  // A display name keeps the blank before "<"; a missing ">" takes the rest.
  auto named = MapiRecipients("Support Team <help@x.org>,Ops <ops@y.org");
  ASSERT_EQ(named.size(), 2u);
  EXPECT_EQ(named[0], (MapiRecipient{"Support Team ", "SMTP:help@x.org"}));
  EXPECT_EQ(named[1], (MapiRecipient{"Ops ", "SMTP:ops@y.org"}));
  EXPECT_TRUE(MapiRecipients("").empty());
}

TEST(MapiRecipients, FlagsAndResults) {
  EXPECT_EQ(MapiSendFlags(true, true), 0u);
  EXPECT_EQ(MapiSendFlags(true, false), kMapiLogonUi | kMapiDialog);  // the user must name a recipient
  EXPECT_EQ(MapiSendFlags(false, true), kMapiLogonUi | kMapiDialog);
  EXPECT_EQ(MapiResultOf(0), kMapiSent);
  EXPECT_EQ(MapiResultOf(1), kMapiCancelled);
  EXPECT_EQ(MapiResultOf(2), kMapiFailed);
  EXPECT_EQ(MapiResultOf(26), kMapiFailed);
}

TEST(Mailto, Escaping) {
  EXPECT_EQ(MailtoEscape("a&b c\r\nd"), "a%26b%20c%0D%0Ad");
  EXPECT_EQ(MailtoEscape("\"#%+<>?"), "%22%23%25%2B%3C%3E%3F");
  // Everything else stays, including non-ASCII bytes and the other punctuation.
  EXPECT_EQ(MailtoEscape("Relat\xF3rio:x=1/2;@!\t"), "Relat\xF3rio:x=1/2;@!\t");
  EXPECT_EQ(MailtoAddress(" a@x ; b@y", "bug report", "see?", false),
            "mailto:a@x,b@y?subject=bug%20report&body=see%3F");
  EXPECT_EQ(MailtoAddress("a@x;b@y", "", "", true), "mailto:a@x;b@y?subject=&body=");
}

TEST(Mailto, CommandLine) {
  // "%1" is replaced everywhere; the address itself is not scanned again.
  EXPECT_EQ(MailClientCommandLine("mail.exe -compose \"%1\" --x %1", "a@x", "s", "%1 b", false),
            "mail.exe -compose \"mailto:a@x?subject=s&body=%251%20b\" --x mailto:a@x?subject=s&body=%251%20b");
  // Without "%1" the address is appended after a blank, directly when the command ends with one.
  EXPECT_EQ(MailClientCommandLine("mail.exe", "a@x", "s", "b", false), "mail.exe mailto:a@x?subject=s&body=b");
  EXPECT_EQ(MailClientCommandLine("mail.exe ", "a@x", "s", "b", false), "mail.exe mailto:a@x?subject=s&body=b");
  // The Outlook rule: ";" between recipients, whatever the case of the name.
  EXPECT_EQ(MailClientCommandLine("C:\\Office\\outLook.EXE /c ipm.note /m %1", "a@x, b@y", "s", "b", false),
            "C:\\Office\\outLook.EXE /c ipm.note /m mailto:a@x;b@y?subject=s&body=b");
}

TEST(Mailto, CutNeverSplitsAnEscape) {
  EXPECT_EQ(CutCommandLine("abcdef", 6), "abcdef");
  EXPECT_EQ(CutCommandLine("abcdefgh", 6), "abcdef");
  EXPECT_EQ(CutCommandLine("abcde%20", 6), "abcde");   // character 6 is "%"
  EXPECT_EQ(CutCommandLine("abcd%20x", 6), "abcd");    // character 5 is "%"
  EXPECT_EQ(CutCommandLine("abc%20xy", 6), "abc%20");  // a whole escape stays

  // At the real limit, with an escaped blank on every position around the cut: "m.exe " and the address up
  // to the body are 32 characters.
  const size_t expected[] = {kMaxCommandLine, kMaxCommandLine, kMaxCommandLine - 2, kMaxCommandLine - 1,
                             kMaxCommandLine};
  for (size_t shift = 0; shift < 5; ++shift) {
    std::string body(kMaxCommandLine - 32 - 4 + shift, 'x');
    std::string line = MailClientCommandLine("m.exe", "a@x", "s", body + " " + std::string(100, 'y'));
    EXPECT_EQ(line.size(), expected[shift]) << shift;
    EXPECT_EQ(line.compare(0, 32, "m.exe mailto:a@x?subject=s&body="), 0);
  }
}
