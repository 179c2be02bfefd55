// The contact editor's main window: a grid over the contact table and the Insert and Save buttons, whose
// enabled states follow the table's state.
#pragma once
#include <map>
#include <string>

#include "framework/db.h"
#include "framework/forms.h"
#include "grid/jvdbgrid.h"

class TForm1 : public fw::TForm {
 public:
  explicit TForm1(fw::TComponent* owner);

  fw::TJvDBGrid* JvDBGrid1 = nullptr;
  fw::TButton* btnInsert = nullptr;
  fw::TButton* btnSave = nullptr;
  fw::TDataSource* DataSource1 = nullptr;
  fw::TClientDataSet* ClientDataSet1 = nullptr;
  fw::TIntegerField* ClientDataSet1ID = nullptr;
  fw::TStringField* ClientDataSet1NAME = nullptr;
  fw::TStringField* ClientDataSet1PHONE = nullptr;

  void btnInsertClick(fw::TComponent* Sender);
  void btnSaveClick(fw::TComponent* Sender);
  void DataSource1StateChange(fw::TComponent* Sender);

  const Method* FindMethod(std::string_view name) const override;
  void BindField(std::string_view name, fw::TComponent* component) override;

 private:
  std::map<std::string, Method, std::less<>> methods_;
};

extern TForm1* Form1;
