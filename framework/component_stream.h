// The binary component stream ("TPF0"): stored descriptions of forms, of the crash reporter's settings and of
// its assistant pages. An object is a class name and an object name (short strings), its properties (name and
// typed value) up to a zero byte, then its child objects up to a zero byte. All numbers little-endian.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

enum class ValueType : uint8_t {
  Null = 0,        // end of a list
  List = 1,        // values up to Null
  Int8 = 2,
  Int16 = 3,
  Int32 = 4,
  Extended = 5,    // 80-bit floating point
  String = 6,      // short string: length byte + single-byte characters
  Ident = 7,       // identifier as short string
  False = 8,
  True = 9,
  Binary = 10,     // 32-bit length + bytes
  Set = 11,        // short strings up to an empty one
  LString = 12,    // 32-bit length + single-byte characters
  Nil = 13,
  Collection = 14, // items: [order index] List properties Null ... Null
  Single = 15,     // 32-bit floating point
  Currency = 16,   // 64-bit integer scaled by 10000
  Date = 17,       // 64-bit floating point
  WString = 18,    // 32-bit count + UTF-16 characters
  Int64 = 19,
  UTF8String = 20, // 32-bit length + UTF-8 bytes
};

struct Property;

struct CollectionItem {
  bool hasIndex = false;
  int64_t index = 0;
  std::vector<Property> properties;
};

struct Value {
  ValueType type = ValueType::Nil;
  int64_t integer = 0;        // Int8..Int64, Currency (raw, scaled by 10000)
  double number = 0;          // Extended, Single, Date
  std::string text;           // String/LString/Ident: single-byte (Windows-1252); WString/UTF8String: UTF-8
  std::string bytes;          // Binary
  std::vector<std::string> set;
  std::vector<Value> list;
  std::vector<CollectionItem> items;

  bool IsInteger() const;
  bool IsString() const;     // String, LString, WString, UTF8String
  // The text in the single-byte code page (Windows-1252); characters it lacks become '?'.
  std::string AnsiText() const;
  // The text as UTF-8.
  std::string Utf8Text() const;
};

struct Property {
  std::string name;  // may be dotted: "Font.Name"
  Value value;
};

struct ComponentNode {
  uint8_t flags = 0;  // inherited 1, child position 2, inline 4
  int64_t childPos = 0;
  std::string className;
  std::string name;
  std::vector<Property> properties;
  std::vector<ComponentNode> children;

  const Property* Find(std::string_view propertyName) const;
};

// Parses a whole stream beginning with "TPF0". Throws EReadError with a clear message on malformed data; never
// reads outside `data`. Nesting deeper than maxDepth is refused.
ComponentNode ReadComponentStream(std::string_view data, int maxDepth = 64);

// Writes a node (with the "TPF0" signature) in the canonical encoding.
std::string WriteComponentStream(const ComponentNode& root);

// Helpers shared by readers and writers of the format.
std::string Utf8ToCp1252(std::string_view utf8, bool* lossless = nullptr);
std::string Cp1252ToUtf8(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);

// 80-bit x87 extended value <-> double.
double ExtendedToDouble(const uint8_t bytes[10]);
void DoubleToExtended(double value, uint8_t bytes[10]);

}  // namespace fw
