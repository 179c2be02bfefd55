// Helpers that the grid's units share: guards that restore state on every exit path, glyph drawing and the
// key field of a lookup field.
#pragma once
#include <windows.h>

#include "framework/db.h"

namespace fw::gridsupport {

// Restores a value on every exit path.
template <class T>
struct Restore {
  T& ref;
  T saved;
  explicit Restore(T& r) : ref(r), saved(r) {}
  ~Restore() { ref = saved; }
};

struct ActiveRecordGuard {
  TDataLink& link;
  int saved;
  explicit ActiveRecordGuard(TDataLink& l) : link(l), saved(l.ActiveRecord()) {}
  ~ActiveRecordGuard() { link.SetActiveRecord(saved); }
};

struct ControlsGuard {
  TDataSet* ds;
  explicit ControlsGuard(TDataSet* d) : ds(d) { ds->DisableControls(); }
  ~ControlsGuard() { ds->EnableControls(); }
};

// Draws a bitmap with one colour left transparent.
void DrawGlyph(HDC dc, HBITMAP bmp, int x, int y, COLORREF key);

// The first key field of a lookup field, or nullptr.
TField* LookupKeyField(TField* lookup);

}  // namespace fw::gridsupport
