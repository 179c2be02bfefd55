#include "crash/core/sysinfo.h"

#include "crash/stack/text.h"

namespace rvx {

std::string DurationText(int64_t s) {
  if (s < 0) s = 0;
  int64_t days = s / 86400, hours = (s / 3600) % 24, minutes = (s / 60) % 60;
  struct Part {
    int64_t value;
    const char* unit;
  } parts[2];
  if (days > 0)
    parts[0] = {days, "day"}, parts[1] = {hours, "hour"};
  else if (hours > 0)
    parts[0] = {hours, "hour"}, parts[1] = {minutes, "minute"};
  else
    parts[0] = {minutes, "minute"}, parts[1] = {s % 60, "second"};
  std::string out;
  for (const auto& p : parts) {
    if (p.value == 0) continue;
    out += DecimalText(p.value) + " " + p.unit + (p.value == 1 ? " " : "s ");
  }
  return out;
}

std::string UpTimeText(int64_t nowMs, int64_t startMs) {
  int64_t diff = nowMs - startMs;
  std::string d = DurationText(diff / 1000);
  if (!d.empty()) return d;
  return DecimalText(diff < 0 ? 0 : diff) + " milliseconds";
}

std::string CleanCpuName(std::string name) {
  while (ReplaceText(name, "  ", " ")) {
  }
  return TrimText(name);
}

std::string MemoryText(uint64_t freeBytes, uint64_t totalBytes) {
  auto mb = [](uint64_t b) { return DecimalText((b + 0x80000) / 0x100000); };
  return mb(freeBytes) + "/" + mb(totalBytes) + " MB (free/total)";
}

std::string DriveFreeText(char drive, uint64_t freeBytes) {
  char upper = drive >= 'a' && drive <= 'z' ? static_cast<char>(drive - 32) : drive;
  return std::string("(") + upper + ":) " + SizeText(freeBytes);
}

std::string ResourcesText(unsigned gdiPercent, unsigned userPercent) {
  return DecimalText(gdiPercent, 2, '0') + "/" + DecimalText(userPercent, 2, '0') + " (gdi/user)";
}

int CountProcessors(const std::vector<std::string>& namesFrom1) {
  for (int n = 1; n <= 15; ++n)
    if (static_cast<size_t>(n) > namesFrom1.size() || namesFrom1[n - 1].empty()) return n;
  return 16;
}

}  // namespace rvx
