// Interim number formats used by the decoder until the shared text helpers land.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace rvx {

inline std::string HexText(uint64_t value, int minLength, char fill) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(value));
  std::string digits = buf;
  bool fillIsHex = (fill >= '0' && fill <= '9') || (fill >= 'a' && fill <= 'f') || (fill >= 'A' && fill <= 'F');
  if (minLength >= 0 && !fillIsHex) {
    std::string s = "$" + digits;
    if (static_cast<int>(digits.size()) < minLength) s.insert(0, minLength - digits.size(), fill);
    return s;
  }
  int width = minLength < 0 ? -minLength : minLength;
  if (static_cast<int>(digits.size()) < width) {
    if (minLength > 0) digits.insert(0, width - digits.size(), fill);
    else digits.append(width - digits.size(), fill);
  }
  return "$" + digits;
}

inline std::string AddressText(uint32_t address, bool fixedWidth) {
  return HexText(address, fixedWidth ? 8 : 1, '0').substr(1);
}

}  // namespace rvx
