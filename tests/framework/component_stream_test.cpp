#include <gtest/gtest.h>

#include "framework/classinfo.h"
#include "framework/component_stream.h"
#include "framework/component_text.h"
#include "framework/exceptions.h"

using namespace fw;

namespace {
std::string Compile(std::string_view text) {
  std::string bin, error;
  EXPECT_TRUE(CompileComponentText(text, bin, error)) << error;
  return bin;
}
}  // namespace

TEST(ComponentText, EncodesSettingsLikeObjectByteForByte) {
  std::string bin = Compile("object Ravex: ZAvedo\n  Enabled = True\n  SmtpPort = 587\n  Off = False\n"
                            "  Small = -2\n  Big = 100000\n  Name = 'ab'\nend\n");
  std::string expected = std::string("TPF0\x06ZAvedo\x05Ravex", 17) +
                         std::string("\x07" "Enabled\x09", 9) +
                         std::string("\x08SmtpPort\x03\x4b\x02", 12) +
                         std::string("\x03Off\x08", 5) +
                         std::string("\x05Small\x02\xfe", 8) +
                         std::string("\x03" "Big\x04\xa0\x86\x01\x00", 9) +
                         std::string("\x04Name\x06\x02" "ab", 9) + std::string("\0\0", 2);
  EXPECT_EQ(bin, expected);
}

TEST(ComponentText, StringsPickTheNarrowestFaithfulEncoding) {
  auto root = ReadComponentStream(Compile(
      "object X: T\n A = 'Informações' + #13#10 + 'it''s'\n B = 'a'#9'b'\n C = '日本'\n D = ''\nend"));
  ASSERT_EQ(root.properties.size(), 4u);
  EXPECT_EQ(root.properties[0].value.type, ValueType::String);
  EXPECT_EQ(root.properties[0].value.text, "Informa\xE7\xF5" "es\r\nit's");
  EXPECT_EQ(root.properties[1].value.text, "a\tb");
  EXPECT_EQ(root.properties[2].value.type, ValueType::WString);
  EXPECT_EQ(root.properties[2].value.Utf8Text(), "日本");
  EXPECT_EQ(root.properties[2].value.AnsiText(), "??");
  EXPECT_EQ(root.properties[3].value.text, "");

  std::string longText(300, 'x');
  auto big = ReadComponentStream(Compile("object X: T\n A = '" + longText + "'\nend"));
  EXPECT_EQ(big.properties[0].value.type, ValueType::LString);
  EXPECT_EQ(big.properties[0].value.text, longText);
}

TEST(ComponentText, EveryValueKindSurvivesTextBinaryTextRoundTrip) {
  const char* text = R"(object Form1: TForm1
  Left = 213
  Neg = -40000
  Huge = 9000000000
  Hex = $FF
  Ratio = 1.5
  Font.Name = 'Tahoma'
  Options = [dgEditing, dgTitles]
  Empty = []
  Items = ('a' 1 (True nil))
  OnClick = btnInsertClick
  Data = {5C000000 9619E0BD}
  Columns = <
    item
      FieldName = 'ID'
      Width = 40
    end
    item [3]
      FieldName = 'NAME'
    end>
  object btnInsert: TButton
    Caption = 'Insert'
  end
  object TUnnamed
  end
end
)";
  std::string bin1 = Compile(text);
  ComponentNode root = ReadComponentStream(bin1);
  EXPECT_EQ(root.children.size(), 2u);
  EXPECT_EQ(root.children[1].name, "");
  EXPECT_EQ(root.Find("Huge")->value.integer, 9000000000LL);
  EXPECT_EQ(root.Find("Hex")->value.integer, 255);
  EXPECT_DOUBLE_EQ(root.Find("Ratio")->value.number, 1.5);
  EXPECT_EQ(root.Find("Data")->value.bytes, std::string("\x5c\0\0\0\x96\x19\xe0\xbd", 8));
  EXPECT_EQ(root.Find("Columns")->value.items.size(), 2u);
  EXPECT_TRUE(root.Find("Columns")->value.items[1].hasIndex);
  EXPECT_EQ(root.Find("OnClick")->value.type, ValueType::Ident);
  std::string bin2 = Compile(ComponentToText(root));
  EXPECT_EQ(bin1, bin2);
}

TEST(ComponentText, ReportsErrorsWithLineNumbers) {
  std::string bin, error;
  EXPECT_FALSE(CompileComponentText("object A: T\n  X = 'unterminated\nend\n", bin, error));
  EXPECT_EQ(error, "line 2: unterminated string");
  EXPECT_FALSE(CompileComponentText("object A: T\n  X = 1\n", bin, error));
  EXPECT_NE(error.find("'end' expected"), std::string::npos);
  EXPECT_FALSE(CompileComponentText("object A: T\n\n  X 1\nend", bin, error));
  EXPECT_EQ(error, "line 3: '=' expected");
  EXPECT_FALSE(CompileComponentText("object A: T\n X = {ABC}\nend", bin, error));
  EXPECT_FALSE(CompileComponentText("object A: T\n X = 99999999999999999999\nend", bin, error));
  EXPECT_FALSE(CompileComponentText("", bin, error));
}

TEST(ComponentStream, RejectsEveryTruncationAndBadTypeWithoutReadingPastTheEnd) {
  std::string bin = Compile("object F: T\n A = 'xyz'\n B = {0102}\n C = <item X = 1 end>\n D = [a]\n"
                            " E = 2.5\n F = '日'\n object G: U\n  H = (1 2)\n end\nend");
  ASSERT_NO_THROW(ReadComponentStream(bin));
  for (size_t n = 0; n < bin.size(); ++n) {
    std::string cut = bin.substr(0, n);  // exact-size copy so that ASan sees any overread
    EXPECT_THROW(ReadComponentStream(cut), EReadError) << "length " << n;
  }
  std::string bad = bin;
  bad[bad.find('A') + 1] = 99;  // value type of property A
  EXPECT_THROW(ReadComponentStream(bad), EReadError);
  EXPECT_THROW(ReadComponentStream(std::string("TPF1\x01T\x00\x00\x00", 9)), EReadError);
  // A wide string that claims more characters than there are bytes.
  EXPECT_THROW(ReadComponentStream(std::string("TPF0\x01T\x00\x01W\x12\xff\xff\xff\x7f", 14)), EReadError);
  // Deep nesting is refused rather than overflowing the stack.
  std::string deep = "TPF0\x01T\x00\x01L";
  deep += std::string(100000, '\x01');
  EXPECT_THROW(ReadComponentStream(deep), EReadError);
}

TEST(ComponentStream, LongClassNamesReadBackAsWritten) {
  // A length byte of 240 or more looks like the flags prefix; the writer must keep such names readable.
  for (size_t length : {239u, 240u, 255u}) {
    ComponentNode node;
    node.className = std::string(length, 'T');
    node.name = "x";
    ComponentNode child;
    child.className = std::string(length, 'C');
    node.children.push_back(child);
    std::string once = WriteComponentStream(node);
    ComponentNode back = ReadComponentStream(once);
    EXPECT_EQ(back.className, node.className) << length;
    ASSERT_EQ(back.children.size(), 1u);
    EXPECT_EQ(back.children[0].className, child.className);
    EXPECT_EQ(WriteComponentStream(back), once);
  }
}

TEST(ComponentStream, ExtendedFloatsConvertExactly) {
  for (double d : {0.0, 1.0, -2.5, 1e300, 3.141592653589793, -1e-300}) {
    uint8_t raw[10];
    DoubleToExtended(d, raw);
    EXPECT_EQ(ExtendedToDouble(raw), d);
  }
  uint8_t one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(ExtendedToDouble(one), 1.0);
}

TEST(ClassInfo, NamesAndAncestryOfAnyThrownType) {
  EXPECT_EQ(ClassName(typeid(EDBEditError)), "EDBEditError");
  EXPECT_TRUE(InheritsFrom(typeid(EDBEditError), "EDatabaseError"));
  EXPECT_TRUE(InheritsFrom(typeid(EAccessViolation), "EExternal"));
  EXPECT_TRUE(InheritsFrom(typeid(EAccessViolation), "Exception"));
  EXPECT_FALSE(InheritsFrom(typeid(EAbort), "EExternal"));
  auto chain = ClassAncestry(typeid(std::runtime_error));
  ASSERT_GE(chain.size(), 2u);
  EXPECT_EQ(ClassName(*chain[0]), "std::runtime_error");
  EXPECT_EQ(ClassName(*chain[1]), "std::exception");
  EXPECT_EQ(ClassName(typeid(int)), "int");
  try {
    throw EConvertError("'abc' is not a valid integer value");
  } catch (...) {
    ASSERT_NE(CurrentExceptionType(), nullptr);
    EXPECT_EQ(ClassName(*CurrentExceptionType()), "EConvertError");
    EXPECT_EQ(CurrentExceptionMessage(), "'abc' is not a valid integer value");
  }
  EXPECT_EQ(CurrentExceptionMessage(), "");
}
