#include "grid/jvdbgrid_support.h"

#include <string>

namespace fw::gridsupport {

void DrawGlyph(HDC dc, HBITMAP bmp, int x, int y, COLORREF key) {
  BITMAP info{};
  GetObject(bmp, sizeof info, &info);
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, bmp);
  TransparentBlt(dc, x, y, info.bmWidth, info.bmHeight, mem, 0, 0, info.bmWidth, info.bmHeight, key);
  SelectObject(mem, old);
  DeleteDC(mem);
}

TField* LookupKeyField(TField* lookup) {
  TDataSet* ds = lookup ? lookup->DataSet() : nullptr;
  if (!ds || lookup->KeyFields().empty()) return nullptr;
  std::string first = lookup->KeyFields().substr(0, lookup->KeyFields().find(';'));
  return ds->FindField(first);
}

}  // namespace fw::gridsupport
