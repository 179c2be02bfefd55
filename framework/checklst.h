// A list box whose items carry a check box and a number: ticked with a click on the box, a double-click or
// the space bar.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "framework/controls.h"

namespace fw {

class TCheckListBox : public TWinControl {
 public:
  explicit TCheckListBox(TComponent* owner);
  void Clear();
  int Add(const std::string& text, int data);
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Text(int i) const { return items_[static_cast<size_t>(i)].text; }
  int Data(int i) const { return items_[static_cast<size_t>(i)].data; }
  bool Checked(int i) const { return items_[static_cast<size_t>(i)].checked; }
  void SetChecked(int i, bool checked);
  int ItemIndex();
  void SetItemIndex(int i);
  int ItemHeight() const { return itemHeight_; }
  int ListClientHeight();
  // Toggles an item as a click on its box would (raises OnClickCheck).
  void ToggleChecked(int i);
  void DrawItem(const DRAWITEMSTRUCT& d);
  TNotifyEvent OnClickCheck;
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void AfterCreateHandle() override;
  void WndProc(TMessage& m) override;

 private:
  struct Item {
    std::string text;
    bool checked = false;
    int data = 0;
  };
  std::vector<Item> items_;
  int itemHeight_ = 13;
};

}  // namespace fw
