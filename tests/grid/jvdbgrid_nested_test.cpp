// Columns over object fields: expanding and collapsing them (through the collection and with real clicks on
// the title's expand button), the extra title rows, the parent title spanning its child columns, and the
// child columns' cells showing the child values.
#include <gtest/gtest.h>

#include "grid/grid_desktop.h"
#include "support/desktop_win.h"

using namespace fw;
using namespace gridtest;

namespace {

// The host grid switched to a table of people with an ADDRESS object field (STREET, CITY).
struct People {
  Host h;
  TClientDataSet* ds = new TClientDataSet(h.form);
  TDataSource* src = new TDataSource(h.form);

  People() {
    ds->FieldDefs().Add("ID", ftInteger);
    ds->FieldDefs().Add("ADDRESS.STREET", ftString, 20);
    ds->FieldDefs().Add("ADDRESS.CITY", ftString, 20);
    ds->FieldDefs().Add("NAME", ftString, 12);
    ds->CreateDataSet();
    const char* rows[][3] = {{"Main St", "Springfield", "Ana"}, {"Elm Rd", "Shelbyville", "Bruno"}};
    for (int i = 0; i < 2; ++i) {
      ds->Append();
      ds->FieldByName("ID")->SetAsInteger(i + 1);
      ds->FieldByName("ADDRESS.STREET")->SetAsString(rows[i][0]);
      ds->FieldByName("ADDRESS.CITY")->SetAsString(rows[i][1]);
      ds->FieldByName("NAME")->SetAsString(rows[i][2]);
      ds->Post();
    }
    ds->First();
    src->SetDataSet(ds);
    h.grid->SetDataSource(src);
    Pump();
  }
  TColumn* Address() { return h.grid->Columns()[1]; }
  TRect Title(int gridCol, int row) { return h.grid->TitleRect(gridCol, row); }
  // The middle of the expand button of ADDRESS's title.
  TPoint Button() {
    int gc = h.grid->GridColumnOf(Address()->Expanded() ? h.grid->Columns()[2] : Address());
    TRect b = TCustomDBGrid::ExpandButtonRect(Title(gc, 0));
    return {(b.left + b.right) / 2, (b.top + b.bottom) / 2};
  }
};

TEST(GridNestedColumns, ExpandingShowsChildColumnsUnderTheParentTitle) {
  People p;
  TJvDBGrid* g = p.h.grid;
  ASSERT_EQ(g->Columns().Count(), 3);
  EXPECT_TRUE(p.Address()->Expandable());
  EXPECT_FALSE(g->Columns()[0]->Expandable());
  EXPECT_EQ(g->TitleOffset(), 1);

  p.Address()->SetExpanded(true);
  ASSERT_EQ(g->Columns().Count(), 5);  // ID, ADDRESS, STREET, CITY, NAME
  TColumn* street = g->Columns()[2];
  EXPECT_EQ(street->FieldName(), "ADDRESS.STREET");
  EXPECT_EQ(street->Depth(), 1);
  EXPECT_EQ(street->ParentColumn(), p.Address());
  EXPECT_EQ(street->ColumnAtDepth(0), p.Address());
  EXPECT_EQ(street->ColumnAtDepth(1), street);
  EXPECT_EQ(g->Columns()[4]->ColumnAtDepth(1), g->Columns()[4]);
  EXPECT_FALSE(p.Address()->Showing());
  EXPECT_EQ(g->GridColumnOf(street), g->GridColumnOf(g->Columns()[0]) + 1);
  EXPECT_EQ(g->TitleOffset(), 2);
  EXPECT_EQ(g->FixedRows(), 2);

  // The first data row is below both title rows and the window still holds both records.
  EXPECT_EQ(g->Row(), 2);
  EXPECT_EQ(g->DataLink().RecordCount(), 2);

  // Collapsing hides the children but keeps them (and their widths) for the next expansion.
  street->SetWidth(111);
  p.Address()->SetExpanded(false);
  EXPECT_EQ(g->TitleOffset(), 1);
  EXPECT_FALSE(street->Showing());
  EXPECT_TRUE(p.Address()->Showing());
  p.Address()->SetExpanded(true);
  ASSERT_EQ(g->Columns().Count(), 5);
  EXPECT_EQ(g->Columns()[2]->Width(), 111);

  // A layout change from the dataset does not throw the nested columns away.
  p.ds->FieldByName("NAME")->SetDisplayLabel("Who");
  p.ds->FieldByName("ID")->SetVisible(true);
  g->LayoutChanged();
  EXPECT_EQ(g->Columns().Count(), 5);

  // Moving a nested column stays among its siblings; deleting the parent takes its children along.
  g->Columns().Move(3, 0);
  EXPECT_EQ(g->Columns()[3]->FieldName(), "ADDRESS.CITY") << "CITY may not leave ADDRESS";
  g->Columns().Move(3, 2);
  EXPECT_EQ(g->Columns()[2]->FieldName(), "ADDRESS.CITY");
  g->Columns().Move(1, 4);  // ADDRESS with its children after NAME
  EXPECT_EQ(g->Columns()[0]->FieldName(), "ID");
  EXPECT_EQ(g->Columns()[1]->FieldName(), "NAME");
  EXPECT_EQ(g->Columns()[2]->FieldName(), "ADDRESS");
  EXPECT_EQ(g->Columns()[4]->FieldName(), "ADDRESS.STREET");
  g->Columns().Delete(2);
  EXPECT_EQ(g->Columns().Count(), 2);
  EXPECT_EQ(g->TitleOffset(), 1);
}

TEST(GridNestedColumns, ExpandButtonClicksToggleAndTitlesSpan) {
  People p;
  TJvDBGrid* g = p.h.grid;
  TColumn* id = g->Columns()[0];
  Pump();
  int addressCol = g->GridColumnOf(p.Address());
  TRect collapsedTitle = p.Title(addressCol, 0);
  // The collapsed ADDRESS cell shows its children's texts together.
  EXPECT_GT(p.h.InkIn(g->CellRect(addressCol, 1), ColorToRGB(g->Color())), 0);

  // A click on the title away from the button sorts nothing and expands nothing.
  p.h.Click(collapsedTitle.left + 5, (collapsedTitle.top + collapsedTitle.bottom) / 2);
  EXPECT_FALSE(p.Address()->Expanded());

  TPoint b = p.Button();
  EXPECT_GT(b.x, collapsedTitle.right - GetSystemMetrics(SM_CXVSCROLL) - 1);
  p.h.Click(b.x, b.y);
  ASSERT_TRUE(p.Address()->Expanded());
  Pump();
  EXPECT_EQ(g->TitleOffset(), 2);
  TColumn* street = g->Columns()[2];
  TColumn* city = g->Columns()[3];
  int sc = g->GridColumnOf(street), cc = g->GridColumnOf(city);
  ASSERT_EQ(cc, sc + 1);

  // Geometry: the parent's title covers both child columns on the upper row; the children's titles fill the
  // lower row; a column without children covers both rows.
  TRect parent = p.Title(sc, 0);
  EXPECT_EQ(parent, p.Title(cc, 0));
  EXPECT_EQ(parent.left, g->CellRect(sc, 0).left);
  EXPECT_EQ(parent.right, g->CellRect(cc, 0).right);
  EXPECT_EQ(parent.bottom, g->CellRect(sc, 0).bottom);
  EXPECT_EQ(p.Title(sc, 1), g->CellRect(sc, 1));
  TRect idTitle = p.Title(g->GridColumnOf(id), 1);
  EXPECT_EQ(idTitle.top, g->CellRect(1, 0).top);
  EXPECT_EQ(idTitle.bottom, g->CellRect(1, 1).bottom);

  // Pixels: nothing separates STREET and CITY on the upper title row, but their own titles on the lower row
  // are apart (edge or line); nothing separates the two rows of ID's title.
  TRect streetTop = g->CellRect(sc, 0), streetLow = g->CellRect(sc, 1);
  auto parted = [&](int x, int y) { return p.h.PixelAt(x - 1, y) != p.h.PixelAt(x - 4, y) || p.h.PixelAt(x, y) != p.h.PixelAt(x - 4, y); };
  EXPECT_FALSE(parted(streetTop.right, streetTop.top + 3));
  EXPECT_TRUE(parted(streetLow.right, streetLow.top + 3));
  TRect idTop = g->CellRect(1, 0);
  int idX = idTop.right - 6;
  EXPECT_EQ(p.h.PixelAt(idX, idTop.bottom), p.h.PixelAt(idX, idTop.bottom - 3));
  EXPECT_EQ(p.h.PixelAt(idX, idTop.bottom + 1), p.h.PixelAt(idX, idTop.bottom - 3));
  TRect corner = g->CellRect(0, 0);
  EXPECT_EQ(p.h.PixelAt(corner.left + 4, corner.bottom), p.h.PixelAt(corner.left + 4, corner.bottom - 3))
      << "the indicator's title cell covers both rows";

  // Column borders can be dragged only where they show: not inside the parent's title, but below it.
  int streetWidth = street->Width();
  auto drag = [&](int y) {
    p.h.Press(streetTop.right, y);
    p.h.MoveTo(streetTop.right + 10, y);
    p.h.MoveTo(streetTop.right + 20, y);
    p.h.Release(streetTop.right + 20, y);
    Pump();
  };
  drag(streetTop.top + 3);
  EXPECT_EQ(street->Width(), streetWidth);
  EXPECT_EQ(g->GridColumnOf(street), sc) << "dragging the parent's title moves no child column";
  EXPECT_TRUE(p.Address()->Expanded());
  drag(streetLow.top + 3);
  EXPECT_EQ(street->Width(), streetWidth + 20);
  cc = g->GridColumnOf(city);
  streetTop = g->CellRect(sc, 0);
  parent = p.Title(sc, 0);

  // The child cells show the child values: CITY's cell of the first record has ink, and its text is the
  // city's.
  TRect cityCell = g->CellRect(cc, 2);
  EXPECT_GT(p.h.InkIn(cityCell, ColorToRGB(g->Color())) + p.h.InkIn(cityCell, ColorToRGB(clHighlight)), 0);
  g->SetSelectedIndex(city->Index());
  EXPECT_EQ(g->SelectedField(), p.ds->FieldByName("ADDRESS.CITY"));
  EXPECT_EQ(g->SelectedField()->DisplayText(), "Springfield");
  p.h.Shot("grid-expanded-columns");

  // The button now sits at the right end of the parent's title; clicking it collapses again.
  b = p.Button();
  EXPECT_GT(b.x, parent.right - GetSystemMetrics(SM_CXVSCROLL) - 1);
  EXPECT_LT(b.y, parent.bottom);
  p.h.Click(b.x, b.y);
  EXPECT_FALSE(p.Address()->Expanded());
  EXPECT_EQ(g->TitleOffset(), 1);
  EXPECT_EQ(g->GridColumnOf(street), -1);
}

}  // namespace
