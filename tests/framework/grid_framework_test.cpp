// Portable pieces behind column moving and run-time property access: moving a column's width with it, where a
// dragged column drops and where its marker goes, and published properties found through the class ancestry.
#include <gtest/gtest.h>

#include "framework/exceptions.h"
#include "framework/grid_geometry.h"
#include "framework/typinfo.h"

using namespace fw;

namespace {

// Indicator (11) + five columns of 40, 50, 60, 70, 80 pixels, one-pixel lines, 200 pixels of client.
GridGeometry FiveColumns() {
  GridGeometry g;
  g.cols.SetCount(6);
  g.cols.SetFixed(1);
  g.cols.SetFirst(1);
  g.cols.SetDefaultExtent(64);
  g.cols.SetExtent(0, 11);
  for (int i = 1; i < 6; ++i) g.cols.SetExtent(i, 30 + 10 * i);
  g.rows.SetCount(3);
  g.rows.SetFixed(1);
  g.rows.SetFirst(1);
  g.clientWidth = 200;
  g.clientHeight = 100;
  return g;
}

}  // namespace

TEST(ColumnMoving, WidthsTravelWithTheirColumn) {
  GridGeometry g = FiveColumns();
  g.cols.MoveExtent(1, 4);  // the 40-pixel column goes to the fourth place
  EXPECT_EQ(g.cols.Extent(1), 50);
  EXPECT_EQ(g.cols.Extent(3), 70);
  EXPECT_EQ(g.cols.Extent(4), 40);
  EXPECT_EQ(g.cols.Extent(5), 80);
  g.cols.MoveExtent(4, 1);
  for (int i = 1; i < 6; ++i) EXPECT_EQ(g.cols.Extent(i), 30 + 10 * i) << i;
  // Default extents stay default (they follow a later default change); bad indexes change nothing.
  g.cols.SetDefaultExtent(25);
  g.cols.SetExtent(2, 90);
  g.cols.MoveExtent(2, 5);
  EXPECT_EQ(g.cols.Extent(5), 90);
  EXPECT_FALSE(g.cols.Customised(2));
  g.cols.MoveExtent(-1, 3);
  g.cols.MoveExtent(1, 6);
  EXPECT_EQ(g.cols.Extent(5), 90);
}

TEST(ColumnMoving, DropTargetAndMarker) {
  GridGeometry g = FiveColumns();
  // Starts: col1 12, col2 53, col3 104, col4 165, col5 236 (not shown).
  EXPECT_EQ(g.ColumnDropTarget(5), 1) << "over the indicator: the first scrolling column";
  EXPECT_EQ(g.ColumnDropTarget(12), 1);
  EXPECT_EQ(g.ColumnDropTarget(60), 2);
  EXPECT_EQ(g.ColumnDropTarget(199), 4);
  EXPECT_EQ(g.ColumnDropTarget(500), 4) << "past the right edge: the last column shown";
  // Moving right the marker sits on the target's right border; moving left on its left border.
  EXPECT_EQ(g.ColumnDropMarkerX(1, 3), 104 + 60);
  EXPECT_EQ(g.ColumnDropMarkerX(3, 1), 12);
  g.cols.SetFirst(2);
  EXPECT_EQ(g.ColumnDropTarget(5), 2);
  EXPECT_EQ(g.ColumnDropMarkerX(3, 1), -1) << "a target scrolled away has no marker";
  // Row borders: title 0..19, rows of 24 after one-pixel lines; a border catches within the tolerance.
  g.rows.SetDefaultExtent(24);
  g.rows.SetExtent(0, 20);
  EXPECT_EQ(g.RowBorderAt(20, 2), 0);
  EXPECT_EQ(g.RowBorderAt(45, 2), 1);
  EXPECT_EQ(g.RowBorderAt(47, 2), 1);
  EXPECT_EQ(g.RowBorderAt(48, 2), -1);
  EXPECT_EQ(g.RowBorderAt(70, 2), 2);
  EXPECT_EQ(g.RowBorderAt(90, 2), -1) << "past the last row";
  // Nothing scrolls: no target.
  GridGeometry empty;
  empty.cols.SetCount(1);
  empty.cols.SetFixed(1);
  empty.clientWidth = 100;
  EXPECT_EQ(empty.ColumnDropTarget(50), -1);
}

namespace {
class Base : public TPersistent {
 public:
  bool Flag() const { return flag_; }
  void SetFlag(bool v) { flag_ = v; }

 private:
  bool flag_ = false;
};
class Derived : public Base {};
class Other : public TPersistent {};

BoolPropRegistration<Base> registerFlag("ReadOnly", &Base::Flag, &Base::SetFlag);
}  // namespace

TEST(PublishedProperties, FoundThroughTheAncestryAndSetByName) {
  Derived d;
  Other o;
  ASSERT_NE(GetPropInfo(d, "readonly"), nullptr) << "names compare without case; derived classes inherit";
  EXPECT_EQ(GetPropInfo(d, "ReadOnly", TTypeKind::tkInteger), nullptr) << "a property of another kind is no match";
  EXPECT_EQ(GetPropInfo(o, "ReadOnly"), nullptr);
  SetBoolProp(d, "ReadOnly", true);
  EXPECT_TRUE(d.Flag());
  EXPECT_TRUE(GetBoolProp(d, "ReadOnly"));
  SetBoolProp(d, "ReadOnly", false);
  EXPECT_FALSE(GetBoolProp(d, "ReadOnly"));
  EXPECT_THROW(SetBoolProp(o, "ReadOnly", true), EPropertyError);
  EXPECT_THROW(GetBoolProp(d, "Missing"), EPropertyError);
}
