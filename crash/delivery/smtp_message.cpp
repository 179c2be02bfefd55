#include "crash/delivery/smtp_message.h"

#include <chrono>

#include "crash/delivery/cipher.h"
#include "crash/stack/text.h"

namespace rvx::smtp {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr uint64_t kFileTimePerSecond = 10'000'000;
constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string TwoDigits(int v) { return {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)}; }

bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix) {
  if (text.size() < suffix.size()) return false;
  text.remove_prefix(text.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// Addresses in a header field: the angle rule applied to each of them, separated by ", ".
std::string AddressField(const std::vector<std::string>& addresses) {
  std::string field;
  for (const std::string& a : addresses) {
    if (!field.empty()) field += ", ";
    field += a.find('<') == std::string::npos ? "<" + a + ">" : a;
  }
  return field;
}

std::string QuotedName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::vector<std::string> SplitAddresses(std::string_view list) {
  std::vector<std::string> out;
  while (!list.empty()) {
    const size_t sep = list.find_first_of(",;");
    const std::string_view item = Trimmed(list.substr(0, sep));
    if (!item.empty()) out.emplace_back(item);
    if (sep == std::string_view::npos) break;
    list.remove_prefix(sep + 1);
  }
  return out;
}

std::string AngleAddress(std::string_view address) {
  const size_t lt = address.find('<');
  return lt == std::string_view::npos ? "<" + std::string(address) + ">" : std::string(address.substr(lt));
}

bool HasControlBytes(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

std::string EncodeSubject(std::string_view subject, bool utf8) {
  if (utf8) return "=?UTF-8?B?" + Base64Encode(EncodeUtf8Text(AnsiToWide(subject))) + "?=";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string q = "=?ISO-8859-1?Q?";
  for (char c : subject) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
      q += c;
    } else {
      q += '=';
      q += kHex[b >> 4];
      q += kHex[b & 15];
    }
  }
  return q + "?=";
}

uint64_t CurrentFileTime() {
  const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  return static_cast<uint64_t>(since1970) * 10 + static_cast<uint64_t>(kSecondsFrom1601To1970) * kFileTimePerSecond;
}

std::string DateText(uint64_t fileTime) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int64_t seconds = static_cast<int64_t>(fileTime / kFileTimePerSecond) - kSecondsFrom1601To1970;
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t secondOfDay = seconds - days * 86400;
  // Civil date of a day count since 1970-01-01 (proleptic Gregorian calendar).
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const int s = static_cast<int>(secondOfDay);
  return std::to_string(day) + " " + kMonths[month - 1] + " " + std::to_string(year) + " " + TwoDigits(s / 3600) +
         ":" + TwoDigits(s / 60 % 60) + ":" + TwoDigits(s % 60) + " UT";
}

std::string MessageId(uint64_t fileTime) {
  std::string hex(16, '0');
  for (int i = 15; i >= 0; --i, fileTime >>= 4) hex[static_cast<size_t>(i)] = "0123456789abcdef"[fileTime & 15];
  return "<" + hex + "@Ravex>";
}

std::string MessageHeader(const MessageTexts& texts) {
  std::string h;
  h.append("To: ").append(AddressField(texts.recipients)).append(kCrLf);
  h.append("From: ").append(AddressField({texts.sender})).append(kCrLf);
  h.append("Subject: ").append(EncodeSubject(texts.subject, texts.utf8Subject)).append(kCrLf);
  h.append("Date: ").append(DateText(texts.fileTime)).append(kCrLf);
  h.append("Message-ID: ").append(MessageId(texts.fileTime)).append(kCrLf);
  return h;
}

std::string DataSafeBody(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 32 + 2);
  bool lineStart = true;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
      out += kCrLf;
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = false;
  }
  return out;
}

std::string MultipartPreamble(std::string_view safeBody) {
  std::string p;
  p.append("MIME-Version: 1.0").append(kCrLf);
  p.append("Content-Type: multipart/mixed; boundary=\"").append(kMultipartBoundary).append("\"").append(kCrLf);
  p.append(kCrLf);
  p.append("This is a multi-part message in MIME format.").append(kCrLf);
  p.append(kCrLf);
  p.append("--").append(kMultipartBoundary).append(kCrLf);
  p.append("Content-Type: text/plain; charset=\"iso-8859-1\"").append(kCrLf);
  p.append("Content-Transfer-Encoding: 8bit").append(kCrLf);
  p.append(kCrLf);
  p.append(safeBody).append(kCrLf);
  return p;
}

std::string MultipartEnd() { return "--" + std::string(kMultipartBoundary) + "--" + std::string(kCrLf); }

std::string ContentTypeOf(std::wstring_view path) {
  return EndsWithNoCase(path, L".png") ? "image/png" : "application/octet-stream";
}

std::string AttachmentHeader(std::wstring_view path, std::string_view sendAs) {
  const std::string name = QuotedName(sendAs);
  std::string h;
  h.append("--").append(kMultipartBoundary).append(kCrLf);
  h.append("Content-Type: ").append(ContentTypeOf(path)).append("; name=").append(name).append(kCrLf);
  h.append("Content-Transfer-Encoding: base64").append(kCrLf);
  h.append("Content-Disposition: attachment; filename=").append(name).append(kCrLf);
  h.append(kCrLf);
  return h;
}

}  // namespace rvx::smtp
