// Printing a bug report through the system's print dialog and GDI; the layout comes from print_layout.
#include <windows.h>
#include <commdlg.h>

#include <atomic>

#include "crash/core/freeze.h"
#include "crash/ui/print_layout.h"
#include "crash/ui/print_report.h"

namespace rvx {

namespace {

bool ChooseWithPrintDialog(WindowHandle owner, PrintTarget& target) {
  PRINTDLGA pd{};
  pd.lStructSize = sizeof pd;
  pd.hwndOwner = static_cast<HWND>(owner);
  pd.Flags = PD_NOSELECTION | PD_NOPAGENUMS | PD_NOWARNING | PD_RETURNDC | PD_USEDEVMODECOPIESANDCOLLATE |
             PD_HIDEPRINTTOFILE | PD_NONETWORKBUTTON;
  BOOL chosen = PrintDlgA(&pd);
  if (pd.hDevMode) GlobalFree(pd.hDevMode);
  if (pd.hDevNames) GlobalFree(pd.hDevNames);
  if (!chosen || !pd.hDC) return false;
  target.dc = pd.hDC;
  return true;
}

std::atomic<PrinterChooser> g_chooser{&ChooseWithPrintDialog};

constexpr UINT kTextFormat = DT_WORDBREAK | DT_EXTERNALLEADING | DT_NOPREFIX | DT_LEFT | DT_TOP;

// The printer device context with the report font selected; both released at the end.
class PrinterCanvas {
 public:
  PrinterCanvas(HDC dc, int fontHeight) : dc_(dc) {
    font_ = CreateFontA(fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
    if (font_) previous_ = SelectObject(dc_, font_);
  }
  ~PrinterCanvas() {
    if (previous_) SelectObject(dc_, previous_);
    if (font_) DeleteObject(font_);
    DeleteDC(dc_);
  }
  PrinterCanvas(const PrinterCanvas&) = delete;
  PrinterCanvas& operator=(const PrinterCanvas&) = delete;

  int Measure(const std::string& line, int width) const {
    RECT r{0, 0, width, 0};
    return DrawTextA(dc_, line.data(), static_cast<int>(line.size()), &r, kTextFormat | DT_CALCRECT);
  }
  void Draw(const std::string& line, int x, int y, int width, int height) const {
    RECT r{x, y, x + width, y + height};
    DrawTextA(dc_, line.data(), static_cast<int>(line.size()), &r, kTextFormat);
  }
  HDC dc() const { return dc_; }

 private:
  HDC dc_;
  HFONT font_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

PrinterMetrics MetricsOf(HDC dc) {
  PrinterMetrics m;
  m.horzRes = GetDeviceCaps(dc, HORZRES);
  m.vertRes = GetDeviceCaps(dc, VERTRES);
  m.horzSizeMm = GetDeviceCaps(dc, HORZSIZE);
  m.vertSizeMm = GetDeviceCaps(dc, VERTSIZE);
  m.offsetX = GetDeviceCaps(dc, PHYSICALOFFSETX);
  m.offsetY = GetDeviceCaps(dc, PHYSICALOFFSETY);
  m.pixelsPerInchY = GetDeviceCaps(dc, LOGPIXELSY);
  return m;
}

}  // namespace

void SetPrinterChooser(PrinterChooser chooser) { g_chooser.store(chooser ? chooser : &ChooseWithPrintDialog); }

bool PrintReport(const std::string& report, WindowHandle owner, IRVSettings* settings) {
  if (ProcessBlocked(250)) {
    MessageBeep(0xFFFFFFFF);
    return false;
  }
  Ref<IRVModuleSettings> own;
  if (!settings) {
    own = MainSettings();
    settings = own.get();
  }
  PrintTarget target;
  if (!g_chooser.load()(owner, target) || !target.dc) return false;
  HDC dc = static_cast<HDC>(target.dc);
  SetMapMode(dc, MM_TEXT);
  const PrinterMetrics metrics = MetricsOf(dc);
  const PrintGeometry geometry = PrintGeometryOf(metrics);
  PrinterCanvas canvas(dc, PrintFontHeight(metrics.pixelsPerInchY));

  const std::string name = settings ? settings->PrintBtnTxt() : std::string();
  DOCINFOA doc{};
  doc.cbSize = sizeof doc;
  doc.lpszDocName = name.c_str();
  doc.lpszOutput = target.outputFile.empty() ? nullptr : target.outputFile.c_str();
  if (StartDocA(dc, &doc) <= 0) return false;
  if (StartPage(dc) <= 0) {
    EndDoc(dc);
    return false;
  }
  const std::vector<std::string> lines = PrintLines(report);
  const auto pages =
      PaginateLines(lines, geometry, [&](const std::string& line) { return canvas.Measure(line, geometry.textWidth); });
  bool pageOpen = true;
  for (size_t p = 0; p < pages.size() && pageOpen; ++p) {
    if (p > 0) {
      EndPage(dc);
      pageOpen = StartPage(dc) > 0;
      if (!pageOpen) break;
    }
    for (const PlacedLine& placed : pages[p])
      canvas.Draw(lines[placed.line], geometry.left, placed.y, geometry.textWidth, placed.height);
  }
  if (pageOpen) EndPage(dc);
  EndDoc(dc);
  return false;
}

}  // namespace rvx
