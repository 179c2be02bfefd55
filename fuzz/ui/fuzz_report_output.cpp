// A report text from arbitrary bytes, as printed and as put on the web exception page. The first byte picks
// the switches and the line heights. On the page nothing of the report may become markup: exactly one text
// area end, no "<" beyond the page's own. Printing places every line once, in order, and a page holds more
// than one line only when they fit.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crash/core/web_exception_page.h"
#include "crash/ui/print_layout.h"

namespace {

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rvx;
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const std::string report(reinterpret_cast<const char*>(data + 1), size - 1);

  WebPageTexts texts;
  texts.titleBar = "t";
  texts.exceptMsg = "%exceptMsg%%LF%%exceptClass%%LF%%bugReport%";
  texts.autoShowBugRep = flags & 1;
  texts.showBtnVis = flags & 2;
  texts.continueBtnVis = flags & 4;
  const std::string page = ComposeWebExceptionPage(texts, report);
  const std::string empty = ComposeWebExceptionPage(texts, "");
  if (Count(page, "</textarea>") != 1) std::abort();
  if (Count(page, "<") != Count(empty, "<")) std::abort();

  const std::vector<std::string> lines = PrintLines(report);
  if (lines.empty()) std::abort();
  for (const std::string& line : lines)
    if (line.empty() || line.find("\r\n") != std::string::npos) std::abort();
  PrintGeometry g;
  g.top = 10, g.textWidth = 100, g.pageLimit = 200;
  const int unit = 1 + (flags >> 3);
  auto measure = [&](const std::string& line) { return unit * static_cast<int>(1 + line.size() / 10); };
  const auto pages = PaginateLines(lines, g, measure);
  size_t next = 0;
  for (const PrintedPage& p : pages) {
    if (p.empty() || p.front().y != g.top) std::abort();
    for (const PlacedLine& l : p) {
      if (l.line != next++) std::abort();
      if (&l != &p.front() && l.y + l.height > g.pageLimit) std::abort();
    }
  }
  if (next != lines.size()) std::abort();
  return 0;
}
