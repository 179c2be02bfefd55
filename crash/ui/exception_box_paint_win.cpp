// Painting of the exception box: owner-drawn buttons through the shared surface, the focus animation, the
// big picture and the footer with the credit label.
#include <algorithm>
#include <cstring>
#include <vector>

#include "crash/ui/exception_box_window_win.h"

namespace rvx::box_window {

PictureBytes FindPicture(HMODULE module, int kind) {
  static const char* const kNames[] = {"RVISEND",  "RVISAVE",    "RVIPRINT",        "RVISHOW", "RVICONTINUE",
                                       "RVIRESTART", "RVICLOSE", "RVICANTCONTINUE", "RVIBIG"};
  if (kind < 0 || kind > kBoxBig) return {};
  for (HMODULE m : {module, GetModuleHandleA(nullptr)}) {
    HRSRC info = FindResourceA(m, kNames[kind], reinterpret_cast<LPCSTR>(RT_BITMAP));
    if (!info) continue;
    DWORD size = SizeofResource(m, info);
    HGLOBAL loaded = LoadResource(m, info);
    const auto* data = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (data && PictureSide(size) == (kind == kBoxBig ? 32 : 16)) return {data, size};
    return {};
  }
  return {};
}

// ---- painting -----------------------------------------------------------------------------------------

void TExceptionBox::PaintButton(HWND button, COLORREF text, COLORREF background, int step, bool focus, bool pressed,
                                int bar) {
  if (!button || !scratch_ || !scratchBits_) return;
  RECT rc{};
  GetClientRect(button, &rc);
  rc.right = std::min<LONG>(rc.right, scratchWidth_);
  rc.bottom = std::min<LONG>(rc.bottom, layout_.buttonHeight);
  const bool enabled = IsWindowEnabled(button);
  const int w = rc.right, h = rc.bottom;
  if (HighColour() && step) background = ColourStep(background, enabled ? step : step / 2);
  COLORREF barColour;
  int inset;
  if (ugly_) {
    DrawFrameControl(scratch_, &rc, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
    barColour = DarkShadow();
    inset = 2;
  } else {
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(scratch_, &rc, brush);
    DeleteObject(brush);
    barColour = Face();
    inset = 0;
  }
  if (button == countdownButton_ && countdownStart_) {
    if (bar >= 0) countdownBar_ = bar;
    const int x = countdownBar_;
    auto line = [&](int at, COLORREF colour) {
      HPEN pen = CreatePen(PS_SOLID, 1, colour);
      HGDIOBJ old = SelectObject(scratch_, pen);
      MoveToEx(scratch_, at, 2 * inset, nullptr);
      LineTo(scratch_, at, h - 2 * inset);
      SelectObject(scratch_, old);
      DeleteObject(pen);
    };
    if (HighColour()) {
      for (int i = 3; i >= 1; --i) {
        line(x - i, BarShade(barColour, background, i));
        line(x + i, BarShade(barColour, background, i));
      }
    }
    line(x, barColour);
  }
  if (ugly_ && focus) {
    RECT f{3, 3, w - 3, h - 3};
    DrawFocusRect(scratch_, &f);
  }
  GdiFlush();
  PictureBytes picture = FindPicture(module_, PictureOf(button));
  PixelSurface surface{scratchBits_, scratchWidth_, layout_.buttonHeight};
  if (picture.data) BlendPictureOnto(picture.data, picture.size, surface, inset + 3, inset + 3);
  char caption[kMaxCaption + 1] = {};
  int length = GetWindowTextA(button, caption, sizeof caption);
  SIZE size{};
  GetTextExtentPoint32A(scratch_, caption, length, &size);
  const int x = (w - static_cast<int>(size.cx) - 35) / 2 + 27, y = inset + 4;
  SetBkMode(scratch_, TRANSPARENT);
  if (!enabled) {
    SetTextColor(scratch_, RGB(255, 255, 255));
    TextOutA(scratch_, x + 1, y + 1, caption, length);
    SetTextColor(scratch_, DarkShadow());
  } else {
    SetTextColor(scratch_, text);
  }
  TextOutA(scratch_, x, y, caption, length);
  GdiFlush();
  if (HDC dc = GetDC(button)) {
    BitBlt(dc, 0, 0, w, h, scratch_, 0, 0, SRCCOPY);
    ReleaseDC(button, dc);
  }
}

void TExceptionBox::Animate(HWND button, COLORREF textA, COLORREF backA, int stepA, COLORREF textC, COLORREF backD,
                            int stepD) {
  auto frames = FocusFrames(textA, backA, stepA, textC, backD, stepD, HighColour());
  bool first = true;
  for (const FrameColours& f : frames) {
    if (!first) Sleep(10);
    first = false;
    PaintButton(button, f.text, f.background, 0, false, false);
  }
  lastAnimation_ = GetTickCount();
}

void TExceptionBox::DrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlType == ODT_STATIC) {
    PaintBigPicture(item);
    return;
  }
  HWND b = item.hwndItem;
  const bool focus = item.itemState & ODS_FOCUS;
  if (item.itemAction == ODA_FOCUS && focus) {
    // The first move of the focus to another button ends the countdown.
    if (KindOf(b) != focusedKind_) StopCountdown();
    focusedKind_ = KindOf(b);
    lastFocus_ = b;
  }
  if (ugly_) {
    PaintButton(b, RGB(0, 0, 0), Face(), 0x10, focus, item.itemState & ODS_SELECTED);
    return;
  }
  if (item.itemAction == ODA_FOCUS) {
    if (focus)
      Animate(b, RGB(0, 0, 0), Face(), 0x10, RGB(255, 255, 255), DarkShadow(), 0);
    else
      Animate(b, RGB(255, 255, 255), DarkShadow(), 0, RGB(0, 0, 0), Face(), 0x10);
    return;
  }
  if (focus || (b == countdownButton_ && countdownStart_))
    PaintFocused(b);
  else
    PaintNormal(b);
}

void TExceptionBox::PaintBigPicture(const DRAWITEMSTRUCT& item) {
  PictureBytes picture = FindPicture(module_, kBoxBig);
  if (!picture.data) return;
  std::vector<uint8_t> pixels(32 * 32 * 4);
  const COLORREF face = Face();
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = GetBValue(face), pixels[i + 1] = GetGValue(face), pixels[i + 2] = GetRValue(face);
  }
  PixelSurface surface{pixels.data(), 32, 32};
  BlendPictureOnto(picture.data, picture.size, surface, 0, 0);
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = 32;
  bmi.bmiHeader.biHeight = -32;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(item.hDC, 0, 0, 32, 32, 0, 0, 0, 32, pixels.data(), &bmi, DIB_RGB_COLORS);
}

void TExceptionBox::PaintFooter(HDC dc) {
  const int F = layout_.footerY;
  const int count = clientWidth_ - 6;
  const COLORREF face = Face(), shadow = DarkShadow();
  for (int i = 0; i < count; ++i) SetPixelV(dc, i, F + 5, GradientColour(face, shadow, i, count));
  const std::string credit = CreditText();
  HGDIOBJ old = SelectObject(dc, smallFont_ ? smallFont_ : normalFont_);
  SIZE size{};
  GetTextExtentPoint32A(dc, credit.c_str(), static_cast<int>(credit.size()), &size);
  creditWidth_ = size.cx;
  creditX_ = clientWidth_ - creditWidth_ - 15;
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, face);
  SetTextColor(dc, overCredit_ ? RGB(0x80, 0x00, 0x90) : shadow);
  TextOutA(dc, creditX_, F, credit.c_str(), static_cast<int>(credit.size()));
  SelectObject(dc, old);
}

}  // namespace rvx::box_window
