// Drawing on a Windows device context with the framework's fonts, brushes and pens.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "framework/graphics.h"

namespace fw {

COLORREF ColorToRGB(TColor color);
// A font handle for the font's current attributes, cached for the life of the process.
HFONT FontHandle(const TFont& font);

class TCanvas {
 public:
  TCanvas() = default;
  explicit TCanvas(HDC dc) : dc_(dc) {}
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;
  ~TCanvas();

  HDC Handle() const { return dc_; }
  void SetHandle(HDC dc);

  TFont& Font() { return font_; }
  TBrush& Brush() { return brush_; }
  TPen& Pen() { return pen_; }

  void FillRect(const TRect& r);                       // with the brush
  void FrameRect(const TRect& r);                      // with the brush colour
  void Rectangle(const TRect& r);                      // pen outline, brush inside
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void Polyline(const TPoint* points, int count);
  void DrawFocusRect(const TRect& r);
  void TextOut(int x, int y, std::string_view text);   // brush colour behind unless the brush is clear
  void TextRect(const TRect& r, int x, int y, std::string_view text);  // clipped to r, r filled first
  int DrawText(std::string_view text, TRect& r, UINT flags);
  TPoint TextExtent(std::string_view text);
  int TextWidth(std::string_view text) { return TextExtent(text).x; }
  int TextHeight(std::string_view text) { return TextExtent(text).y; }
  // Draws a bitmap; with a key colour the pixels of that colour stay transparent.
  void Draw(int x, int y, HBITMAP bitmap, TColor transparentKey = clNone);
  void DrawEdge(TRect r, UINT edge, UINT flags);

 private:
  void Realize();
  HDC dc_ = nullptr;
  TFont font_;
  TBrush brush_;
  TPen pen_;
  HGDIOBJ oldFont_ = nullptr, oldPen_ = nullptr;
  HPEN penHandle_ = nullptr;
};

}  // namespace fw
