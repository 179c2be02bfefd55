#include "framework/menus.h"

#include <algorithm>

#include "framework/exceptions.h"
#include "framework/forms.h"

namespace fw {

// ---------------------------------------------------------------------------------------------------------
// TMenuItem

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {}

TMenuItem::~TMenuItem() {
  for (TMenuItem* child : items_) child->parent_ = nullptr;
  if (parent_) parent_->Remove(this);
}

void TMenuItem::Add(TMenuItem* item) {
  if (!item || item == this || item->parent_ == this) return;
  if (item->parent_) item->parent_->Remove(item);
  items_.push_back(item);
  item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
}

void TMenuItem::Click() {
  if (OnClick) OnClick(this);
}

void TMenuItem::SetParentComponent(TComponent* parent) {
  if (auto* menu = dynamic_cast<TPopupMenu*>(parent)) menu->Items().Add(this);
  else if (auto* item = dynamic_cast<TMenuItem*>(parent)) item->Add(this);
}

bool TMenuItem::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "Caption") {
    caption_ = StringValue(v);
  } else if (name == "Enabled") {
    enabled_ = BoolValue(v);
  } else if (name == "Checked") {
    checked_ = BoolValue(v);
  } else if (name == "Visible") {
    visible_ = BoolValue(v);
  } else if (name == "ShortCut" || name == "GroupIndex" || name == "ImageIndex") {
    IntegerValue(v);
  } else if (name == "Hint") {
    StringValue(v);
  } else if (name == "OnClick") {
    OnClick = EventMethod(v, reader);
  } else {
    return TComponent::ReadProperty(name, v, reader);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------------------
// TPopupMenu

TPopupMenu::TPopupMenu(TComponent* owner) : TComponent(owner), items_(std::make_unique<TMenuItem>(nullptr)) {}

TPopupMenu::~TPopupMenu() {
  SetDestroying();
  items_.reset();
}

void TPopupMenu::SetPopupComponent(TComponent* c) {
  if (popupComponent_) popupComponent_->RemoveFreeNotification(this);
  popupComponent_ = c;
  if (c) c->FreeNotification(this);
}

void TPopupMenu::Notification(TComponent* c, Operation op) {
  TComponent::Notification(c, op);
  if (op == Operation::Remove && c == popupComponent_) popupComponent_ = nullptr;
}

namespace {

// Builds the system menu of an item's visible children; `flat` receives every command item, its id being its
// position + 1.
HMENU BuildMenu(const TMenuItem& parent, std::vector<TMenuItem*>& flat) {
  HMENU menu = CreatePopupMenu();
  for (int i = 0; i < parent.Count(); ++i) {
    TMenuItem* item = parent.Items(i);
    if (!item->Visible()) continue;
    UINT flags = (item->Enabled() ? MF_ENABLED : MF_GRAYED) | (item->Checked() ? MF_CHECKED : MF_UNCHECKED);
    if (item->IsLine()) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    } else if (item->Count() > 0) {
      HMENU sub = BuildMenu(*item, flat);
      AppendMenuA(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), item->Caption().c_str());
    } else {
      flat.push_back(item);
      AppendMenuA(menu, flags | MF_STRING, flat.size(), item->Caption().c_str());
    }
  }
  return menu;
}

bool Contains(const TMenuItem& parent, const TMenuItem* wanted) {
  for (int i = 0; i < parent.Count(); ++i)
    if (parent.Items(i) == wanted || Contains(*parent.Items(i), wanted)) return true;
  return false;
}

}  // namespace

void TPopupMenu::Popup(int x, int y) {
  if (showing_) return;
  if (OnPopup) OnPopup(this);
  // The menu's owner window: the popup component's, else the application's, else the active one.
  HWND owner = nullptr;
  if (auto* w = dynamic_cast<TWinControl*>(popupComponent_); w && w->HandleAllocated()) owner = w->Handle();
  if (!owner && Application) owner = Application->Handle();
  if (!owner) owner = GetActiveWindow();
  std::vector<TMenuItem*> flat;
  HMENU menu = BuildMenu(*items_, flat);
  showing_ = true;
  int chosen = TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY,
                              x, y, 0, owner, nullptr);
  showing_ = false;
  DestroyMenu(menu);
  if (chosen <= 0 || chosen > static_cast<int>(flat.size())) return;
  // The item may have gone while the menu was open.
  TMenuItem* item = flat[static_cast<size_t>(chosen - 1)];
  if (Contains(*items_, item) && item->Enabled()) item->Click();
}

bool TPopupMenu::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "AutoPopup") {
    BoolValue(v);
  } else if (name == "OnPopup") {
    OnPopup = EventMethod(v, reader);
  } else {
    return TComponent::ReadProperty(name, v, reader);
  }
  return true;
}

}  // namespace fw
