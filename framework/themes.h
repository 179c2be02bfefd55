// The platform's visual styles, reached through uxtheme.dll loaded at run time: programs still run where the
// library or its entry points are missing, and then simply draw the classic way.
#pragma once
#include <windows.h>

#include "framework/graphics.h"

namespace fw {

enum class THeaderState { Normal, Hot, Pressed };

class TThemeServices {
 public:
  // Loads the library (not found: no styles).
  explicit TThemeServices(const char* library = "uxtheme.dll");
  ~TThemeServices();
  TThemeServices(const TThemeServices&) = delete;
  TThemeServices& operator=(const TThemeServices&) = delete;

  // The services of the process.
  static TThemeServices& Instance();

  // The library and the entry points needed for drawing were found.
  bool Available() const { return isAppThemed_ && isThemeActive_ && openThemeData_ && drawBackground_; }
  // Visual styles are in use for this process now.
  bool Active() const;
  // Draws a header item of a header control's theme into `rect`; false (nothing drawn) when styles are not
  // active or the theme has no such part.
  bool DrawHeaderItem(HWND window, HDC dc, const TRect& rect, THeaderState state);

 private:
  HMODULE library_ = nullptr;
  using BoolProc = BOOL(WINAPI*)();
  using OpenProc = HANDLE(WINAPI*)(HWND, LPCWSTR);
  using CloseProc = HRESULT(WINAPI*)(HANDLE);
  using DrawProc = HRESULT(WINAPI*)(HANDLE, HDC, int, int, const RECT*, const RECT*);
  BoolProc isAppThemed_ = nullptr;
  BoolProc isThemeActive_ = nullptr;
  OpenProc openThemeData_ = nullptr;
  CloseProc closeThemeData_ = nullptr;
  DrawProc drawBackground_ = nullptr;
  HANDLE header_ = nullptr;  // the header theme, opened on first use and kept
};

}  // namespace fw
