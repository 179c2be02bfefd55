#include "framework/canvas.h"

#include <map>
#include <mutex>
#include <tuple>

namespace fw {

COLORREF ColorToRGB(TColor color) {
  if (color & 0x80000000) return GetSysColor(color & 0xFF);
  if (color == clNone || color == clDefault) return RGB(255, 255, 255);
  return static_cast<COLORREF>(color & 0xFFFFFF);
}

HFONT FontHandle(const TFont& font) {
  using Key = std::tuple<std::string, int, int, int>;
  static std::map<Key, HFONT> cache;
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  Key key{font.Name(), font.Height(), font.Style(), font.Charset()};
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  LOGFONTA lf{};
  lf.lfHeight = font.Height();
  lf.lfWeight = (font.Style() & fsBold) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = (font.Style() & fsItalic) ? 1 : 0;
  lf.lfUnderline = (font.Style() & fsUnderline) ? 1 : 0;
  lf.lfStrikeOut = (font.Style() & fsStrikeOut) ? 1 : 0;
  lf.lfCharSet = static_cast<BYTE>(font.Charset());
  lf.lfQuality = DEFAULT_QUALITY;
  lstrcpynA(lf.lfFaceName, font.Name().c_str(), LF_FACESIZE);
  HFONT h = CreateFontIndirectA(&lf);
  cache[key] = h;
  return h;
}

TCanvas::~TCanvas() { SetHandle(nullptr); }

void TCanvas::SetHandle(HDC dc) {
  if (dc_) {
    if (oldFont_) SelectObject(dc_, oldFont_);
    if (oldPen_) SelectObject(dc_, oldPen_);
    oldFont_ = oldPen_ = nullptr;
  }
  if (penHandle_) DeleteObject(penHandle_), penHandle_ = nullptr;
  dc_ = dc;
}

void TCanvas::Realize() {
  HGDIOBJ prev = SelectObject(dc_, FontHandle(font_));
  if (!oldFont_) oldFont_ = prev;
  SetTextColor(dc_, ColorToRGB(font_.Color()));
  HPEN pen = CreatePen(PS_SOLID, pen_.width, ColorToRGB(pen_.color));
  prev = SelectObject(dc_, pen);
  if (!oldPen_) oldPen_ = prev;
  if (penHandle_) DeleteObject(penHandle_);
  penHandle_ = pen;
  if (brush_.style == TBrushStyle::bsClear) {
    SetBkMode(dc_, TRANSPARENT);
  } else {
    SetBkMode(dc_, OPAQUE);
    SetBkColor(dc_, ColorToRGB(brush_.color));
  }
}

void TCanvas::FillRect(const TRect& r) {
  if (brush_.style == TBrushStyle::bsClear) return;
  RECT rc{r.left, r.top, r.right, r.bottom};
  HBRUSH b = CreateSolidBrush(ColorToRGB(brush_.color));
  ::FillRect(dc_, &rc, b);
  DeleteObject(b);
}

void TCanvas::FrameRect(const TRect& r) {
  RECT rc{r.left, r.top, r.right, r.bottom};
  HBRUSH b = CreateSolidBrush(ColorToRGB(brush_.color));
  ::FrameRect(dc_, &rc, b);
  DeleteObject(b);
}

void TCanvas::Rectangle(const TRect& r) {
  Realize();
  HGDIOBJ old = SelectObject(dc_, brush_.style == TBrushStyle::bsClear ? GetStockObject(NULL_BRUSH)
                                                                       : GetStockObject(DC_BRUSH));
  SetDCBrushColor(dc_, ColorToRGB(brush_.color));
  ::Rectangle(dc_, r.left, r.top, r.right, r.bottom);
  SelectObject(dc_, old);
}

void TCanvas::MoveTo(int x, int y) { MoveToEx(dc_, x, y, nullptr); }

void TCanvas::LineTo(int x, int y) {
  Realize();
  ::LineTo(dc_, x, y);
}

void TCanvas::Polyline(const TPoint* points, int count) {
  Realize();
  std::vector<POINT> pts(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) pts[static_cast<size_t>(i)] = POINT{points[i].x, points[i].y};
  ::Polyline(dc_, pts.data(), count);
}

void TCanvas::DrawFocusRect(const TRect& r) {
  RECT rc{r.left, r.top, r.right, r.bottom};
  SetTextColor(dc_, RGB(0, 0, 0));
  SetBkColor(dc_, RGB(255, 255, 255));
  ::DrawFocusRect(dc_, &rc);
}

void TCanvas::TextOut(int x, int y, std::string_view text) {
  Realize();
  ExtTextOutA(dc_, x, y, 0, nullptr, text.data(), static_cast<UINT>(text.size()), nullptr);
}

void TCanvas::TextRect(const TRect& r, int x, int y, std::string_view text) {
  Realize();
  RECT rc{r.left, r.top, r.right, r.bottom};
  UINT opts = ETO_CLIPPED | (brush_.style == TBrushStyle::bsClear ? 0 : ETO_OPAQUE);
  ExtTextOutA(dc_, x, y, opts, &rc, text.data(), static_cast<UINT>(text.size()), nullptr);
}

int TCanvas::DrawText(std::string_view text, TRect& r, UINT flags) {
  Realize();
  RECT rc{r.left, r.top, r.right, r.bottom};
  int h = ::DrawTextA(dc_, text.data(), static_cast<int>(text.size()), &rc, flags);
  r = TRect{rc.left, rc.top, rc.right, rc.bottom};
  return h;
}

TPoint TCanvas::TextExtent(std::string_view text) {
  Realize();
  SIZE sz{};
  GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &sz);
  return TPoint{sz.cx, sz.cy};
}

void TCanvas::Draw(int x, int y, HBITMAP bitmap, TColor key) {
  if (!bitmap) return;
  BITMAP bm{};
  GetObject(bitmap, sizeof bm, &bm);
  HDC mem = CreateCompatibleDC(dc_);
  HGDIOBJ old = SelectObject(mem, bitmap);
  if (key == clNone) {
    BitBlt(dc_, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
  } else {
    TransparentBlt(dc_, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, bm.bmWidth, bm.bmHeight, ColorToRGB(key));
  }
  SelectObject(mem, old);
  DeleteDC(mem);
}

void TCanvas::DrawEdge(TRect r, UINT edge, UINT flags) {
  RECT rc{r.left, r.top, r.right, r.bottom};
  ::DrawEdge(dc_, &rc, edge, flags);
}

}  // namespace fw
