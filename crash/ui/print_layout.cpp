#include "crash/ui/print_layout.h"

#include <algorithm>

namespace rvx {

int MillimetresToPixels(int k, int res, int size) {
  if (size <= 0) return 0;
  return static_cast<int>((static_cast<int64_t>(res) * k + size / 2) / size);
}

PrintGeometry PrintGeometryOf(const PrinterMetrics& m) {
  PrintGeometry g;
  g.top = std::max(0, MillimetresToPixels(10, m.vertRes, m.vertSizeMm) - m.offsetY);
  g.left = std::max(0, MillimetresToPixels(20, m.horzRes, m.horzSizeMm) - m.offsetX);
  g.textWidth = std::max(1, m.horzRes + m.offsetX - g.left - MillimetresToPixels(10, m.horzRes, m.horzSizeMm));
  g.pageLimit = m.vertRes - 2 * g.top;
  return g;
}

int PrintFontHeight(int pixelsPerInchY) { return -(8 * pixelsPerInchY) / 72; }

std::vector<std::string> PrintLines(std::string_view report) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < report.size()) {
    size_t end = report.find("\r\n", at);
    std::string_view line = report.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    lines.emplace_back(line.empty() ? std::string_view(" ") : line);
    if (end == std::string_view::npos) break;
    at = end + 2;
  }
  if (lines.empty()) lines.emplace_back(" ");
  return lines;
}

std::vector<PrintedPage> PaginateLines(const std::vector<std::string>& lines, const PrintGeometry& geometry,
                                       const std::function<int(const std::string& line)>& measure) {
  std::vector<PrintedPage> pages(1);
  int y = geometry.top;
  for (size_t i = 0; i < lines.size(); ++i) {
    int height = std::max(0, measure(lines[i]));
    if (y + height > geometry.pageLimit && !pages.back().empty()) {
      pages.emplace_back();
      y = geometry.top;
    }
    pages.back().push_back({i, y, height});
    y += height;
  }
  return pages;
}

}  // namespace rvx
