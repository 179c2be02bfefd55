// The column chooser: a small modal window with one check box per grid column; confirming it makes the ticks
// the columns' visibility. Loaded from the stored form TFRMSELECTCOLUMN; its list, panel and check box are the
// framework's.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "framework/checklst.h"
#include "framework/extctrls.h"
#include "framework/forms.h"
#include "framework/stdctrls.h"
#include "grid/jvdbgrid.h"

namespace fw {

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

  // Lays the controls out and runs the chooser modally.
  int ShowModal();
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
  void ModalShown() override;
  void ModalKeyPreview(char& key) override;
  void ModalEnded() override;

 private:
  void ArrangeControls();
  bool apply_ = true;
  bool valid_ = true;
  std::map<std::string, Method, std::less<>> methods_;
};

}  // namespace fw
