// Colours, fonts, brushes and pens: the portable description of what controls draw with. The Windows drawing
// surface that uses them is TCanvas (canvas.h).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "framework/component.h"

namespace fw {

// A colour: 0x00BBGGRR, or a system colour (0x80000000 | system colour index), or one of the specials.
using TColor = int32_t;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF;
constexpr TColor SystemColor(int index) { return static_cast<TColor>(0x80000000u | static_cast<uint32_t>(index)); }
constexpr TColor clScrollBar = SystemColor(0), clBackground = SystemColor(1), clActiveCaption = SystemColor(2),
                 clWindow = SystemColor(5), clWindowFrame = SystemColor(6), clWindowText = SystemColor(8),
                 clHighlight = SystemColor(13), clHighlightText = SystemColor(14), clBtnFace = SystemColor(15),
                 clBtnShadow = SystemColor(16), clGrayText = SystemColor(17), clBtnText = SystemColor(18),
                 clBtnHighlight = SystemColor(20), cl3DDkShadow = SystemColor(21), cl3DLight = SystemColor(22),
                 clInfoText = SystemColor(23), clInfoBk = SystemColor(24);

// "clBtnFace" -> colour; false when the name is unknown.
bool IdentToColor(std::string_view ident, TColor& color);
// A stored colour: an identifier or a number. Throws EReadError otherwise.
TColor ColorValue(const Value& value);

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// Pixels per inch of the screen (96 unless the system says otherwise); set once by the application.
int ScreenPixelsPerInch();
void SetScreenPixelsPerInch(int ppi);

class TFont : public TPersistent {
 public:
  TFont();
  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  // Height in pixels; negative means character height (the usual case), positive cell height.
  int Height() const { return height_; }
  void SetHeight(int height);
  // Size in points, derived from Height with PixelsPerInch.
  int Size() const;
  void SetSize(int points);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  int Charset() const { return charset_; }
  void SetCharset(int charset);
  uint8_t Style() const { return style_; }
  void SetStyle(uint8_t style);
  int PixelsPerInch() const { return ppi_; }
  void SetPixelsPerInch(int ppi) { ppi_ = ppi; }
  void Assign(const TFont& other);
  bool SameAs(const TFont& other) const;

  std::function<void()> OnChange;
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 private:
  void Changed();
  std::string name_ = "MS Sans Serif";
  int height_ = -11;
  TColor color_ = clWindowText;
  int charset_ = 1;  // default character set
  uint8_t style_ = 0;
  int ppi_ = 96;
};

enum class TBrushStyle { bsSolid, bsClear };
struct TBrush {
  TColor color = clWhite;
  TBrushStyle style = TBrushStyle::bsSolid;
};
struct TPen {
  TColor color = clBlack;
  int width = 1;
};

struct TPoint {
  int x = 0, y = 0;
  bool operator==(const TPoint&) const = default;
};
struct TRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(TPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  bool operator==(const TRect&) const = default;
};
inline TRect Rect(int l, int t, int r, int b) { return TRect{l, t, r, b}; }
TRect IntersectRect(const TRect& a, const TRect& b);

// Scales a value stored at `from` pixels per inch to `to` (rounded like the system's MulDiv).
int ScaleValue(int value, int to, int from);

}  // namespace fw
