// The column chooser: a small modal window with one check box per grid column; confirming it makes the ticks
// the columns' visibility. Loaded from the stored form TFRMSELECTCOLUMN.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "framework/forms.h"
#include "grid/jvdbgrid.h"

namespace fw {

enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

// A list box whose items carry a check box and a number.
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

class TPanel : public TCustomControl {
 public:
  explicit TPanel(TComponent* owner);
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  bool AlignBottom() const { return alignBottom_; }

 protected:
  void Paint() override;

 private:
  bool alignBottom_ = false;
};

class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* owner);
  bool Checked() const;
  void SetChecked(bool c);
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void WndProc(TMessage& m) override;

 private:
  bool checked_ = false;
};

class TfrmSelectColumn : public TForm {
 public:
  explicit TfrmSelectColumn(TComponent* owner);
  ~TfrmSelectColumn() override;

  TCheckListBox* clbList = nullptr;
  TPanel* Panel1 = nullptr;
  TCheckBox* cbWithFieldName = nullptr;
  TButton* ButtonOK = nullptr;

  // What the grid hands over before showing the chooser.
  TJvDBGrid* Grid = nullptr;
  TDataSource* DataSource = nullptr;
  TSelectColumn SelectColumn = scDataBase;
  std::string NoSelectionWarning = "At least one column must be visible!";

  int ShowModal();
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int r) { modalResult_ = r; }
  bool Apply() const { return apply_; }
  bool Valid() const { return valid_; }
  // Fills the list from the grid (done on activation).
  void FillList();
  void SetPosition(int left, int top);

  void FormCreate(TComponent* sender);
  void FormActivate(TComponent* sender);
  void FormClose(TComponent* sender);
  void FormDestroy(TComponent* sender);
  void FormKeyPress(TComponent* sender, char& key);
  void cbClick(TComponent* sender);
  void clbListClickCheck(TComponent* sender);

  const Method* FindMethod(std::string_view name) const override;
  void BindField(std::string_view name, TComponent* component) override;
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void WndProc(TMessage& m) override;
  void Resize() override;

 private:
  void ArrangeControls();
  int modalResult_ = mrNone;
  bool apply_ = true;
  bool valid_ = true;
  bool inModal_ = false;
  std::map<std::string, Method, std::less<>> methods_;
};

}  // namespace fw
