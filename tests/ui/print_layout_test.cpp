// The printed report's layout: margins from printer metrics, the font height, the lines and the pages.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "crash/ui/print_layout.h"

namespace rvx {
namespace {

TEST(PrintLayout, MillimetresRoundToTheNearestPixel) {
  EXPECT_EQ(MillimetresToPixels(1, 3, 2), 2);  // 1.5 rounds up
  EXPECT_EQ(MillimetresToPixels(1, 5, 4), 1);  // 1.25
  EXPECT_EQ(MillimetresToPixels(1, 7, 4), 2);  // 1.75
  EXPECT_EQ(MillimetresToPixels(10, 4760, 201), 237);
  EXPECT_EQ(MillimetresToPixels(10, 100, 0), 0);      // a printer that reports no size
}

TEST(PrintLayout, MarginsOfAnA4PrinterAt600Dpi) {
  PrinterMetrics m;
  m.horzRes = 4760, m.vertRes = 6779, m.horzSizeMm = 201, m.vertSizeMm = 287;
  m.offsetX = 118, m.offsetY = 118, m.pixelsPerInchY = 600;
  PrintGeometry g = PrintGeometryOf(m);
  EXPECT_EQ(g.top, 236 - 118);             // 10 mm = (67790 + 143) / 287 = 236
  EXPECT_EQ(g.left, 474 - 118);            // 20 mm = (95200 + 100) / 201 = 474
  EXPECT_EQ(g.textWidth, 4760 + 118 - 356 - 237);
  EXPECT_EQ(g.pageLimit, 6779 - 2 * 118);
  EXPECT_EQ(PrintFontHeight(600), -66);  // 66.67 toward zero
  EXPECT_EQ(PrintFontHeight(96), -10);
  EXPECT_EQ(PrintFontHeight(72), -8);
}

TEST(PrintLayout, MarginsStayOnThePrintableArea) {
  // The printable area starts further in than the margins: the text starts at its edge, not outside it.
  PrinterMetrics m;
  m.horzRes = 100, m.vertRes = 100, m.horzSizeMm = 100, m.vertSizeMm = 100, m.offsetX = 50, m.offsetY = 50;
  PrintGeometry g = PrintGeometryOf(m);
  EXPECT_EQ(g.top, 0);
  EXPECT_EQ(g.left, 0);
  EXPECT_EQ(g.pageLimit, 100);
  // A printer reporting nothing useful still gives a width the text can be measured in.
  g = PrintGeometryOf(PrinterMetrics{});
  EXPECT_EQ(g.textWidth, 1);
  EXPECT_EQ(g.top, 0);
}

TEST(PrintLayout, LinesAreCutAtCrLfOnly) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(PrintLines("a\r\n\r\nb"), (Lines{"a", " ", "b"}));
  EXPECT_EQ(PrintLines(""), (Lines{" "}));
  EXPECT_EQ(PrintLines("\r\n"), (Lines{" "}));
  EXPECT_EQ(PrintLines("a\r\n"), (Lines{"a"}));       // a final line break adds no blank line (or page)
  EXPECT_EQ(PrintLines("a\r\n\r\n"), (Lines{"a", " "}));
  EXPECT_EQ(PrintLines("a\rb\nc\r\nd"), (Lines{"a\rb\nc", "d"}));  // lone CR and LF stay in the line
  EXPECT_EQ(PrintLines("a\r"), (Lines{"a\r"}));
}

// Heights by line text, for pages from y = 10 to 100.
std::vector<PrintedPage> Paginate(const std::vector<std::string>& lines, const std::map<std::string, int>& heights) {
  PrintGeometry g;
  g.top = 10, g.left = 5, g.textWidth = 50, g.pageLimit = 100;
  return PaginateLines(lines, g, [&](const std::string& line) { return heights.at(line); });
}

// (page, line, y) of every placed line.
using Spot = std::tuple<size_t, size_t, int>;
using Spots = std::vector<Spot>;
Spots SpotsOf(const std::vector<PrintedPage>& pages) {
  Spots out;
  for (size_t p = 0; p < pages.size(); ++p)
    for (const PlacedLine& l : pages[p]) out.emplace_back(p, l.line, l.y);
  return out;
}

TEST(PrintLayout, PagesFillExactlyAndBreakBeforeALineThatDoesNotFit) {
  // Three lines of 30 end exactly on the limit; the fourth starts the next page at the top margin.
  auto pages = Paginate({"a", "b", "c", "d"}, {{"a", 30}, {"b", 30}, {"c", 30}, {"d", 30}});
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(SpotsOf(pages), (Spots{{0, 0, 10}, {0, 1, 40}, {0, 2, 70}, {1, 3, 10}}));
  EXPECT_EQ(pages[1][0].height, 30);

  // A word-wrapped line of three rows moves as a whole.
  pages = Paginate({"a", "wrapped"}, {{"a", 30}, {"wrapped", 61}});
  EXPECT_EQ(SpotsOf(pages), (Spots{{0, 0, 10}, {1, 1, 10}}));
}

TEST(PrintLayout, LineTallerThanAPageLeavesNoEmptyPage) {
  // Too tall for the rest of the page: next page; too tall for any page: placed on the page it starts,
  // and what follows goes to a fresh page.
  auto pages = Paginate({"a", "huge", "b"}, {{"a", 30}, {"huge", 200}, {"b", 30}});
  EXPECT_EQ(SpotsOf(pages), (Spots{{0, 0, 10}, {1, 1, 10}, {2, 2, 10}}));
  pages = Paginate({"huge", "b"}, {{"huge", 200}, {"b", 30}});
  EXPECT_EQ(SpotsOf(pages), (Spots{{0, 0, 10}, {1, 1, 10}}));
}

TEST(PrintLayout, EmptyReportPrintsOneBlankPage) {
  auto lines = PrintLines("");
  auto pages = Paginate(lines, {{" ", 12}});
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(SpotsOf(pages), (Spots{{0, 0, 10}}));
  // A failed measurement (height 0 or less) takes no room.
  pages = Paginate({"x", "y"}, {{"x", -5}, {"y", 0}});
  EXPECT_EQ(SpotsOf(pages), (Spots{{0, 0, 10}, {0, 1, 10}}));
}

}  // namespace
}  // namespace rvx
