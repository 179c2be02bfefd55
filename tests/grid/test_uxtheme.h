// The colours in which the test visual-styles library (test_uxtheme.dll) draws header items.
#pragma once
#include <windows.h>

namespace testuxtheme {
constexpr COLORREF kNormal = RGB(0x20, 0xA0, 0x40);
constexpr COLORREF kHot = RGB(0x20, 0x40, 0xC0);
constexpr COLORREF kPressed = RGB(0xC0, 0x40, 0x20);
}  // namespace testuxtheme
