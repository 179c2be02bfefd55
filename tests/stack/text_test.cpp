#include <gtest/gtest.h>

#include "crash/stack/text.h"

using namespace rvx;

namespace {
struct Separator {
  explicit Separator(char c) { SetDecimalSeparator(c); }
  ~Separator() { SetDecimalSeparator('.'); }
};
}  // namespace

TEST(TextNumbers, DecimalPadding) {
  EXPECT_EQ(DecimalText(0), "0");
  EXPECT_EQ(DecimalText(-5, 4, '0'), "-005");
  EXPECT_EQ(DecimalText(-5, 4, ' '), "  -5");
  EXPECT_EQ(DecimalText(5, -4, ' '), "5   ");
  EXPECT_EQ(DecimalText(12345, 3, '0'), "12345");
  EXPECT_EQ(DecimalText(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(DecimalText(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(DecimalText(static_cast<uint32_t>(4000000000u)), "4000000000");
}

TEST(TextNumbers, HexFormats) {
  EXPECT_EQ(HexText(0x1F, 1, '0'), "$1f");
  EXPECT_EQ(HexText(0x1F, 8, '0'), "$0000001f");
  EXPECT_EQ(HexText(0x1F, 4, ' '), "  $1f");
  EXPECT_EQ(HexText(0x1F, -4, ' '), "$1f  ");
  EXPECT_EQ(HexText(0), "$0");
  EXPECT_EQ(HexText(-1), "$ffffffff");
  EXPECT_EQ(HexText(uint64_t{0xABCDEF0123456789}), "$abcdef0123456789");
  EXPECT_EQ(AddressText(0, true), "00000000");
  EXPECT_EQ(AddressText(0x45a2b3, true), "0045a2b3");
  EXPECT_EQ(AddressText(0x45a2b3, false), "45a2b3");
  EXPECT_EQ(BoolSign(true), std::string("+"));
  EXPECT_EQ(BoolSign(false), std::string("-"));
}

TEST(TextNumbers, SizeTextWithComma) {
  Separator s(',');
  EXPECT_EQ(SizeText(1023), "1023 Bytes");
  EXPECT_EQ(SizeText(1000), "1000 Bytes");
  EXPECT_EQ(SizeText(1024), "1,00 KB");
  EXPECT_EQ(SizeText(1536), "1,50 KB");
  EXPECT_EQ(SizeText(10485760), "10,00 MB");
  EXPECT_EQ(SizeText(1024ull * 1024 * 1024 * 3 / 2), "1,50 GB");
  EXPECT_EQ(SizeText(1024ull * 1024 - 1), "1023,99 KB");
  EXPECT_EQ(SizeText(UINT64_MAX), "17179869183,99 GB");
}

TEST(TextNumbers, ParseInteger) {
  EXPECT_EQ(ParseInteger(false, "1234", 4), 1234);
  EXPECT_EQ(ParseInteger(false, "1234", 2), 12);
  EXPECT_EQ(ParseInteger(false, "-42"), -42);
  EXPECT_EQ(ParseInteger(true, "fF", 2), 255);
  EXPECT_EQ(ParseInteger(false, "1x3"), 103);  // no validation: a stray character counts as 0
  EXPECT_EQ(ParseInteger(false, ""), 0);
  EXPECT_EQ(ParseInteger(true, "-", 9), 0);
}

TEST(TextErrors, FallbackAndOneLine) {
  EXPECT_EQ(UnknownErrorText(0xE0000001u), "Unknown error $e0000001");
  EXPECT_EQ(OneLineMessage("Access is denied.\r\n"), "Access is denied. ");
  EXPECT_EQ(OneLineMessage("a\r\nb\nc"), "a bc");
}

TEST(TextTables, CaseAndDigits) {
  EXPECT_EQ(kLowerCase['A'], 'a');
  EXPECT_EQ(kLowerCase[0xC0], 0xE0);
  EXPECT_EQ(kLowerCase[0xD7], 0xD7);  // multiplication sign has no lower case
  EXPECT_EQ(kLowerCase[0xDF], 0xDF);
  EXPECT_EQ(kLowerCase[0x8A], 0x9A);
  EXPECT_EQ(kLowerCase[0x9F], 0xFF);
  EXPECT_EQ(kLowerCase['a'], 'a');
  EXPECT_EQ(kDigitValue['f'], 15);
  EXPECT_EQ(kDigitValue['G'], 0);
}

TEST(TextOps, TrimAndTail) {
  EXPECT_EQ(TrimText(std::string_view(" \t\r\nab c\x01 ")), "ab c");
  EXPECT_EQ(TrimText(std::string_view("  ")), "");
  EXPECT_EQ(TrimText(std::wstring_view(L" x ")), L"x");
  EXPECT_EQ(Tail(std::string_view("abcdef"), 2), "ef");
  EXPECT_EQ(Tail(std::string_view("ab"), 5), "ab");
}

TEST(TextOps, ReplaceRules) {
  std::string t = "a  b   c";
  EXPECT_TRUE(ReplaceText(t, "  ", " ", false, false));
  EXPECT_EQ(t, "a b  c");  // without repeat one pass leaves a double blank
  t = "a  b    c";
  EXPECT_TRUE(ReplaceText(t, "  ", " ", false, true));
  EXPECT_EQ(t, "a b c");

  t = "Hello %NAME% and %name%";
  EXPECT_TRUE(ReplaceText(t, "%name%", "Bob", true));
  EXPECT_EQ(t, "Hello Bob and Bob");
  EXPECT_FALSE(ReplaceText(t, "zz", "y"));
  EXPECT_FALSE(ReplaceText(t, "", "y"));

  // longer replacement with repeat: resumes one character after the match start
  t = "abb";
  EXPECT_TRUE(ReplaceText(t, "ab", "bba", false, true));
  EXPECT_EQ(t, "bbbba");

  // a replacement containing the searched text must not loop forever
  t = "xax";
  EXPECT_TRUE(ReplaceText(t, "a", "aa", false, true));
  EXPECT_EQ(t, "xaax");
  t = "A";
  EXPECT_TRUE(ReplaceText(t, "a", "A", true, true));
  EXPECT_EQ(t, "A");

  std::wstring w = L"x\u0100x";
  EXPECT_TRUE(ReplaceText(w, L"\u0100", L"y"));
  EXPECT_EQ(w, L"xyx");
}

TEST(TextOps, PositionsForwardAndBackward) {
  EXPECT_EQ(PosText("b", "abcb"), 2u);
  EXPECT_EQ(PosText("b", "abcb", 3), 4u);
  EXPECT_EQ(PosText("b", "abcb", 4, 1), 4u);
  EXPECT_EQ(PosText("b", "abcb", 3, 1), 2u);
  EXPECT_EQ(PosText("b", "abcb", 1, 1), 0u);
  EXPECT_EQ(PosText("", "abc"), 0u);
  EXPECT_EQ(PosText("abcd", "abc"), 0u);
  EXPECT_EQ(PosTextCI("\xC4", "xx\xE4"), 3u);
  EXPECT_EQ(PosText("\xC4", "xx\xE4"), 0u);
  EXPECT_EQ(PosTextCI(std::wstring_view(L"B"), std::wstring_view(L"aab"), 99, 1), 3u);
}

TEST(TextOps, CaseAndComparisons) {
  EXPECT_TRUE(StartsWith("abc", ""));
  EXPECT_TRUE(StartsWith("abc", "ab"));
  EXPECT_FALSE(StartsWith("ab", "abc"));
  EXPECT_TRUE(StartsWithCI("ABC", "ab"));
  EXPECT_EQ(UpperText(std::string_view("a\xE4\xE9z")), "A\xC4\xE9Z");  // only the umlauts beyond ASCII
  EXPECT_EQ(LowerText(std::string_view("A\xC4\xC9Z")), "a\xE4\xC9z");
  EXPECT_TRUE(EqualTextCI("\xC9t\xE9", "\xE9T\xC9"));
  EXPECT_FALSE(EqualTextCI("ab", "abc"));
  EXPECT_EQ(CompareTextCI("abc", "ABD"), 'c' - 'd');
  EXPECT_EQ(CompareTextCI("ab", "ABCD"), -2);
  EXPECT_EQ(CompareTextCI("", ""), 0);
  EXPECT_FALSE(EqualTextCI(std::wstring_view(L"\u0100"), std::wstring_view(L"\u0101")));
}

TEST(TextOps, FieldsAndWords) {
  EXPECT_EQ(FieldOf("a|b|c", 2, '|'), "b");
  EXPECT_EQ(FieldOf("a|b|c", 3, '|'), "c");
  EXPECT_EQ(FieldOf("a|b|c", 4, '|'), "");
  EXPECT_EQ(FieldOf("a|b|c", 0, '|'), "");
  EXPECT_EQ(FieldOf("a||c", 2, '|'), "");
  EXPECT_EQ(FieldCount("", '|'), 0);
  EXPECT_EQ(FieldCount("a", '|'), 1);
  EXPECT_EQ(FieldCount("a||", '|'), 3);
  EXPECT_TRUE(HasWord("modules|processes|hardware", "processes", '|'));
  EXPECT_FALSE(HasWord("modules|processes|hardware", "process", '|'));
  EXPECT_FALSE(HasWord("xmodules|processes", "modules", '|'));
  EXPECT_TRUE(HasWord("xmodules|modules", "modules", '|'));
  EXPECT_FALSE(HasWord("Hardware", "hardware", '|'));
  EXPECT_TRUE(HasWordCI("Hardware", "hardware", '|'));
  EXPECT_FALSE(HasWord("abc", "", '|'));
}

TEST(TextOps, RemoveAndPad) {
  std::string t = "a-b-c";
  EXPECT_TRUE(RemoveChar(t, '-'));
  EXPECT_EQ(t, "abc");
  EXPECT_FALSE(RemoveChar(t, '-'));
  CharSet set;
  set.set('a').set(0xE9);
  t = "a\xE9z";
  EXPECT_TRUE(RemoveChars(t, set));
  EXPECT_EQ(t, "z");
  std::wstring w = L"\u01E9a";
  EXPECT_TRUE(RemoveChars(w, set));
  EXPECT_EQ(w, L"\u01E9");  // characters above 0xFF are never in the set
  EXPECT_EQ(PadText("ab", 4, '.'), "..ab");
  EXPECT_EQ(PadText("ab", -4, '.'), "ab..");
  EXPECT_EQ(PadText("abcdef", 4, '.'), "abcdef");
}

TEST(TextConvert, Utf8RoundTrip) {
  std::wstring w = L"Informa\u00e7\u00f5es \u20ac";
  w += static_cast<wchar_t>(0xD83D);
  w += static_cast<wchar_t>(0xDE00);  // a character outside the basic plane as surrogate pair
  std::string u = EncodeUtf8Text(w);
  EXPECT_EQ(u, "Informa\xC3\xA7\xC3\xB5" "es \xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(DecodeUtf8Text(u), w);
  EXPECT_EQ(EncodeUtf8Text(std::wstring_view()), "");
  EXPECT_EQ(DecodeUtf8Text(""), L"");
  // invalid bytes become the replacement character
  EXPECT_EQ(DecodeUtf8Text("a\xFF" "b"), L"a\uFFFDb");
  std::wstring lone(1, static_cast<wchar_t>(0xD800));
  EXPECT_EQ(EncodeUtf8Text(lone), "\xEF\xBF\xBD");
}

TEST(TextConvert, NarrowAndAnsi) {
  EXPECT_EQ(NarrowText(L"ab\u0143"), "ab\x43");
  EXPECT_EQ(WidenLatin1("\xE9"), L"\u00e9");
  EXPECT_EQ(AnsiToWide("Informa\xE7\xF5" "es \x80"), L"Informa\u00e7\u00f5es \u20ac");
  EXPECT_EQ(WideToAnsi(L"Informa\u00e7\u00f5es \u20ac"), "Informa\xE7\xF5" "es \x80");
  EXPECT_EQ(WideToAnsi(L"\u4e2d"), "?");
}

TEST(TextOs, Descriptions) {
  OsFacts f;
  f.platformId = 2, f.major = 6, f.minor = 0, f.build = 6000, f.extended = true;
  TOS os = DescribeOs(f);
  EXPECT_EQ(os.description, L"Windows Vista");
  EXPECT_EQ(os.edition, kOsWinVista);
  EXPECT_TRUE(os.isNT);

  f.minor = 1, f.native64 = true, f.csdVersion = L"Service Pack 1", f.servicePackMajor = 1;
  os = DescribeOs(f);
  EXPECT_EQ(os.description, L"Windows 7 x64 Service Pack 1");
  EXPECT_EQ(os.servicePack, 1u);

  OsFacts xp;
  xp.platformId = 2, xp.major = 5, xp.minor = 1, xp.csdVersion = L"Service Pack 3";
  xp.mediaCenter = true;  // short record: the number comes from the text
  os = DescribeOs(xp);
  EXPECT_EQ(os.description, L"Windows XP Media Center Service Pack 3");
  EXPECT_EQ(os.servicePack, 3u);

  OsFacts srv;
  srv.platformId = 2, srv.major = 6, srv.minor = 1, srv.productType = 3, srv.serverR2 = true;
  EXPECT_EQ(DescribeOs(srv).description, L"Windows 2008 R2 R2");
  srv.major = 10, srv.minor = 0, srv.serverR2 = false;
  EXPECT_EQ(DescribeOs(srv).description, L"Windows NT New");

  OsFacts me;
  me.platformId = 1, me.major = 4, me.minor = 10, me.build = 0x04000000 | 2222, me.csdVersion = L" A ";
  os = DescribeOs(me);
  EXPECT_EQ(os.description, L"Windows 98 SE");  // 9x: no service pack text appended
  EXPECT_EQ(os.build, 2222u);
  EXPECT_EQ(os.edition9x, kOsWin98SE);
  me.minor = 0, me.build = 950;
  EXPECT_EQ(DescribeOs(me).edition, kOsWin95);
  me.minor = 90;
  EXPECT_EQ(DescribeOs(me).edition, kOsWinME);
  EXPECT_STREQ(OsName(99), "None");
}
