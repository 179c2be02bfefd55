// The data grid's editors: whether and which editor a cell gets, the grid's cell editor, and the external
// edit controls placed over cells with their key filter.
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

TInternalInplaceEdit::TInternalInplaceEdit(TJvDBGrid* grid) : TInplaceEdit(grid), owner_(grid) {}

void TInternalInplaceEdit::WndProc(TMessage& m) {
  if (m.msg == WM_MOUSEWHEEL) {
    TGridDataLink& link = owner_->DataLink();
    if (link.Active() && link.DataSet()->State() != dsBrowse) link.DataSet()->Cancel();
    if (owner_->HandleAllocated()) m.result = SendMessageA(owner_->Handle(), WM_MOUSEWHEEL, m.wParam, m.lParam);
    return;
  }
  TInplaceEdit::WndProc(m);
}

TInplaceEdit* TJvDBGrid::CreateEditor() { return new TInternalInplaceEdit(this); }

void TJvDBGrid::ShowEditor() {
  TJvExDBGrid::ShowEditor();
}

void TJvDBGrid::HideEditor() {
  if (dropList_) CloseUp(false);
  TJvExDBGrid::HideEditor();
}

bool TJvDBGrid::CanEditShow() {
  pendingLogical_ = nullptr;
  TField* field = SelectedField();
  int index = SelectedIndex();
  TDBGridOptions o = TCustomDBGrid::Options();
  if (!TJvExDBGrid::CanEditShow() || !field || index < 0 || index >= Columns().Count()) {
    if (!(alwaysShowEditor_ && (o & dgEditing) && !(o & dgRowSelect)) && editor_ && !editor_->IsShowing()) HideEditor();
    return false;
  }
  TColumn* column = ShownColumn(Col());
  TJvDBGridControl* item = editControls_.ControlByField(field->FieldName());
  bool checkBox = !item && IsLogicalLike(field);
  if (!item && !checkBox && HasNoEditor(field->DataType())) {
    HideEditControl();
    return false;
  }
  bool allow = true;
  if (OnCanEditCell) OnCanEditCell(this, field, allow);
  if (!allow) {
    HideEditControl();
    return false;
  }
  if (OnShowEditor && !(editor_ && editor_->IsShowing())) {
    OnShowEditor(this, field, allow);
    if (!allow) return false;
  }
  if (item) {
    if (editor_ && editor_->IsShowing()) editor_->Hide();
    auto* control = Owner() ? dynamic_cast<TWinControl*>(Owner()->FindComponent(item->ControlName)) : nullptr;
    if (!control) {
      item->FieldName.clear();
      throw EJVCLDbGridException("JvDBGrid.EditControls: property Control not assigned");
    }
    bool editable = CellEditable(column, field);
    if (GetPropInfo(*control, "ReadOnly", TTypeKind::tkBoolean)) {
      // A control that can be read-only shows every cell and refuses changes where the cell cannot be edited.
      SetBoolProp(*control, "ReadOnly", !editable);
      PlaceControl(item);
    } else if (editable) {
      PlaceControl(item);
    } else if (control == activeControl_) {
      HideEditControl();
    } else {
      control->SetVisible(false);
    }
    return false;
  }
  if (checkBox) {
    HideEditControl();
    if (CellEditable(column, field)) pendingLogical_ = field;
    return false;
  }
  HideEditControl();
  return true;
}

void TJvDBGrid::EditorChanged() {
  TJvExDBGrid::EditorChanged();
  if (OnEditChange) OnEditChange(this);
}

void TJvDBGrid::ColEnter() {
  searchText_.clear();
  TJvExDBGrid::ColEnter();
  if (alwaysShowEditor_ && !EditorMode()) ShowEditor();
}

void TJvDBGrid::DoExit() {
  TJvExDBGrid::DoExit();
}

void TJvDBGrid::HideEditControl() {
  if (activeControl_) DetachControl();
}

LRESULT CALLBACK EditControlProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto* grid = static_cast<TJvDBGrid*>(GetPropA(h, "JvDBGridOwner"));
  if (!grid || !grid->activeControlProc_) return DefWindowProcA(h, msg, w, l);
  WNDPROC old = grid->activeControlProc_;
  TJvDBGridControl* item = grid->activeItem_;
  try {
    TDataSet* ds = grid->DataLink().DataSet();
    auto leave = [&]() -> bool {
      grid->DetachControl();
      grid->SetFocus();
      return GetFocus() != h;
    };
    switch (msg) {
      case WM_KEYDOWN:
        if ((w == VK_UP || w == VK_DOWN) && item && item->LeaveOnUpDownKey && KeyboardShift() == 0) {
          if (!leave()) return 0;
          if (ds) ds->CheckBrowseMode();
          PostMessageA(grid->Handle(), WM_KEYDOWN, w, l);
          return 0;
        }
        break;
      case WM_CHAR: {
        char key = static_cast<char>(w);
        if (grid->OnKeyPress) grid->OnKeyPress(grid, key);
        if (key == 0) return 0;
        if (key == '\r' && (grid->PostOnEnterKey || (item && item->LeaveOnEnterKey))) {
          bool post = grid->PostOnEnterKey;
          if (!leave()) return 0;
          if (post && ds) ds->CheckBrowseMode();
          return 0;
        }
        if (key == '\t') {
          if (!leave()) return 0;
          PostMessageA(grid->Handle(), WM_KEYDOWN, VK_TAB, 0);
          return 0;
        }
        if (key == 27) {
          CallWindowProcA(old, h, msg, w, l);
          TField* f = grid->SelectedField();
          if (!leave()) return 0;
          if (ds && f) {
            if (ds->State() == dsEdit && f->OldValue() != f->Value()) f->SetValue(f->OldValue());
            else if (ds->State() == dsInsert && !f->IsNull()) f->Clear();
          }
          return 0;
        }
        w = static_cast<unsigned char>(key);
        break;
      }
      case WM_GETDLGCODE: {
        LRESULT r = CallWindowProcA(old, h, msg, w, l) | DLGC_WANTTAB;
        if (item && item->LeaveOnUpDownKey) r |= DLGC_WANTARROWS;
        return r;
      }
      case WM_KILLFOCUS: {
        LRESULT r = CallWindowProcA(old, h, msg, w, l);
        grid->DetachControl();
        return r;
      }
      default:
        break;
    }
  } catch (...) {
    if (Application) Application->HandleException(grid);
    return 0;
  }
  return CallWindowProcA(old, h, msg, w, l);
}

void TJvDBGrid::PlaceControl(TJvDBGridControl* item) {
  TDataSet* ds = DataLink().DataSet();
  auto* control = Owner() ? dynamic_cast<TWinControl*>(Owner()->FindComponent(item->ControlName)) : nullptr;
  if (!control || ReadOnly() || !ds || !ds->CanModify() || !control->Enabled()) {
    DetachControl();
    return;
  }
  if (control != activeControl_) {
    DetachControl();
    activeControl_ = control;
    activeItem_ = item;
    control->FreeNotification(this);
    HWND h = control->Handle();
    SetPropA(h, "JvDBGridOwner", this);
    activeControlProc_ =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EditControlProc)));
  }
  if (Parent() && control->Parent() != Parent()) control->SetParent(Parent());
  TRect cell = CellRect(Col(), Row());
  TRect bounds{};
  if (!cell.IsEmpty() && Parent()) {
    POINT pts[2] = {{cell.left, cell.top}, {cell.right, cell.bottom}};
    MapWindowPoints(Handle(), Parent()->Handle(), pts, 2);
    bounds = Rect(pts[0].x, pts[0].y, pts[1].x, pts[1].y);
  }
  if (item->FitCell == fcDesignSize || item->FitCell == fcBiggest) {
    if (item->DesignWidth == 0 && item->DesignHeight == 0) {
      item->DesignWidth = control->Width();
      item->DesignHeight = control->Height();
    }
    int w = item->DesignWidth, hgt = item->DesignHeight;
    if (item->FitCell == fcBiggest) {
      w = std::max(w, bounds.Width());
      hgt = std::max(hgt, bounds.Height());
    }
    // Left-aligned with the cell unless that runs past the grid's client area.
    int gridRight = Left() + ClientWidth(), gridBottom = Top() + ClientHeight();
    int x = bounds.left, y = bounds.top;
    if (x + w > gridRight) x = std::max(Left(), bounds.right - w);
    if (y + hgt > gridBottom) y = std::max(Top(), bounds.bottom - hgt);
    bounds = Rect(x, y, x + w, y + hgt);
  }
  control->SetBounds(bounds.left, bounds.top, bounds.Width(), bounds.Height());
  SetWindowPos(control->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  control->SetVisible(true);
  TForm* form = nullptr;
  for (TComponent* o = Owner(); o && !form; o = o->Owner()) form = dynamic_cast<TForm*>(o);
  if (Visible() && control->Visible() && (!Parent() || Parent()->Visible()) && (!form || form->Visible()) &&
      GetFocus() != control->Handle()) {
    TDBGridOptions o = TCustomDBGrid::Options();
    bool cancelOnExit = o & dgCancelOnExit;
    if (cancelOnExit) TCustomDBGrid::SetOptions(o & ~dgCancelOnExit);
    try {
      control->SetFocus();
    } catch (...) {
      if (cancelOnExit) TCustomDBGrid::SetOptions(o);
      throw;
    }
    if (cancelOnExit) TCustomDBGrid::SetOptions(o);
  }
}

void TJvDBGrid::DetachControl() {
  TWinControl* c = activeControl_;
  if (!c) return;
  activeControl_ = nullptr;
  activeItem_ = nullptr;
  if (c->HandleAllocated()) {
    HWND h = c->Handle();
    if (activeControlProc_) SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(activeControlProc_));
    RemovePropA(h, "JvDBGridOwner");
    SendMessageA(h, WM_KILLFOCUS, 0, 0);
    if (!Destroying()) c->SetVisible(false);
  }
  activeControlProc_ = nullptr;
  c->RemoveFreeNotification(this);
}

}  // namespace fw
