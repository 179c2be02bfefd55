#include "framework/component_stream.h"

#include <cmath>
#include <cstring>

#include "framework/exceptions.h"

namespace fw {
namespace {

// Windows-1252 characters 0x80..0x9F (0 = undefined in the code page).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t Cp1252ToUnit(uint8_t c) {
  if (c >= 0x80 && c < 0xA0) {
    char16_t u = kCp1252High[c - 0x80];
    return u ? u : c;
  }
  return c;
}

int UnitToCp1252(char32_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<int>(u);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == u && u != 0) return 0x80 + i;
  return -1;
}

// Decodes UTF-8 into code points; malformed sequences give U+FFFD.
std::u32string DecodeUtf8(std::string_view s) {
  std::u32string out;
  size_t i = 0;
  while (i < s.size()) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= s.size() || (static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += extra + 1;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Reader {
 public:
  Reader(std::string_view data, int maxDepth) : data_(data), maxDepth_(maxDepth) {}

  ComponentNode Root() {
    if (data_.size() < 4 || data_.substr(0, 4) != "TPF0") Fail("the stream does not begin with TPF0");
    pos_ = 4;
    ComponentNode root = Object(0);
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw EReadError("Invalid component stream at offset " + std::to_string(pos_) + ": " + what);
  }
  void Need(size_t n) {
    if (data_.size() - pos_ < n) Fail("unexpected end of data");
  }
  uint8_t Byte() {
    Need(1);
    return static_cast<uint8_t>(data_[pos_++]);
  }
  uint8_t Peek() {
    Need(1);
    return static_cast<uint8_t>(data_[pos_]);
  }
  uint64_t Le(size_t n) {
    Need(n);
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= uint64_t(static_cast<uint8_t>(data_[pos_ + i])) << (8 * i);
    pos_ += n;
    return v;
  }
  std::string Bytes(size_t n) {
    Need(n);
    std::string s(data_.substr(pos_, n));
    pos_ += n;
    return s;
  }
  std::string ShortString() { return Bytes(Byte()); }
  bool EndOfList() {
    if (Peek() == 0) {
      ++pos_;
      return true;
    }
    return false;
  }

  ComponentNode Object(int depth) {
    if (depth > maxDepth_) Fail("objects nested too deeply");
    ComponentNode node;
    uint8_t b = Peek();
    if ((b & 0xF0) == 0xF0) {
      ++pos_;
      node.flags = b & 0x0F;
      if (node.flags & 2) {
        Value v = ReadValue(depth);
        if (!v.IsInteger()) Fail("child position is not an integer");
        node.childPos = v.integer;
      }
    }
    node.className = ShortString();
    if (node.className.empty()) Fail("empty class name");
    node.name = ShortString();
    while (!EndOfList()) {
      Property p;
      p.name = ShortString();
      if (p.name.empty()) Fail("empty property name");
      p.value = ReadValue(depth);
      node.properties.push_back(std::move(p));
    }
    while (!EndOfList()) node.children.push_back(Object(depth + 1));
    return node;
  }

  Value ReadValue(int depth) {
    if (depth > maxDepth_) Fail("values nested too deeply");
    Value v;
    uint8_t t = Byte();
    if (t > static_cast<uint8_t>(ValueType::UTF8String)) Fail("unknown value type " + std::to_string(t));
    v.type = static_cast<ValueType>(t);
    switch (v.type) {
      case ValueType::Null:
        Fail("unexpected end of list");
      case ValueType::List:
        while (!EndOfList()) v.list.push_back(ReadValue(depth + 1));
        break;
      case ValueType::Int8: v.integer = static_cast<int8_t>(Le(1)); break;
      case ValueType::Int16: v.integer = static_cast<int16_t>(Le(2)); break;
      case ValueType::Int32: v.integer = static_cast<int32_t>(Le(4)); break;
      case ValueType::Int64: v.integer = static_cast<int64_t>(Le(8)); break;
      case ValueType::Currency: v.integer = static_cast<int64_t>(Le(8)); break;
      case ValueType::Extended: {
        Need(10);
        uint8_t raw[10];
        std::memcpy(raw, data_.data() + pos_, 10);
        pos_ += 10;
        v.number = ExtendedToDouble(raw);
        break;
      }
      case ValueType::Single: {
        uint32_t bits = static_cast<uint32_t>(Le(4));
        float f;
        std::memcpy(&f, &bits, 4);
        v.number = f;
        break;
      }
      case ValueType::Date: {
        uint64_t bits = Le(8);
        std::memcpy(&v.number, &bits, 8);
        break;
      }
      case ValueType::String:
      case ValueType::Ident: v.text = ShortString(); break;
      case ValueType::LString: v.text = Bytes(static_cast<uint32_t>(Le(4))); break;
      case ValueType::UTF8String: v.text = Bytes(static_cast<uint32_t>(Le(4))); break;
      case ValueType::WString: {
        uint32_t count = static_cast<uint32_t>(Le(4));
        if (count > (data_.size() - pos_) / 2) Fail("wide string longer than the data");
        std::u16string w;
        w.reserve(count);
        for (uint32_t i = 0; i < count; ++i) w.push_back(static_cast<char16_t>(Le(2)));
        v.text = Utf16ToUtf8(w);
        break;
      }
      case ValueType::False:
      case ValueType::True:
      case ValueType::Nil: break;
      case ValueType::Binary: v.bytes = Bytes(static_cast<uint32_t>(Le(4))); break;
      case ValueType::Set:
        for (;;) {
          std::string s = ShortString();
          if (s.empty()) break;
          v.set.push_back(std::move(s));
        }
        break;
      case ValueType::Collection:
        while (!EndOfList()) {
          CollectionItem item;
          uint8_t k = Peek();
          if (k == 2 || k == 3 || k == 4 || k == 19) {
            item.hasIndex = true;
            item.index = ReadValue(depth + 1).integer;
          }
          if (Byte() != static_cast<uint8_t>(ValueType::List)) Fail("collection item is not a list");
          while (!EndOfList()) {
            Property p;
            p.name = ShortString();
            if (p.name.empty()) Fail("empty property name");
            p.value = ReadValue(depth + 1);
            item.properties.push_back(std::move(p));
          }
          v.items.push_back(std::move(item));
        }
        break;
    }
    return v;
  }

  std::string_view data_;
  size_t pos_ = 0;
  int maxDepth_;
};

class Writer {
 public:
  std::string out;

  void Object(const ComponentNode& n) {
    // A class name of 240 or more characters starts with a byte that reads as the flags prefix: such a name
    // gets the prefix even without flags, so that the stream reads back as written.
    if (n.flags || n.className.size() >= 0xF0) {
      out += static_cast<char>(0xF0 | (n.flags & 0x0F));
      if (n.flags & 2) Integer(n.childPos);
    }
    Short(n.className);
    Short(n.name);
    for (const auto& p : n.properties) Prop(p);
    out += '\0';
    for (const auto& c : n.children) Object(c);
    out += '\0';
  }

  void Prop(const Property& p) {
    Short(p.name);
    Write(p.value);
  }

  void Short(std::string_view s) {
    if (s.size() > 255) throw EFilerError("name or string longer than 255 characters: " + std::string(s.substr(0, 40)));
    out += static_cast<char>(s.size());
    out += s;
  }
  void Le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  void Type(ValueType t) { out += static_cast<char>(t); }
  void Integer(int64_t v) {
    if (v >= -128 && v <= 127) {
      Type(ValueType::Int8);
      Le(static_cast<uint64_t>(v), 1);
    } else if (v >= -32768 && v <= 32767) {
      Type(ValueType::Int16);
      Le(static_cast<uint64_t>(v), 2);
    } else if (v >= INT32_MIN && v <= INT32_MAX) {
      Type(ValueType::Int32);
      Le(static_cast<uint64_t>(v), 4);
    } else {
      Type(ValueType::Int64);
      Le(static_cast<uint64_t>(v), 8);
    }
  }

  void Write(const Value& v) {
    switch (v.type) {
      case ValueType::Null: throw EFilerError("a value cannot be the end-of-list marker");
      case ValueType::List:
        Type(v.type);
        for (const auto& e : v.list) Write(e);
        out += '\0';
        break;
      case ValueType::Int8:
      case ValueType::Int16:
      case ValueType::Int32:
      case ValueType::Int64: Integer(v.integer); break;
      case ValueType::Currency:
        Type(v.type);
        Le(static_cast<uint64_t>(v.integer), 8);
        break;
      case ValueType::Extended: {
        Type(v.type);
        uint8_t raw[10];
        DoubleToExtended(v.number, raw);
        out.append(reinterpret_cast<const char*>(raw), 10);
        break;
      }
      case ValueType::Single: {
        Type(v.type);
        float f = static_cast<float>(v.number);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        Le(bits, 4);
        break;
      }
      case ValueType::Date: {
        Type(v.type);
        uint64_t bits;
        std::memcpy(&bits, &v.number, 8);
        Le(bits, 8);
        break;
      }
      case ValueType::String:
      case ValueType::Ident:
        Type(v.type);
        Short(v.text);
        break;
      case ValueType::LString:
      case ValueType::UTF8String:
        Type(v.type);
        Le(v.text.size(), 4);
        out += v.text;
        break;
      case ValueType::WString: {
        Type(v.type);
        std::u16string w = Utf8ToUtf16(v.text);
        Le(w.size(), 4);
        for (char16_t c : w) Le(c, 2);
        break;
      }
      case ValueType::False:
      case ValueType::True:
      case ValueType::Nil: Type(v.type); break;
      case ValueType::Binary:
        Type(v.type);
        Le(v.bytes.size(), 4);
        out += v.bytes;
        break;
      case ValueType::Set:
        Type(v.type);
        for (const auto& s : v.set) Short(s);
        out += '\0';
        break;
      case ValueType::Collection:
        Type(v.type);
        for (const auto& item : v.items) {
          if (item.hasIndex) Integer(item.index);
          Type(ValueType::List);
          for (const auto& p : item.properties) Prop(p);
          out += '\0';
        }
        out += '\0';
        break;
    }
  }
};

}  // namespace

bool Value::IsInteger() const {
  return type == ValueType::Int8 || type == ValueType::Int16 || type == ValueType::Int32 ||
         type == ValueType::Int64;
}

bool Value::IsString() const {
  return type == ValueType::String || type == ValueType::LString || type == ValueType::WString ||
         type == ValueType::UTF8String;
}

std::string Value::AnsiText() const {
  if (type == ValueType::WString || type == ValueType::UTF8String) return Utf8ToCp1252(text);
  return text;
}

std::string Value::Utf8Text() const {
  if (type == ValueType::WString || type == ValueType::UTF8String) return text;
  return Cp1252ToUtf8(text);
}

const Property* ComponentNode::Find(std::string_view propertyName) const {
  for (const auto& p : properties)
    if (p.name == propertyName) return &p;
  return nullptr;
}

ComponentNode ReadComponentStream(std::string_view data, int maxDepth) {
  return Reader(data, maxDepth).Root();
}

std::string WriteComponentStream(const ComponentNode& root) {
  Writer w;
  w.out = "TPF0";
  w.Object(root);
  return w.out;
}

std::string Utf8ToCp1252(std::string_view utf8, bool* lossless) {
  std::string out;
  bool ok = true;
  for (char32_t cp : DecodeUtf8(utf8)) {
    int c = UnitToCp1252(cp);
    if (c < 0) {
      ok = false;
      c = '?';
    }
    out += static_cast<char>(c);
  }
  if (lossless) *lossless = ok;
  return out;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  for (char c : text) AppendUtf8(out, Cp1252ToUnit(static_cast<uint8_t>(c)));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  for (char32_t cp : DecodeUtf8(utf8)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

double ExtendedToDouble(const uint8_t b[10]) {
  uint64_t mantissa = 0;
  for (int i = 7; i >= 0; --i) mantissa = (mantissa << 8) | b[i];
  int exponent = ((b[9] & 0x7F) << 8) | b[8];
  bool negative = b[9] & 0x80;
  double v;
  if (exponent == 0 && mantissa == 0) {
    v = 0;
  } else if (exponent == 0x7FFF) {
    v = (mantissa << 1) ? NAN : INFINITY;
  } else {
    v = std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
  }
  return negative ? -v : v;
}

void DoubleToExtended(double value, uint8_t b[10]) {
  std::memset(b, 0, 10);
  bool negative = std::signbit(value);
  double a = std::fabs(value);
  int exponent = 0;
  uint64_t mantissa = 0;
  if (std::isnan(value)) {
    exponent = 0x7FFF;
    mantissa = 0xC000000000000000ull;
  } else if (std::isinf(value)) {
    exponent = 0x7FFF;
    mantissa = 0x8000000000000000ull;
  } else if (a != 0) {
    int e;
    double frac = std::frexp(a, &e);  // a = frac * 2^e, frac in [0.5, 1)
    mantissa = static_cast<uint64_t>(std::ldexp(frac, 64));
    exponent = e - 1 + 16383;
  }
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(mantissa >> (8 * i));
  b[8] = static_cast<uint8_t>(exponent & 0xFF);
  b[9] = static_cast<uint8_t>(((exponent >> 8) & 0x7F) | (negative ? 0x80 : 0));
}

}  // namespace fw
