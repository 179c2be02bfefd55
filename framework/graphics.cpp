#include "framework/graphics.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "framework/exceptions.h"

namespace fw {
namespace {
int g_screenPpi = 96;

struct NamedColor {
  const char* name;
  TColor color;
};
constexpr NamedColor kColors[] = {
    {"clBlack", clBlack},       {"clMaroon", clMaroon},       {"clGreen", clGreen},
    {"clOlive", clOlive},       {"clNavy", clNavy},           {"clPurple", clPurple},
    {"clTeal", clTeal},         {"clGray", clGray},           {"clSilver", clSilver},
    {"clRed", clRed},           {"clLime", clLime},           {"clYellow", clYellow},
    {"clBlue", clBlue},         {"clFuchsia", clFuchsia},     {"clAqua", clAqua},
    {"clWhite", clWhite},       {"clNone", clNone},           {"clDefault", clDefault},
    {"clScrollBar", clScrollBar}, {"clBackground", clBackground}, {"clActiveCaption", clActiveCaption},
    {"clWindow", clWindow},     {"clWindowFrame", clWindowFrame}, {"clWindowText", clWindowText},
    {"clHighlight", clHighlight}, {"clHighlightText", clHighlightText}, {"clBtnFace", clBtnFace},
    {"clBtnShadow", clBtnShadow}, {"clGrayText", clGrayText}, {"clBtnText", clBtnText},
    {"clBtnHighlight", clBtnHighlight}, {"cl3DDkShadow", cl3DDkShadow}, {"cl3DLight", cl3DLight},
    {"clInfoText", clInfoText}, {"clInfoBk", clInfoBk},
};

}  // namespace

bool IdentToColor(std::string_view ident, TColor& color) {
  for (const auto& c : kColors)
    if (SameText(c.name, ident)) return color = c.color, true;
  return false;
}

TColor ColorValue(const Value& v) {
  TColor c;
  if (v.type == ValueType::Ident) {
    if (!IdentToColor(v.text, c)) throw EReadError("Invalid property value");
    return c;
  }
  return static_cast<TColor>(IntegerValue(v));
}

int ScreenPixelsPerInch() { return g_screenPpi; }
void SetScreenPixelsPerInch(int ppi) { g_screenPpi = ppi > 0 ? ppi : 96; }

int ScaleValue(int value, int to, int from) {
  if (from == 0) return value;
  long long p = static_cast<long long>(value) * to;
  long long q = from;
  // Round half away from zero, like MulDiv.
  long long r = (p >= 0 ? p + q / 2 : p - q / 2) / q;
  return static_cast<int>(r);
}

TRect IntersectRect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
  if (r.IsEmpty()) r = TRect{};
  return r;
}

TFont::TFont() : ppi_(ScreenPixelsPerInch()) {}

void TFont::Changed() {
  if (OnChange) OnChange();
}
void TFont::SetName(std::string name) {
  if (name != name_) name_ = std::move(name), Changed();
}
void TFont::SetHeight(int height) {
  if (height != height_) height_ = height, Changed();
}
int TFont::Size() const { return -ScaleValue(height_, 72, ppi_); }
void TFont::SetSize(int points) { SetHeight(-ScaleValue(points, ppi_, 72)); }
void TFont::SetColor(TColor color) {
  if (color != color_) color_ = color, Changed();
}
void TFont::SetCharset(int charset) {
  if (charset != charset_) charset_ = charset, Changed();
}
void TFont::SetStyle(uint8_t style) {
  if (style != style_) style_ = style, Changed();
}

void TFont::Assign(const TFont& o) {
  name_ = o.name_;
  height_ = o.height_;
  color_ = o.color_;
  charset_ = o.charset_;
  style_ = o.style_;
  ppi_ = o.ppi_;
  Changed();
}

bool TFont::SameAs(const TFont& o) const {
  return name_ == o.name_ && height_ == o.height_ && color_ == o.color_ && charset_ == o.charset_ &&
         style_ == o.style_;
}

bool TFont::ReadProperty(std::string_view name, const Value& v, TReader&) {
  if (name == "Name") {
    SetName(StringValue(v));
  } else if (name == "Height") {
    SetHeight(static_cast<int>(IntegerValue(v)));
  } else if (name == "Size") {
    SetSize(static_cast<int>(IntegerValue(v)));
  } else if (name == "Color") {
    SetColor(ColorValue(v));
  } else if (name == "Charset") {
    if (v.type == ValueType::Ident) {
      SetCharset(v.text == "ANSI_CHARSET" ? 0 : v.text == "DEFAULT_CHARSET" ? 1 : v.text == "SYMBOL_CHARSET" ? 2 : 1);
    } else {
      SetCharset(static_cast<int>(IntegerValue(v)));
    }
  } else if (name == "Style") {
    if (v.type != ValueType::Set) throw EReadError("Invalid property value");
    uint8_t s = 0;
    for (const auto& e : v.set) {
      if (e == "fsBold") s |= fsBold;
      else if (e == "fsItalic") s |= fsItalic;
      else if (e == "fsUnderline") s |= fsUnderline;
      else if (e == "fsStrikeOut") s |= fsStrikeOut;
      else throw EReadError("Invalid property value");
    }
    SetStyle(s);
  } else {
    return false;
  }
  return true;
}

}  // namespace fw
