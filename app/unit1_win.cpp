#include "app/unit1.h"


TForm1* Form1 = nullptr;

// Classes that the stored form names and that live in libraries (a static library's own registration would not
// be linked in).
static fw::ClassRegistration<fw::TJvDBGrid> registerGrid("TJvDBGrid");

TForm1::TForm1(fw::TComponent* owner) : fw::TForm(owner) {
  // The published event handlers that the stored form names.
  methods_["btnInsertClick"] = [this](fw::TComponent* s) { btnInsertClick(s); };
  methods_["btnSaveClick"] = [this](fw::TComponent* s) { btnSaveClick(s); };
  methods_["DataSource1StateChange"] = [this](fw::TComponent* s) { DataSource1StateChange(s); };
  LoadFromResource("TFORM1");
}

void TForm1::btnInsertClick(fw::TComponent*) {
  ClientDataSet1->Append();
  ClientDataSet1ID->FocusControl();
}

void TForm1::btnSaveClick(fw::TComponent*) {
  if (ClientDataSet1->State() == fw::dsEdit || ClientDataSet1->State() == fw::dsInsert) ClientDataSet1->Post();
}

void TForm1::DataSource1StateChange(fw::TComponent*) {
  fw::TDataSetState state = ClientDataSet1->State();
  btnInsert->SetEnabled(state == fw::dsBrowse);
  btnSave->SetEnabled(state == fw::dsEdit || state == fw::dsInsert);
}

const TForm1::Method* TForm1::FindMethod(std::string_view name) const {
  auto it = methods_.find(name);
  return it == methods_.end() ? nullptr : &it->second;
}

void TForm1::BindField(std::string_view name, fw::TComponent* c) {
  auto bind = [&](auto*& field) {
    field = dynamic_cast<std::remove_reference_t<decltype(field)>>(c);
  };
  if (name == "JvDBGrid1") bind(JvDBGrid1);
  else if (name == "btnInsert") bind(btnInsert);
  else if (name == "btnSave") bind(btnSave);
  else if (name == "DataSource1") bind(DataSource1);
  else if (name == "ClientDataSet1") bind(ClientDataSet1);
  else if (name == "ClientDataSet1ID") bind(ClientDataSet1ID);
  else if (name == "ClientDataSet1NAME") bind(ClientDataSet1NAME);
  else if (name == "ClientDataSet1PHONE") bind(ClientDataSet1PHONE);
}
