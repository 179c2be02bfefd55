// The report-file rules over arbitrary existing file content: the new report is never lost and nothing
// faults. The first byte picks the rules; the rest is the old file content.
#include <cstdint>
#include <cstdlib>
#include <string>

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
  std::string value;
  rvx::FindHeaderValue(old, "count", value);
  rvx::FindHeaderValue(old, old.substr(0, 8), value);
  return 0;
}
