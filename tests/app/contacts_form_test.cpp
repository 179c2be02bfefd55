// The contact editor's main window created from its stored description inside the test program: its real
// buttons are clicked and its grid is typed into with posted messages, and the contact table's rows and
// values are read afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/unit1.h"
#include "grid/grid_desktop.h"

using namespace fw;
using namespace gridtest;

namespace {

struct Contacts {
  TForm1* form = nullptr;

  Contacts() {
    App();
    Errors().clear();
    form = new TForm1(&App());
    form->Show();
    SetForegroundWindow(form->Handle());
    Pump();
  }
  ~Contacts() {
    SetModifiers(0);
    Pump();
    delete form;
    Pump();
  }
  Contacts(const Contacts&) = delete;
  Contacts& operator=(const Contacts&) = delete;

  TClientDataSet& Table() { return *form->ClientDataSet1; }
  TJvDBGrid& Grid() { return *form->JvDBGrid1; }
  TDataSetState State() { return Table().State(); }

  // A click on a button as the system delivers it (the button takes the focus on the press).
  void Click(TButton* button) {
    PostMessageA(button->Handle(), BM_CLICK, 0, 0);
    Pump();
  }
  HWND Focus() {
    HWND f = GetFocus();
    return f ? f : Grid().Handle();
  }
  void Key(WORD vk) {
    PostMessageA(Focus(), WM_KEYDOWN, vk, 1);
    Pump();
    PostMessageA(Focus(), WM_KEYUP, vk, 1 | 0xC0000000);
    Pump();
  }
  void Type(const std::string& text) {
    for (char c : text) {
      PostMessageA(Focus(), WM_CHAR, static_cast<unsigned char>(c), 1);
      Pump();
    }
  }
  // A wheel turn goes to the window with the focus (the cell editor when it is open).
  void Wheel(int delta) {
    RECT r;
    GetWindowRect(Grid().Handle(), &r);
    PostMessageA(Focus(), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(delta))),
                 MAKELPARAM(r.left + 40, r.top + 40));
    Pump();
  }
  void ClickCell(int col, int row) {
    TRect c = Grid().CellRect(col, row);
    LPARAM at = MAKELPARAM((c.left + c.right) / 2, (c.top + c.bottom) / 2);
    PostMessageA(Grid().Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    Pump();
    PostMessageA(Grid().Handle(), WM_LBUTTONUP, 0, at);
    Pump();
  }
  bool EditorOpen() {
    TInplaceEdit* ed = Grid().InplaceEditor();
    return Grid().EditorMode() && ed && ed->HandleAllocated() && IsWindowVisible(ed->Handle());
  }
  // One contact added with the Insert button, typed and saved with the Save button.
  void AddContact(const std::string& id, const std::string& name) {
    Click(form->btnInsert);
    Type(id);
    Key(VK_TAB);
    Type(name);
    Click(form->btnSave);
  }
  // The table's rows as "ID|NAME|PHONE" ("-" for null), read while it browses.
  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    EXPECT_EQ(State(), dsBrowse) << "rows are read while the table browses";
    if (State() != dsBrowse) return rows;
    TBookmark here = Table().GetBookmark();
    auto text = [](TField* f) { return f->IsNull() ? std::string("-") : f->AsString(); };
    for (Table().First(); !Table().Eof(); Table().Next())
      rows.push_back(text(form->ClientDataSet1ID) + "|" + text(form->ClientDataSet1NAME) + "|" +
                     text(form->ClientDataSet1PHONE));
    if (!here.empty()) Table().GotoBookmark(here);
    Pump();
    return rows;
  }
};

using RowList = std::vector<std::string>;

}  // namespace

TEST(ContactsForm, TheCellEditorOpensOnTheInsertedRowAndTypingFillsIt) {
  // Enter, F2 and a click on the new row's ID cell all open the editor on the new row: the row stays, and
  // what is typed goes into it, not into the contact before it.
  struct Way {
    const char* name;
    std::function<void(Contacts&)> open;
  };
  const Way ways[] = {
      {"Enter", [](Contacts& c) { c.Key(VK_RETURN); }},
      {"F2", [](Contacts& c) { c.Key(VK_F2); }},
      {"click on the ID cell", [](Contacts& c) { c.ClickCell(c.Grid().Col(), c.Grid().Row()); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    Contacts c;
    c.AddContact("7", "Ana");
    ASSERT_EQ(c.Rows(), RowList{"7|Ana|-"});
    c.Click(c.form->btnInsert);
    ASSERT_EQ(c.State(), dsInsert);
    way.open(c);
    EXPECT_EQ(c.State(), dsInsert) << "the new row was dropped";
    EXPECT_TRUE(c.EditorOpen());
    EXPECT_TRUE(IsWindowEnabled(c.form->btnSave->Handle()));
    c.Type("9");
    c.Key(VK_TAB);
    c.Type("Bia");
    c.Click(c.form->btnSave);
    EXPECT_EQ(c.State(), dsBrowse);
    EXPECT_EQ(c.Rows(), (RowList{"7|Ana|-", "9|Bia|-"}));
    EXPECT_TRUE(Errors().empty()) << Errors().front();
  }
}

TEST(ContactsForm, SaveRightAfterInsertKeepsAnEmptyContact) {
  Contacts c;
  c.Click(c.form->btnInsert);
  ASSERT_EQ(c.State(), dsInsert);
  c.Click(c.form->btnSave);
  EXPECT_EQ(c.State(), dsBrowse);
  EXPECT_EQ(c.Rows(), RowList{"-|-|-"});
  EXPECT_TRUE(IsWindowEnabled(c.form->btnInsert->Handle()));
  EXPECT_FALSE(IsWindowEnabled(c.form->btnSave->Handle()));
  // The same after the editor was opened and closed again without typing.
  c.Click(c.form->btnInsert);
  c.Key(VK_F2);
  c.Key(VK_RETURN);
  c.Click(c.form->btnSave);
  EXPECT_EQ(c.Rows(), (RowList{"-|-|-", "-|-|-"}));
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

TEST(ContactsForm, TheWheelOverTheCellEditorDropsWhatWasTyped) {
  Contacts c;
  c.AddContact("7", "Ana");
  // A new contact with a typed ID: the wheel drops the whole new row.
  c.Click(c.form->btnInsert);
  c.Key(VK_RETURN);
  c.Type("9");
  ASSERT_TRUE(c.EditorOpen());
  c.Wheel(-120);
  EXPECT_EQ(c.State(), dsBrowse);
  EXPECT_EQ(c.Rows(), RowList{"7|Ana|-"});
  // An edit of a stored contact: the old name stays.
  c.Key(VK_TAB);
  c.Key(VK_F2);
  c.Type("Zeca");
  ASSERT_EQ(c.State(), dsEdit);
  c.Wheel(120);
  EXPECT_EQ(c.State(), dsBrowse);
  EXPECT_EQ(c.Rows(), RowList{"7|Ana|-"});
  EXPECT_TRUE(IsWindowEnabled(c.form->btnInsert->Handle()));
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}
