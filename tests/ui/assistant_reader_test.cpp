// Reading page descriptions: value types and their texts, the message on an unknown type, data cut short.
#include <gtest/gtest.h>

#include "assistant_fixtures.h"
#include "crash/ui/assistant_reader.h"

using namespace rvx;
using rvxtest::FormStream;

namespace {

// Records what the reader hands on as lines: "+Class Name", "Name=value", "-".
class Trace final : public IFormDescriptionSink {
 public:
  void BeginObject(std::string_view c, std::string_view n) override {
    lines.push_back("+" + std::string(c) + " " + std::string(n));
    ++depth;
  }
  void Property(std::string_view n, std::string_view v) override {
    lines.push_back(std::string(n) + "=" + std::string(v));
  }
  void EndObject() override {
    lines.push_back("-");
    --depth;
  }
  std::vector<std::string> lines;
  int depth = 0;
};

std::string Le32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}

TEST(AssistantReader, EveryValueTypeBecomesText) {
  std::string data = FormStream("TRVX", "Page")
                         .Int("i8", -5)
                         .Int("i16", -300)
                         .Int("i32", 70000)
                         .Text("s", "text")
                         .Ident("id", "nvoOwnSection")
                         .Bool("f", false)
                         .Bool("t", true)
                         .Raw(std::string("\x04long\x0c", 6) + Le32(3) + "abc")
                         .Child("INVEdit", "E")
                         .Int("neg32", -70000)
                         .End();
  Trace t;
  EXPECT_EQ(ReadFormDescription(data, t), FormReadResult::Complete);
  std::vector<std::string> want = {"+TRVX Page", "i8=-5",    "i16=-300",  "i32=70000", "s=text", "id=nvoOwnSection",
                                   "f=0",        "t=1",      "long=abc",  "+INVEdit E", "neg32=-70000", "-", "-"};
  EXPECT_EQ(t.lines, want);
}

TEST(AssistantReader, UnknownTypeStopsWithItsHexNumberAndKeepsWhatWasRead) {
  for (auto [type, hex] : {std::pair<uint8_t, std::string>{5, "$5"}, {14, "$e"}, {0, "$0"}, {255, "$ff"}}) {
    std::string data = FormStream()
                           .Child("INVLabel", "L")
                           .Text("Caption", "before")
                           .Raw(std::string("\x05" "After", 6) + static_cast<char>(type) + std::string(10, '\x01'))
                           .Text("Caption", "never")
                           .End();
    Trace t;
    std::vector<std::string> messages;
    EXPECT_EQ(ReadFormDescription(data, t, [&](const std::string& m) { messages.push_back(m); }),
              FormReadResult::InvalidType);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Internal error: Invalid assistant resource (" + hex + ").");
    EXPECT_EQ(t.lines, (std::vector<std::string>{"+TRVTestForm TestForm", "+INVLabel L", "Caption=before", "-", "-"}));
  }
}

TEST(AssistantReader, DataWithoutSignatureOrCutShortNeverReadsPastTheEnd) {
  Trace none;
  EXPECT_EQ(ReadFormDescription("TPF1\x04TRVX", none), FormReadResult::NoSignature);
  EXPECT_EQ(ReadFormDescription("", none), FormReadResult::NoSignature);
  EXPECT_TRUE(none.lines.empty());

  std::string full = FormStream().Text("Message", "m").Child("INVEdit", "E").Int("Lines", 9).Text("Text", "x").End();
  Trace whole;
  ASSERT_EQ(ReadFormDescription(full, whole), FormReadResult::Complete);
  // every prefix: copied into a buffer of its own size, so a read past its end is caught by the sanitizer
  for (size_t n = 4; n < full.size(); ++n) {
    std::vector<char> cut(full.begin(), full.begin() + n);
    Trace t;
    int messages = 0;
    FormReadResult r = ReadFormDescription(std::string_view(cut.data(), n), t, [&](const std::string&) { ++messages; });
    EXPECT_EQ(r, FormReadResult::Truncated) << n;
    EXPECT_EQ(messages, 0) << n;
    EXPECT_EQ(t.depth, 0) << "every begun object is ended, length " << n;
  }
  // a long string claiming more bytes than there are
  Trace t;
  EXPECT_EQ(ReadFormDescription(FormStream().Raw(std::string("\x01s\x0c", 3) + Le32(0xFFFFFFF0u) + "ab").End(), t),
            FormReadResult::Truncated);
}

TEST(AssistantReader, NestingIsBounded) {
  std::string data = "TPF0";
  for (int i = 0; i < 10000; ++i) data += std::string("\x04TRVX\x01N\x00", 8);
  Trace t;
  EXPECT_EQ(ReadFormDescription(data, t), FormReadResult::TooDeep);
  EXPECT_EQ(t.depth, 0);
  EXPECT_EQ(std::count(t.lines.begin(), t.lines.end(), "-"), kMaxFormNesting);
}

TEST(AssistantReader, TextConversions) {
  for (const char* yes : {"1", "yes", "YES", "true", "True"}) EXPECT_TRUE(PropertyBool(yes)) << yes;
  for (const char* no : {"", "0", "2", "01", "y", "on", " true"}) EXPECT_FALSE(PropertyBool(no)) << no;
  EXPECT_EQ(PropertyInt("250"), 250);
  EXPECT_EQ(PropertyInt("-12"), -12);
  EXPECT_EQ(PropertyInt("+7"), 7);
  for (const char* bad : {"", "x", "12x", " 1", "99999999999", "$10", "+-1", "++1"}) EXPECT_EQ(PropertyInt(bad), 0) << bad;
}

}  // namespace
