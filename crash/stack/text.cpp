// Portable part of the text helpers; text_win.cpp supplies what needs the system (locale, messages, OS).
#include "crash/stack/text.h"

#include <algorithm>
#include <atomic>

namespace rvx {

namespace {

template <class Ch>
constexpr uint32_t Unit(Ch c) {
  if constexpr (sizeof(Ch) == 1)
    return static_cast<uint8_t>(c);
  else
    return static_cast<uint32_t>(c);
}

template <class Ch>
constexpr uint32_t Folded(Ch c) {
  uint32_t u = Unit(c);
  return u < 256 ? kLowerCase[u] : u;
}

template <class Ch>
bool SameChar(Ch a, Ch b, bool ignoreCase) {
  return ignoreCase ? Folded(a) == Folded(b) : a == b;
}

template <class Ch>
bool MatchAt(std::basic_string_view<Ch> text, size_t at, std::basic_string_view<Ch> find, bool ignoreCase) {
  if (at > text.size() || text.size() - at < find.size()) return false;
  for (size_t i = 0; i < find.size(); ++i)
    if (!SameChar(text[at + i], find[i], ignoreCase)) return false;
  return true;
}

// 0-based index of the first match at or after `from`, or npos.
template <class Ch>
size_t FindFrom(std::basic_string_view<Ch> text, std::basic_string_view<Ch> find, size_t from, bool ignoreCase) {
  if (find.empty() || find.size() > text.size()) return std::basic_string_view<Ch>::npos;
  for (size_t i = from; i + find.size() <= text.size(); ++i)
    if (MatchAt(text, i, find, ignoreCase)) return i;
  return std::basic_string_view<Ch>::npos;
}

template <class Ch>
size_t PosImpl(std::basic_string_view<Ch> find, std::basic_string_view<Ch> text, size_t from, size_t to,
               bool ignoreCase) {
  if (find.empty() || find.size() > text.size()) return 0;
  size_t last = text.size() - find.size() + 1;  // last 1-based start that fits
  if (from == 0) from = 1;
  if (to == 0) to = 1;
  if (from <= to) {
    to = std::min(to, last);
    for (size_t p = from; p <= to; ++p)
      if (MatchAt(text, p - 1, find, ignoreCase)) return p;
  } else {
    from = std::min(from, last);
    for (size_t p = from; p >= to && p >= 1; --p)
      if (MatchAt(text, p - 1, find, ignoreCase)) return p;
  }
  return 0;
}

template <class Ch>
bool ReplaceImpl(std::basic_string<Ch>& text, std::basic_string_view<Ch> find, std::basic_string_view<Ch> repl,
                 bool ignoreCase, bool repeat) {
  if (find.empty()) return false;
  // A replacement that contains the searched text would match again forever; such a call is done without
  // the repeat rule.
  if (repeat && FindFrom(repl, find, 0, ignoreCase) != std::basic_string_view<Ch>::npos) repeat = false;
  bool replaced = false;
  size_t pos = 0;
  for (;;) {
    size_t at = FindFrom(std::basic_string_view<Ch>(text), find, pos, ignoreCase);
    if (at == std::basic_string_view<Ch>::npos) break;
    text.replace(at, find.size(), repl);
    replaced = true;
    if (!repeat)
      pos = at + repl.size();
    else
      pos = repl.size() <= find.size() ? at : at + 1;
  }
  return replaced;
}

template <class Ch>
std::basic_string<Ch> TrimImpl(std::basic_string_view<Ch> t) {
  size_t b = 0, e = t.size();
  while (b < e && Unit(t[b]) <= 32) ++b;
  while (e > b && Unit(t[e - 1]) <= 32) --e;
  return std::basic_string<Ch>(t.substr(b, e - b));
}

template <class Ch>
bool StartsImpl(std::basic_string_view<Ch> text, std::basic_string_view<Ch> prefix, bool ignoreCase) {
  return MatchAt(text, 0, prefix, ignoreCase);
}

template <class Ch>
std::basic_string<Ch> UpperImpl(std::basic_string_view<Ch> t) {
  std::basic_string<Ch> r(t);
  for (auto& c : r) {
    uint32_t u = Unit(c);
    if ((u >= 'a' && u <= 'z') || u == 0xE4 || u == 0xF6 || u == 0xFC) c = static_cast<Ch>(u - 0x20);
  }
  return r;
}

template <class Ch>
std::basic_string<Ch> LowerImpl(std::basic_string_view<Ch> t) {
  std::basic_string<Ch> r(t);
  for (auto& c : r) {
    uint32_t u = Unit(c);
    if ((u >= 'A' && u <= 'Z') || u == 0xC4 || u == 0xD6 || u == 0xDC) c = static_cast<Ch>(u + 0x20);
  }
  return r;
}

template <class Ch>
int CompareImpl(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int64_t d = static_cast<int64_t>(Folded(a[i])) - static_cast<int64_t>(Folded(b[i]));
    if (d != 0) return static_cast<int>(d);
  }
  return static_cast<int>(static_cast<int64_t>(a.size()) - static_cast<int64_t>(b.size()));
}

template <class Ch>
std::basic_string<Ch> FieldImpl(std::basic_string_view<Ch> t, int index, Ch sep) {
  if (index < 1 || t.empty()) return {};
  size_t start = 0;
  for (int i = 1; i < index; ++i) {
    size_t s = t.find(sep, start);
    if (s == std::basic_string_view<Ch>::npos) return {};
    start = s + 1;
  }
  size_t end = t.find(sep, start);
  if (end == std::basic_string_view<Ch>::npos) end = t.size();
  return std::basic_string<Ch>(t.substr(start, end - start));
}

template <class Ch>
int FieldCountImpl(std::basic_string_view<Ch> t, Ch sep) {
  if (t.empty()) return 0;
  return static_cast<int>(std::count(t.begin(), t.end(), sep)) + 1;
}

template <class Ch>
bool HasWordImpl(std::basic_string_view<Ch> t, std::basic_string_view<Ch> w, Ch sep, bool ignoreCase) {
  if (w.empty()) return false;
  for (size_t at = FindFrom(t, w, 0, ignoreCase); at != std::basic_string_view<Ch>::npos;
       at = FindFrom(t, w, at + 1, ignoreCase)) {
    bool leftOk = at == 0 || t[at - 1] == sep;
    size_t end = at + w.size();
    bool rightOk = end == t.size() || t[end] == sep;
    if (leftOk && rightOk) return true;
  }
  return false;
}

template <class Ch, class Pred>
bool RemoveIf(std::basic_string<Ch>& t, Pred pred) {
  auto it = std::remove_if(t.begin(), t.end(), pred);
  if (it == t.end()) return false;
  t.erase(it, t.end());
  return true;
}

template <class Ch>
std::basic_string<Ch> PadImpl(std::basic_string_view<Ch> t, int length, Ch fill) {
  size_t want = static_cast<size_t>(length < 0 ? -static_cast<int64_t>(length) : length);
  std::basic_string<Ch> r(t);
  if (r.size() >= want) return r;
  size_t n = want - r.size();
  if (length < 0) {
    r.append(n, fill);
  } else if (!r.empty() && r[0] == Ch('-') && fill >= Ch('0') && fill <= Ch('9')) {
    r.insert(1, n, fill);
  } else {
    r.insert(0, n, fill);
  }
  return r;
}

template <class Ch>
std::basic_string<Ch> TailImpl(std::basic_string_view<Ch> t, size_t n) {
  return std::basic_string<Ch>(n >= t.size() ? t : t.substr(t.size() - n));
}

std::string DigitsOf(uint64_t v, unsigned base) {
  if (v == 0) return "0";
  char buf[24];
  int i = 24;
  while (v) {
    buf[--i] = "0123456789abcdef"[v % base];
    v /= base;
  }
  return std::string(buf + i, buf + 24);
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

// ---- numbers ------------------------------------------------------------------------------------------

std::string DecimalText64(int64_t value, int minLength, char fill) {
  std::string digits;
  if (value < 0)
    digits = "-" + DigitsOf(0 - static_cast<uint64_t>(value), 10);
  else
    digits = DigitsOf(static_cast<uint64_t>(value), 10);
  return PadText(digits, minLength, fill);
}

std::string UDecimalText64(uint64_t value, int minLength, char fill) {
  return PadText(DigitsOf(value, 10), minLength, fill);
}

std::string HexText64(uint64_t value, int minLength, char fill) {
  std::string digits = DigitsOf(value, 16);
  if (minLength >= 0 && !IsHexDigit(fill)) return PadText("$" + digits, minLength + 1, fill);
  return "$" + PadText(digits, minLength, fill);
}

std::string AddressText(uint32_t address, bool fixedWidth) {
  return HexText(address, fixedWidth ? 8 : 1, '0').substr(1);
}

namespace {
std::atomic<int> g_separatorOverride{-1};
}
char SystemDecimalSeparator();  // text_win.cpp, or '.' natively

char DecimalSeparator() {
  int o = g_separatorOverride.load(std::memory_order_relaxed);
  if (o >= 0) return static_cast<char>(o);
  static const char cached = SystemDecimalSeparator();
  return cached;
}

void SetDecimalSeparator(char separator) {
  g_separatorOverride.store(static_cast<uint8_t>(separator), std::memory_order_relaxed);
}

std::string SizeText(uint64_t n) {
  const char* unit;
  uint64_t hundredths;
  if (n < 1024) return DecimalText(n) + " Bytes";
  if (n < 1024ull * 1024) {
    hundredths = n * 100 / 1024;
    unit = " KB";
  } else if (n < 1024ull * 1024 * 1024) {
    hundredths = (n / 1024) * 100 / 1024;
    unit = " MB";
  } else {
    hundredths = ((n / 1024) / 1024) * 100 / 1024;
    unit = " GB";
  }
  std::string d = DecimalText(hundredths);  // at least three digits: n >= 1024 of the unit below
  d.insert(d.size() - 2, 1, DecimalSeparator());
  return d + unit;
}

int64_t ParseInteger(bool hex, std::string_view text, size_t length) {
  text = text.substr(0, std::min(length, text.size()));
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  unsigned base = hex ? 16 : 10;
  uint64_t v = 0;
  for (char c : text) {
    unsigned d = kDigitValue[static_cast<uint8_t>(c)];
    bool isDigit = hex ? IsHexDigit(c) : (c >= '0' && c <= '9');
    v = v * base + (isDigit ? d : 0);
  }
  return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

// ---- error texts --------------------------------------------------------------------------------------

std::string UnknownErrorText(uint32_t code) { return "Unknown error " + HexText(code, 1, '0'); }

std::string OneLineMessage(std::string_view message) {
  std::string r;
  r.reserve(message.size());
  for (char c : message) {
    if (c == '\r')
      r += ' ';
    else if (c != '\n')
      r += c;
  }
  return r;
}

// ---- text operations ----------------------------------------------------------------------------------

std::string TrimText(std::string_view t) { return TrimImpl(t); }
std::wstring TrimText(std::wstring_view t) { return TrimImpl(t); }

bool ReplaceText(std::string& t, std::string_view f, std::string_view r, bool ci, bool rep) {
  return ReplaceImpl(t, f, r, ci, rep);
}
bool ReplaceText(std::wstring& t, std::wstring_view f, std::wstring_view r, bool ci, bool rep) {
  return ReplaceImpl(t, f, r, ci, rep);
}

size_t PosText(std::string_view f, std::string_view t, size_t from, size_t to) {
  return PosImpl(f, t, from, to, false);
}
size_t PosText(std::wstring_view f, std::wstring_view t, size_t from, size_t to) {
  return PosImpl(f, t, from, to, false);
}
size_t PosTextCI(std::string_view f, std::string_view t, size_t from, size_t to) {
  return PosImpl(f, t, from, to, true);
}
size_t PosTextCI(std::wstring_view f, std::wstring_view t, size_t from, size_t to) {
  return PosImpl(f, t, from, to, true);
}

bool StartsWith(std::string_view t, std::string_view p) { return StartsImpl(t, p, false); }
bool StartsWith(std::wstring_view t, std::wstring_view p) { return StartsImpl(t, p, false); }
bool StartsWithCI(std::string_view t, std::string_view p) { return StartsImpl(t, p, true); }
bool StartsWithCI(std::wstring_view t, std::wstring_view p) { return StartsImpl(t, p, true); }

std::string UpperText(std::string_view t) { return UpperImpl(t); }
std::wstring UpperText(std::wstring_view t) { return UpperImpl(t); }
std::string LowerText(std::string_view t) { return LowerImpl(t); }
std::wstring LowerText(std::wstring_view t) { return LowerImpl(t); }

bool EqualTextCI(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareImpl(a, b) == 0; }
bool EqualTextCI(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && CompareImpl(a, b) == 0;
}
int CompareTextCI(std::string_view a, std::string_view b) { return CompareImpl(a, b); }
int CompareTextCI(std::wstring_view a, std::wstring_view b) { return CompareImpl(a, b); }

std::string FieldOf(std::string_view t, int i, char s) { return FieldImpl(t, i, s); }
std::wstring FieldOf(std::wstring_view t, int i, wchar_t s) { return FieldImpl(t, i, s); }
int FieldCount(std::string_view t, char s) { return FieldCountImpl(t, s); }
int FieldCount(std::wstring_view t, wchar_t s) { return FieldCountImpl(t, s); }

bool HasWord(std::string_view t, std::string_view w, char s) { return HasWordImpl(t, w, s, false); }
bool HasWord(std::wstring_view t, std::wstring_view w, wchar_t s) { return HasWordImpl(t, w, s, false); }
bool HasWordCI(std::string_view t, std::string_view w, char s) { return HasWordImpl(t, w, s, true); }
bool HasWordCI(std::wstring_view t, std::wstring_view w, wchar_t s) { return HasWordImpl(t, w, s, true); }

bool RemoveChar(std::string& t, char c) {
  return RemoveIf(t, [c](char x) { return x == c; });
}
bool RemoveChar(std::wstring& t, wchar_t c) {
  return RemoveIf(t, [c](wchar_t x) { return x == c; });
}
bool RemoveChars(std::string& t, const CharSet& set) {
  return RemoveIf(t, [&set](char x) { return set.test(static_cast<uint8_t>(x)); });
}
bool RemoveChars(std::wstring& t, const CharSet& set) {
  return RemoveIf(t, [&set](wchar_t x) { return Unit(x) < 256 && set.test(Unit(x)); });
}

std::string PadText(std::string_view t, int length, char fill) { return PadImpl(t, length, fill); }
std::wstring PadText(std::wstring_view t, int length, wchar_t fill) { return PadImpl(t, length, fill); }

std::string Tail(std::string_view t, size_t n) { return TailImpl(t, n); }
std::wstring Tail(std::wstring_view t, size_t n) { return TailImpl(t, n); }

// ---- conversions --------------------------------------------------------------------------------------

std::string NarrowText(std::wstring_view t) {
  std::string r(t.size(), '\0');
  for (size_t i = 0; i < t.size(); ++i) r[i] = static_cast<char>(Unit(t[i]) & 0xFF);
  return r;
}

std::wstring WidenLatin1(std::string_view t) {
  std::wstring r(t.size(), L'\0');
  for (size_t i = 0; i < t.size(); ++i) r[i] = static_cast<wchar_t>(static_cast<uint8_t>(t[i]));
  return r;
}

// ---- operating system description ---------------------------------------------------------------------

const char* OsName(unsigned index) {
  static const char* const names[] = {
      "None",         "Windows 95",      "Windows 95 OSR-2", "Windows 98",       "Windows 98 SE",
      "Windows ME",   "Windows 9x New",  "Windows NT 3",     "Windows NT 4",     "Windows 2000",
      "Windows XP",   "Windows 2003",    "Windows Vista",    "Windows 2008",     "Windows 7",
      "Windows 2008 R2", "Windows 8",    "Windows Server 8", "Windows NT New"};
  return index < std::size(names) ? names[index] : names[0];
}

TOS DescribeOs(const OsFacts& f) {
  TOS os;
  os.major = f.major;
  os.minor = f.minor;
  os.build = f.platformId == 1 ? (f.build & 0xFFFF) : f.build;
  os.servicePackText = f.csdVersion;
  if (f.platformId == 1) {
    os.is9x = true;
    uint8_t e;
    uint32_t b = os.build;
    if (f.major < 4)
      e = kOsNone;
    else if (f.major == 4 && f.minor < 10)
      e = b > 1000 ? kOsWin95Osr2 : kOsWin95;
    else if (f.major == 4 && f.minor == 10)
      e = b > 2700 ? kOsWinME : b > 2000 ? kOsWin98SE : kOsWin98;
    else if (f.major == 4 && f.minor >= 11 && f.minor <= 90)
      e = kOsWinME;
    else
      e = kOsWin9xNew;
    os.edition9x = os.edition = e;
  } else if (f.platformId == 2) {
    os.isNT = true;
    bool workstation = f.productType == 1;
    uint8_t e;
    if (f.major < 4)
      e = kOsWinNT3;
    else if (f.major == 4)
      e = kOsWinNT4;
    else if (f.major == 5)
      e = f.minor == 0 ? kOsWin2000 : f.minor == 1 ? kOsWinXP : (workstation ? kOsWinXP : kOsWin2003);
    else if (f.major == 6)
      e = f.minor == 0   ? (workstation ? kOsWinVista : kOsWin2008)
          : f.minor == 1 ? (workstation ? kOsWin7 : kOsWin2008R2)
          : f.minor == 2 ? (workstation ? kOsWin8 : kOsWinServer8)
                         : kOsWinNTNew;
    else
      e = kOsWinNTNew;
    os.editionNT = os.edition = e;
    os.is64 = f.native64;
    if (f.extended) {
      os.servicePack = f.servicePackMajor;
    } else if (f.csdVersion.size() > 13) {
      // "Service Pack n": the number after the first 13 characters
      uint32_t n = 0;
      for (size_t i = 13; i < f.csdVersion.size() && f.csdVersion[i] >= L'0' && f.csdVersion[i] <= L'9'; ++i)
        n = n * 10 + static_cast<uint32_t>(f.csdVersion[i] - L'0');
      os.servicePack = n;
    }
  }
  std::string d = OsName(os.edition);
  if (os.isNT) {
    if (f.serverR2) d += " R2";
    if (f.tabletPc) d += " Tablet PC";
    if (f.starter) d += " Starter";
    if (f.mediaCenter && os.edition < kOsWinVista) d += " Media Center";
    if (os.is64) d += " x64";
  }
  os.description = WidenLatin1(d);
  if (os.isNT && !f.csdVersion.empty()) os.description += L" " + f.csdVersion;
  return os;
}

std::string_view FileNamePart(std::string_view path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace rvx
