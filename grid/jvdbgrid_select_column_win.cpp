#include "grid/jvdbgrid_select_column.h"

#include <algorithm>

#include "framework/exceptions.h"

namespace fw {

using namespace jvgrid;

// ---------------------------------------------------------------------------------------------------------
// TCheckListBox

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

// ---------------------------------------------------------------------------------------------------------
// TPanel and TCheckBox

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) {
  width_ = 185;
  height_ = 41;
}

void TPanel::Paint() {
  Canvas().Brush().color = Color();
  Canvas().FillRect(ClientRect());
}

bool TPanel::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "Align") {
    if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
    alignBottom_ = v.text == "alBottom";
  } else if (name == "BevelOuter" || name == "BevelInner" || name == "BorderStyle") {
    return true;
  } else {
    return TCustomControl::ReadProperty(name, v, reader);
  }
  return true;
}

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner) {
  width_ = 97;
  height_ = 17;
  tabStop_ = true;
}

void TCheckBox::CreateParamsFor(CreateParams& p) {
  TWinControl::CreateParamsFor(p);
  p.windowClass = "BUTTON";
  p.style |= BS_AUTOCHECKBOX | WS_TABSTOP;
  p.style &= ~WS_CLIPCHILDREN;
}

bool TCheckBox::Checked() const {
  if (!handle_) return checked_;
  return SendMessageA(handle_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool c) {
  checked_ = c;
  if (handle_) SendMessageA(handle_, BM_SETCHECK, c ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::WndProc(TMessage& m) {
  if (m.msg == CN_COMMAND) {
    if (HIWORD(m.wParam) == BN_CLICKED) {
      checked_ = Checked();
      Click();
    }
    return;
  }
  TWinControl::WndProc(m);
}

bool TCheckBox::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "Checked") SetChecked(BoolValue(v));
  else if (name == "Anchors" || name == "State") return true;
  else return TWinControl::ReadProperty(name, v, reader);
  return true;
}

namespace {
// The chooser's controls are registered only when no other unit has claimed their class names.
template <class T>
void RegisterIfMissing(const char* name) {
  if (TComponent* probe = CreateComponentByClass(name, nullptr)) {
    delete probe;
    return;
  }
  RegisterComponentClass(name, [](TComponent* owner) -> TComponent* { return new T(owner); });
}
}  // namespace

// ---------------------------------------------------------------------------------------------------------
// TfrmSelectColumn

TfrmSelectColumn::TfrmSelectColumn(TComponent* owner) : TForm(owner) {
  RegisterIfMissing<TCheckListBox>("TCheckListBox");
  RegisterIfMissing<TPanel>("TPanel");
  RegisterIfMissing<TCheckBox>("TCheckBox");
  methods_["FormCreate"] = [this](TComponent* s) { FormCreate(s); };
  methods_["FormActivate"] = [this](TComponent* s) { FormActivate(s); };
  methods_["FormClose"] = [this](TComponent* s) { FormClose(s); };
  methods_["FormDestroy"] = [this](TComponent* s) { FormDestroy(s); };
  methods_["cbClick"] = [this](TComponent* s) { cbClick(s); };
  methods_["clbListClickCheck"] = [this](TComponent* s) { clbListClickCheck(s); };
  methods_["FormKeyPress"] = [](TComponent*) {};
  LoadFromResource("TFRMSELECTCOLUMN");
  if (ButtonOK) ButtonOK->OnClick = [this](TComponent*) { modalResult_ = mrOk; };
}

TfrmSelectColumn::~TfrmSelectColumn() {
  FormDestroy(this);
  DestroyHandle();
}

const TfrmSelectColumn::Method* TfrmSelectColumn::FindMethod(std::string_view name) const {
  auto it = methods_.find(name);
  return it == methods_.end() ? nullptr : &it->second;
}

void TfrmSelectColumn::BindField(std::string_view name, TComponent* c) {
  if (name == "clbList") clbList = dynamic_cast<TCheckListBox*>(c);
  else if (name == "Panel1") Panel1 = dynamic_cast<TPanel*>(c);
  else if (name == "cbWithFieldName") cbWithFieldName = dynamic_cast<TCheckBox*>(c);
  else if (name == "ButtonOK") ButtonOK = dynamic_cast<TButton*>(c);
}

bool TfrmSelectColumn::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "BorderWidth" || name == "BorderIcons" || name == "KeyPreview" || name == "Constraints.MinWidth" ||
      name == "Constraints.MinHeight" || name == "OnActivate" || name == "OnDestroy" || name == "OnKeyPress" ||
      name == "OnCreate" || name == "OnClose") {
    // The chooser wires its own handlers and keeps its fixed window style.
    return true;
  }
  return TForm::ReadProperty(name, v, reader);
}

void TfrmSelectColumn::CreateParamsFor(CreateParams& p) {
  TForm::CreateParamsFor(p);
  p.style = WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_CLIPCHILDREN;
  p.exStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
  RECT r{0, 0, 189 + 4, 217 + 4};  // client area plus the border width on each side
  AdjustWindowRectEx(&r, p.style, FALSE, p.exStyle);
  if (p.width <= 0) p.width = r.right - r.left;
  if (p.height <= 0) p.height = r.bottom - r.top;
  if (Application && Application->MainForm() && Application->MainForm()->HandleAllocated())
    p.parent = Application->MainForm()->Handle();
}

void TfrmSelectColumn::SetPosition(int left, int top) {
  SetBounds(left, top, Width(), Height());
}

void TfrmSelectColumn::ArrangeControls() {
  if (!HandleAllocated()) return;
  RECT cr;
  GetClientRect(Handle(), &cr);
  const int border = 2;
  int w = cr.right - 2 * border, h = cr.bottom - 2 * border;
  if (Panel1) Panel1->SetBounds(border, border + h - 50, w, 50);
  if (clbList) clbList->SetBounds(border, border, w, std::max(0, h - 50));
  if (cbWithFieldName) cbWithFieldName->SetBounds(18, -2, std::max(0, w - 24), 25);
  if (ButtonOK) ButtonOK->SetBounds((w - 75) / 2, 19, 75, 25);
}

void TfrmSelectColumn::Resize() {
  TForm::Resize();
  ArrangeControls();
}

void TfrmSelectColumn::FormCreate(TComponent*) {
  apply_ = true;
  valid_ = true;
  NoSelectionWarning = "At least one column must be visible!";
}

void TfrmSelectColumn::FormActivate(TComponent*) { FillList(); }

void TfrmSelectColumn::FillList() {
  if (!Grid || !clbList) return;
  clbList->Clear();
  cbWithFieldName->SetVisible(false);
  TDBGridColumns& columns = Grid->Columns();
  TDataSet* ds = Grid->DataLink().DataSet();
  auto add = [&](TColumn* column, int index, bool checked) {
    std::string text = column->Title().Caption();
    if (!SameTextIgnoringCase(text, column->FieldName()) && !cbWithFieldName->Caption().empty()) {
      cbWithFieldName->SetVisible(true);
      if (cbWithFieldName->Checked()) text += " [" + column->FieldName() + "]";
    }
    int i = clbList->Add(text, index);
    clbList->SetChecked(i, checked);
  };
  if (SelectColumn == scDataBase && ds) {
    for (int f = 0; f < ds->FieldCount(); ++f) {
      TField* field = ds->Fields()[f];
      for (int c = 0; c < columns.Count(); ++c)
        if (columns[c]->FieldName() == field->FieldName()) {
          add(columns[c], c, columns[c]->Visible() && field->Visible());
          break;
        }
    }
  } else {
    for (int c = 0; c < columns.Count(); ++c) add(columns[c], c, columns[c]->Visible());
  }
  if (clbList->Count() > 0) clbList->SetItemIndex(0);
  int clientH = ClientHeight();
  int newH = ChooserClientHeight(clbList->Count(), clbList->ItemHeight(), clientH, clbList->ListClientHeight());
  if (newH != clientH && HandleAllocated()) {
    RECT wr;
    GetWindowRect(Handle(), &wr);
    SetWindowPos(Handle(), nullptr, 0, 0, wr.right - wr.left, (wr.bottom - wr.top) + newH - clientH,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ArrangeControls();
  }
}

void TfrmSelectColumn::cbClick(TComponent*) { FillList(); }

void TfrmSelectColumn::clbListClickCheck(TComponent*) {
  bool any = clbList->Count() == 0;
  for (int i = 0; i < clbList->Count() && !any; ++i) any = clbList->Checked(i);
  valid_ = any;
  if (valid_) return;
  MessageBoxA(HandleAllocated() ? Handle() : nullptr, NoSelectionWarning.c_str(),
              Application ? Application->Title().c_str() : "", MB_OK | MB_ICONWARNING);
  int selected = clbList->ItemIndex();
  if (selected >= 0) {
    clbList->SetChecked(selected, true);
    valid_ = true;
  }
}

void TfrmSelectColumn::FormKeyPress(TComponent*, char& key) {
  if (key == 27) {
    modalResult_ = mrCancel;
    apply_ = false;
    key = 0;
  } else if (key == '\r') {
    modalResult_ = mrOk;
    key = 0;
  }
}

void TfrmSelectColumn::FormClose(TComponent*) {
  if (modalResult_ != mrOk || !apply_ || !valid_ || !Grid) return;
  Grid->BeginLayout();
  try {
    for (int i = 0; i < clbList->Count(); ++i) {
      int index = clbList->Data(i);
      if (index >= 0 && index < Grid->Columns().Count()) Grid->Columns()[index]->SetVisible(clbList->Checked(i));
    }
  } catch (...) {
    Grid->EndLayout();
    throw;
  }
  Grid->EndLayout();
}

void TfrmSelectColumn::FormDestroy(TComponent*) {
  if (clbList) clbList->Clear();
}

void TfrmSelectColumn::WndProc(TMessage& m) {
  switch (m.msg) {
    case WM_DRAWITEM: {
      auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(m.lParam);
      if (auto* list = dynamic_cast<TCheckListBox*>(FromHandle(d->hwndItem))) {
        list->DrawItem(*d);
        m.result = TRUE;
        return;
      }
      break;
    }
    case WM_CLOSE:
      if (modalResult_ == mrNone) modalResult_ = mrCancel;
      m.result = 0;
      return;
    case WM_GETMINMAXINFO: {
      auto* mm = reinterpret_cast<MINMAXINFO*>(m.lParam);
      mm->ptMinTrackSize.x = 100;
      mm->ptMinTrackSize.y = 140;
      m.result = 0;
      return;
    }
    default:
      break;
  }
  TForm::WndProc(m);
}

static BOOL CALLBACK CollectEnabledWindow(HWND w, LPARAM l) {
  auto* list = reinterpret_cast<std::vector<HWND>*>(l);
  if (IsWindowVisible(w) && IsWindowEnabled(w)) list->push_back(w);
  return TRUE;
}

int TfrmSelectColumn::ShowModal() {
  modalResult_ = mrNone;
  HWND self = Handle();
  ArrangeControls();
  // Every other window of this thread is disabled while the chooser runs.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
  std::erase(disabled, self);
  for (HWND w : disabled) EnableWindow(w, FALSE);
  inModal_ = true;
  auto finish = [&] {
    inModal_ = false;
    for (HWND w : disabled) EnableWindow(w, TRUE);
    ShowWindow(self, SW_HIDE);
    visible_ = false;
  };
  try {
    Show();
    SetForegroundWindow(self);
    FormActivate(this);
    if (clbList && clbList->CanFocus()) clbList->SetFocus();
    MSG msg;
    while (modalResult_ == mrNone) {
      BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got <= 0) {
        if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
        modalResult_ = mrCancel;
        break;
      }
      // Key preview: Escape and Enter anywhere in the window.
      if (msg.message == WM_KEYDOWN && (msg.hwnd == self || IsChild(self, msg.hwnd)) &&
          (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN)) {
        char key = msg.wParam == VK_ESCAPE ? 27 : '\r';
        FormKeyPress(this, key);
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    FormClose(this);
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return modalResult_;
}

// ---------------------------------------------------------------------------------------------------------
// The grid's select-columns command

void TJvDBGrid::OpenColumnChooser() {
  bool defaultDialog = true;
  if (OnSelectColumns) OnSelectColumns(this, defaultDialog);
  if (defaultDialog) {
    auto chooser = std::make_unique<TfrmSelectColumn>(Application);
    TRect cell = TopLeftCellRect();
    if (!cell.IsEmpty() && HandleAllocated()) {
      POINT p{cell.left, cell.bottom + 1};
      ClientToScreen(Handle(), &p);
      HWND h = chooser->Handle();
      RECT wr;
      GetWindowRect(h, &wr);
      int w = wr.right - wr.left, hgt = wr.bottom - wr.top;
      MONITORINFO mi{sizeof mi};
      GetMonitorInfoA(MonitorFromWindow(Handle(), MONITOR_DEFAULTTONEAREST), &mi);
      int x = p.x, y = p.y;
      if (x + w > mi.rcWork.right) x = mi.rcWork.right - w;
      if (y + hgt > mi.rcWork.bottom) y = mi.rcWork.bottom - hgt;
      chooser->SetPosition(x, y);
    }
    chooser->Grid = this;
    chooser->DataSource = DataSource();
    chooser->SelectColumn = SelectColumn;
    chooser->SetCaption(SelectColumnsDialogStrings().Caption);
    if (chooser->cbWithFieldName) chooser->cbWithFieldName->SetCaption(SelectColumnsDialogStrings().RealNamesOption);
    if (chooser->ButtonOK) chooser->ButtonOK->SetCaption(SelectColumnsDialogStrings().OK);
    chooser->NoSelectionWarning = SelectColumnsDialogStrings().NoSelectionWarning;
    try {
      chooser->ShowModal();
    } catch (...) {
      Invalidate();
      throw;
    }
  }
  Invalidate();
}

}  // namespace fw
