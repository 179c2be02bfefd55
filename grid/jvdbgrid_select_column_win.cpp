#include "grid/jvdbgrid_select_column.h"

#include <algorithm>

#include "framework/exceptions.h"

namespace fw {

using namespace jvgrid;

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
  if (ButtonOK) ButtonOK->OnClick = [this](TComponent*) { SetModalResult(mrOk); };
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
    SetModalResult(mrCancel);
    apply_ = false;
    key = 0;
  } else if (key == '\r') {
    SetModalResult(mrOk);
    key = 0;
  }
}

void TfrmSelectColumn::FormClose(TComponent*) {
  if (ModalResult() != mrOk || !apply_ || !valid_ || !Grid) return;
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

int TfrmSelectColumn::ShowModal() {
  ArrangeControls();
  return TForm::ShowModal();
}

void TfrmSelectColumn::ModalShown() {
  FormActivate(this);
  if (clbList && clbList->CanFocus()) clbList->SetFocus();
}

void TfrmSelectColumn::ModalKeyPreview(char& key) { FormKeyPress(this, key); }

void TfrmSelectColumn::ModalEnded() { FormClose(this); }

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
