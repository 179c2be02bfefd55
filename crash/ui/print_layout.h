// The layout of a printed bug report: margins from the printer's metrics, the report's lines, the font
// height and the placing of the lines on pages. Portable: the printer side measures and draws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace rvx {

// What the printer says about its page, in device units unless named otherwise.
struct PrinterMetrics {
  int horzRes = 0, vertRes = 0;            // printable area in pixels
  int horzSizeMm = 0, vertSizeMm = 0;      // printable area in millimetres
  int offsetX = 0, offsetY = 0;            // physical offset of the printable area from the paper's edge
  int pixelsPerInchY = 0;
};

// k millimetres in pixels at `res` pixels over `size` millimetres, rounded: (res * k + size / 2) / size.
// 0 when the size is unknown (0 or less).
int MillimetresToPixels(int k, int res, int size);

// Where the text goes: it starts at (left, top), is `textWidth` wide, and a line whose bottom would pass
// `pageLimit` goes to the next page.
struct PrintGeometry {
  int top = 0, left = 0, textWidth = 0, pageLimit = 0;
};
// Top margin 10 mm, left 20 mm, right 10 mm, all measured from the paper's edge; the page limit keeps twice
// the top margin free below. Margins never lie outside the printable area and the text is at least one
// pixel wide.
PrintGeometry PrintGeometryOf(const PrinterMetrics& m);

// Height of the 8-point report font (negative: character height) for the printer's pixels per inch.
int PrintFontHeight(int pixelsPerInchY);

// The report cut at CR LF; an empty line becomes a single blank so that it still takes a line's height. A
// lone CR or LF stays inside its line. A final CR LF does not add a line.
std::vector<std::string> PrintLines(std::string_view report);

struct PlacedLine {
  size_t line = 0;  // index into the lines
  int y = 0;
  int height = 0;   // as measured
};
using PrintedPage = std::vector<PlacedLine>;

// Places the lines one below the other; `measure` gives a line's height when word-wrapped into the text
// width. A line that does not fit below the lines already on a page starts the next page at the top margin;
// a line that does not fit even on an empty page is placed there (the printer clips it) rather than leaving
// an empty page behind. Always at least one page.
std::vector<PrintedPage> PaginateLines(const std::vector<std::string>& lines, const PrintGeometry& geometry,
                                       const std::function<int(const std::string& line)>& measure);

}  // namespace rvx
