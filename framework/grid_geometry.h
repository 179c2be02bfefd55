// Geometry of a grid of cells: column widths and row heights, fixed (non-scrolling) leading columns and rows,
// the scroll position, and the mapping between cells and client pixels. Portable; the grid control keeps one.
#pragma once
#include <vector>

#include "framework/graphics.h"

namespace fw {

class GridAxis {
 public:
  int Count() const { return count_; }
  void SetCount(int count);
  int Fixed() const { return fixed_; }
  void SetFixed(int fixed) { fixed_ = fixed; }
  int DefaultExtent() const { return defaultExtent_; }
  void SetDefaultExtent(int extent);  // also resets every individual extent
  int Extent(int index) const;
  void SetExtent(int index, int extent);
  // Moves the extent of cell `from` to position `to`; the cells between shift by one.
  void MoveExtent(int from, int to);
  bool Customised(int index) const { return index >= 0 && index < static_cast<int>(extents_.size()) && extents_[static_cast<size_t>(index)] >= 0; }
  int LineWidth() const { return lineWidth_; }
  void SetLineWidth(int w) { lineWidth_ = w; }
  int First() const { return first_; }  // first scrolling cell shown
  void SetFirst(int first) { first_ = first; }

  // The cell whose far border lies within `tolerance` pixels of pos (cells shown within `client`), or -1.
  int BorderAt(int pos, int tolerance, int client) const;
  // Pixels used by the fixed cells (each followed by a grid line).
  int FixedExtent() const;
  // Start position of a cell in client pixels, or -1 when it is scrolled out of view.
  int Start(int index) const;
  // The cell at a client position (fixed cells included), or -1.
  int At(int pos, int client) const;
  // Scrolling cells wholly visible from First within a client extent (at least 1 when any exist).
  int FullyVisible(int client) const;
  // The greatest First that still fills the client extent.
  int MaxFirst(int client) const;
  // The First that brings `index` into view with the least scrolling.
  int FirstShowing(int index, int client) const;

 private:
  int count_ = 0;
  int fixed_ = 0;
  int defaultExtent_ = 24;
  std::vector<int> extents_;  // -1: default
  int lineWidth_ = 1;
  int first_ = 0;
};

struct GridCoord {
  int x = -1, y = -1;  // column, row
  bool operator==(const GridCoord&) const = default;
};

class GridGeometry {
 public:
  GridAxis cols, rows;
  int clientWidth = 0, clientHeight = 0;

  TRect CellRect(int col, int row) const;   // empty when not visible
  GridCoord MouseCoord(int x, int y) const;
  int VisibleColCount() const { return cols.FullyVisible(clientWidth); }
  int VisibleRowCount() const { return rows.FullyVisible(clientHeight); }
  // Keeps the scroll position inside its range.
  void ClampTopLeft();
  // Scrolls so that the cell is visible; returns true when the position changed.
  bool MakeVisible(int col, int row);
  // Column whose right border lies within `tolerance` pixels of x on the given row band, or -1.
  int ColumnBorderAt(int x, int tolerance) const;
  // Row whose bottom border lies within `tolerance` pixels of y, or -1.
  int RowBorderAt(int y, int tolerance) const;
  // Scrolling column where a column dragged to client position x would be dropped: the column under x, the
  // first one shown left of the scrolling area, the last one shown right of the cells; -1 when none scrolls.
  int ColumnDropTarget(int x) const;
  // Client x of the drop marker for a column dragged from `origin` to `target`: the target's right border
  // when moving right, its left border otherwise.
  int ColumnDropMarkerX(int origin, int target) const;
};

}  // namespace fw
