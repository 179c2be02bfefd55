// Popup menus: a tree of menu items shown at a screen point with the system's menu tracking. Items come from
// stored forms (nested in their menu) or from code; choosing one runs its OnClick.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/controls.h"

namespace fw {

class TPopupMenu;

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  bool Checked() const { return checked_; }
  void SetChecked(bool v) { checked_ = v; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  // "-" as caption makes a separator.
  bool IsLine() const { return caption_ == "-"; }

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const { return items_[static_cast<size_t>(index)]; }
  TMenuItem* Parent() const { return parent_; }
  void Add(TMenuItem* item);  // moves the item here from its previous parent
  void Remove(TMenuItem* item);

  TNotifyEvent OnClick;
  virtual void Click();

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  void SetParentComponent(TComponent* parent) override;

 private:
  std::string caption_;
  bool enabled_ = true, checked_ = false, visible_ = true;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
};

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* owner);
  ~TPopupMenu() override;

  // The root item; its children are the menu's entries.
  TMenuItem& Items() { return *items_; }
  // The component the menu was shown for (set by whoever pops it up).
  TComponent* PopupComponent() const { return popupComponent_; }
  void SetPopupComponent(TComponent* c);
  // Shows the menu with its top-left corner at a screen point and returns when it closed; the chosen item's
  // OnClick runs after the menu is gone.
  void Popup(int x, int y);
  bool Showing() const { return showing_; }

  TNotifyEvent OnPopup;

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 protected:
  void Notification(TComponent* component, Operation operation) override;

 private:
  std::unique_ptr<TMenuItem> items_;
  TComponent* popupComponent_ = nullptr;
  bool showing_ = false;
};

// Stored forms name menus by class; every program that uses this header can load them.
inline ClassRegistration<TPopupMenu> registerPopupMenuClass{"TPopupMenu"};
inline ClassRegistration<TMenuItem> registerMenuItemClass{"TMenuItem"};

}  // namespace fw
