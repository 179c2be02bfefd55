// Field values and their conversions from and to text; the names of the field types.
#include "framework/db.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "framework/db_support.h"

namespace fw {

using namespace dbsupport;

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

int64_t StrToInt64(std::string_view text) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) InvalidInteger(text);
  uint64_t value = 0;
  const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
  for (char ch : s) {
    int digit;
    if (ch >= '0' && ch <= '9') digit = ch - '0';
    else if (base == 16 && ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
    else if (base == 16 && ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
    else InvalidInteger(text);
    if (value > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) InvalidInteger(text);
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

int32_t StrToInt(std::string_view text) {
  int64_t v = StrToInt64(text);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) InvalidInteger(text);
  return static_cast<int32_t>(v);
}

double StrToFloat(std::string_view text) {
  std::string_view s = Trim(text);
  const char sep = FormatSettings().DecimalSeparator;
  std::string c;  // the number in the C locale's notation
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) c += s[i++];
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) c += s[i++], ++digits;
  if (i < s.size() && s[i] == sep) {
    c += '.';
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) c += s[i++], ++digits;
  }
  if (digits == 0) InvalidFloat(text);
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    c += 'e';
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) c += s[i++];
    size_t expDigits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) c += s[i++], ++expDigits;
    if (expDigits == 0) InvalidFloat(text);
  }
  if (i != s.size()) InvalidFloat(text);
  errno = 0;
  double v = std::strtod(c.c_str(), nullptr);
  if (!std::isfinite(v)) InvalidFloat(text);
  return v;
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s = buf;
  for (char& ch : s)
    if (ch == '.') ch = FormatSettings().DecimalSeparator;
  return s;
}

bool Variant::AsBool() const {
  switch (kind()) {
    case vNull: return false;
    case vBool: return std::get<bool>(v_);
    case vInt: return std::get<int64_t>(v_) != 0;
    case vFloat: return std::get<double>(v_) != 0;
    case vString: {
      const std::string& s = std::get<std::string>(v_);
      if (SameText(s, "True")) return true;
      if (SameText(s, "False")) return false;
      try {
        return StrToInt64(s) != 0;
      } catch (const EConvertError&) {
        throw EConvertError("'" + s + "' is not a valid boolean value");
      }
    }
  }
  return false;
}

int64_t Variant::AsInt() const {
  switch (kind()) {
    case vNull: return 0;
    case vBool: return std::get<bool>(v_) ? 1 : 0;
    case vInt: return std::get<int64_t>(v_);
    case vFloat: {
      double d = std::get<double>(v_);
      if (!std::isfinite(d) || d >= 9.2233720368547758e18 || d < -9.2233720368547758e18)
        InvalidInteger(FloatToStr(d));
      return static_cast<int64_t>(d);
    }
    case vString: return StrToInt64(std::get<std::string>(v_));
  }
  return 0;
}

double Variant::AsFloat() const {
  switch (kind()) {
    case vNull: return 0;
    case vBool: return std::get<bool>(v_) ? 1 : 0;
    case vInt: return static_cast<double>(std::get<int64_t>(v_));
    case vFloat: return std::get<double>(v_);
    case vString: return StrToFloat(std::get<std::string>(v_));
  }
  return 0;
}

std::string Variant::AsString() const {
  switch (kind()) {
    case vNull: return {};
    case vBool: return std::get<bool>(v_) ? "True" : "False";
    case vInt: return std::to_string(std::get<int64_t>(v_));
    case vFloat: return FloatToStr(std::get<double>(v_));
    case vString: return std::get<std::string>(v_);
  }
  return {};
}

namespace {
const char* const kFieldTypeNames[] = {
    "ftUnknown", "ftString", "ftSmallint", "ftInteger", "ftWord", "ftBoolean", "ftFloat", "ftCurrency", "ftBCD",
    "ftDate", "ftTime", "ftDateTime", "ftBytes", "ftVarBytes", "ftAutoInc", "ftBlob", "ftMemo", "ftGraphic",
    "ftFmtMemo", "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor", "ftFixedChar", "ftWideString",
    "ftLargeint", "ftADT", "ftArray", "ftReference", "ftDataSet", "ftOraBlob", "ftOraClob", "ftVariant",
    "ftInterface", "ftIDispatch", "ftGuid", "ftTimeStamp", "ftFMTBcd"};
constexpr int kFieldTypeCount = sizeof kFieldTypeNames / sizeof kFieldTypeNames[0];
static_assert(kFieldTypeCount == ftFMTBcd + 1);

}  // namespace

const char* FieldTypeName(TFieldType type) {
  return type >= 0 && type < kFieldTypeCount ? kFieldTypeNames[type] : "ftUnknown";
}

bool FieldTypeFromName(std::string_view name, TFieldType& type) {
  for (int i = 0; i < kFieldTypeCount; ++i)
    if (SameText(name, kFieldTypeNames[i])) {
      type = static_cast<TFieldType>(i);
      return true;
    }
  return false;
}

}  // namespace fw
