#include "framework/grid_geometry.h"

#include <algorithm>

namespace fw {

void GridAxis::SetCount(int count) {
  count_ = std::max(0, count);
  if (static_cast<int>(extents_.size()) > count_) extents_.resize(static_cast<size_t>(count_));
  if (fixed_ > count_) fixed_ = count_;
  if (first_ < fixed_) first_ = fixed_;
  if (first_ >= count_) first_ = std::max(fixed_, count_ - 1);
}

void GridAxis::SetDefaultExtent(int extent) {
  defaultExtent_ = extent;
  extents_.clear();
}

int GridAxis::Extent(int index) const {
  if (index < 0 || index >= count_) return 0;
  if (index < static_cast<int>(extents_.size()) && extents_[static_cast<size_t>(index)] >= 0)
    return extents_[static_cast<size_t>(index)];
  return defaultExtent_;
}

void GridAxis::SetExtent(int index, int extent) {
  if (index < 0 || index >= count_) return;
  if (static_cast<int>(extents_.size()) <= index) extents_.resize(static_cast<size_t>(index) + 1, -1);
  extents_[static_cast<size_t>(index)] = std::max(0, extent);
}

void GridAxis::MoveExtent(int from, int to) {
  if (from < 0 || from >= count_ || to < 0 || to >= count_ || from == to) return;
  std::vector<int> all(static_cast<size_t>(count_));
  for (int i = 0; i < count_; ++i)
    all[static_cast<size_t>(i)] = Customised(i) ? extents_[static_cast<size_t>(i)] : -1;
  int moved = all[static_cast<size_t>(from)];
  all.erase(all.begin() + from);
  all.insert(all.begin() + to, moved);
  extents_ = std::move(all);
}

int GridAxis::BorderAt(int pos, int tolerance, int client) const {
  for (int i = 0; i < count_; ++i) {
    int start = Start(i);
    if (start < 0) continue;
    if (start >= client) break;
    int border = start + Extent(i);
    if (pos >= border - tolerance && pos <= border + tolerance) return i;
  }
  return -1;
}

int GridAxis::FixedExtent() const {
  int total = 0;
  for (int i = 0; i < fixed_; ++i) total += Extent(i) + lineWidth_;
  return total;
}

int GridAxis::Start(int index) const {
  if (index < 0 || index >= count_) return -1;
  if (index < fixed_) {
    int pos = 0;
    for (int i = 0; i < index; ++i) pos += Extent(i) + lineWidth_;
    return pos;
  }
  if (index < first_) return -1;
  int pos = FixedExtent();
  for (int i = first_; i < index; ++i) pos += Extent(i) + lineWidth_;
  return pos;
}

int GridAxis::At(int pos, int client) const {
  if (pos < 0) return -1;
  int p = 0;
  for (int i = 0; i < fixed_; ++i) {
    p += Extent(i) + lineWidth_;
    if (pos < p) return i;
  }
  for (int i = first_; i < count_ && p < client; ++i) {
    p += Extent(i) + lineWidth_;
    if (pos < p) return i;
  }
  return -1;
}

int GridAxis::FullyVisible(int client) const {
  int p = FixedExtent();
  int n = 0;
  for (int i = first_; i < count_; ++i) {
    p += Extent(i);
    if (p > client) break;
    p += lineWidth_;
    ++n;
  }
  if (n == 0 && first_ < count_) n = 1;
  return n;
}

int GridAxis::MaxFirst(int client) const {
  int avail = client - FixedExtent();
  int first = count_ - 1;
  int used = 0;
  for (int i = count_ - 1; i >= fixed_; --i) {
    used += Extent(i) + lineWidth_;
    if (used - lineWidth_ > avail) break;
    first = i;
  }
  return std::max(fixed_, std::min(first, count_ - 1));
}

int GridAxis::FirstShowing(int index, int client) const {
  if (index < fixed_) return first_;
  if (index < first_) return index;
  // Move First forward until `index` ends inside the client extent.
  int first = first_;
  for (;;) {
    int p = FixedExtent();
    for (int i = first; i <= index; ++i) p += Extent(i) + (i < index ? lineWidth_ : 0);
    if (p <= client || first >= index) return first;
    ++first;
  }
}

TRect GridGeometry::CellRect(int col, int row) const {
  int x = cols.Start(col), y = rows.Start(row);
  if (x < 0 || y < 0 || x >= clientWidth || y >= clientHeight) return TRect{};
  return TRect{x, y, x + cols.Extent(col), y + rows.Extent(row)};
}

GridCoord GridGeometry::MouseCoord(int x, int y) const {
  GridCoord c{cols.At(x, clientWidth), rows.At(y, clientHeight)};
  if (c.x < 0 || c.y < 0) return GridCoord{};
  return c;
}

void GridGeometry::ClampTopLeft() {
  cols.SetFirst(std::clamp(cols.First(), cols.Fixed(), std::max(cols.Fixed(), cols.MaxFirst(clientWidth))));
  rows.SetFirst(std::clamp(rows.First(), rows.Fixed(), std::max(rows.Fixed(), rows.MaxFirst(clientHeight))));
}

bool GridGeometry::MakeVisible(int col, int row) {
  int c = cols.FirstShowing(col, clientWidth), r = rows.FirstShowing(row, clientHeight);
  bool changed = c != cols.First() || r != rows.First();
  cols.SetFirst(c);
  rows.SetFirst(r);
  return changed;
}

int GridGeometry::ColumnBorderAt(int x, int tolerance) const { return cols.BorderAt(x, tolerance, clientWidth); }

int GridGeometry::RowBorderAt(int y, int tolerance) const { return rows.BorderAt(y, tolerance, clientHeight); }

int GridGeometry::ColumnDropTarget(int x) const {
  if (cols.Count() <= cols.Fixed()) return -1;
  if (x < cols.FixedExtent()) return cols.First();
  int c = cols.At(x, clientWidth);
  if (c >= cols.Fixed()) return c;
  int last = cols.First();
  for (int i = cols.First(); i < cols.Count(); ++i) {
    int start = cols.Start(i);
    if (start < 0 || start >= clientWidth) break;
    last = i;
  }
  return last;
}

int GridGeometry::ColumnDropMarkerX(int origin, int target) const {
  int start = cols.Start(target);
  if (start < 0) return -1;
  return target > origin ? start + cols.Extent(target) : start;
}

}  // namespace fw
