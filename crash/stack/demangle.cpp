// Routine-name demangling: "@Unit@Class@Method$qqr..." names and the "_Z" names of our own compiler.
#include <cctype>

#include "crash/stack/module.h"

namespace rvx {
namespace {

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) s.replace(p, from.size(), to);
}

void Trim(std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= 32) ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= 32) --b;
  s = s.substr(a, b - a);
}

// The qualified name of an Itanium-mangled symbol, parts joined by "." and without parameter types.
class ItaniumNames {
 public:
  explicit ItaniumNames(const std::string& s) : s_(s) {}

  bool Parse(std::string& out) {
    if (s_.compare(0, 2, "_Z") != 0) return false;
    pos_ = 2;
    std::vector<std::string> parts;
    if (!Name(parts) || parts.empty()) return false;
    out.clear();
    for (size_t i = 0; i < parts.size(); ++i) {
      if (i) out += '.';
      out += parts[i];
    }
    return true;
  }

 private:
  bool More() const { return pos_ < s_.size(); }
  char Peek(size_t ahead = 0) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }

  bool SourceName(std::string& out) {
    size_t len = 0;
    if (!std::isdigit(static_cast<unsigned char>(Peek()))) return false;
    while (std::isdigit(static_cast<unsigned char>(Peek()))) {
      len = len * 10 + size_t(s_[pos_++] - '0');
      if (len > s_.size()) return false;
    }
    if (pos_ + len > s_.size()) return false;
    out = s_.substr(pos_, len);
    pos_ += len;
    return true;
  }

  // Skips a balanced template argument list "I...E" (also nested lists and literals "L...E").
  bool SkipTemplateArgs() {
    int depth = 0;
    do {
      if (!More()) return false;
      char c = s_[pos_];
      if (c == 'I' || c == 'L' || c == 'X' || c == 'J') {
        ++depth;
        ++pos_;
      } else if (c == 'E') {
        --depth;
        ++pos_;
      } else if (std::isdigit(static_cast<unsigned char>(c))) {
        std::string ignored;
        if (!SourceName(ignored)) return false;
      } else {
        ++pos_;
      }
    } while (depth > 0);
    return true;
  }

  bool Substitution(std::vector<std::string>& parts) {
    ++pos_;  // 'S'
    char c = Peek();
    static const struct {
      char code;
      const char* name;
    } kStd[] = {{'t', ""}, {'a', "allocator"}, {'b', "basic_string"}, {'s', "string"},
                {'i', "istream"}, {'o', "ostream"}, {'d', "iostream"}};
    for (const auto& k : kStd) {
      if (c == k.code) {
        ++pos_;
        parts.push_back("std");
        if (*k.name) parts.push_back(k.name);
        return true;
      }
    }
    size_t index = 0;
    if (c != '_') {
      size_t v = 0;
      while (std::isalnum(static_cast<unsigned char>(Peek()))) {
        char d = s_[pos_++];
        v = v * 36 + size_t(std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : d - 'A' + 10);
      }
      index = v + 1;
    }
    if (Peek() != '_') return false;
    ++pos_;
    if (index >= subs_.size()) return false;
    parts.insert(parts.end(), subs_[index].begin(), subs_[index].end());
    return true;
  }

  bool Unqualified(std::vector<std::string>& parts) {
    char c = Peek();
    std::string name;
    if (std::isdigit(static_cast<unsigned char>(c))) {
      if (!SourceName(name)) return false;
      // An unnamed namespace is no part of a name users read; the unit beside the name tells where it is.
      if (name.compare(0, 11, "_GLOBAL__N_") != 0) parts.push_back(name);
      return true;
    }
    if (c == 'C' && (Peek(1) >= '1' && Peek(1) <= '5')) {
      pos_ += 2;
      if (parts.empty()) return false;
      parts.push_back(parts.back());
      return true;
    }
    if (c == 'D' && (Peek(1) == '0' || Peek(1) == '1' || Peek(1) == '2')) {
      pos_ += 2;
      if (parts.empty()) return false;
      parts.push_back("~" + parts.back());
      return true;
    }
    if (std::islower(static_cast<unsigned char>(c)) && std::islower(static_cast<unsigned char>(Peek(1)))) {
      std::string code = s_.substr(pos_, 2);
      pos_ += 2;
      if (code == "cv") {
        parts.push_back("operator cast");
        return true;
      }
      parts.push_back("operator" + code);
      return true;
    }
    if (c == 'L') {  // internal linkage
      ++pos_;
      return Unqualified(parts);
    }
    return false;
  }

  bool Name(std::vector<std::string>& parts) {
    char c = Peek();
    if (c == 'N') {
      ++pos_;
      while (Peek() == 'r' || Peek() == 'V' || Peek() == 'K' || Peek() == 'R' || Peek() == 'O') ++pos_;
      while (More() && Peek() != 'E') {
        if (Peek() == 'S') {
          if (!Substitution(parts)) return false;
        } else if (Peek() == 'I') {
          if (!SkipTemplateArgs()) return false;
          subs_.push_back(parts);
          continue;
        } else if (!Unqualified(parts)) {
          return false;
        }
        if (Peek() != 'E') subs_.push_back(parts);
      }
      if (Peek() != 'E') return false;
      ++pos_;
      return true;
    }
    if (c == 'Z') {  // local name: function, then the entity inside it
      ++pos_;
      if (!Name(parts)) return false;
      size_t end = s_.find('E', pos_);
      if (end == std::string::npos) return false;
      pos_ = end + 1;
      if (Peek() == 's') {
        parts.push_back("string literal");
        ++pos_;
        return true;
      }
      return Name(parts);
    }
    if (c == 'S' && Peek(1) == 't') {
      pos_ += 2;
      parts.push_back("std");
      return Unqualified(parts);
    }
    if (c == 'S') return Substitution(parts);
    if (!Unqualified(parts)) return false;
    if (Peek() == 'I') {
      subs_.push_back(parts);
      return SkipTemplateArgs();
    }
    return true;
  }

  const std::string& s_;
  size_t pos_ = 0;
  std::vector<std::vector<std::string>> subs_;
};

}  // namespace

bool DemangleName(std::string& name, std::string& unit) {
  ReplaceAll(name, "::", ".");
  unit.clear();
  if (name.compare(0, 2, "_Z") == 0) {
    std::string plain;
    if (!ItaniumNames(name).Parse(plain)) return false;
    name = plain;
    return true;
  }
  if (name.empty() || name[0] != '@') return false;

  // Positions below are 0-based.
  std::string suffix;
  if (name.size() > 1 && name[1] == '%') {
    for (size_t q = name.size() >= 2 ? name.size() - 2 : 0; q >= 2 && q + 1 < name.size(); --q) {
      if (name[q] == '%' && name[q + 1] == '@') {
        suffix = "." + name.substr(q + 2);
        break;
      }
    }
  }
  size_t start = 2;
  if (name.size() > 6 && name[1] == '_' && name[2] == '$') {
    size_t dollar = name.find('$', 4);
    if (dollar != std::string::npos && dollar + 1 < name.size() && name[dollar + 1] == '@') start = dollar + 1;
  }
  bool destructor = false, pendingAt = false, unitTaken = false;
  for (size_t i = start; i < name.size(); ++i) {
    if (name[i] == '$') {
      destructor = i + 2 < name.size() && name[i + 2] == 'd';
      name.erase(i);
      name += suffix;
      pendingAt = true;
      break;
    }
    if (name[i] == '@') {
      name[i] = '.';
      if (!unitTaken) {
        unit = name.substr(1, i - 1);
        unitTaken = true;
      }
    }
  }
  if (unitTaken) {
    if (unit.size() + 2 < name.size()) {
      name.erase(0, unit.size() + 2);
      pendingAt = false;
    } else {
      unit.clear();
    }
  }
  if (pendingAt && !name.empty()) name.erase(0, 1);
  if (!name.empty() && name[0] == '%') name.erase(0, 1);
  if (!name.empty() && name[0] == '.') name[0] = '@';
  if (!name.empty() && name.back() == '.') name += destructor ? "Destroy" : "Create";
  Trim(name);
  if (!name.empty() && name.back() == '.') name += '?';
  return true;
}

}  // namespace rvx
