// The bug report text and the report file: rendering of header and sections, the message rules, the
// header value search of saved reports, the rules that append a report to the report file (duplicate
// merge with "count", size limit) and the absolute-name rules of automatic saves. Portable: no system calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rvx {

using NamedTexts = std::vector<std::pair<std::string, std::string>>;

// A header value as rendered: line breaks become blanks, runs of blanks collapse to one.
std::string HeaderValueText(std::string_view value);
// The content of a section as rendered: one line per content line, trailing blanks and control characters
// removed, an empty line written as ".".
std::vector<std::string> SectionLines(std::string_view content);
// The whole report: header lines (names padded to one more than the longest name, ": ", value), then per
// section an empty line, the title (":" appended unless it has one) and the content lines. CR LF between
// lines, none at the end.
std::string RenderReport(const NamedTexts& header, const NamedTexts& sections);

// The message of an exception as reported: control characters other than CR and LF removed, trimmed,
// "Unknown" when empty, trailing dots, exclamation marks and zero bytes replaced by a single ".".
std::string ReportMessageText(std::string_view message);

// "2026-12-09, 09:14:12, 5ms" and "2026-12-09 09:14".
struct ReportTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
std::string ReportDateTimeText(const ReportTime& t);
std::string FileDateTimeText(const ReportTime& t);

// The value of a header item in a saved report: after a line break followed by the name, blanks, ": ", up
// to the end of the line. False when there is no such item (a name followed by anything else has no value).
bool FindHeaderValue(std::string_view text, std::string_view name, std::string& value);

// What the report file rules need of the settings.
struct ReportFileRules {
  bool append = true;
  int32_t sizeLimit = 100000;  // BugRepFileSize; 0 or less: unlimited
  bool noDupExcepts = true;
  bool noDupFreezes = true;
  uint32_t dupExceptDef = 1;
  uint32_t dupFreezeDef = 2;
};

// The new content of the report file after saving `report` into a file holding `old`. The report always
// ends up at the end, followed by two line breaks; with a merged duplicate it carries "count" right after
// its "callstack crc" line. `merged` receives the count given (0 when nothing was merged).
std::string ComposeReportFile(std::string_view old, std::string_view report, const ReportFileRules& rules,
                              int64_t* merged = nullptr);

// The report file as the saving sees it, opened exclusively for reading and writing.
class ReportFile {
 public:
  virtual ~ReportFile() = default;
  virtual bool Size(uint64_t& size) = 0;
  // Reads exactly count bytes at offset; false when they could not all be read.
  virtual bool ReadAt(uint64_t offset, char* dest, size_t count) = 0;
  virtual bool WriteAt(uint64_t offset, std::string_view bytes) = 0;
  // Cuts the file off at size.
  virtual bool Truncate(uint64_t size) = 0;
};

// How much of the end of the report file a save reads at most: the size limit's worth when there is one,
// never more than kReportFileReadLimit. Content in front of that stays in the file as it is, unless the
// size limit cuts it; duplicates are looked for only in what was read.
constexpr uint64_t kReportFileReadLimit = 8u << 20;
uint64_t ReportFileReadWindow(const ReportFileRules& rules);

// Saves a report into the file by the rules above. A file that cannot be read is left untouched (false):
// rewriting it would lose the reports in it.
bool SaveReportToFile(ReportFile& file, std::string_view report, const ReportFileRules& rules,
                      int64_t* merged = nullptr);

// The report with an item "count" after its "callstack crc" line, aligned to that line's colon column.
std::string InsertCountItem(std::string_view report, int64_t count);

// The absolute file name of an automatic save: relative names go into the program's folder, names starting
// with a single "\" onto the root of the program's path (drive or server and share); "\.\" and
// "folder\..\" are resolved.
std::wstring AbsoluteReportName(std::wstring_view name, std::wstring_view programPath);

// The folder part of a path with its final "\" ("/" counts as "\" too); the file name part is FileNameOf.
std::wstring FolderPart(std::wstring_view path);

}  // namespace rvx
