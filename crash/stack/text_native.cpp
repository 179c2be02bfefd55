// Host versions of the system-dependent text helpers (Linux builds: tools, tests, fuzzing). The Windows build
// takes these from text_win.cpp.
#ifndef _WIN32
#include "crash/stack/text.h"

#include <algorithm>

namespace rvx {

namespace {
// Windows-1252 characters 0x80..0x9F; 0 marks the five unassigned bytes.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
}  // namespace

char SystemDecimalSeparator() { return '.'; }

std::string ErrorText(uint32_t code) { return UnknownErrorText(code); }

std::string EncodeUtf8Text(std::wstring_view t) {
  std::string r;
  r.reserve(t.size() * 3);
  for (size_t i = 0; i < t.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(t[i]) & 0xFFFF;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < t.size()) {
      uint32_t lo = static_cast<uint32_t>(t[i + 1]) & 0xFFFF;
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // lone surrogate half
    if (c < 0x80) {
      r += static_cast<char>(c);
    } else if (c < 0x800) {
      r += static_cast<char>(0xC0 | (c >> 6));
      r += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      r += static_cast<char>(0xE0 | (c >> 12));
      r += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      r += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      r += static_cast<char>(0xF0 | (c >> 18));
      r += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      r += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      r += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return r;
}

std::wstring DecodeUtf8Text(std::string_view s) {
  std::wstring r;
  r.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint8_t b = static_cast<uint8_t>(s[i]);
    uint32_t c;
    size_t need;
    uint32_t min;
    if (b < 0x80) {
      r += static_cast<wchar_t>(b);
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      c = b & 0x1F, need = 1, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      c = b & 0x0F, need = 2, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      c = b & 0x07, need = 3, min = 0x10000;
    } else {
      r += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (size_t k = 0; k < need; ++k, ++j) {
      if (j >= s.size() || (static_cast<uint8_t>(s[j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (static_cast<uint8_t>(s[j]) & 0x3F);
    }
    if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      r += static_cast<wchar_t>(0xFFFD);
      i = ok ? j : std::max(j, i + 1);
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      r += static_cast<wchar_t>(0xD800 + (c >> 10));
      r += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
      r += static_cast<wchar_t>(c);
    }
    i = j;
  }
  if (!r.empty() && (r.back() & 0xFC00) == 0xD800) r.pop_back();
  return r;
}

std::wstring AnsiToWide(std::string_view t) {
  std::wstring r(t.size(), L'\0');
  for (size_t i = 0; i < t.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(t[i]);
    uint16_t c = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
    r[i] = static_cast<wchar_t>(c ? c : b);  // unassigned bytes map to the control character of equal value
  }
  return r;
}

std::string WideToAnsi(std::wstring_view t) {
  std::string r(t.size(), '?');
  for (size_t i = 0; i < t.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(t[i]);
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      r[i] = static_cast<char>(c);
      continue;
    }
    for (int k = 0; k < 32; ++k) {
      if (kCp1252High[k] == c || (kCp1252High[k] == 0 && c == 0x80u + k)) {
        r[i] = static_cast<char>(0x80 + k);
        break;
      }
    }
  }
  return r;
}

TOS OsInfo() { return TOS{}; }

}  // namespace rvx
#endif
