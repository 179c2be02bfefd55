#include "crash/delivery/cert_names.h"

#include <cstdint>

#include "crash/stack/text.h"

namespace rvx::tls {
namespace {

// One DER element: its (single-byte) tag and its contents.
struct Element {
  uint8_t tag = 0;
  std::string_view body;
};

// Takes the next element off the front of `in`. Only definite lengths of up to four length bytes are DER;
// multi-byte tags never occur in the fields we read and are refused.
bool Next(std::string_view& in, Element* e) {
  if (in.size() < 2) return false;
  const uint8_t tag = static_cast<uint8_t>(in[0]);
  if ((tag & 0x1F) == 0x1F) return false;
  const uint8_t first = static_cast<uint8_t>(in[1]);
  size_t pos = 2;
  size_t length = first;
  if (first & 0x80) {
    const size_t count = first & 0x7F;
    if (count == 0 || count > 4 || in.size() - 2 < count) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<uint8_t>(in[2 + i]);
    pos += count;
  }
  if (length > in.size() - pos) return false;
  e->tag = tag;
  e->body = in.substr(pos, length);
  in.remove_prefix(pos + length);
  return true;
}

bool Expect(std::string_view& in, uint8_t tag, Element* e) { return Next(in, e) && e->tag == tag; }

// A directory string in UTF-8: UTF8String, PrintableString and IA5String as they are, T61String taken as
// Latin-1, BMPString and UniversalString converted. False for other types.
bool DirectoryString(const Element& e, std::string* out) {
  out->clear();
  switch (e.tag) {
    case 0x0C: case 0x13: case 0x16:
      *out = std::string(e.body);
      return true;
    case 0x14:
      *out = EncodeUtf8Text(WidenLatin1(e.body));
      return true;
    case 0x1E:
    case 0x1C: {
      const size_t width = e.tag == 0x1E ? 2 : 4;
      if (e.body.size() % width) return false;
      std::wstring units;  // UTF-16, as the text helpers take it on every platform
      for (size_t i = 0; i < e.body.size(); i += width) {
        uint32_t c = 0;
        for (size_t k = 0; k < width; ++k) c = (c << 8) | static_cast<uint8_t>(e.body[i + k]);
        if (c > 0x10FFFF) c = 0xFFFD;
        if (c >= 0x10000) {
          units += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
          c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        }
        units += static_cast<wchar_t>(c);
      }
      *out = EncodeUtf8Text(units);
      return true;
    }
    default:
      return false;
  }
}

constexpr std::string_view kCommonNameOid("\x55\x04\x03", 3);
constexpr std::string_view kSubjectAltNameOid("\x55\x1D\x11", 3);

// Name ::= SEQUENCE OF SET OF SEQUENCE { type OID, value ANY }
bool ReadSubject(std::string_view rdns, CertNames* out) {
  Element rdn, atv, oid, value;
  while (!rdns.empty()) {
    if (!Expect(rdns, 0x31, &rdn)) return false;
    std::string_view atvs = rdn.body;
    while (!atvs.empty()) {
      if (!Expect(atvs, 0x30, &atv)) return false;
      std::string_view fields = atv.body;
      if (!Expect(fields, 0x06, &oid) || !Next(fields, &value)) return false;
      std::string text;
      if (oid.body == kCommonNameOid && DirectoryString(value, &text)) out->common_name = text;
    }
  }
  return true;
}

// GeneralNames ::= SEQUENCE OF GeneralName; we keep dNSName [2] and iPAddress [7].
bool ReadAltNames(std::string_view value, CertNames* out) {
  Element names, name;
  if (!Expect(value, 0x30, &names)) return false;
  std::string_view list = names.body;
  while (!list.empty()) {
    if (!Next(list, &name)) return false;
    if (name.tag == 0x82) {
      out->dns.emplace_back(name.body);
    } else if (name.tag == 0x87 && (name.body.size() == 4 || name.body.size() == 16)) {
      out->ips.emplace_back(name.body);
    }
  }
  return true;
}

// Extensions ::= SEQUENCE OF SEQUENCE { extnID OID, critical BOOLEAN DEFAULT FALSE, extnValue OCTET STRING }
bool ReadExtensions(std::string_view wrapped, CertNames* out) {
  Element list, ext, oid, field;
  if (!Expect(wrapped, 0x30, &list)) return false;
  std::string_view exts = list.body;
  while (!exts.empty()) {
    if (!Expect(exts, 0x30, &ext)) return false;
    std::string_view fields = ext.body;
    if (!Expect(fields, 0x06, &oid) || !Next(fields, &field)) return false;
    if (field.tag == 0x01 && !Next(fields, &field)) return false;
    if (field.tag != 0x04) return false;
    if (oid.body == kSubjectAltNameOid && !ReadAltNames(field.body, out)) return false;
  }
  return true;
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

// A usable DNS name: not empty, no empty label, no control bytes; one trailing dot is dropped.
bool CleanName(std::string_view in, std::string* out) {
  if (!in.empty() && in.back() == '.') in.remove_suffix(1);
  if (in.empty() || in.front() == '.' || in.find("..") != std::string_view::npos) return false;
  for (char c : in)
    if (static_cast<uint8_t>(c) <= 0x20 || c == 0x7F) return false;
  *out = Lower(in);
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string ParseIpv4(std::string_view s) {
  std::string out;
  while (out.size() < 4) {
    size_t digits = 0;
    unsigned value = 0;
    while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9' && digits < 3)
      value = value * 10 + static_cast<unsigned>(s[digits++] - '0');
    if (digits == 0 || value > 255) return {};
    out += static_cast<char>(value);
    s.remove_prefix(digits);
    if (out.size() < 4) {
      if (s.empty() || s.front() != '.') return {};
      s.remove_prefix(1);
    }
  }
  return s.empty() ? out : std::string();
}

std::string ParseIpv6(std::string_view s) {
  std::string head, tail;  // groups before and after "::"
  bool gap = false;
  if (s.substr(0, 2) == "::") {
    gap = true;
    s.remove_prefix(2);
  }
  while (!s.empty()) {
    std::string& part = gap ? tail : head;
    if (s.find('.') != std::string_view::npos && s.find(':') == std::string_view::npos) {
      const std::string v4 = ParseIpv4(s);  // an IPv4 tail such as ::ffff:1.2.3.4
      if (v4.empty()) return {};
      part += v4;
      s = {};
      break;
    }
    size_t n = 0;
    unsigned value = 0;
    while (n < s.size() && n < 4 && HexValue(s[n]) >= 0) value = value * 16 + static_cast<unsigned>(HexValue(s[n++]));
    if (n == 0) return {};
    part += static_cast<char>(value >> 8);
    part += static_cast<char>(value & 0xFF);
    s.remove_prefix(n);
    if (s.empty()) break;
    if (s.front() != ':') return {};
    if (s.substr(0, 2) == "::") {
      if (gap) return {};
      gap = true;
      s.remove_prefix(2);
    } else {
      s.remove_prefix(1);
      if (s.empty()) return {};
    }
  }
  const size_t have = head.size() + tail.size();
  if (have > 16 || (!gap && have != 16) || (gap && have == 16)) return {};
  return head + std::string(16 - have, '\0') + tail;
}

std::string IpText(const std::string& raw) {
  static const char* const kHex = "0123456789abcdef";
  std::string t;
  if (raw.size() == 4) {
    for (size_t i = 0; i < 4; ++i) t += (i ? "." : "") + std::to_string(static_cast<uint8_t>(raw[i]));
    return t;
  }
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    if (i) t += ':';
    const unsigned v = static_cast<unsigned>(static_cast<uint8_t>(raw[i]) << 8 | static_cast<uint8_t>(raw[i + 1]));
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned d = (v >> shift) & 0xF;
      if (d || started || shift == 0) {
        t += kHex[d];
        started = true;
      }
    }
  }
  return t;
}

// A certificate name for a message: printable ASCII only, so that odd bytes cannot disturb the one-line text.
std::string Printable(std::string_view s) {
  std::string r;
  for (char c : s.substr(0, 255)) r += (c >= 0x20 && c < 0x7F) ? c : '?';
  return r;
}

}  // namespace

bool ReadCertNames(std::string_view der, CertNames* out) {
  *out = CertNames{};
  Element cert, tbs, e;
  if (!Expect(der, 0x30, &cert)) return false;
  std::string_view body = cert.body;
  if (!Expect(body, 0x30, &tbs)) return false;
  std::string_view f = tbs.body;
  if (!Next(f, &e)) return false;
  if (e.tag == 0xA0 && !Next(f, &e)) return false;  // version, then the serial number
  if (e.tag != 0x02) return false;
  if (!Expect(f, 0x30, &e) || !Expect(f, 0x30, &e) || !Expect(f, 0x30, &e)) return false;  // algorithm, issuer, validity
  if (!Expect(f, 0x30, &e) || !ReadSubject(e.body, out)) return false;
  if (!Expect(f, 0x30, &e)) return false;  // public key
  while (!f.empty()) {  // issuer and subject unique identifiers, extensions
    if (!Next(f, &e)) return false;
    if (e.tag == 0xA3 && !ReadExtensions(e.body, out)) return false;
  }
  return true;
}

std::string ParseIpLiteral(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return ParseIpv6(host.substr(1, host.size() - 2));
  if (host.find(':') != std::string_view::npos) return ParseIpv6(host);
  return ParseIpv4(host);
}

bool NameMatchesHost(std::string_view pattern, std::string_view host) {
  std::string p, h;
  if (!CleanName(pattern, &p) || !CleanName(host, &h) || h.find('*') != std::string::npos) return false;
  if (p.size() > 2 && p[0] == '*' && p[1] == '.') {
    const std::string rest = p.substr(2);
    if (rest.find('*') != std::string::npos || rest.find('.') == std::string::npos) return false;
    const size_t dot = h.find('.');
    return dot != std::string::npos && dot > 0 && h.compare(dot + 1, std::string::npos, rest) == 0;
  }
  return p.find('*') == std::string::npos && p == h;
}

bool CertMatchesHost(const CertNames& names, std::string_view host) {
  const std::string ip = ParseIpLiteral(host);
  if (!ip.empty()) {
    for (const auto& entry : names.ips)
      if (entry == ip) return true;
    return false;
  }
  if (names.dns.empty()) return NameMatchesHost(names.common_name, host);
  for (const auto& entry : names.dns)
    if (NameMatchesHost(entry, host)) return true;
  return false;
}

std::string CheckCertificateHost(std::string_view der, std::string_view host) {
  CertNames names;
  if (!ReadCertNames(der, &names)) return "certificate could not be read";
  if (CertMatchesHost(names, host)) return {};
  std::vector<std::string> shown;
  for (const auto& d : names.dns) shown.push_back(Printable(d));
  if (names.dns.empty() && names.ips.empty() && !names.common_name.empty()) shown.push_back(Printable(names.common_name));
  for (const auto& ip : names.ips) shown.push_back(IpText(ip));
  std::string list;
  for (size_t i = 0; i < shown.size() && i < 4; ++i) list += (i ? ", " : "") + shown[i];
  if (shown.size() > 4) list += ", ...";
  if (list.empty()) list = "no host";
  return "certificate is for " + list + ", not " + Printable(host);
}

}  // namespace rvx::tls
