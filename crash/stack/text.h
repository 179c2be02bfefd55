// Text helpers of the crash reporter: number, size and error formats used verbatim in bug reports, the
// code page 1252 case table, searches and comparisons, separated fields, and text conversions.
//
// Byte strings (std::string) hold text in the system's ANSI code page. Wide strings (std::wstring) hold
// UTF-16 code units on every platform (on Linux each wchar_t carries one 16-bit unit). Positions are counted
// from 1; 0 means "not found". Nothing here throws on bad input: empty texts give empty results.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace rvx {

// ---- tables -------------------------------------------------------------------------------------------

namespace detail {
constexpr std::array<uint8_t, 256> MakeLowerCaseTable() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<uint8_t>(c + 0x20);
  for (int c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) t[c] = static_cast<uint8_t>(c + 0x20);
  t[0x8A] = 0x9A;
  t[0x8C] = 0x9C;
  t[0x8E] = 0x9E;
  t[0x9F] = 0xFF;
  return t;
}
constexpr std::array<uint8_t, 256> MakeDigitTable() {
  std::array<uint8_t, 256> t{};
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<uint8_t>(c - 'a' + 10);
  return t;
}
}  // namespace detail

// Lower-case table of code page 1252; every case-insensitive operation compares through it.
inline constexpr std::array<uint8_t, 256> kLowerCase = detail::MakeLowerCaseTable();
// Digit values: '0'..'9' -> 0..9, 'A'..'F' and 'a'..'f' -> 10..15, every other byte 0.
inline constexpr std::array<uint8_t, 256> kDigitValue = detail::MakeDigitTable();

// ---- numbers ------------------------------------------------------------------------------------------

std::string DecimalText64(int64_t value, int minLength = 0, char fill = ' ');
std::string UDecimalText64(uint64_t value, int minLength = 0, char fill = ' ');
std::string HexText64(uint64_t value, int minLength = 1, char fill = '0');

// Decimal digits of a signed or unsigned value, padded to |minLength| (left when positive, right when
// negative). A digit fill on the left goes after the "-": (-5, 4, '0') -> "-005".
template <class T>
  requires std::is_integral_v<T>
std::string DecimalText(T value, int minLength = 0, char fill = ' ') {
  if constexpr (std::is_unsigned_v<T>)
    return UDecimalText64(static_cast<uint64_t>(value), minLength, fill);
  else
    return DecimalText64(static_cast<int64_t>(value), minLength, fill);
}

// "$" and lower-case hexadecimal digits. Values of 32 bits or less are taken as unsigned 32-bit numbers, so
// HexText(-1) is "$ffffffff". (0x1f, 8, '0') -> "$0000001f"; (0x1f, 4, ' ') -> "  $1f".
template <class T>
  requires std::is_integral_v<T>
std::string HexText(T value, int minLength = 1, char fill = '0') {
  if constexpr (sizeof(T) <= 4)
    return HexText64(static_cast<uint32_t>(value), minLength, fill);
  else
    return HexText64(static_cast<uint64_t>(value), minLength, fill);
}

// Hexadecimal code address without "$": eight digits when fixed, else as few as needed.
std::string AddressText(uint32_t address, bool fixedWidth = true);

// The locale's decimal separator (cached). Natively it is '.', unless set.
char DecimalSeparator();
// Overrides the decimal separator (for tests and hosts that format reports for another locale).
void SetDecimalSeparator(char separator);

// "1023 Bytes", "1,50 KB", "10,00 MB", "x,yy GB" with DecimalSeparator().
std::string SizeText(uint64_t bytes);

inline const char* BoolSign(bool flag) { return flag ? "+" : "-"; }

// Value of the first `length` characters; a leading '-' negates; characters that are not digits of the base
// count as 0.
int64_t ParseInteger(bool hex, std::string_view text, size_t length = std::string_view::npos);

// ---- error texts --------------------------------------------------------------------------------------

// The system's message for a Win32 error code (or NT status) on one line; when there is none, the fixed
// fallback prefix, a blank and HexText(code).
std::string ErrorText(uint32_t code);
// The fallback text alone: "Unknown error $..." .
std::string UnknownErrorText(uint32_t code);
// Turns a system message into one line: CR becomes a blank, LF is removed.
std::string OneLineMessage(std::string_view message);

// ---- text operations (byte and wide variants) ---------------------------------------------------------

using CharSet = std::bitset<256>;

std::string TrimText(std::string_view text);
std::wstring TrimText(std::wstring_view text);

// Replaces every occurrence of `find`, left to right, in place; true when something was replaced. With
// `repeat`, the search resumes inside the text just written so that replacements can make new matches.
bool ReplaceText(std::string& text, std::string_view find, std::string_view replacement, bool ignoreCase = false,
                 bool repeat = false);
bool ReplaceText(std::wstring& text, std::wstring_view find, std::wstring_view replacement,
                 bool ignoreCase = false, bool repeat = false);

// First position (from 1) of `find` whose start lies between `from` and `to` (searching backwards when
// from > to); 0 when not found. `to` defaults to the last possible position.
inline constexpr size_t kTextEnd = static_cast<size_t>(-1);
size_t PosText(std::string_view find, std::string_view text, size_t from = 1, size_t to = kTextEnd);
size_t PosText(std::wstring_view find, std::wstring_view text, size_t from = 1, size_t to = kTextEnd);
size_t PosTextCI(std::string_view find, std::string_view text, size_t from = 1, size_t to = kTextEnd);
size_t PosTextCI(std::wstring_view find, std::wstring_view text, size_t from = 1, size_t to = kTextEnd);

bool StartsWith(std::string_view text, std::string_view prefix);
bool StartsWith(std::wstring_view text, std::wstring_view prefix);
bool StartsWithCI(std::string_view text, std::string_view prefix);
bool StartsWithCI(std::wstring_view text, std::wstring_view prefix);

// Only a..z and the umlauts are raised, only A..Z and the umlauts lowered.
std::string UpperText(std::string_view text);
std::wstring UpperText(std::wstring_view text);
std::string LowerText(std::string_view text);
std::wstring LowerText(std::wstring_view text);

bool EqualTextCI(std::string_view a, std::string_view b);
// The file name part of a path: what follows the last "\" or "/" (a view into the path).
std::string_view FileNamePart(std::string_view path);
bool EqualTextCI(std::wstring_view a, std::wstring_view b);
// Difference of the first differing pair (through the case table), else the length difference.
int CompareTextCI(std::string_view a, std::string_view b);
int CompareTextCI(std::wstring_view a, std::wstring_view b);

// Field `index` (from 1) of a separated list; the last field runs to the end; empty when missing.
std::string FieldOf(std::string_view text, int index, char separator);
std::wstring FieldOf(std::wstring_view text, int index, wchar_t separator);
int FieldCount(std::string_view text, char separator);
int FieldCount(std::wstring_view text, wchar_t separator);

// Whether `word` occurs delimited by the separator or by the ends of the text.
bool HasWord(std::string_view text, std::string_view word, char separator);
bool HasWord(std::wstring_view text, std::wstring_view word, wchar_t separator);
bool HasWordCI(std::string_view text, std::string_view word, char separator);
bool HasWordCI(std::wstring_view text, std::wstring_view word, wchar_t separator);

bool RemoveChar(std::string& text, char c);
bool RemoveChar(std::wstring& text, wchar_t c);
bool RemoveChars(std::string& text, const CharSet& set);
bool RemoveChars(std::wstring& text, const CharSet& set);  // characters above 0xFF are never removed

// Pads to |length| with `fill`: on the left for a positive length, on the right for a negative one. A digit
// fill on the left goes after a leading "-".
std::string PadText(std::string_view text, int length, char fill = ' ');
std::wstring PadText(std::wstring_view text, int length, wchar_t fill = L' ');

std::string Tail(std::string_view text, size_t n);
std::wstring Tail(std::wstring_view text, size_t n);

// ---- conversions --------------------------------------------------------------------------------------

// Keeps the low byte of every character.
std::string NarrowText(std::wstring_view text);
// Widens every byte to the character of the same value.
std::wstring WidenLatin1(std::string_view text);
std::string EncodeUtf8Text(std::wstring_view text);
std::wstring DecodeUtf8Text(std::string_view text);
// System ANSI code page <-> UTF-16 (Windows-1252 natively); unmappable characters become '?'.
std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);

// ---- operating system description ---------------------------------------------------------------------

enum : uint8_t {
  kOsNone = 0, kOsWin95, kOsWin95Osr2, kOsWin98, kOsWin98SE, kOsWinME, kOsWin9xNew, kOsWinNT3, kOsWinNT4,
  kOsWin2000, kOsWinXP, kOsWin2003, kOsWinVista, kOsWin2008, kOsWin7, kOsWin2008R2, kOsWin8, kOsWinServer8,
  kOsWinNTNew
};
const char* OsName(unsigned index);  // "None" for indexes outside the table

struct TOS {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  std::wstring servicePackText;
  bool is9x = false;
  uint8_t edition9x = 0;
  bool isNT = false;
  uint8_t editionNT = 0;
  uint8_t edition = 0;
  bool is64 = false;
  uint32_t servicePack = 0;
  std::wstring description;
};

// What the system reports, gathered by the platform layer; DescribeOs turns it into a TOS.
struct OsFacts {
  uint32_t platformId = 0;  // 1: 9x family, 2: NT family
  uint32_t major = 0, minor = 0, build = 0;
  std::wstring csdVersion;
  bool extended = false;  // the extended version record was read
  uint16_t servicePackMajor = 0;
  uint8_t productType = 1;  // 1: workstation
  bool native64 = false;
  bool serverR2 = false, tabletPc = false, starter = false, mediaCenter = false;
};
TOS DescribeOs(const OsFacts& facts);

// The running system, read once per process (Windows); natively an empty description.
TOS OsInfo();

}  // namespace rvx
