// The report-file rules over arbitrary existing file content: the new report is never lost and nothing
// faults. The first byte picks the rules; the rest is the old file content.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "crash/core/bugreport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint8_t mode = data[0];
  std::string old(reinterpret_cast<const char*>(data + 1), size - 1);
  rvx::ReportFileRules rules;
  rules.append = (mode & 1) == 0;
  rules.sizeLimit = (mode & 2) ? static_cast<int32_t>(old.size() / 2 + 1) : 0;
  rules.dupExceptDef = (mode >> 2) % 3;
  rules.noDupExcepts = (mode & 0x20) == 0;
  // A report whose checksum may occur in the old content.
  std::string crc = old.size() >= 31 && (mode & 0x40) ? old.substr(old.size() - 31) : "$00000001, $00000002, $00000003";
  std::string report = rvx::RenderReport({{"date/time", "now"}, {"executable", "x.exe"}, {"callstack crc", crc},
                                          {"exception class", "E"}},
                                         {{"main thread", "00401000 x.exe"}});
  int64_t merged = 0;
  std::string out = rvx::ComposeReportFile(old, report, rules, &merged);
  std::string expected = merged ? rvx::InsertCountItem(report, merged) : report;
  expected += "\r\n\r\n";
  if (out.size() < expected.size() || out.compare(out.size() - expected.size(), expected.size(), expected) != 0)
    std::abort();
  // Saved into a file that holds the old content: only its end is read when there is a size limit; what
  // lies before that stays as it was, unless the limit cut it together with the oldest reports.
  struct Memory : rvx::ReportFile {
    std::string data;
    uint64_t lowestRead = UINT64_MAX;
    bool Size(uint64_t& n) override {
      n = data.size();
      return true;
    }
    bool ReadAt(uint64_t offset, char* dest, size_t count) override {
      if (offset > data.size() || count > data.size() - offset) return false;
      if (offset < lowestRead) lowestRead = offset;
      data.copy(dest, count, static_cast<size_t>(offset));
      return true;
    }
    bool WriteAt(uint64_t offset, std::string_view bytes) override {
      if (offset > data.size()) return false;
      data.replace(static_cast<size_t>(offset), std::string::npos, bytes);
      return true;
    }
    bool Truncate(uint64_t n) override {
      if (n > data.size()) return false;
      data.resize(static_cast<size_t>(n));
      return true;
    }
  } file;
  file.data = old;
  int64_t saved = 0;
  if (!rvx::SaveReportToFile(file, report, rules, &saved)) std::abort();
  std::string tail = saved ? rvx::InsertCountItem(report, saved) : report;
  tail += "\r\n\r\n";
  if (file.data.size() < tail.size() || file.data.compare(file.data.size() - tail.size(), tail.size(), tail) != 0)
    std::abort();
  size_t unread = rules.append && file.lowestRead != UINT64_MAX ? static_cast<size_t>(file.lowestRead) : 0;
  if (file.data.compare(0, unread, old, 0, unread) != 0 && file.data.rfind("date/time", 0) != 0) std::abort();
  std::string value;
  rvx::FindHeaderValue(old, "count", value);
  rvx::FindHeaderValue(old, old.substr(0, 8), value);
  return 0;
}
