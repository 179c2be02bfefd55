#include "framework/component_text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "framework/exceptions.h"

namespace fw {
namespace {

struct ParseError {
  int line;
  std::string message;
};

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  ComponentNode Document() {
    SkipSpace();
    ComponentNode root = Object();
    SkipSpace();
    if (pos_ < s_.size()) Fail("unexpected text after the last 'end'");
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& message) { throw ParseError{line_, message}; }

  void SkipSpace() {
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }
  bool AtEnd() {
    SkipSpace();
    return pos_ >= s_.size();
  }
  char PeekChar() {
    SkipSpace();
    return pos_ < s_.size() ? s_[pos_] : '\0';
  }
  bool Accept(char c) {
    if (PeekChar() == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Accept(c)) Fail(std::string("'") + c + "' expected");
  }
  static bool IdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
  static bool IdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

  // An identifier, optionally dotted ("Font.Name").
  std::string Ident(bool dotted) {
    SkipSpace();
    if (pos_ >= s_.size() || !IdentStart(s_[pos_])) Fail("name expected");
    size_t start = pos_;
    for (;;) {
      while (pos_ < s_.size() && IdentChar(s_[pos_])) ++pos_;
      if (dotted && pos_ + 1 < s_.size() && s_[pos_] == '.' && IdentStart(s_[pos_ + 1])) {
        ++pos_;
        continue;
      }
      break;
    }
    return std::string(s_.substr(start, pos_ - start));
  }
  bool PeekKeyword(std::string_view word) {
    SkipSpace();
    if (s_.size() - pos_ < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(s_[pos_ + i])) != word[i]) return false;
    size_t after = pos_ + word.size();
    return after >= s_.size() || !IdentChar(s_[after]);
  }
  void Keyword(std::string_view word) {
    if (!PeekKeyword(word)) Fail("'" + std::string(word) + "' expected");
    pos_ += word.size();
  }

  ComponentNode Object() {
    ComponentNode node;
    if (PeekKeyword("object")) {
      Keyword("object");
    } else if (PeekKeyword("inherited")) {
      Keyword("inherited");
      node.flags |= 1;
    } else if (PeekKeyword("inline")) {
      Keyword("inline");
      node.flags |= 4;
    } else {
      Fail("'object' expected");
    }
    std::string first = Ident(false);
    if (Accept(':')) {
      node.name = first;
      node.className = Ident(false);
    } else {
      node.className = first;
    }
    if (Accept('[')) {
      node.flags |= 2;
      node.childPos = Integer();
      Expect(']');
    }
    Check(node.className.size() <= 255 && node.name.size() <= 255, "name longer than 255 characters");
    for (;;) {
      if (AtEnd()) Fail("'end' expected");
      if (PeekKeyword("end")) {
        Keyword("end");
        break;
      }
      if (PeekKeyword("object") || PeekKeyword("inherited") || PeekKeyword("inline")) {
        node.children.push_back(Object());
        continue;
      }
      if (!node.children.empty()) Fail("properties must come before child objects");
      node.properties.push_back(Prop());
    }
    return node;
  }

  void Check(bool ok, const char* message) {
    if (!ok) Fail(message);
  }

  Property Prop() {
    Property p;
    p.name = Ident(true);
    Check(p.name.size() <= 255, "property name longer than 255 characters");
    Expect('=');
    p.value = ValueOf();
    return p;
  }

  int64_t Integer() {
    Value v = ValueOf();
    if (!v.IsInteger()) Fail("integer expected");
    return v.integer;
  }

  Value ValueOf() {
    char c = PeekChar();
    Value v;
    if (c == '\'' || c == '#') return StringValue();
    if (c == '-' || c == '+' || std::isdigit(static_cast<unsigned char>(c)) || c == '$') return Number();
    if (c == '[') {
      ++pos_;
      v.type = ValueType::Set;
      if (!Accept(']')) {
        do v.set.push_back(Ident(false));
        while (Accept(','));
        Expect(']');
      }
      return v;
    }
    if (c == '(') {
      ++pos_;
      v.type = ValueType::List;
      while (!Accept(')')) {
        if (AtEnd()) Fail("')' expected");
        v.list.push_back(ValueOf());
      }
      return v;
    }
    if (c == '{') {
      ++pos_;
      v.type = ValueType::Binary;
      std::string hex;
      for (;;) {
        SkipSpace();
        if (pos_ >= s_.size()) Fail("'}' expected");
        char h = s_[pos_++];
        if (h == '}') break;
        if (!std::isxdigit(static_cast<unsigned char>(h))) Fail("hexadecimal digit expected in binary value");
        hex += h;
      }
      if (hex.size() % 2) Fail("odd number of hexadecimal digits in binary value");
      for (size_t i = 0; i < hex.size(); i += 2)
        v.bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
      return v;
    }
    if (c == '<') {
      ++pos_;
      v.type = ValueType::Collection;
      while (!Accept('>')) {
        if (AtEnd()) Fail("'>' expected");
        Keyword("item");
        CollectionItem item;
        if (Accept('[')) {
          item.hasIndex = true;
          item.index = Integer();
          Expect(']');
        }
        for (;;) {
          if (AtEnd()) Fail("'end' expected");
          if (PeekKeyword("end")) {
            Keyword("end");
            break;
          }
          item.properties.push_back(Prop());
        }
        v.items.push_back(std::move(item));
      }
      return v;
    }
    if (IdentStart(c)) {
      std::string id = Ident(true);
      std::string lower;
      for (char ch : id) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (lower == "true") {
        v.type = ValueType::True;
      } else if (lower == "false") {
        v.type = ValueType::False;
      } else if (lower == "nil") {
        v.type = ValueType::Nil;
      } else {
        v.type = ValueType::Ident;
        Check(id.size() <= 255, "identifier longer than 255 characters");
        v.text = id;
      }
      return v;
    }
    Fail("value expected");
  }

  Value Number() {
    SkipSpace();
    size_t start = pos_;
    bool negative = false;
    if (s_[pos_] == '-' || s_[pos_] == '+') negative = s_[pos_++] == '-';
    Value v;
    if (pos_ < s_.size() && s_[pos_] == '$') {
      ++pos_;
      size_t digits = pos_;
      uint64_t u = 0;
      while (pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
        if (pos_ - digits >= 16) Fail("hexadecimal number too long");
        u = u * 16 + static_cast<uint64_t>(std::stoi(std::string(1, s_[pos_]), nullptr, 16));
        ++pos_;
      }
      if (pos_ == digits) Fail("hexadecimal digits expected");
      v.type = ValueType::Int64;
      v.integer = negative ? -static_cast<int64_t>(u) : static_cast<int64_t>(u);
      return v;
    }
    size_t digits = pos_;
    bool isFloat = false;
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (std::isdigit(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '.' || c == 'e' || c == 'E') {
        isFloat = true;
        ++pos_;
        if ((c == 'e' || c == 'E') && pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+')) ++pos_;
      } else {
        break;
      }
    }
    if (pos_ == digits) Fail("number expected");
    std::string text(s_.substr(start, pos_ - start));
    if (isFloat) {
      char* end = nullptr;
      v.type = ValueType::Extended;
      v.number = std::strtod(text.c_str(), &end);
      if (!end || *end) Fail("malformed number '" + text + "'");
    } else {
      errno = 0;
      char* end = nullptr;
      long long n = std::strtoll(text.c_str(), &end, 10);
      if (errno == ERANGE || !end || *end) Fail("integer out of range '" + text + "'");
      v.type = ValueType::Int64;
      v.integer = n;
    }
    return v;
  }

  // 'text' and #nnn pieces, joined by + (also across lines).
  Value StringValue() {
    std::string utf8;
    for (;;) {
      SkipSpace();
      if (pos_ < s_.size() && s_[pos_] == '\'') {
        ++pos_;
        for (;;) {
          if (pos_ >= s_.size() || s_[pos_] == '\n') Fail("unterminated string");
          if (s_[pos_] == '\'') {
            if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
              utf8 += '\'';
              pos_ += 2;
              continue;
            }
            ++pos_;
            break;
          }
          utf8 += s_[pos_++];
        }
      } else if (pos_ < s_.size() && s_[pos_] == '#') {
        ++pos_;
        size_t d = pos_;
        unsigned long code = 0;
        while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_])) && pos_ - d < 7)
          code = code * 10 + static_cast<unsigned long>(s_[pos_++] - '0');
        if (pos_ == d || code > 0x10FFFF) Fail("character code expected after #");
        std::u16string unit;
        if (code >= 0x10000) {
          unit += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
          unit += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
          unit += static_cast<char16_t>(code);
        }
        utf8 += Utf16ToUtf8(unit);
      } else {
        break;
      }
      size_t save = pos_;
      int saveLine = line_;
      if (Accept('+')) {
        char n = PeekChar();
        if (n == '\'' || n == '#') continue;
        pos_ = save;
        line_ = saveLine;
      }
      // Adjacent pieces without '+' ('a'#13'b') also join.
      char n = pos_ < s_.size() ? s_[pos_] : '\0';
      if (n == '\'' || n == '#') continue;
      break;
    }
    Value v;
    bool fits = false;
    std::string narrow = Utf8ToCp1252(utf8, &fits);
    if (fits) {
      v.type = narrow.size() <= 255 ? ValueType::String : ValueType::LString;
      v.text = narrow;
    } else {
      v.type = ValueType::WString;
      v.text = utf8;
    }
    return v;
  }

  std::string_view s_;
  size_t pos_ = 0;
  int line_ = 1;
};

std::string Quote(const Value& v) {
  std::string u = v.Utf8Text();
  if (u.empty()) return "''";
  std::string out;
  bool inQuote = false;
  for (size_t i = 0; i < u.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(u[i]);
    if (c < 32) {
      if (inQuote) out += '\'';
      inQuote = false;
      out += '#' + std::to_string(c);
    } else {
      if (!inQuote) out += '\'';
      inQuote = true;
      out += c == '\'' ? std::string("''") : std::string(1, static_cast<char>(c));
    }
  }
  if (inQuote) out += '\'';
  return out;
}

void WriteValue(std::string& out, const Value& v, const std::string& indent);

void WriteProps(std::string& out, const std::vector<Property>& props, const std::string& indent) {
  for (const auto& p : props) {
    out += indent + p.name + " = ";
    WriteValue(out, p.value, indent);
    out += "\n";
  }
}

void WriteValue(std::string& out, const Value& v, const std::string& indent) {
  char buf[64];
  switch (v.type) {
    case ValueType::Int8:
    case ValueType::Int16:
    case ValueType::Int32:
    case ValueType::Int64: out += std::to_string(v.integer); break;
    case ValueType::Currency:
      std::snprintf(buf, sizeof buf, "%.4f", static_cast<double>(v.integer) / 10000.0);
      out += buf;
      break;
    case ValueType::Extended:
    case ValueType::Single:
    case ValueType::Date:
      std::snprintf(buf, sizeof buf, "%.17g", v.number);
      out += buf;
      if (std::string(buf).find_first_of(".eEn") == std::string::npos) out += ".0";
      break;
    case ValueType::String:
    case ValueType::LString:
    case ValueType::WString:
    case ValueType::UTF8String: out += Quote(v); break;
    case ValueType::Ident: out += v.text; break;
    case ValueType::False: out += "False"; break;
    case ValueType::True: out += "True"; break;
    case ValueType::Nil: out += "nil"; break;
    case ValueType::Null: break;
    case ValueType::Binary: {
      out += "{";
      for (size_t i = 0; i < v.bytes.size(); ++i) {
        if (i % 32 == 0) out += "\n" + indent + "  ";
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(v.bytes[i]));
        out += buf;
      }
      out += "}";
      break;
    }
    case ValueType::Set:
      out += "[";
      for (size_t i = 0; i < v.set.size(); ++i) out += (i ? ", " : "") + v.set[i];
      out += "]";
      break;
    case ValueType::List:
      out += "(";
      for (const auto& e : v.list) {
        out += "\n" + indent + "  ";
        WriteValue(out, e, indent + "  ");
      }
      out += ")";
      break;
    case ValueType::Collection:
      out += "<";
      for (const auto& item : v.items) {
        out += "\n" + indent + "  item";
        if (item.hasIndex) out += " [" + std::to_string(item.index) + "]";
        out += "\n";
        WriteProps(out, item.properties, indent + "    ");
        out += indent + "  end";
      }
      out += ">";
      break;
  }
}

void WriteObject(std::string& out, const ComponentNode& n, const std::string& indent) {
  out += indent + (n.flags & 1 ? "inherited " : n.flags & 4 ? "inline " : "object ");
  out += n.name.empty() ? n.className : n.name + ": " + n.className;
  if (n.flags & 2) out += " [" + std::to_string(n.childPos) + "]";
  out += "\n";
  WriteProps(out, n.properties, indent + "  ");
  for (const auto& c : n.children) WriteObject(out, c, indent + "  ");
  out += indent + "end\n";
}

}  // namespace

bool ParseComponentText(std::string_view text, ComponentNode& root, std::string& error) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  try {
    root = Parser(text).Document();
    return true;
  } catch (const ParseError& e) {
    error = "line " + std::to_string(e.line) + ": " + e.message;
    return false;
  }
}

bool CompileComponentText(std::string_view text, std::string& binary, std::string& error) {
  ComponentNode root;
  if (!ParseComponentText(text, root, error)) return false;
  try {
    binary = WriteComponentStream(root);
  } catch (const Exception& e) {
    error = e.Message();
    return false;
  }
  return true;
}

std::string ComponentToText(const ComponentNode& root) {
  std::string out;
  WriteObject(out, root, "");
  return out;
}

}  // namespace fw
