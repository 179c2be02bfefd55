// Report text and report file rules.
#include "crash/core/bugreport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace rvx {
namespace {

std::string Report(const std::string& time, const std::string& crc, const std::string& cls = "EAccessViolation",
                   const std::string& extra = "") {
  NamedTexts header{{"date/time", time}, {"executable", "crashlab.exe"}, {"version", "1.0"}};
  if (!extra.empty()) header.push_back({"exception message", extra});
  header.push_back({"callstack crc", crc});
  header.push_back({"exception number", "1"});
  if (!cls.empty()) header.push_back({"exception class", cls});
  return RenderReport(header, {{"main thread ($10)", "00401000 crashlab.exe"}});
}

const char* kCrc = "$01234567, $89abcdef, $89abcdef";

TEST(ReportText, HeaderIsAlignedAndSectionsFramed) {
  NamedTexts header{{"date/time", "x"}, {"exception message", "two\r\nlines  with   blanks"}};
  NamedTexts sections{{"cpu registers", "eax = 1\r\n\r\nebx = 2   \n"}, {"a:b", ""}};
  std::string r = RenderReport(header, sections);
  EXPECT_EQ(r,
            "date/time         : x\r\n"
            "exception message : two lines with blanks\r\n"
            "\r\ncpu registers:\r\neax = 1\r\n.\r\nebx = 2\r\n.\r\n"
            "\r\na:b\r\n.");
  // A longer name added later moves every colon.
  header.push_back({"a much longer header name", "v"});
  r = RenderReport(header, {});
  EXPECT_EQ(r.find(": x"), std::string("a much longer header name").size() + 1);
}

TEST(ReportText, MessageRules) {
  EXPECT_EQ(ReportMessageText("Hello!!"), "Hello.");
  EXPECT_EQ(ReportMessageText("Hello..."), "Hello.");
  EXPECT_EQ(ReportMessageText("  a\tb\x01  "), "ab.");
  EXPECT_EQ(ReportMessageText(""), "Unknown.");
  EXPECT_EQ(ReportMessageText(std::string("\0", 1)), "Unknown.");
  EXPECT_EQ(ReportMessageText("x.!.y"), "x.!.y.");
  EXPECT_EQ(ReportDateTimeText({2026, 1, 2, 3, 4, 5, 6}), "2026-01-02, 03:04:05, 6ms");
  EXPECT_EQ(FileDateTimeText({2026, 1, 2, 3, 4, 5, 6}), "2026-01-02 03:04");
}

TEST(ReportText, HeaderValueSearch) {
  std::string r = Report("t1", kCrc);
  std::string v;
  ASSERT_TRUE(FindHeaderValue(r, "date/time", v));
  EXPECT_EQ(v, "t1");
  ASSERT_TRUE(FindHeaderValue(r, "callstack crc", v));
  EXPECT_EQ(v, kCrc);
  EXPECT_FALSE(FindHeaderValue(r, "count", v));
  EXPECT_FALSE(FindHeaderValue("\r\nexecutablex: y", "executable", v));
  EXPECT_FALSE(FindHeaderValue("", "", v));
}

TEST(ReportFile, DuplicatesMergeWithCount) {
  ReportFileRules rules;
  std::string file = ComposeReportFile("", Report("t1", kCrc), rules);
  int64_t merged = 0;
  file = ComposeReportFile(file, Report("t2", kCrc), rules, &merged);
  EXPECT_EQ(merged, 2);
  EXPECT_EQ(file.find("t1"), std::string::npos);
  ASSERT_NE(file.find("callstack crc    : $01234567, $89abcdef, $89abcdef\r\ncount            : 2\r\n"),
            std::string::npos)
      << file;
  file = ComposeReportFile(file, Report("t3", kCrc), rules, &merged);
  EXPECT_EQ(merged, 3);
  std::string v;
  ASSERT_TRUE(FindHeaderValue(file, "count", v));
  EXPECT_EQ(v, "3");
  EXPECT_EQ(file.find("date/time"), file.rfind("date/time"));
  EXPECT_TRUE(file.ends_with("\r\n\r\n"));
}

TEST(ReportFile, DifferentReportsStay) {
  ReportFileRules rules;
  std::string file = ComposeReportFile("", Report("t1", kCrc), rules);
  // Another class, another checksum, an incomplete checksum: all kept.
  file = ComposeReportFile(file, Report("t2", kCrc, "EDivByZero"), rules);
  file = ComposeReportFile(file, Report("t3", "$11111111, $22222222, $33333333"), rules);
  file = ComposeReportFile(file, Report("t4", "will be calculated soon"), rules);
  for (auto t : {"t1", "t2", "t3", "t4"}) EXPECT_NE(file.find(t), std::string::npos) << t;
  // Off: no merge.
  rules.noDupExcepts = false;
  file = ComposeReportFile(file, Report("t5", kCrc), rules);
  EXPECT_NE(file.find("t1"), std::string::npos);
  // Definition 0 compares only the first checksum; a freeze (no class) uses the freeze settings.
  rules.noDupExcepts = true;
  rules.dupExceptDef = 0;
  file = ComposeReportFile(file, Report("t6", "$01234567, $00000000, $00000000"), rules);
  EXPECT_EQ(file.find("t5"), std::string::npos);
  rules.noDupFreezes = false;
  std::string f = ComposeReportFile(Report("a", kCrc, ""), Report("b", kCrc, ""), rules);
  EXPECT_NE(f.find(": a\r\n"), std::string::npos) << f;
}

TEST(ReportFile, ChecksumQuotedInMessageIsNoDuplicate) {
  ReportFileRules rules;
  std::string file = ComposeReportFile("", Report("t1", "$99999999, $99999999, $99999999", "EAccessViolation",
                                                  std::string("see ") + kCrc),
                                       rules);
  int64_t merged = 0;
  file = ComposeReportFile(file, Report("t2", kCrc), rules, &merged);
  EXPECT_EQ(merged, 0);
  EXPECT_NE(file.find("t1"), std::string::npos);
}

TEST(ReportFile, SizeLimitCutsOldestReports) {
  ReportFileRules rules;
  rules.sizeLimit = 0;
  std::string file;
  for (int i = 0; i < 60; ++i)
    file = ComposeReportFile(file, Report("t" + std::to_string(i), "x") + std::string(2000, '#'), rules);
  ASSERT_GT(file.size(), 100000u);
  std::string before = file;
  rules.sizeLimit = 100000;
  std::string next = ComposeReportFile(file, Report("new", "x"), rules);
  size_t newStart = next.rfind("date/time");
  EXPECT_LT(newStart, 75000u);
  EXPECT_GT(newStart, 75000u - 2200u);
  EXPECT_EQ(next.compare(0, 9, "date/time"), 0);
  // The kept part is the tail of the old file.
  EXPECT_NE(before.find(next.substr(0, newStart)), std::string::npos);
  // Replace mode drops everything old.
  rules.append = false;
  EXPECT_EQ(ComposeReportFile(before, "r", rules), "r\r\n\r\n");
}

// A report file in memory: `front` bytes of older content ("#") stand in front of `data` without being
// stored; a read can be made to fail.
class MemoryReportFile : public ReportFile {
 public:
  std::string data;
  uint64_t front = 0;
  bool readFails = false;
  uint64_t lowestRead = UINT64_MAX, bytesRead = 0;
  int writes = 0;

  bool Size(uint64_t& size) override {
    size = front + data.size();
    return true;
  }
  bool ReadAt(uint64_t offset, char* dest, size_t count) override {
    lowestRead = std::min(lowestRead, offset);
    bytesRead += count;
    if (readFails || offset + count > front + data.size()) return false;
    for (; count > 0 && offset < front; --count, ++offset) *dest++ = '#';
    data.copy(dest, count, static_cast<size_t>(offset - front));
    return true;
  }
  bool WriteAt(uint64_t offset, std::string_view bytes) override {
    ++writes;
    if (offset == 0) {  // rewritten from its start (the end is cut off after the write)
      front = 0;
      data.clear();
    } else if (offset < front) {  // the stand-in bytes from there on become real ones
      data.insert(0, static_cast<size_t>(front - offset), '#');
      front = offset;
    }
    size_t at = static_cast<size_t>(offset - front);
    if (data.size() < at + bytes.size()) data.resize(at + bytes.size());
    data.replace(at, bytes.size(), bytes);
    return true;
  }
  bool Truncate(uint64_t size) override {
    if (size < front) return false;
    data.resize(static_cast<size_t>(size - front));
    return true;
  }
};

TEST(ReportFile, UnreadableFileIsNeverRewritten) {
  MemoryReportFile file;
  file.data = ComposeReportFile("", Report("t1", kCrc), ReportFileRules{});
  const std::string before = file.data;
  file.readFails = true;
  EXPECT_FALSE(SaveReportToFile(file, Report("t2", "$11111111, $22222222, $22222222"), ReportFileRules{}));
  EXPECT_EQ(file.writes, 0);
  EXPECT_EQ(file.data, before);
  // Read as it should be, the old report stays and the new one follows.
  file.readFails = false;
  ASSERT_TRUE(SaveReportToFile(file, Report("t2", "$11111111, $22222222, $22222222"), ReportFileRules{}));
  EXPECT_EQ(file.data.find(before), 0u);
  EXPECT_NE(file.data.find("t2"), std::string::npos);
}

TEST(ReportFile, OnlyTheEndOfALargeFileIsRead) {
  ReportFileRules unlimited;
  unlimited.sizeLimit = 0;
  std::string tail;
  for (int i = 0; i < 5; ++i)
    tail = ComposeReportFile(tail, Report("t" + std::to_string(i), "x") + std::string(3000, '#'), unlimited);
  // Unlimited: gigabytes of older reports in front stay where they are; only the window is read.
  MemoryReportFile big;
  big.front = 3ull << 30;
  big.data = std::string(10, '#') + tail;  // the window starts inside a report
  const uint64_t window = ReportFileReadWindow(unlimited);
  big.data.insert(0, std::string(window - big.data.size() + 100, '#'));
  const std::string before = big.data;
  ASSERT_TRUE(SaveReportToFile(big, Report("new", kCrc), unlimited));
  EXPECT_LE(big.bytesRead, window);
  EXPECT_GE(big.lowestRead, big.front);
  EXPECT_EQ(big.front, 3ull << 30);
  EXPECT_EQ(big.data.find(before), 0u);
  EXPECT_EQ(big.data.substr(before.size()), Report("new", kCrc) + "\r\n\r\n");

  // A duplicate whose start lies before the window is not merged: cutting it out would leave half of it.
  MemoryReportFile partial;
  partial.front = 1ull << 32;
  std::string dup = Report("old", kCrc);
  partial.data = dup.substr(dup.find("\r\n") + 2) + "\r\n\r\n";
  int64_t merged = -1;
  ASSERT_TRUE(SaveReportToFile(partial, Report("again", kCrc), ReportFileRules{}, &merged));
  EXPECT_EQ(merged, 0);
  EXPECT_GT(partial.front, 0u) << "nothing before the window was rewritten";
  EXPECT_NE(partial.data.find(dup.substr(dup.find("\r\n") + 2)), std::string::npos);

  // With a size limit, only the limit's worth is read and the front goes.
  ReportFileRules limited;
  limited.sizeLimit = 10000;
  MemoryReportFile cut;
  cut.front = 1ull << 31;
  cut.data = tail;
  ASSERT_TRUE(SaveReportToFile(cut, Report("new", "x"), limited));
  EXPECT_LE(cut.bytesRead, 10000u);
  EXPECT_EQ(cut.front, 0u) << "the oldest reports were cut";
  EXPECT_EQ(cut.data.compare(0, 9, "date/time"), 0);
  EXPECT_LT(cut.data.rfind("date/time"), 7500u);
}

TEST(ReportFile, AbsoluteNames) {
  const std::wstring prog = L"C:\\apps\\lab\\crashlab.exe";
  EXPECT_EQ(AbsoluteReportName(L"bugreport.txt", prog), L"C:\\apps\\lab\\bugreport.txt");
  EXPECT_EQ(AbsoluteReportName(L"ab", prog), L"C:\\apps\\lab\\ab");
  EXPECT_EQ(AbsoluteReportName(L"\\logs\\b.txt", prog), L"C:\\logs\\b.txt");
  EXPECT_EQ(AbsoluteReportName(L"D:\\x\\.\\y\\..\\b.txt", prog), L"D:\\x\\b.txt");
  EXPECT_EQ(AbsoluteReportName(L"..\\b.txt", prog), L"C:\\apps\\b.txt");
  EXPECT_EQ(AbsoluteReportName(L"\\b.txt", L"\\\\srv\\share\\dir\\p.exe"), L"\\\\srv\\share\\b.txt");
  EXPECT_EQ(AbsoluteReportName(L"\\\\srv\\share\\b.txt", prog), L"\\\\srv\\share\\b.txt");
  EXPECT_EQ(AbsoluteReportName(L"C:\\..\\b.txt", prog), L"C:\\b.txt");
}

}  // namespace
}  // namespace rvx
