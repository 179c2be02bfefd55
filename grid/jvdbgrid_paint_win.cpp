// Painting of the data grid: cell colours, glyphs and check boxes, titles with sort markers and visual
// styles, the indicator with the multi-row selection marks, and the grid's text routine.
#include "grid/jvdbgrid.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

#include "framework/forms.h"
#include "framework/typinfo.h"
#include "grid/jvdbgrid_support.h"

namespace fw {

using namespace jvgrid;
using namespace gridsupport;

namespace {

// The glyph bitmaps, loaded on first use and shared by every grid; freed when the program ends.
struct GlyphCache {
  std::array<HBITMAP, kGlyphCount> bitmaps{};
  std::array<bool, kGlyphCount> tried{};
  ~GlyphCache() {
    for (HBITMAP b : bitmaps)
      if (b) DeleteObject(b);
  }
};
GlyphCache& Glyphs() {
  static GlyphCache cache;
  return cache;
}

}  // namespace

HBITMAP GridGlyph(int index) {
  if (index < 0 || index >= kGlyphCount) return nullptr;
  GlyphCache& c = Glyphs();
  if (!c.tried[static_cast<size_t>(index)]) {
    c.tried[static_cast<size_t>(index)] = true;
    c.bitmaps[static_cast<size_t>(index)] =
        static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), kGlyphNames[index], IMAGE_BITMAP, 0, 0, 0));
  }
  return c.bitmaps[static_cast<size_t>(index)];
}

TPoint GridGlyphSize(int index) {
  HBITMAP b = GridGlyph(index);
  if (!b) return {};
  BITMAP info{};
  GetObject(b, sizeof info, &info);
  return {info.bmWidth, info.bmHeight};
}

// ---------------------------------------------------------------------------------------------------------
// Painting

TThemeServices& TJvDBGrid::Themes() const { return themes_ ? *themes_ : TThemeServices::Instance(); }

bool TJvDBGrid::ThemedDrawing() const { return UseXPThemes && Themes().Active(); }

void TJvDBGrid::FillScrollBarCorner() {
  if (!ThemedDrawing() || !HandleAllocated()) return;
  HWND h = Handle();
  LONG style = GetWindowLongA(h, GWL_STYLE);
  if (!(style & WS_VSCROLL) || !(style & WS_HSCROLL)) return;
  // The box between the two scroll bars takes the grid's colour.
  RECT client;
  GetClientRect(h, &client);
  MapWindowPoints(h, nullptr, reinterpret_cast<POINT*>(&client), 2);
  RECT window;
  GetWindowRect(h, &window);
  int x = client.right - window.left, y = client.bottom - window.top;
  RECT box{x, y, x + GetSystemMetrics(SM_CXVSCROLL), y + GetSystemMetrics(SM_CYHSCROLL)};
  HDC dc = GetWindowDC(h);
  HBRUSH b = CreateSolidBrush(ColorToRGB(Color()));
  FillRect(dc, &box, b);
  DeleteObject(b);
  ReleaseDC(h, dc);
}

bool TJvDBGrid::DrawThemedHeader(const TRect& rect, THeaderState state) {
  return ThemedDrawing() && Themes().DrawHeaderItem(Handle(), Canvas().Handle(), rect, state);
}

void TJvDBGrid::MouseLeave() {
  if (hotTitle_ >= 0) InvalidateTitle(hotTitle_);
  hotTitle_ = -1;
}

void TJvDBGrid::Paint() {
  if (OnBeforePaint) OnBeforePaint(this);
  // Themed headers bring their own borders: the fixed lines are off while styles are in use.
  TDBGridOptions o = TCustomDBGrid::Options();
  TGridOptions fixedLines = ((o & dgColLines) ? goFixedVertLine : 0u) | ((o & dgRowLines) ? goFixedHorzLine : 0u);
  options_ = (options_ & ~(goFixedVertLine | goFixedHorzLine)) | (ThemedDrawing() ? 0u : fixedLines);
  TJvExDBGrid::Paint();
  if ((o & dgRowSelect) && DefaultDrawing && Focused()) {
    TRect first = CellRect(TCustomGrid::FixedCols(), Row());
    TRect last = CellRect(ColCount() - 1, Row());
    if (!first.IsEmpty()) {
      TRect r{first.left, first.top, last.IsEmpty() ? ClientWidth() : last.right, first.bottom};
      Canvas().DrawFocusRect(r);
    }
  }
  if (OnAfterPaint) OnAfterPaint(this);
}

void TJvDBGrid::WriteCellText(TCanvas& canvas, const TRect& rect, int dx, int dy, const std::string& text,
                              TAlignment alignment, UINT extraFlags, bool fillBackground) {
  UINT flags = DT_NOPREFIX | DT_EXPANDTABS | extraFlags;
  if (wordWrap_) flags |= DT_WORDBREAK;
  flags |= alignment == taRightJustify ? DT_RIGHT : alignment == taCenter ? DT_CENTER : DT_LEFT;
  if (rect.IsEmpty()) return;
  RECT tr{dx, dy, rect.Width() - 1, rect.Height() - 1};
  COLORREF fg = ColorToRGB(canvas.Font().Color());
  COLORREF bg = ColorToRGB(canvas.Brush().color);
  HFONT font = FontHandle(canvas.Font());
  if (ReduceFlicker && !ThemedDrawing()) {
    // Off screen, then copied in one step.
    HDC target = canvas.Handle();
    HDC mem = CreateCompatibleDC(target);
    HBITMAP bmp = CreateCompatibleBitmap(target, rect.Width(), rect.Height());
    HGDIOBJ oldBmp = SelectObject(mem, bmp);
    HGDIOBJ oldFont = SelectObject(mem, font);
    RECT all{0, 0, rect.Width(), rect.Height()};
    if (fillBackground) {
      HBRUSH b = CreateSolidBrush(bg);
      FillRect(mem, &all, b);
      DeleteObject(b);
    } else {
      BitBlt(mem, 0, 0, rect.Width(), rect.Height(), target, rect.left, rect.top, SRCCOPY);
    }
    SetBkMode(mem, TRANSPARENT);
    SetTextColor(mem, fg);
    DrawTextA(mem, text.data(), static_cast<int>(text.size()), &tr, flags);
    BitBlt(target, rect.left, rect.top, rect.Width(), rect.Height(), mem, 0, 0, SRCCOPY);
    SelectObject(mem, oldFont);
    SelectObject(mem, oldBmp);
    DeleteObject(bmp);
    DeleteDC(mem);
  } else {
    if (fillBackground) canvas.FillRect(rect);
    TRect r{rect.left + tr.left, rect.top + tr.top, rect.left + tr.right, rect.top + tr.bottom};
    TBrushStyle old = canvas.Brush().style;
    canvas.Brush().style = TBrushStyle::bsClear;
    canvas.DrawText(text, r, flags);
    canvas.Brush().style = old;
  }
}

void TJvDBGrid::DrawCell(int col, int row, TRect rect, TGridDrawState state) {
  TDBGridOptions o = TCustomDBGrid::Options();
  bool titles = o & dgTitles, indicator = o & dgIndicator;
  bool fixed = col < TCustomGrid::FixedCols() || row < FixedRows();
  bool edges = (GridOptions() & (goFixedVertLine | goFixedHorzLine)) == (goFixedVertLine | goFixedHorzLine);
  if (titles && indicator && col == 0 && row == 0) {
    Canvas().Brush().color = FixedColor();
    if (DrawThemedHeader(rect, THeaderState::Normal)) {
      edges = false;
    } else {
      Canvas().FillRect(rect);
    }
    if (edges) {
      Canvas().DrawEdge(rect, BDR_RAISEDINNER, BF_BOTTOMRIGHT);
      Canvas().DrawEdge(rect, BDR_RAISEDINNER, BF_TOPLEFT);
    }
    if (titleArrow_)
      if (HBITMAP b = GridGlyph(kGlyphPopup)) {
        TPoint sz = GridGlyphSize(kGlyphPopup);
        DrawGlyph(Canvas().Handle(), b, rect.left + (rect.Width() - sz.x + 1) / 2,
                  rect.top + (rect.Height() - sz.y + 1) / 2, RGB(255, 255, 255));
      }
    return;
  }
  TJvExDBGrid::DrawCell(col, row, rect, state);
  // Title cells draw their own edges (pressed or raised); other fixed cells get the raised edge here.
  if (fixed && edges && !(titles && row == 0)) {
    Canvas().DrawEdge(rect, BDR_RAISEDINNER, BF_BOTTOMRIGHT);
    Canvas().DrawEdge(rect, BDR_RAISEDINNER, BF_TOPLEFT);
  }
}

void TJvDBGrid::DrawDataCell(int col, int row, TRect rect, TGridDrawState state) {
  TColumn* column = ShownColumn(col);
  if (!column) {
    TJvExDBGrid::DrawDataCell(col, row, rect, state);
    return;
  }
  TCanvas& c = Canvas();
  TDBGridOptions o = TCustomDBGrid::Options();
  bool hasRecord = DataLink().Active() && row - TitleOffset() < DataLink().RecordCount();
  ActiveRecordGuard ar(DataLink());
  if (hasRecord) DataLink().SetActiveRecord(row - TitleOffset());
  TField* field = column->Field();
  bool focused = Focused() || (InplaceEditor() && InplaceEditor()->Focused());
  bool inMultiSelection = false;
  if (hasRecord && multiSelect_ && SelectedRows().Count() > 0)
    inMultiSelection = SelectedRows().RowSelected(DataLink().DataSet()->ReadRow());
  bool selected = (state & gdSelected) || inMultiSelection;
  bool highlight = selected && ((o & dgAlwaysShowSelection) || focused);
  if ((state & gdSelected) && !inMultiSelection && !(o & dgRowSelect) && !(state & gdFocused)) highlight = false;
  CellColourInput in;
  in.columnColor = column->Color();
  in.columnFontColor = column->Font().Color();
  in.columnColorAssigned = column->ColorAssigned();
  in.columnDefaultColor = column->DefaultColor();
  in.fixed = col < TCustomGrid::FixedCols();
  in.fixedColor = FixedColor();
  in.gridRow = row;
  in.fixedRows = FixedRows();
  in.alternateRowColor = alternateRowColor_;
  in.alternateRowFontColor = alternateRowFontColor_;
  in.gridColor = Color();
  in.highlight = highlight;
  CellColours colours = DecideCellColours(in);
  c.Font().Assign(column->Font());
  c.Font().SetColor(colours.font);
  TColor background = colours.background;
  if (OnGetCellParams) OnGetCellParams(this, field, c.Font(), background, highlight || inMultiSelection);
  else if (OnGetCellProps) OnGetCellProps(this, field, c.Font(), background);
  if (field && readOnlyCellColor_ != clDefault && !highlight) {
    ReadOnlyColourInput ro;
    ro.readOnlyCellColor = readOnlyCellColor_;
    ro.hasField = true;
    ro.fieldEditable = CellEditable(column, field);
    ro.rowSelected = inMultiSelection;
    ro.focused = focused;
    ro.multiSelect = multiSelect_;
    if (field->Lookup()) ro.lookupKeyEditable = CellEditable(column, LookupKeyField(field));
    if (UseReadOnlyColour(ro)) background = readOnlyCellColor_;
  }
  c.Brush().color = background;
  c.Brush().style = TBrushStyle::bsSolid;
  if (!hasRecord) {
    c.FillRect(rect);
    return;
  }
  if (DefaultDrawing) {
    int glyph = GetGlyphIndex(field);
    HBITMAP bmp = glyph >= 0 ? GridGlyph(glyph) : nullptr;
    if (glyph >= 0) {
      c.FillRect(rect);
      if (bmp) {
        TPoint sz = GridGlyphSize(glyph);
        DrawGlyph(c.Handle(), bmp, rect.left + (rect.Width() - sz.x + 1) / 2, rect.top + (rect.Height() - sz.y + 1) / 2,
                  RGB(0x80, 0x80, 0x00));
      }
    } else if (field && (IsStringType(field->DataType()) || wordWrapAllFields_ ||
                         (field->DataType() == ftMemo && showMemos_))) {
      std::string text = (field->DataType() == ftMemo && showMemos_ && !field->OnGetText) ? field->AsString()
                                                                                           : field->DisplayText();
      WriteCellText(c, rect, 2, 2, text, column->Alignment(), wordWrap_ ? 0 : DT_SINGLELINE, true);
    } else {
      DefaultDrawColumnCell(rect, col - IndicatorOffset(), column, state);
    }
  } else {
    c.FillRect(rect);
  }
  if (OnDrawColumnCell) OnDrawColumnCell(this, rect, col - IndicatorOffset(), column, state);
  if (DefaultDrawing && (state & gdFocused) && !(o & dgRowSelect) && !EditorMode() && Focused())
    c.DrawFocusRect(rect);
}

void TJvDBGrid::DrawTitleCell(int col, int row, TRect rect, TGridDrawState state) {
  TColumn* column = TitleColumn(col, row);
  TCanvas& c = Canvas();
  TDBGridOptions o = TCustomDBGrid::Options();
  if (!column) {
    TJvExDBGrid::DrawTitleCell(col, row, rect, state);
    return;
  }
  // Only a column's own title (not an enclosing column's) is a button.
  bool pressed = tracking_ && pressedOver_ && pressedCol_ == col && column == ShownColumn(col);
  c.Font().Assign(TitleFont());
  c.Font().Assign(column->Title().Font());
  c.Brush().color = column->Title().Color();
  c.Brush().style = TBrushStyle::bsSolid;
  THeaderState look = pressed && titleButtons_ ? THeaderState::Pressed
                      : hotTitle_ == col       ? THeaderState::Hot
                                               : THeaderState::Normal;
  if (DrawThemedHeader(rect, look)) {
    DrawTitleSortAndText(c, rect, column, pressed, true);
    return;
  }
  c.FillRect(rect);
  if (titleButtons_ || ((o & dgColLines) && (o & dgRowLines))) {
    UINT edge = pressed ? BDR_SUNKENINNER : BDR_RAISEDINNER;
    c.DrawEdge(rect, edge, BF_BOTTOMRIGHT);
    c.DrawEdge(rect, edge, BF_TOPLEFT);
    rect = Rect(rect.left + 1, rect.top + 1, rect.right - 1, rect.bottom - 1);
  }
  DrawTitleSortAndText(c, rect, column, pressed, false);
}

void TJvDBGrid::DrawTitleSortAndText(TCanvas& c, TRect rect, TColumn* column, bool pressed, bool themed) {
  TField* field = column->Field();
  TColor background = c.Brush().color;
  TSortMarker marker = (field && SameTextIgnoringCase(field->FieldName(), sortedField_)) ? sortMarker_ : smNone;
  if (titleButtons_ && field) {
    bool sorted = SameTextIgnoringCase(field->FieldName(), sortedField_);
    if (OnGetBtnParams) OnGetBtnParams(this, field, c.Font(), background, marker, pressed);
    if (sorted) sortMarker_ = marker;
  }
  c.Brush().color = background;
  if (pressed) rect = Rect(rect.left + 1, rect.top + 1, rect.right, rect.bottom);
  if (!DataLink().Active()) {
    if (!themed) c.FillRect(rect);
    return;
  }
  HBITMAP bmp = marker == smDown ? GridGlyph(kGlyphSortDown) : marker == smUp ? GridGlyph(kGlyphSortUp) : nullptr;
  int markerIndex = marker == smDown ? kGlyphSortDown : kGlyphSortUp;
  TPoint bsz = bmp ? GridGlyphSize(markerIndex) : TPoint{};
  int offset = bmp ? bsz.x + 6 : 1;
  bool defaultText = true, defaultMarker = true;
  if (OnDrawColumnTitle) {
    OnDrawColumnTitle(this, c, rect, column, bmp, pressed, offset, defaultText, defaultMarker);
    if (bmp) {
      BITMAP info{};
      GetObject(bmp, sizeof info, &info);
      bsz = {info.bmWidth, info.bmHeight};
    }
  }
  if (!themed) c.FillRect(rect);
  // The expand button takes the right end; the caption and the sort marker share what is left.
  if (defaultText) DrawExpandButton(column, rect);
  if (defaultText) {
    TRect textRect = rect;
    if (bmp) textRect.right -= bsz.x + 4;
    std::string caption = column->Title().Caption();
    int cellH = textRect.Height();
    int textH = c.TextHeight("^g");
    int top = std::max(1, (cellH - textH) / 2);
    UINT align = column->Title().Alignment() == taRightJustify ? DT_RIGHT
                 : column->Title().Alignment() == taCenter    ? DT_CENTER
                                                              : DT_LEFT;
    UINT single = DT_SINGLELINE | DT_END_ELLIPSIS | align | DT_NOPREFIX;
    bool wrapped = false;
    if (wordWrap_) {
      RECT m{0, 0, std::max(0, textRect.Width() - 2), 0};
      HGDIOBJ old = SelectObject(c.Handle(), FontHandle(c.Font()));
      DrawTextA(c.Handle(), caption.c_str(), static_cast<int>(caption.size()), &m, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
      SelectObject(c.Handle(), old);
      int h = m.bottom - m.top;
      if (h <= cellH && h > textH) {
        TRect r{textRect.left + 1, textRect.top + (cellH - h) / 2, textRect.right - 1, textRect.bottom};
        TBrushStyle bs = c.Brush().style;
        c.Brush().style = TBrushStyle::bsClear;
        c.DrawText(caption, r, DT_WORDBREAK | align | DT_NOPREFIX);
        c.Brush().style = bs;
        wrapped = true;
      }
    }
    if (!wrapped) {
      TRect r{textRect.left + 1, textRect.top + top, textRect.right - 1, textRect.bottom};
      TBrushStyle bs = c.Brush().style;
      c.Brush().style = TBrushStyle::bsClear;
      c.DrawText(caption, r, single);
      c.Brush().style = bs;
    }
  }
  if (defaultMarker && bmp) {
    int x = column->Title().Alignment() == taRightJustify ? rect.left + 3 : rect.right - offset + 3;
    int y = rect.top + (rect.Height() - bsz.y + 1) / 2;
    if (x > rect.left && x + bsz.x < rect.right && y > rect.top && y + bsz.y < rect.bottom)
      DrawGlyph(c.Handle(), bmp, x, y, RGB(0xFF, 0x00, 0xFF));
  }
}

void TJvDBGrid::DrawIndicatorBackground(const TRect& rect) {
  if (!DrawThemedHeader(rect, THeaderState::Normal)) TJvExDBGrid::DrawIndicatorBackground(rect);
}

void TJvDBGrid::DrawIndicatorCell(int row, TRect rect) {
  TJvExDBGrid::DrawIndicatorCell(row, rect);
  if (!multiSelect_ || !DataLink().Active() || !msIndicators_) return;
  TDataSet* ds = DataLink().DataSet();
  if (ds->State() != dsBrowse || row - TitleOffset() >= DataLink().RecordCount()) return;
  ActiveRecordGuard ar(DataLink());
  bool current = row - TitleOffset() == ar.saved;
  DataLink().SetActiveRecord(row - TitleOffset());
  if (!SelectedRows().RowSelected(ds->ReadRow())) return;
  TDBGridOptions o = TCustomDBGrid::Options();
  TCanvas& c = Canvas();
  c.Brush().color = FixedColor();
  TRect r = rect;
  bool bothLines = (o & dgColLines) && (o & dgRowLines);
  if (bothLines) r = Rect(r.left + 1, r.top + 1, r.right - 1, r.bottom - 1);
  c.FillRect(r);
  int x = r.right - 6 - (bothLines ? 1 : 2);
  int y = r.top + (r.Height() - 11 + 1) / 2;
  ImageList_Draw(msIndicators_, current ? 1 : 0, c.Handle(), x, y, ILD_TRANSPARENT);
}

}  // namespace fw
