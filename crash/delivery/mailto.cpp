#include "crash/delivery/mailto.h"

#include <cctype>

namespace rvx {

namespace {
bool IsSeparator(char c) { return c == ',' || c == ';'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::string NormaliseRecipients(std::string_view list) {
  std::string out;
  out.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    char c = list[i];
    if (IsSeparator(c)) {
      while (!out.empty() && IsBlank(out.back())) out.pop_back();
      out += ',';
      while (i + 1 < list.size() && IsBlank(list[i + 1])) ++i;
    } else if (!(IsBlank(c) && out.empty())) {
      out += c;
    }
  }
  while (!out.empty() && IsBlank(out.back())) out.pop_back();
  return out;
}

std::vector<std::string> SplitRecipients(std::string_view list) {
  std::vector<std::string> out;
  std::string n = NormaliseRecipients(list);
  size_t start = 0;
  while (start <= n.size()) {
    size_t comma = n.find(',', start);
    if (comma == std::string::npos) comma = n.size();
    if (comma > start) out.push_back(n.substr(start, comma - start));
    start = comma + 1;
  }
  return out;
}

std::string MailtoEscape(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\n': case '\r': case ' ': case '"': case '#': case '%': case '&': case '+': case '<': case '>':
      case '?':
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
        break;
      default:
        out += ch;
    }
  }
  return out;
}

std::string MailtoAddress(std::string_view recipients, std::string_view subject, std::string_view body,
                          bool semicolons) {
  std::string to = NormaliseRecipients(recipients);
  if (semicolons)
    for (char& c : to)
      if (c == ',') c = ';';
  return "mailto:" + to + "?subject=" + MailtoEscape(subject) + "&body=" + MailtoEscape(body);
}

std::string CutCommandLine(std::string line, size_t limit) {
  if (line.size() <= limit) return line;
  size_t keep = limit;
  // Character number `limit` (counted from 1) is line[limit - 1].
  if (limit >= 1 && line[limit - 1] == '%')
    keep = limit - 1;
  else if (limit >= 2 && line[limit - 2] == '%')
    keep = limit - 2;
  line.resize(keep);
  return line;
}

std::string MailClientCommandLine(std::string_view command, std::string_view recipients, std::string_view subject,
                                  std::string_view body, bool limitLength) {
  std::string upper(command);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool outlook = upper.find("OUTLOOK") != std::string::npos;
  const std::string address = MailtoAddress(recipients, subject, body, outlook);

  std::string line;
  bool replaced = false;
  for (size_t i = 0; i < command.size(); ++i) {
    if (command[i] == '%' && i + 1 < command.size() && command[i + 1] == '1') {
      line += address;
      replaced = true;
      ++i;
    } else {
      line += command[i];
    }
  }
  if (!replaced) {
    if (!line.empty() && line.back() != ' ') line += ' ';
    line += address;
  }
  return limitLength ? CutCommandLine(std::move(line)) : line;
}

}  // namespace rvx
