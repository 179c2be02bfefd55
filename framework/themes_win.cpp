#include "framework/themes.h"

namespace fw {

TThemeServices::TThemeServices(const char* library) {
  library_ = LoadLibraryA(library);
  if (!library_) return;
  auto proc = [this](const char* name) { return reinterpret_cast<void*>(GetProcAddress(library_, name)); };
  isAppThemed_ = reinterpret_cast<BoolProc>(proc("IsAppThemed"));
  isThemeActive_ = reinterpret_cast<BoolProc>(proc("IsThemeActive"));
  openThemeData_ = reinterpret_cast<OpenProc>(proc("OpenThemeData"));
  closeThemeData_ = reinterpret_cast<CloseProc>(proc("CloseThemeData"));
  drawBackground_ = reinterpret_cast<DrawProc>(proc("DrawThemeBackground"));
}

TThemeServices::~TThemeServices() {
  if (header_ && closeThemeData_) closeThemeData_(header_);
  if (library_) FreeLibrary(library_);
}

TThemeServices& TThemeServices::Instance() {
  static TThemeServices services;
  return services;
}

bool TThemeServices::Active() const { return Available() && isAppThemed_() && isThemeActive_(); }

bool TThemeServices::DrawHeaderItem(HWND window, HDC dc, const TRect& rect, THeaderState state) {
  if (!Active()) return false;
  if (!header_) header_ = openThemeData_(window, L"HEADER");
  if (!header_) return false;
  constexpr int kHeaderItem = 1;  // HP_HEADERITEM; states HIS_NORMAL 1, HIS_HOT 2, HIS_PRESSED 3
  int partState = state == THeaderState::Pressed ? 3 : state == THeaderState::Hot ? 2 : 1;
  RECT r{rect.left, rect.top, rect.right, rect.bottom};
  return SUCCEEDED(drawBackground_(header_, dc, kHeaderItem, partState, &r, nullptr));
}

}  // namespace fw
