// A visual-styles library for tests: styles are always active, and a header item is drawn as a solid block
// whose colour tells its state, so that a test can see which state a title was drawn in.
#include <windows.h>

#include "grid/test_uxtheme.h"

extern "C" {

__declspec(dllexport) BOOL WINAPI IsAppThemed() { return TRUE; }
__declspec(dllexport) BOOL WINAPI IsThemeActive() { return TRUE; }

__declspec(dllexport) HANDLE WINAPI OpenThemeData(HWND, LPCWSTR classes) {
  static int header;
  return classes && lstrcmpiW(classes, L"HEADER") == 0 ? &header : nullptr;
}

__declspec(dllexport) HRESULT WINAPI CloseThemeData(HANDLE) { return S_OK; }

__declspec(dllexport) HRESULT WINAPI DrawThemeBackground(HANDLE theme, HDC dc, int part, int state, const RECT* rect,
                                                         const RECT*) {
  if (!theme || !rect || part != 1 || state < 1 || state > 3) return E_INVALIDARG;
  static const COLORREF colours[] = {testuxtheme::kNormal, testuxtheme::kHot, testuxtheme::kPressed};
  HBRUSH b = CreateSolidBrush(colours[state - 1]);
  FillRect(dc, rect, b);
  DeleteObject(b);
  return S_OK;
}

}  // extern "C"
