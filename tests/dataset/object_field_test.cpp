// Object fields: child fields inside a record-like field, stored by the engine as columns named by full name.
#include <gtest/gtest.h>

#include "framework/db.h"

using namespace fw;

namespace {

template <class F>
F* AddField(TDataSet* ds, const char* name, int size = 0, TADTField* parent = nullptr) {
  auto* f = new F(ds->Owner());
  f->SetFieldName(name);
  if (size) f->SetSize(size);
  if (parent) f->SetParentField(parent); else f->SetDataSet(ds);
  return f;
}

struct People {
  TComponent owner;
  TClientDataSet* table = new TClientDataSet(&owner);
  TIntegerField* id = AddField<TIntegerField>(table, "ID");
  TADTField* address = AddField<TADTField>(table, "ADDRESS");
  TStringField* street = AddField<TStringField>(table, "STREET", 30, address);
  TStringField* city = AddField<TStringField>(table, "CITY", 20, address);

  void Add(int n, const char* s, const char* c) {
    table->Append();
    id->SetAsInteger(n);
    table->FieldByName("ADDRESS.STREET")->SetAsString(s);
    if (c) city->SetAsString(c);
    table->Post();
  }
};

TEST(ObjectField, ChildFieldsHaveFullNamesAndStoreValues) {
  People p;
  p.table->CreateDataSet();
  EXPECT_EQ(p.table->FieldCount(), 2);  // ID and ADDRESS; the children live inside ADDRESS
  EXPECT_EQ(p.address->DataType(), ftADT);
  ASSERT_EQ(p.address->ChildFields().Count(), 2);
  EXPECT_EQ(p.address->ChildFields()[1], p.city);
  EXPECT_EQ(p.city->FullName(), "ADDRESS.CITY");
  EXPECT_EQ(p.city->ParentField(), p.address);
  EXPECT_EQ(p.address->ParentField(), nullptr);
  EXPECT_EQ(p.city->DataSet(), p.table);
  EXPECT_EQ(p.table->FindField("address.city"), p.city);
  EXPECT_EQ(p.table->FindField("CITY"), nullptr);
  EXPECT_EQ(p.table->FindField("ID.CITY"), nullptr);
  EXPECT_EQ(p.table->FieldDefs()[1].Name, "ADDRESS.STREET");

  p.Add(1, "Main St", "Springfield");
  p.Add(2, "Elm Rd", nullptr);
  p.table->First();
  EXPECT_EQ(p.street->AsString(), "Main St");
  EXPECT_EQ(p.address->DisplayText(), "(Main St, Springfield)");
  EXPECT_FALSE(p.address->IsNull());
  p.table->Next();
  EXPECT_EQ(p.street->AsString(), "Elm Rd");
  EXPECT_TRUE(p.city->IsNull());

  // Clearing the object field clears its children; only null may be assigned to it.
  p.table->Edit();
  EXPECT_THROW(p.address->SetAsString("x"), EDatabaseError);
  p.address->Clear();
  p.table->Post();
  EXPECT_TRUE(p.address->IsNull());
  EXPECT_EQ(p.table->RecordCount(), 2);
}

TEST(ObjectField, TableImageRebuildsObjectFieldsFromColumnNames) {
  People p;
  p.table->CreateDataSet();
  p.Add(7, "Oak Ave", "Shelbyville");
  std::string image = p.table->Data();

  TComponent owner;
  auto* copy = new TClientDataSet(&owner);
  copy->SetData(image);
  copy->Open();
  ASSERT_EQ(copy->FieldCount(), 2);
  auto* adt = dynamic_cast<TADTField*>(copy->Fields()[1]);
  ASSERT_NE(adt, nullptr);
  EXPECT_EQ(adt->FieldName(), "ADDRESS");
  ASSERT_EQ(adt->ChildFields().Count(), 2);
  EXPECT_EQ(adt->ChildFields()[0]->FullName(), "ADDRESS.STREET");
  EXPECT_EQ(adt->ChildFields()[0]->Size(), 30);
  EXPECT_EQ(copy->FieldByName("ADDRESS.CITY")->AsString(), "Shelbyville");

  // Closing frees the default fields, children included; reopening builds them again.
  copy->Close();
  EXPECT_EQ(copy->FieldCount(), 0);
  copy->Open();
  EXPECT_EQ(copy->FieldByName("ADDRESS.STREET")->AsString(), "Oak Ave");
}

TEST(ObjectField, DottedColumnBesidePlainColumnStaysFlat) {
  TComponent owner;
  auto* ds = new TClientDataSet(&owner);
  ds->FieldDefs().Add("A", ftInteger);
  ds->FieldDefs().Add("A.B", ftString, 10);
  ds->CreateDataSet();
  ASSERT_EQ(ds->FieldCount(), 2);
  EXPECT_EQ(ds->Fields()[1]->FieldName(), "A.B");
  EXPECT_EQ(ds->Fields()[1]->ParentField(), nullptr);
  ds->Append();
  ds->FieldByName("A.B")->SetAsString("kept");
  ds->Post();
  EXPECT_EQ(ds->Fields()[1]->AsString(), "kept");
}

TEST(ObjectField, RequiredChildAndMisuse) {
  People p;
  p.city->SetRequired(true);
  EXPECT_THROW(p.address->SetParentField(p.address), EDatabaseError);
  auto* inner = AddField<TADTField>(p.table, "INNER", 0, p.address);
  EXPECT_THROW(p.address->SetParentField(inner), EDatabaseError);  // would hold itself
  AddField<TIntegerField>(p.table, "ZIP", 0, inner);
  p.table->CreateDataSet();
  EXPECT_EQ(p.table->FindField("ADDRESS.INNER.ZIP")->FullName(), "ADDRESS.INNER.ZIP");
  p.table->Append();
  p.street->SetAsString("x");
  try {
    p.table->Post();
    FAIL() << "posted without the required child";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'CITY' must have a value");
  }
  p.table->Cancel();
  // An object field that goes away leaves its persistent children detached, not dangling.
  p.table->Close();
  delete inner;
  EXPECT_EQ(p.address->ChildFields().Count(), 2);
}

}  // namespace
