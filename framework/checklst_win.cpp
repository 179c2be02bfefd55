#include "framework/checklst.h"

#include <algorithm>

#include "framework/exceptions.h"
#include "framework/typinfo.h"

namespace fw {

TCheckListBox::TCheckListBox(TComponent* owner) : TWinControl(owner) {
  width_ = 121;
  height_ = 97;
  tabStop_ = true;
  color_ = clWindow;
  parentColor_ = false;
}

void TCheckListBox::CreateParamsFor(CreateParams& p) {
  TWinControl::CreateParamsFor(p);
  p.windowClass = "LISTBOX";
  p.style |= LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP;
  p.style &= ~WS_CLIPCHILDREN;
  p.exStyle |= WS_EX_CLIENTEDGE;
}

void TCheckListBox::AfterCreateHandle() {
  SendMessageA(Handle(), LB_SETITEMHEIGHT, 0, itemHeight_);
  for (const auto& i : items_) SendMessageA(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(i.text.c_str()));
}

void TCheckListBox::Clear() {
  items_.clear();
  if (HandleAllocated()) SendMessageA(Handle(), LB_RESETCONTENT, 0, 0);
}

int TCheckListBox::Add(const std::string& text, int data) {
  items_.push_back({text, false, data});
  if (HandleAllocated()) SendMessageA(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  return Count() - 1;
}

void TCheckListBox::SetChecked(int i, bool checked) {
  if (i < 0 || i >= Count()) return;
  items_[static_cast<size_t>(i)].checked = checked;
  if (HandleAllocated()) {
    RECT r;
    if (SendMessageA(Handle(), LB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r)) != LB_ERR)
      ::InvalidateRect(Handle(), &r, TRUE);
  }
}

int TCheckListBox::ItemIndex() {
  if (!HandleAllocated()) return -1;
  LRESULT r = SendMessageA(Handle(), LB_GETCURSEL, 0, 0);
  return r == LB_ERR ? -1 : static_cast<int>(r);
}

void TCheckListBox::SetItemIndex(int i) { SendMessageA(Handle(), LB_SETCURSEL, static_cast<WPARAM>(i), 0); }

int TCheckListBox::ListClientHeight() {
  if (!HandleAllocated()) return height_ - 4;
  RECT r;
  GetClientRect(Handle(), &r);
  return r.bottom;
}

void TCheckListBox::ToggleChecked(int i) {
  if (i < 0 || i >= Count()) return;
  SetChecked(i, !Checked(i));
  if (OnClickCheck) OnClickCheck(this);
}

void TCheckListBox::DrawItem(const DRAWITEMSTRUCT& d) {
  if (d.itemID == static_cast<UINT>(-1) || static_cast<int>(d.itemID) >= Count()) return;
  const Item& item = items_[d.itemID];
  HDC dc = d.hDC;
  RECT r = d.rcItem;
  bool selected = d.itemState & ODS_SELECTED;
  HBRUSH back = CreateSolidBrush(ColorToRGB(clWindow));
  FillRect(dc, &r, back);
  DeleteObject(back);
  // The box.
  int box = std::min<int>(itemHeight_, r.bottom - r.top) - 2;
  RECT b{r.left + 1, r.top + 1, r.left + 1 + box, r.top + 1 + box};
  DrawFrameControl(dc, &b, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_FLAT | (item.checked ? DFCS_CHECKED : 0));
  RECT t{b.right + 2, r.top, r.right, r.bottom};
  HGDIOBJ oldFont = SelectObject(dc, FontHandle(Font()));
  SIZE sz{};
  GetTextExtentPoint32A(dc, item.text.c_str(), static_cast<int>(item.text.size()), &sz);
  RECT hl{t.left, t.top, std::min<LONG>(t.right, t.left + sz.cx + 4), t.bottom};
  if (selected) {
    HBRUSH hb = CreateSolidBrush(ColorToRGB(clHighlight));
    FillRect(dc, &hl, hb);
    DeleteObject(hb);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ColorToRGB(selected ? clHighlightText : clWindowText));
  RECT tt{t.left + 2, t.top, t.right, t.bottom};
  DrawTextA(dc, item.text.c_str(), static_cast<int>(item.text.size()), &tt, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  if (d.itemState & ODS_FOCUS) DrawFocusRect(dc, &hl);
}

void TCheckListBox::WndProc(TMessage& m) {
  switch (m.msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      TWinControl::WndProc(m);
      int x = static_cast<short>(LOWORD(m.lParam)), y = static_cast<short>(HIWORD(m.lParam));
      LRESULT hit = SendMessageA(Handle(), LB_ITEMFROMPOINT, 0, MAKELPARAM(x, y));
      int index = LOWORD(hit);
      if (HIWORD(hit) == 0 && (x < itemHeight_ || m.msg == WM_LBUTTONDBLCLK)) ToggleChecked(index);
      return;
    }
    case WM_CHAR:
      if (m.wParam == ' ') {
        ToggleChecked(ItemIndex());
        m.result = 0;
        return;
      }
      break;
    default:
      break;
  }
  TWinControl::WndProc(m);
}

bool TCheckListBox::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "ItemHeight") itemHeight_ = std::max(1, static_cast<int>(IntegerValue(v)));
  else if (name == "Align" || name == "TabOrder" || name == "Style") return name == "TabOrder" ? TWinControl::ReadProperty(name, v, reader) : true;
  else if (name == "OnClickCheck") {
    OnClickCheck = EventMethod(v, reader);
  } else return TWinControl::ReadProperty(name, v, reader);
  return true;
}

}  // namespace fw
