// Datasets over the engine: the contact table's states and notifications, fields and their conversions, data
// link windows, bookmarks, lookups and datasets loaded from stored forms.
#include <gtest/gtest.h>

#include <memory>

#include "framework/component_stream.h"
#include "framework/component_text.h"
#include "framework/db.h"
#include "tests/dataset/contact_image.h"

using namespace fw;

namespace {

// Records what a control would be told.
class RecordingLink : public TDataLink {
 public:
  std::vector<std::string> log;
  std::vector<int> scrolls;
  TField* focusAsked = nullptr;
  bool swallowFocus = true;
  std::function<void()> onUpdateData;

  void ActiveChanged() override { log.push_back(Active() ? "active" : "inactive"); }
  void DataSetChanged() override { log.push_back("changed"); }
  void DataSetScrolled(int distance) override {
    scrolls.push_back(distance);
    log.push_back("scrolled");
  }
  void RecordChanged(TField* field) override { log.push_back(field ? "field " + field->FieldName() : "record"); }
  void EditingChanged() override { log.push_back(Editing() ? "editing" : "not editing"); }
  void FocusControl(TField** field) override {
    focusAsked = *field;
    if (swallowFocus) *field = nullptr;
  }
  void UpdateData() override {
    log.push_back("update");
    if (onUpdateData) onUpdateData();
  }
  int Count(const std::string& what) const { return static_cast<int>(std::count(log.begin(), log.end(), what)); }
};

// The contact table with a data source that counts state changes, as the main window has it.
struct Contacts {
  TComponent owner;
  TClientDataSet* table = new TClientDataSet(&owner);
  TDataSource* source = new TDataSource(&owner);
  std::vector<TDataSetState> states;

  Contacts() {
    source->OnStateChange = [this](TComponent*) { states.push_back(source->State()); };
    source->SetDataSet(table);
    table->SetData(ContactImage());
    table->Open();
  }
  TField* ID() const { return table->FieldByName("ID"); }
  TField* Name() const { return table->FieldByName("NAME"); }
  TField* Phone() const { return table->FieldByName("PHONE"); }
  void Add(int id, const std::string& name) {
    table->Append();
    ID()->SetAsInteger(id);
    Name()->SetAsString(name);
    table->Post();
  }
};

}  // namespace

TEST(ContactTable, OpensFromTheStoredImageWithThreeColumnsAndNoRows) {
  Contacts c;
  EXPECT_EQ(c.table->State(), dsBrowse);
  EXPECT_EQ(c.states, (std::vector<TDataSetState>{dsBrowse}));
  ASSERT_EQ(c.table->FieldCount(), 3);
  EXPECT_EQ(c.ID()->DataType(), ftInteger);
  EXPECT_EQ(c.ID()->ClassName(), "TIntegerField");
  EXPECT_EQ(c.Name()->DataType(), ftString);
  EXPECT_EQ(c.Name()->Size(), 50);
  EXPECT_EQ(c.Phone()->Size(), 20);
  EXPECT_EQ(c.table->Fields()[1]->DisplayLabel(), "NAME");
  EXPECT_EQ(c.table->RecordCount(), 0);
  EXPECT_TRUE(c.table->IsEmpty());
  EXPECT_TRUE(c.table->Bof());
  EXPECT_TRUE(c.table->Eof());
  EXPECT_TRUE(c.ID()->IsNull());
  EXPECT_EQ(c.table->Data(), ContactImage());
  c.table->Close();
  EXPECT_EQ(c.table->FieldCount(), 0);  // default fields go with the table
  EXPECT_EQ(c.states, (std::vector<TDataSetState>{dsBrowse, dsInactive}));
}

TEST(ContactTable, EveryTransitionIsReportedOnceThroughTheDataSource) {
  Contacts c;
  c.table->Append();
  EXPECT_EQ(c.table->State(), dsInsert);
  EXPECT_EQ(c.table->RecNo(), 1);
  c.Name()->SetAsString("Ana");
  c.table->Post();
  EXPECT_EQ(c.table->State(), dsBrowse);
  c.table->Edit();
  EXPECT_EQ(c.table->State(), dsEdit);
  c.table->Cancel();
  c.table->Edit();
  c.Phone()->SetAsString("555");
  c.table->Post();
  c.table->Insert();
  c.table->Cancel();
  c.table->Append();
  c.table->Delete();  // deleting a new record cancels it
  c.table->Close();
  using S = std::vector<TDataSetState>;
  EXPECT_EQ(c.states, (S{dsBrowse, dsInsert, dsBrowse, dsEdit, dsBrowse, dsEdit, dsBrowse, dsInsert, dsBrowse,
                         dsInsert, dsBrowse, dsInactive}));
  c.table->Open();
  EXPECT_EQ(c.table->RecordCount(), 0);  // reopening starts from the stored image again
}

TEST(ContactTable, MovingAwayPostsAChangedRecordAndDropsAnUntouchedOne) {
  Contacts c;
  c.Add(1, "Ana");
  c.table->Append();
  c.table->Prior();  // untouched: disappears
  EXPECT_EQ(c.table->State(), dsBrowse);
  EXPECT_EQ(c.table->RecordCount(), 1);
  EXPECT_EQ(c.Name()->AsString(), "Ana");
  c.table->Append();
  c.Phone()->SetText("123");
  c.table->First();  // changed: posted
  EXPECT_EQ(c.table->RecordCount(), 2);
  EXPECT_EQ(c.table->RecNo(), 1);
  c.table->Last();
  EXPECT_EQ(c.Phone()->AsString(), "123");
  EXPECT_TRUE(c.ID()->IsNull());
  // An edit that changed nothing is cancelled, one that changed something is posted.
  c.table->Edit();
  c.table->First();
  EXPECT_EQ(c.table->State(), dsBrowse);
  c.table->Edit();
  c.Name()->SetAsString("Bia");
  c.table->CheckBrowseMode();
  EXPECT_EQ(c.table->State(), dsBrowse);
  EXPECT_EQ(c.Name()->AsString(), "Bia");
  EXPECT_EQ(c.table->RecordStatus(), 1);  // still a new row for the engine
  // A record inserted in the middle and left untouched: the move lands on the row that was meant.
  c.Add(3, "Caio");  // rows: Bia, (null), Caio
  c.table->First();
  c.table->Insert();  // new row 1 of 4
  EXPECT_EQ(c.table->RecNo(), 1);
  c.table->MoveBy(2);  // row 3 of 4 with the new record = row 2 of 3 without it
  EXPECT_EQ(c.table->RecordCount(), 3);
  EXPECT_EQ(c.table->RecNo(), 2);
}

TEST(ContactTable, EmptyAndDuplicateRecordsAreKept) {
  Contacts c;
  c.table->Append();
  c.table->Post();  // nothing typed: kept, all fields null
  c.Add(7, "Ana");
  c.Add(7, "Ana");
  ASSERT_EQ(c.table->RecordCount(), 3);
  c.table->First();
  EXPECT_TRUE(c.ID()->IsNull());
  EXPECT_TRUE(c.Name()->IsNull());
  EXPECT_TRUE(c.Phone()->IsNull());
  c.table->Next();
  EXPECT_EQ(c.ID()->AsInteger(), 7);
  c.table->Next();
  EXPECT_EQ(c.ID()->AsInteger(), 7);
  EXPECT_FALSE(c.table->Eof());
  c.table->Next();
  EXPECT_TRUE(c.table->Eof());
  EXPECT_EQ(c.table->RecNo(), 3);
}

TEST(ContactTable, TextIsCutToTheWidthAndBadIntegersRaiseWithoutLeavingTheState) {
  Contacts c;
  c.table->Append();
  c.Name()->SetText(std::string(60, 'x'));
  EXPECT_EQ(c.Name()->AsString(), std::string(50, 'x'));
  c.Phone()->SetAsString("+55 11 5555-0000 ramal 12");
  EXPECT_EQ(c.Phone()->AsString(), "+55 11 5555-0000 ram");
  c.ID()->SetText("42");
  try {
    c.ID()->SetText("abc");
    FAIL() << "no conversion error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  EXPECT_EQ(c.table->State(), dsInsert);
  EXPECT_EQ(c.ID()->AsInteger(), 42);
  EXPECT_THROW(c.ID()->SetText("4294967296"), EConvertError);
  EXPECT_THROW(c.ID()->SetText("1.5"), EConvertError);
  c.ID()->SetText(" -17 ");
  EXPECT_EQ(c.ID()->AsInteger(), -17);
  c.ID()->SetText("");
  EXPECT_TRUE(c.ID()->IsNull());
  c.table->Post();
  c.table->Edit();
  EXPECT_THROW(c.ID()->SetText("12a"), EConvertError);
  EXPECT_EQ(c.table->State(), dsEdit);
  EXPECT_EQ(c.states.back(), dsEdit);
  EXPECT_EQ(c.Name()->AsString(), std::string(50, 'x'));
  EXPECT_EQ(c.Name()->OldValue().AsString(), std::string(50, 'x'));
  c.Name()->SetAsString("Ana");
  EXPECT_EQ(c.Name()->OldValue().AsString(), std::string(50, 'x'));
  c.table->Cancel();
  EXPECT_EQ(c.Name()->AsString(), std::string(50, 'x'));
}

TEST(ContactTable, MisuseRaisesDatabaseErrors) {
  Contacts c;
  EXPECT_THROW(c.ID()->SetAsInteger(1), EDatabaseError);  // browse
  EXPECT_THROW(c.table->Post(), EDatabaseError);
  EXPECT_THROW(c.table->Delete(), EDatabaseError);  // empty
  EXPECT_THROW(c.table->FieldByName("EMAIL"), EDatabaseError);
  EXPECT_EQ(c.table->FindField("email"), nullptr);
  EXPECT_EQ(c.table->FindField("name"), c.Name());
  c.table->Edit();  // an empty table inserts instead
  EXPECT_EQ(c.table->State(), dsInsert);
  c.table->Cancel();
  c.table->SetReadOnly(true);
  EXPECT_FALSE(c.table->CanModify());
  EXPECT_FALSE(c.ID()->CanModify());
  EXPECT_THROW(c.table->Append(), EDatabaseError);
  c.table->SetReadOnly(false);
  c.ID()->SetRequired(true);
  c.table->Append();
  try {
    c.table->Post();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'ID' must have a value");
  }
  EXPECT_EQ(c.table->State(), dsInsert);
  c.table->Close();
  EXPECT_THROW(c.table->Next(), EDatabaseError);
  c.table->SetData("not an image");
  try {
    c.table->Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("table image"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(c.table->Active());
  EXPECT_EQ(c.table->FieldCount(), 0);
}

TEST(ContactTable, DeleteKeepsTheCursorOnTheNextRecord) {
  Contacts c;
  for (int i = 1; i <= 3; ++i) c.Add(i, "n" + std::to_string(i));
  c.table->SetRecNo(2);
  c.table->Delete();
  EXPECT_EQ(c.ID()->AsInteger(), 3);
  c.table->Delete();
  EXPECT_EQ(c.ID()->AsInteger(), 1);
  c.table->Edit();
  c.table->Delete();  // deleting while editing drops the edit too
  EXPECT_TRUE(c.table->IsEmpty());
  EXPECT_EQ(c.table->State(), dsBrowse);
  EXPECT_EQ(c.table->ChangeCount(), 0);  // rows inserted and deleted in the same run leave nothing
}

TEST(DataLink, WindowFollowsTheCurrentRecordAndReportsScrollDistances) {
  Contacts c;
  for (int i = 1; i <= 10; ++i) c.Add(i, "n" + std::to_string(i));
  RecordingLink link;
  link.SetBufferCount(3);
  link.SetDataSource(c.source);
  ASSERT_TRUE(link.Active());
  c.table->First();
  EXPECT_EQ(link.FirstRecord(), 0);
  EXPECT_EQ(link.ActiveRecord(), 0);
  link.scrolls.clear();
  c.table->Next();   // inside the window
  c.table->Next();
  c.table->Next();   // leaves it at the bottom: one record
  c.table->MoveBy(4);
  c.table->Prior();  // inside again
  c.table->First();  // back to the top
  EXPECT_EQ(link.scrolls, (std::vector<int>{0, 0, 1, 4, 0, -5}));
  c.table->Last();
  EXPECT_EQ(link.FirstRecord(), 7);
  EXPECT_EQ(link.ActiveRecord(), 2);
  EXPECT_EQ(link.RecordCount(), 3);

  // Painting: select each record of the window, read it, go back to the current one.
  std::vector<int> ids;
  for (int i = 0; i < link.RecordCount(); ++i) {
    link.SetActiveRecord(i);
    ids.push_back(c.ID()->AsInteger());
    EXPECT_EQ(link.ActiveRecord(), i);
  }
  link.SetActiveRecord(2);
  EXPECT_EQ(ids, (std::vector<int>{8, 9, 10}));
  EXPECT_EQ(c.ID()->AsInteger(), 10);
  EXPECT_EQ(c.table->ReadRowOverride(), -1);

  // Appending shows the new record at the bottom of a full window; it counts as a record of the window.
  link.log.clear();
  c.table->Append();
  EXPECT_EQ(link.FirstRecord(), 8);
  EXPECT_EQ(link.ActiveRecord(), 2);
  EXPECT_EQ(link.RecordCount(), 3);
  EXPECT_TRUE(link.Editing());
  EXPECT_EQ(link.log, (std::vector<std::string>{"editing", "changed"}));
  link.SetActiveRecord(1);
  EXPECT_EQ(c.ID()->AsInteger(), 10);  // the record above the new one
  link.SetActiveRecord(2);
  EXPECT_TRUE(c.ID()->IsNull());
  c.table->Cancel();
  EXPECT_EQ(link.FirstRecord(), 7);  // the window fills up again
  EXPECT_FALSE(link.Editing());

  // A larger window than the table, and the table emptied under it.
  link.SetBufferCount(20);
  EXPECT_EQ(link.FirstRecord(), 0);
  EXPECT_EQ(link.RecordCount(), 10);
  EXPECT_EQ(link.ActiveRecord(), 9);
  c.table->Close();
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(link.RecordCount(), 0);
  EXPECT_EQ(link.log.back(), "inactive");
}

TEST(DataLink, EditingFieldsAndFocusRequestsReachTheLinks) {
  Contacts c;
  RecordingLink a, b;
  a.SetDataSource(c.source);
  b.SetDataSource(c.source);
  EXPECT_TRUE(a.Edit());  // an empty table inserts
  EXPECT_EQ(c.table->State(), dsInsert);
  c.table->Cancel();
  c.Add(1, "Ana");
  a.log.clear();
  EXPECT_TRUE(a.Edit());
  c.Name()->SetAsString("Bia");
  EXPECT_EQ(a.log, (std::vector<std::string>{"editing", "record", "field NAME"}));
  // Posting asks the controls for their pending text first; a control that refuses keeps the edit open.
  a.onUpdateData = [&] { c.Phone()->SetAsString("999"); };
  c.table->Post();
  EXPECT_EQ(c.Phone()->AsString(), "999");
  a.onUpdateData = [&] { c.ID()->SetText("x"); };
  c.table->Edit();
  EXPECT_THROW(c.table->Post(), EConvertError);
  EXPECT_EQ(c.table->State(), dsEdit);
  a.onUpdateData = nullptr;
  c.table->Cancel();
  // The first link that takes the focus request ends it.
  c.ID()->FocusControl();
  EXPECT_EQ(a.focusAsked, c.ID());
  EXPECT_EQ(b.focusAsked, nullptr);
  a.swallowFocus = false;
  c.Phone()->FocusControl();
  EXPECT_EQ(b.focusAsked, c.Phone());
  // A read-only link does not edit.
  b.SetReadOnly(true);
  EXPECT_FALSE(b.Edit());
  EXPECT_EQ(c.table->State(), dsBrowse);
  // AutoEdit off: links cannot start editing either.
  c.source->SetAutoEdit(false);
  EXPECT_FALSE(a.Edit());
}

TEST(DataLink, DisabledControlsHearNothingUntilEnabledButStateChangesStillCount) {
  Contacts c;
  for (int i = 1; i <= 5; ++i) c.Add(i, "n");
  RecordingLink link;
  link.SetBufferCount(2);
  link.SetDataSource(c.source);
  link.log.clear();
  size_t states = c.states.size();
  c.table->DisableControls();
  c.table->DisableControls();
  c.table->First();
  c.table->Edit();
  c.table->Cancel();
  c.table->EnableControls();
  EXPECT_TRUE(link.log.empty());
  EXPECT_EQ(c.states.size(), states + 2);
  c.table->EnableControls();
  EXPECT_EQ(link.log, (std::vector<std::string>{"changed"}));
  EXPECT_EQ(link.FirstRecord(), 0);
}

TEST(DataLink, DataSourceSwitchesAndTeardownAreSafe) {
  auto c = std::make_unique<Contacts>();
  RecordingLink link;
  link.SetDataSource(c->source);
  c->source->SetEnabled(false);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(c->source->State(), dsInactive);
  c->source->SetEnabled(true);
  EXPECT_TRUE(link.Active());
  {
    TClientDataSet other;
    other.SetData(ContactImage());
    other.Open();
    c->source->SetDataSet(&other);
    EXPECT_EQ(link.DataSet(), &other);
  }  // the dataset goes away under the data source
  EXPECT_EQ(c->source->DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
  c->source->SetDataSet(c->table);
  EXPECT_TRUE(link.Active());
  c.reset();  // the form-like owner goes with its table and data source: the link lets go without a word
  EXPECT_EQ(link.DataSource(), nullptr);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(link.log, (std::vector<std::string>{"active", "inactive", "active", "inactive", "active"}));

  // A data source freed on its own tells its links.
  TClientDataSet table;
  table.SetData(ContactImage());
  table.Open();
  auto* source = new TDataSource(nullptr);
  source->SetDataSet(&table);
  RecordingLink other;
  other.SetDataSource(source);
  delete source;
  EXPECT_EQ(other.log, (std::vector<std::string>{"active", "inactive"}));
}

TEST(Bookmarks, SurviveInsertsAndDeletesAndCompareByPosition) {
  Contacts c;
  for (int i = 1; i <= 4; ++i) c.Add(i, "n");
  c.table->SetRecNo(2);
  TBookmark two = c.table->GetBookmark();
  c.table->Last();
  TBookmark four = c.table->GetBookmark();
  EXPECT_LT(c.table->CompareBookmarks(two, four), 0);
  EXPECT_GT(c.table->CompareBookmarks(four, two), 0);
  EXPECT_EQ(c.table->CompareBookmarks(two, two), 0);
  EXPECT_LT(c.table->CompareBookmarks(TBookmark(), two), 0);
  c.table->First();
  c.table->Insert();
  c.ID()->SetAsInteger(0);
  EXPECT_EQ(c.table->GetBookmark(), TBookmark());  // the new record has none yet
  c.table->Post();
  c.table->GotoBookmark(two);
  EXPECT_EQ(c.ID()->AsInteger(), 2);
  EXPECT_EQ(c.table->RecNo(), 3);
  c.table->Delete();
  EXPECT_FALSE(c.table->BookmarkValid(two));
  EXPECT_TRUE(c.table->BookmarkValid(four));
  EXPECT_THROW(c.table->GotoBookmark(two), EDatabaseError);
  EXPECT_THROW(c.table->GotoBookmark("xyz"), EDatabaseError);
  c.table->GotoBookmark(four);
  EXPECT_EQ(c.ID()->AsInteger(), 4);
}

namespace {
// A table with the further field kinds, built in code.
struct Kinds {
  TComponent owner;
  TClientDataSet* ds = new TClientDataSet(&owner);
  Kinds() {
    ds->FieldDefs().Add("ID", ftInteger);
    ds->FieldDefs().Add("ACTIVE", ftBoolean);
    ds->FieldDefs().Add("PRICE", ftFloat);
    ds->FieldDefs().Add("NOTES", ftMemo);
    ds->FieldDefs().Add("PHOTO", ftBlob);
    ds->FieldDefs().Add("SMALL", ftSmallint);
    ds->FieldDefs().Add("BIG", ftLargeint);
    ds->FieldDefs().Add("CITY", ftInteger);
    ds->CreateDataSet();
  }
};
}  // namespace

TEST(Fields, LogicalFloatMemoAndBlobValuesConvert) {
  Kinds k;
  TClientDataSet& ds = *k.ds;
  ASSERT_EQ(ds.FieldCount(), 8);
  EXPECT_EQ(ds.FieldByName("ACTIVE")->ClassName(), "TBooleanField");
  EXPECT_EQ(ds.FieldByName("PRICE")->ClassName(), "TFloatField");
  EXPECT_EQ(ds.FieldByName("NOTES")->ClassName(), "TMemoField");
  EXPECT_EQ(ds.FieldByName("PHOTO")->ClassName(), "TBlobField");
  EXPECT_TRUE(ds.FieldByName("NOTES")->IsBlob());
  ds.Append();
  TField* active = ds.FieldByName("ACTIVE");
  active->SetText("true");
  EXPECT_EQ(active->AsString(), "True");
  active->SetText("F");
  EXPECT_FALSE(active->AsBoolean());
  EXPECT_EQ(active->DisplayText(), "False");
  EXPECT_THROW(active->SetText("maybe"), EConvertError);
  static_cast<TBooleanField*>(active)->SetDisplayValues("Sim;Não");
  active->SetAsBoolean(true);
  EXPECT_EQ(active->Text(), "Sim");

  TField* price = ds.FieldByName("PRICE");
  price->SetText("1.5");
  EXPECT_EQ(price->AsFloat(), 1.5);
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(price->AsString(), "1,5");
  price->SetText("2,25");
  EXPECT_EQ(price->AsFloat(), 2.25);
  EXPECT_THROW(price->SetText("2.25"), EConvertError);
  FormatSettings().DecimalSeparator = '.';
  try {
    price->SetText("x1");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'x1' is not a valid floating point value");
  }
  price->SetAsFloat(0.1);
  EXPECT_EQ(price->AsString(), "0.1");

  TField* notes = ds.FieldByName("NOTES");
  EXPECT_EQ(notes->DisplayText(), "(Memo)");
  notes->SetAsString("line 1\r\nline 2");
  EXPECT_EQ(notes->DisplayText(), "(MEMO)");
  EXPECT_EQ(notes->Text(), "line 1\r\nline 2");
  TField* photo = ds.FieldByName("PHOTO");
  photo->SetAsString(std::string("\x89PNG\0\1", 6));
  EXPECT_EQ(photo->DisplayText(), "(BLOB)");
  EXPECT_EQ(photo->AsString().size(), 6u);

  TField* small = ds.FieldByName("SMALL");
  EXPECT_THROW(small->SetAsInteger(40000), EDatabaseError);
  small->SetText("-32768");
  EXPECT_EQ(small->AsInteger(), -32768);
  TField* big = ds.FieldByName("BIG");
  big->SetText("9000000000");
  EXPECT_EQ(big->AsLargeInt(), 9000000000LL);
  EXPECT_THROW((void)big->AsInteger(), EConvertError);
  // Hooks: OnGetText shapes display text, OnSetText takes over assignments of text.
  TField* id = ds.FieldByName("ID");
  id->OnGetText = [](TField* f, std::string& text, bool display) {
    text = display ? "#" + f->AsString() : f->AsString();
  };
  id->OnSetText = [](TField* f, const std::string& text) { f->SetAsInteger(static_cast<int32_t>(text.size())); };
  id->SetText("four");
  EXPECT_EQ(id->DisplayText(), "#4");
  EXPECT_EQ(id->Text(), "4");
  ds.Post();

  // Everything survives the table image.
  std::string image = ds.Data();
  TClientDataSet copy;
  copy.SetData(image);
  copy.Open();
  EXPECT_EQ(copy.FieldByName("NOTES")->AsString(), "line 1\r\nline 2");
  EXPECT_EQ(copy.FieldByName("PHOTO")->AsString(), std::string("\x89PNG\0\1", 6));
  EXPECT_EQ(copy.FieldByName("BIG")->AsLargeInt(), 9000000000LL);
  EXPECT_TRUE(copy.FieldByName("ACTIVE")->AsBoolean());
  EXPECT_EQ(copy.FieldByName("SMALL")->DataType(), ftSmallint);
}

TEST(Fields, LookupFieldsResolveThroughTheLookupDataSet) {
  TComponent owner;
  auto* cities = new TClientDataSet(&owner);
  cities->FieldDefs().Add("CODE", ftInteger);
  cities->FieldDefs().Add("CITYNAME", ftString, 30);
  cities->CreateDataSet();
  for (auto [code, name] : {std::pair{1, "Recife"}, {2, "Rio Branco"}, {3, "Salvador"}}) {
    cities->Append();
    cities->FieldByName("CODE")->SetAsInteger(code);
    cities->FieldByName("CITYNAME")->SetAsString(name);
    cities->Post();
  }
  auto* people = new TClientDataSet(&owner);
  people->FieldDefs().Add("NAME", ftString, 20);
  people->FieldDefs().Add("CITY", ftInteger);
  auto* lookup = new TStringField(&owner);
  lookup->SetFieldName("CITYNAME");
  lookup->SetFieldKind(fkLookup);
  lookup->SetLookupDataSet(cities);
  lookup->SetKeyFields("CITY");
  lookup->SetLookupKeyFields("CODE");
  lookup->SetLookupResultField("CITYNAME");
  lookup->SetDataSet(people);
  people->CreateDataSet();
  ASSERT_EQ(people->FieldCount(), 3);  // default data fields in front of the lookup field
  EXPECT_EQ(people->Fields()[2], lookup);
  EXPECT_TRUE(lookup->Lookup());
  people->Append();
  EXPECT_TRUE(lookup->IsNull());
  people->FieldByName("CITY")->SetAsInteger(2);
  EXPECT_EQ(lookup->AsString(), "Rio Branco");
  EXPECT_TRUE(lookup->CanModify());
  lookup->SetAsString("Salvador");  // stores the key of the matching record
  EXPECT_EQ(people->FieldByName("CITY")->AsInteger(), 3);
  EXPECT_THROW(lookup->SetAsString("Lisboa"), EDatabaseError);
  people->Post();

  // Incremental search as a grid does it: partial, ignoring case; the lookup table moves, nothing else.
  EXPECT_TRUE(cities->Locate("CITYNAME", {Variant("rio")}, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(cities->FieldByName("CODE")->AsInteger(), 2);
  EXPECT_FALSE(cities->Locate("CITYNAME", {Variant("rio")}, loPartialKey));
  EXPECT_EQ(cities->RecNo(), 2);
  EXPECT_EQ(cities->Lookup("CODE", {Variant(1)}, "CITYNAME").AsString(), "Recife");
  EXPECT_TRUE(cities->Lookup("CODE", {Variant(9)}, "CITYNAME").IsNull());
  delete cities;  // the lookup field forgets its dataset
  EXPECT_EQ(lookup->LookupDataSet(), nullptr);
  EXPECT_TRUE(lookup->IsNull());
}

TEST(Fields, CalculatedFieldsComeFromOnCalcFieldsForTheRecordBeingRead) {
  Contacts c;
  auto* label = new TStringField(&c.owner);
  label->SetFieldName("LABEL");
  label->SetFieldKind(fkCalculated);
  c.table->Close();
  label->SetDataSet(c.table);
  auto* id = new TIntegerField(&c.owner);  // persistent data fields next to the calculated one
  id->SetFieldName("ID");
  id->SetDataSet(c.table);
  auto* name = new TStringField(&c.owner);
  name->SetFieldName("NAME");
  name->SetDataSet(c.table);
  int calls = 0;
  c.table->OnCalcFields = [&](TDataSet* ds) {
    ++calls;
    ds->FieldByName("LABEL")->SetAsString(ds->FieldByName("ID")->AsString() + ":" + ds->FieldByName("NAME")->AsString());
  };
  c.table->Open();
  EXPECT_EQ(c.table->FieldCount(), 3);
  c.Add(1, "Ana");
  c.Add(2, "Bia");
  EXPECT_FALSE(label->CanModify());
  RecordingLink link;
  link.SetBufferCount(2);
  link.SetDataSource(c.source);
  link.SetActiveRecord(0);
  EXPECT_EQ(label->AsString(), "1:Ana");
  link.SetActiveRecord(1);
  EXPECT_EQ(label->DisplayText(), "2:Bia");
  EXPECT_GT(calls, 0);
  c.table->Edit();
  EXPECT_THROW(label->SetAsString("x"), EDatabaseError);
  c.table->Cancel();
}

TEST(Fields, PersistentFieldsMustMatchTheTable) {
  TClientDataSet ds;
  auto* id = new TStringField(&ds);
  id->SetFieldName("ID");
  id->SetDataSet(&ds);
  ds.SetData(ContactImage());
  try {
    ds.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("Type mismatch for field 'ID', expecting: String actual: Integer"),
              std::string::npos) << e.what();
  }
  EXPECT_FALSE(ds.Active());
  id->SetFieldName("EMAIL");
  EXPECT_THROW(ds.Open(), EDatabaseError);
  id->SetFieldName("PHONE");
  id->SetSize(100);
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 1);  // persistent fields only
  EXPECT_EQ(id->FieldNo(), 3);
  EXPECT_EQ(id->Size(), 20);      // never wider than the column
  EXPECT_THROW(id->SetDataSet(nullptr), EDatabaseError);
}

namespace {
// A form-like root that knows one handler by name.
class TRoot : public TComponent {
 public:
  TRoot() : TComponent(nullptr) {}
  int stateChanges = 0;
  std::vector<TDataSetState> seen;
  TDataSource* source = nullptr;
  Method stateChange = [this](TComponent* sender) {
    ++stateChanges;
    seen.push_back(static_cast<TDataSource*>(sender)->State());
  };
  const Method* FindMethod(std::string_view name) const override {
    return name == "DataSource1StateChange" ? &stateChange : nullptr;
  }
};

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char ch : bytes) out += digits[ch >> 4], out += digits[ch & 15];
  return out;
}

void Load(TRoot& root, const std::string& text) {
  std::string bin, error;
  ASSERT_TRUE(CompileComponentText(text, bin, error)) << error;
  LoadComponent(&root, ReadComponentStream(bin));
}
}  // namespace

TEST(StoredForm, TableOpensAfterItsFieldsAreLoadedAndReportsBrowseOnce) {
  TRoot root;
  Load(root, R"(object Form1: TRoot
  object DataSource1: TDataSource
    DataSet = ClientDataSet1
    OnStateChange = DataSource1StateChange
  end
  object ClientDataSet1: TClientDataSet
    Active = True
    Aggregates = <>
    Params = <>
    Data = {)" + Hex(ContactImage()) + R"(}
    object ClientDataSet1ID: TIntegerField
      FieldName = 'ID'
    end
    object ClientDataSet1NAME: TStringField
      FieldName = 'NAME'
      Size = 50
    end
    object ClientDataSet1PHONE: TStringField
      FieldName = 'PHONE'
    end
  end
end
)");
  auto* table = dynamic_cast<TClientDataSet*>(root.FindComponent("ClientDataSet1"));
  auto* source = dynamic_cast<TDataSource*>(root.FindComponent("DataSource1"));
  ASSERT_NE(table, nullptr);
  ASSERT_NE(source, nullptr);
  EXPECT_TRUE(table->Active());
  EXPECT_EQ(root.stateChanges, 1);
  EXPECT_EQ(root.seen, (std::vector<TDataSetState>{dsBrowse}));
  ASSERT_EQ(table->FieldCount(), 3);
  auto* id = root.FindComponent("ClientDataSet1ID");
  EXPECT_EQ(table->Fields()[0], id);  // the persistent fields, owned by the form
  EXPECT_EQ(table->Fields()[0]->Owner(), &root);
  EXPECT_EQ(table->FieldByName("PHONE")->Size(), 20);
  table->Append();
  EXPECT_EQ(root.seen.back(), dsInsert);
  table->FieldByName("ID")->SetAsInteger(5);
  table->Post();
  EXPECT_EQ(root.stateChanges, 3);
}

TEST(StoredForm, FieldPropertiesAndLookupReferencesAreApplied) {
  TRoot root;
  Load(root, R"(object Form1: TRoot
  object People: TClientDataSet
    FieldDefs = <
      item
        Name = 'NAME'
        DataType = ftString
        Size = 10
      end
      item
        Name = 'CITY'
        DataType = ftInteger
      end>
    object PeopleNAME: TStringField
      DisplayLabel = 'Nome'
      FieldName = 'NAME'
      Required = True
      Size = 10
    end
    object PeopleCITY: TIntegerField
      FieldName = 'CITY'
      Visible = False
      ReadOnly = True
      Alignment = taCenter
      DisplayWidth = 3
    end
    object PeopleCITYNAME: TStringField
      FieldKind = fkLookup
      FieldName = 'CITYNAME'
      LookupDataSet = Cities
      LookupKeyFields = 'CODE'
      LookupResultField = 'CITYNAME'
      KeyFields = 'CITY'
      Lookup = True
    end
  end
  object Cities: TClientDataSet
  end
end
)");
  auto* people = dynamic_cast<TClientDataSet*>(root.FindComponent("People"));
  ASSERT_NE(people, nullptr);
  EXPECT_FALSE(people->Active());
  ASSERT_EQ(people->FieldCount(), 3);
  TField* name = people->Fields()[0];
  EXPECT_EQ(name->DisplayLabel(), "Nome");
  EXPECT_TRUE(name->Required());
  TField* city = people->FieldByName("CITY");
  EXPECT_FALSE(city->Visible());
  EXPECT_TRUE(city->ReadOnly());
  EXPECT_EQ(city->Alignment(), taCenter);
  EXPECT_EQ(city->DisplayWidth(), 3);
  TField* cityName = people->FieldByName("CITYNAME");
  EXPECT_EQ(cityName->FieldKind(), fkLookup);
  EXPECT_EQ(cityName->LookupDataSet(), root.FindComponent("Cities"));
  EXPECT_EQ(cityName->KeyFields(), "CITY");
  people->CreateDataSet();  // from the stored field definitions
  EXPECT_EQ(people->FieldCount(), 3);
  EXPECT_EQ(name->FieldNo(), 1);
  EXPECT_EQ(city->FieldNo(), 2);
  EXPECT_FALSE(city->CanModify());
}

TEST(StoredForm, BadStoredValuesAreRefused) {
  auto fails = [](const std::string& body) {
    TRoot root;
    std::string bin, error;
    if (!CompileComponentText("object Form1: TRoot\n" + body + "end\n", bin, error)) return true;
    try {
      LoadComponent(&root, ReadComponentStream(bin));
    } catch (const Exception&) {
      return true;
    }
    return false;
  };
  EXPECT_TRUE(fails("object T: TClientDataSet\n Data = 'text'\nend\n"));
  EXPECT_TRUE(fails("object T: TClientDataSet\n Active = True\nend\n"));  // no data to open
  EXPECT_TRUE(fails("object T: TClientDataSet\n Active = True\n Data = {00000000}\nend\n"));
  EXPECT_TRUE(fails("object S: TDataSource\n DataSet = Nowhere\nend\n"));
  EXPECT_TRUE(fails("object S: TDataSource\n OnStateChange = Unknown\nend\n"));
  EXPECT_TRUE(fails("object F: TIntegerField\n Alignment = taSideways\nend\n"));
  EXPECT_TRUE(fails("object F: TIntegerField\n Colour = 1\nend\n"));
  EXPECT_FALSE(fails("object F: TIntegerField\n Alignment = taCenter\n DisplayFormat = '0'\nend\n"));
  EXPECT_FALSE(fails("object T: TClientDataSet\n FieldDefs = <\n item\n Name = 'A'\n DataType = ftInteger\n end>\n"
                     "end\n"));
}

TEST(Conversions, IntegerAndFloatTexts) {
  EXPECT_EQ(StrToInt("$7FFFFFFF"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_THROW(StrToInt("2147483648"), EConvertError);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_THROW(StrToInt64("-"), EConvertError);
  EXPECT_THROW(StrToInt64("$"), EConvertError);
  EXPECT_THROW(StrToInt64("1 2"), EConvertError);
  EXPECT_EQ(StrToFloat(" 1e3 "), 1000.0);
  EXPECT_THROW(StrToFloat("1e"), EConvertError);
  EXPECT_THROW(StrToFloat("."), EConvertError);
  EXPECT_THROW(StrToFloat("nan"), EConvertError);
  EXPECT_THROW(StrToFloat("1e999"), EConvertError);
  EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToStr(-2.5e20), "-2.5E+20");
  EXPECT_EQ(Variant("True").AsBool(), true);
  EXPECT_THROW(Variant("yes").AsBool(), EConvertError);
}
