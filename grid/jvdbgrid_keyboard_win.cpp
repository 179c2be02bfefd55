// The data grid's keyboard: navigation and append rules, confirmed deletion, selection with Shift and the
// arrows, logical-field keys, incremental search, and the drop-down lists of lookup and pick-list cells.
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

void TJvDBGrid::CallFramework(WORD& key, TShift shift) {
  // The application's handler already ran: keep the framework from running it again.
  Restore<TKeyEvent> guard(OnKeyDown);
  OnKeyDown = nullptr;
  TJvExDBGrid::KeyDown(key, shift);
}

void TJvDBGrid::ClearMultiSelection() {
  if (ClearSelection) SelectedRows().Clear();
  selecting_ = false;
  anchor_.clear();
}

bool TJvDBGrid::CanAppend() {
  TDataSet* ds = DataLink().DataSet();
  return ds && ds->CanModify() && !ReadOnly() && (TCustomDBGrid::Options() & dgEditing);
}

void TJvDBGrid::MoveWithSelection(int distance, TShift shift) {
  TDataSet* ds = DataLink().DataSet();
  UpdateData();
  if (!multiSelect_ || !DataLink().Active()) {
    DataLink().MoveBy(distance);
    return;
  }
  bool shiftOnly = (shift & ssShift) && !(shift & (ssAlt | ssCtrl));
  if (!shiftOnly) {
    ClearMultiSelection();
    DataLink().MoveBy(distance);
    return;
  }
  TBookmarkList& rows = SelectedRows();
  TBookmark current = ds->GetBookmark();
  if (!selecting_) {
    selecting_ = true;
    anchor_ = current;
    rows.SetCurrentRowSelected(true);
  } else if (!current.empty() && !anchor_.empty() && ds->BookmarkValid(anchor_)) {
    // Moving back towards the anchor unmarks the row being left.
    int side = ds->CompareBookmarks(current, anchor_);
    if ((side > 0 && distance < 0) || (side < 0 && distance > 0)) rows.SetCurrentRowSelected(false);
  }
  DataLink().MoveBy(distance);
  rows.SetCurrentRowSelected(true);
}

void TJvDBGrid::DoMoveDown(TShift shift, bool allowAppend) {
  TDataSet* ds = DataLink().DataSet();
  MoveWithSelection(1, shift);
  if (allowAppend && AutoAppend && ds->Eof() && ds->State() == dsBrowse && CanAppend()) StartInsert(true);
}

void TJvDBGrid::SelectFirstFreeColumn() {
  for (int c = TCustomGrid::FixedCols(); c < ColCount(); ++c)
    if (ColWidth(c) > 0) {
      FocusCell(c, Row());
      return;
    }
}

void TJvDBGrid::DoTab(bool backward, TShift shift) {
  TDataSet* ds = DataLink().DataSet();
  int first = TCustomGrid::FixedCols(), last = ColCount() - 1;
  if (!backward && Col() < last) {
    FocusCell(Col() + 1, Row());
    return;
  }
  if (backward && Col() > first) {
    FocusCell(Col() - 1, Row());
    return;
  }
  // Past the last column: the next record (Down rules, append included); before the first: the previous one.
  TBookmark before = ds->GetBookmark();
  TDataSetState stateBefore = ds->State();
  int rowBefore = ds->CurrentRow();
  if (ds->State() == dsInsert || ds->State() == dsEdit) {
    WORD k = backward ? VK_UP : VK_DOWN;
    if (ds->State() == dsInsert) CallFramework(k, 0);
    else if (backward) MoveWithSelection(-1, 0);
    else DoMoveDown(0, true);
  } else if (backward) {
    MoveWithSelection(-1, 0);
  } else {
    DoMoveDown(0, true);
  }
  bool moved = ds->CurrentRow() != rowBefore || ds->State() != stateBefore || ds->GetBookmark() != before;
  if (moved) FocusCell(backward ? last : first, Row());
}

void TJvDBGrid::DoCtrlDelete() {
  TDataSet* ds = DataLink().DataSet();
  if (!CanDelete || ReadOnly() || !ds->CanModify() || ds->IsEmpty()) return;
  int selected = SelectedRows().Count();
  const char* question = selected < 2 ? "Apagar registro?" : "Apagar todos os registros selecionados?";
  if ((TCustomDBGrid::Options() & dgConfirmDelete) &&
      MessageBoxA(Handle(), question, "Confirm", MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  if (selected > 0) SelectedRows().Delete();
  else ds->Delete();
}

void TJvDBGrid::KeyDown(WORD& key, TShift shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
  if (key == 0 || !DataLink().Active()) return;
  // An open drop-down list takes the navigation keys.
  if (dropList_) {
    if (key == VK_ESCAPE) {
      CloseUp(false);
      key = 0;
      return;
    }
    if (key == VK_UP || key == VK_DOWN || key == VK_PRIOR || key == VK_NEXT) {
      SendMessageA(dropList_, WM_KEYDOWN, key, 0);
      key = 0;
      return;
    }
  }
  if ((key == VK_F4 || (key == VK_DOWN && (shift & ssAlt))) && EditorMode()) {
    if (dropList_) CloseUp(true);
    else DropDown();
    key = 0;
    return;
  }
  TDataSet* ds = DataLink().DataSet();
  TDBGridOptions o = TCustomDBGrid::Options();
  KeyContext c;
  c.ctrl = shift & ssCtrl;
  c.shift = shift & ssShift;
  c.alt = shift & ssAlt;
  c.fixedCols = fixedCols_;
  c.dataColumns = FieldCount();
  c.rowSelect = o & dgRowSelect;
  c.inserting = ds->State() == dsInsert;
  c.canInsert = CanAppend();
  c.atFirstFreeColumn = Col() <= TCustomGrid::FixedCols();
  switch (DecideKey(key, c)) {
    case KeyAction::Framework:
      CallFramework(key, shift);
      break;
    case KeyAction::ClearThenFramework:
      ClearMultiSelection();
      CallFramework(key, shift);
      break;
    case KeyAction::FirstFreeColumn:
      SelectFirstFreeColumn();
      break;
    case KeyAction::Stop:
      break;
    case KeyAction::Delete:
      DoCtrlDelete();
      break;
    case KeyAction::MoveUp:
      MoveWithSelection(-1, shift);
      break;
    case KeyAction::MoveDown:
      DoMoveDown(shift, true);
      break;
    case KeyAction::Tab:
      if (!(o & dgTabs)) CallFramework(key, shift);
      else DoTab(shift & ssShift, shift);
      break;
  }
}

void TJvDBGrid::PickListSearch(char& key, TColumn* column, TField* field) {
  TInplaceEdit* ed = InplaceEditor();
  std::string text = ed->Text();
  int start = std::clamp(ed->SelStart(), 0, static_cast<int>(text.size()));
  int len = std::clamp(ed->SelLength(), 0, static_cast<int>(text.size()) - start);
  // The text the key would leave, and the caret after it.
  std::string wouldBe;
  int caret;
  if (key == 8) {
    if (len > 0) {
      wouldBe = text.substr(0, static_cast<size_t>(start)) + text.substr(static_cast<size_t>(start + len));
      caret = start;
    } else if (start > 0) {
      wouldBe = text.substr(0, static_cast<size_t>(start - 1)) + text.substr(static_cast<size_t>(start));
      caret = start - 1;
    } else {
      wouldBe = text;
      caret = 0;
    }
  } else {
    wouldBe = text.substr(0, static_cast<size_t>(start)) + key + text.substr(static_cast<size_t>(start + len));
    caret = start + 1;
  }
  int match = PickListMatch(column->PickList(), wouldBe);
  if (match < 0) return;
  const std::string& item = column->PickList()[static_cast<size_t>(match)];
  if (!CanEditModifyPublic()) return;
  field->SetText(item);
  ed->SetText(item);
  SetEditText(Col(), Row(), item);
  caret = std::min(caret, static_cast<int>(item.size()));
  ed->SetSel(caret, static_cast<int>(item.size()) - caret);
  key = 0;
}

void TJvDBGrid::LookupSearch(char& key, TField* field) {
  TDataSet* lookup = field->LookupDataSet();
  TInplaceEdit* ed = InplaceEditor();
  if (!lookup) return;
  std::string text = ed->Text();
  if (!StartsWithIgnoringCase(text, searchText_)) searchText_.clear();
  if (key == 8) {
    if (searchText_.size() <= 1) searchText_.clear();
    else searchText_.pop_back();
  } else {
    searchText_ += key;
  }
  try {
    ControlsGuard guard(lookup);
    if (!searchText_.empty() &&
        lookup->Locate(field->LookupResultField(), {Variant(searchText_)}, loCaseInsensitive | loPartialKey)) {
      TField* keyField = LookupKeyField(field);
      TField* source = lookup->FindField(field->LookupKeyFields().substr(0, field->LookupKeyFields().find(';')));
      TField* result = lookup->FindField(field->LookupResultField());
      if (keyField && source && DataLink().Edit()) {
        keyField->SetValue(source->Value());
        std::string shown = result ? result->AsString() : searchText_;
        ed->SetText(shown);
        ResetEditText();
        DataLink().ResetModified();
        ed->SetSel(static_cast<int>(searchText_.size()), static_cast<int>(shown.size() - searchText_.size()));
        key = 0;
      }
    }
  } catch (...) {
    // A failing search leaves the text as typed.
  }
}

void TJvDBGrid::KeyPress(char& key) {
  TDataSet* ds = DataLink().DataSet();
  if (dropList_ && key == '\r') {
    CloseUp(true);
    key = 0;
    return;
  }
  if (key == '\r' && PostOnEnterKey && !ReadOnly() && ds && DataLink().Active()) {
    UpdateData();
    ds->CheckBrowseMode();
  }
  TColumn* column = ShownColumn(Col());
  TField* field = column ? column->Field() : nullptr;
  // Check-box cells take their own keys.
  if (field && !EditorMode() && IsLogicalLike(field) && CellEditable(column, field)) {
    if (OnKeyPress) OnKeyPress(this, key);
    if (key == 0) return;
    LogicalKey action = LogicalKeyOf(key);
    if (action != LogicalKey::Ignore) {
      pendingLogical_ = field;
      ChangeBoolean(action);
    }
    if (static_cast<unsigned char>(key) >= 32 || key == 8) key = 0;
    if (key == 0) return;
  }
  if (activeControl_) return;
  if (EditorMode() && field && column && !column->ReadOnly() && field->CanModify() && !ReadOnly() && ds &&
      ds->CanModify()) {
    unsigned char k = static_cast<unsigned char>(key);
    if (field->Lookup() && InSearchSet(k)) {
      LookupSearch(key, field);
    } else if (field->FieldKind() == fkData && (field->DataType() == ftFloat || field->DataType() == ftCurrency) &&
               (key == ',' || key == '.')) {
      key = FormatSettings().DecimalSeparator;
    } else if (field->FieldKind() == fkData && !column->PickList().empty() && InSearchSet(k)) {
      PickListSearch(key, column, field);
    }
    if (key == 0) return;
  }
  bool editorWasOpen = EditorMode();
  TJvExDBGrid::KeyPress(key);
  if (!editorWasOpen && !EditorMode()) key = 0;
}

// ---------------------------------------------------------------------------------------------------------
// Drop-down lists

LRESULT CALLBACK DropListProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  auto* grid = static_cast<TJvDBGrid*>(GetPropA(h, "JvDBGridOwner"));
  WNDPROC old = grid ? grid->dropListProc_ : nullptr;
  if (!old) return DefWindowProcA(h, msg, w, l);
  if (msg == WM_LBUTTONUP) {
    LRESULT r = CallWindowProcA(old, h, msg, w, l);
    try {
      grid->CloseUp(true);
    } catch (...) {
      if (Application) Application->HandleException(grid);
    }
    return r;
  }
  if (msg == WM_MOUSEACTIVATE) return MA_NOACTIVATE;
  return CallWindowProcA(old, h, msg, w, l);
}

bool TJvDBGrid::DropDown() {
  TColumn* column = ShownColumn(Col());
  TField* field = column ? column->Field() : nullptr;
  if (!field || !EditorMode() || dropList_) return false;
  std::vector<std::string> items;
  dropKeys_.clear();
  std::string current = InplaceEditor()->Text();
  if (field->Lookup() && field->LookupDataSet()) {
    // The lookup dataset's result values, keyed by its lookup key.
    TDataSet* lookup = field->LookupDataSet();
    TField* result = lookup->FindField(field->LookupResultField());
    TField* keyField = lookup->FindField(field->LookupKeyFields().substr(0, field->LookupKeyFields().find(';')));
    if (!result || !keyField) return false;
    ControlsGuard guard(lookup);
    TBookmark here = lookup->GetBookmark();
    for (lookup->First(); !lookup->Eof(); lookup->Next()) {
      items.push_back(result->AsString());
      dropKeys_.push_back(keyField->Value());
    }
    if (!here.empty()) lookup->GotoBookmark(here);
  } else if (!column->PickList().empty()) {
    items = column->PickList();
  } else {
    return false;
  }
  TRect cell = CellRect(Col(), Row());
  POINT p{cell.left, cell.bottom};
  ClientToScreen(Handle(), &p);
  int itemHeight = DefaultRowHeight() - 2;
  int rows = std::clamp(static_cast<int>(items.size()), 1, std::max(1, column->DropDownRows()));
  HWND owner = GetAncestor(Handle(), GA_ROOT);
  dropList_ = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "LISTBOX", "",
                              WS_POPUP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, p.x, p.y,
                              std::max(cell.Width(), 60), rows * itemHeight + 2, owner, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  if (!dropList_) return false;
  SendMessageA(dropList_, WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle(InplaceEditor()->Font())), 0);
  SendMessageA(dropList_, LB_SETITEMHEIGHT, 0, itemHeight);
  int selected = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    SendMessageA(dropList_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i].c_str()));
    if (SameTextIgnoringCase(items[i], current)) selected = static_cast<int>(i);
  }
  SendMessageA(dropList_, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  SetPropA(dropList_, "JvDBGridOwner", this);
  dropListProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(dropList_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DropListProc)));
  ShowWindow(dropList_, SW_SHOWNOACTIVATE);
  return true;
}

void TJvDBGrid::CloseUp(bool accept) {
  if (!dropList_) return;
  HWND list = dropList_;
  int index = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
  std::string text;
  if (index >= 0) {
    int len = static_cast<int>(SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0));
    text.assign(static_cast<size_t>(std::max(0, len)) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max(0, len)));
  }
  dropList_ = nullptr;
  SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(dropListProc_));
  RemovePropA(list, "JvDBGridOwner");
  dropListProc_ = nullptr;
  DestroyWindow(list);
  if (!accept || index < 0) return;
  TColumn* column = ShownColumn(Col());
  TField* field = column ? column->Field() : nullptr;
  if (!field) return;
  if (field->Lookup()) {
    // The chosen key goes into the key field when it can be modified.
    TField* keyField = LookupKeyField(field);
    if (keyField && keyField->CanModify() && index < static_cast<int>(dropKeys_.size()) && DataLink().Edit()) {
      keyField->SetValue(dropKeys_[static_cast<size_t>(index)]);
      if (InplaceEditor()) InplaceEditor()->SetText(text);
      ResetEditText();
      DataLink().ResetModified();
    }
  } else if (CanEditModifyPublic()) {
    if (InplaceEditor()) InplaceEditor()->SetText(text);
    SetEditText(Col(), Row(), text);
  }
  if (InplaceEditor() && EditorMode()) InplaceEditor()->SelectAll();
}

}  // namespace fw
