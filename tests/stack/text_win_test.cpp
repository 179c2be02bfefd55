#include <windows.h>
#include <gtest/gtest.h>

#include "crash/stack/text.h"

using namespace rvx;

TEST(TextWin, ErrorTexts) {
  std::string t = ErrorText(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(t.empty());
  EXPECT_EQ(t.find('\n'), std::string::npos);
  EXPECT_EQ(t.find('\r'), std::string::npos);
  EXPECT_EQ(ErrorText(0x2FFFFFF0u), "Unknown error $2ffffff0");
  // an NT status is translated: access violation -> ERROR_NOACCESS
  EXPECT_EQ(ErrorText(0xC0000005u), ErrorText(ERROR_NOACCESS));
  EXPECT_EQ(ErrorText(0xE0000001u), "Unknown error $e0000001");
}

TEST(TextWin, DecimalSeparatorFromLocale) {
  char c = DecimalSeparator();
  EXPECT_TRUE(c == '.' || c == ',');
}

TEST(TextWin, OsInfoDescribesTheRunningSystem) {
  TOS os = OsInfo();
  EXPECT_TRUE(os.isNT);
  EXPECT_GE(os.major, 5u);
  EXPECT_FALSE(os.description.empty());
  EXPECT_EQ(os.description.back() == L' ', false);
  EXPECT_EQ(OsInfo().description, os.description);
}

TEST(TextWin, CodePageConversionsMatchNative) {
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(AnsiToWide("\xE7\x80"), L"\u00e7\u20ac");
  EXPECT_EQ(WideToAnsi(L"\u00e7\u20ac"), "\xE7\x80");
  std::wstring w = L"\u00e7\u20ac";
  EXPECT_EQ(DecodeUtf8Text(EncodeUtf8Text(w)), w);
}
