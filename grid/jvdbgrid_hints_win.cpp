// The data grid's hints: a column's field name over its title and a cell's full text over a cell.
#include "grid/jvdbgrid.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

#include "framework/forms.h"
#include "framework/typinfo.h"
#include "grid/jvdbgrid_support.h"

namespace fw {

using namespace jvgrid;
using namespace gridsupport;

std::string TJvDBGrid::HintTextAt(int x, int y, int* timeOut) {
  GridCoord c = MouseCoord(x, y);
  TColumn* column = c.y >= 0 && c.y < TitleOffset() ? TitleColumn(c.x, c.y) : ShownColumn(c.x);
  if (!column || c.y < 0) return {};
  TField* field = column->Field();
  int time = 0;
  std::string hint;
  bool title = c.y < TitleOffset();
  if (title && ShowTitleHint) {
    hint = column->FieldName();
    time = std::max(250 * static_cast<int>(hint.size()), 0);
    if (OnShowTitleHint) OnShowTitleHint(this, field, hint, time);
  } else if (ShowCellHint && (!title || !ShowTitleHint)) {
    if (title) {
      hint = column->Title().Caption();
    } else {
      if (!DataLink().Active() || c.y - TitleOffset() >= DataLink().RecordCount()) return {};
      ActiveRecordGuard ar(DataLink());
      DataLink().SetActiveRecord(c.y - TitleOffset());
      if (!field || (field->IsBlob() && field->DataType() != ftMemo)) hint.clear();
      else if (IsLogicalLike(field)) hint.clear();
      else if (field->DataType() == ftMemo && !field->OnGetText) hint = field->AsString();
      else hint = field->DisplayText();
    }
    // Suppressed when the text fits the cell.
    TRect cell = CellRect(c.x, c.y);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, FontHandle(title ? column->Title().Font() : column->Font()));
    RECT r{0, 0, cell.Width() - 4, 0};
    UINT flags = DT_CALCRECT | DT_NOPREFIX | (wordWrap_ && field && IsStringType(field->DataType()) ? DT_WORDBREAK : DT_SINGLELINE);
    DrawTextA(dc, hint.c_str(), static_cast<int>(hint.size()), &r, flags);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    if (r.right <= cell.Width() - 4 && r.bottom <= cell.Height()) hint.clear();
    if (OnShowCellHint) OnShowCellHint(this, field, hint, time);
  }
  if (timeOut) *timeOut = time;
  return hint;
}

void TJvDBGrid::UpdateHint(int x, int y) {
  if (!ShowTitleHint && !ShowCellHint) return;
  GridCoord cell = MouseCoord(x, y);
  if (cell == hintCell_ && CellHintPosition == gchpDefault) return;
  hintCell_ = cell;
  int timeOut = 0;
  std::string text = HintTextAt(x, y, &timeOut);
  if (!hintWindow_) {
    hintWindow_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                  0, 0, 0, 0, Handle(), nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!hintWindow_) return;
    TOOLINFOA ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE;
    ti.hwnd = Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(Handle());
    ti.lpszText = const_cast<char*>("");
    SendMessageA(hintWindow_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    SendMessageA(hintWindow_, TTM_SETMAXTIPWIDTH, 0, 400);
  }
  TOOLINFOA ti{};
  ti.cbSize = sizeof ti;
  ti.hwnd = Handle();
  ti.uId = reinterpret_cast<UINT_PTR>(Handle());
  if (text.empty()) {
    SendMessageA(hintWindow_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
    hintText_.clear();
    return;
  }
  hintText_ = text;
  ti.lpszText = hintText_.data();
  SendMessageA(hintWindow_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
  // At the cell, or at the mouse.
  POINT p{x + 12, y + 16};
  if (CellHintPosition == gchpDefault) {
    TRect r = CellRect(cell.x, cell.y);
    p = {r.left, r.top};
  }
  ClientToScreen(Handle(), &p);
  SendMessageA(hintWindow_, TTM_TRACKPOSITION, 0, MAKELPARAM(p.x, p.y));
  SendMessageA(hintWindow_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
}

void TJvDBGrid::WndProc(TMessage& m) {
  if (m.msg == WM_MOUSEMOVE) UpdateHint(static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam)));
  if ((m.msg == WM_MOUSELEAVE || m.msg == WM_LBUTTONDOWN || m.msg == WM_KEYDOWN) && hintWindow_ && !hintText_.empty()) {
    TOOLINFOA ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(Handle());
    SendMessageA(hintWindow_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
    hintText_.clear();
    hintCell_ = GridCoord{};
  }
  TJvExDBGrid::WndProc(m);
  if (m.msg == WM_NCPAINT) FillScrollBarCorner();
}

}  // namespace fw
