// The bug report view on the Windows desktop: tab control, owner-painted list view or read-only edit, and
// the development environment jump of a double-clicked stack line.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "crash/delivery/fields.h"
#include "crash/ui/report_view.h"
#include "crash/ui/report_view_model.h"

namespace rvx {

namespace {

constexpr char kViewProperty[] = "RavexReportView";

HINSTANCE OwnInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnInstance), &module);
  return module;
}

HFONT MakeFont(const char* face, int height, int weight) {
  return CreateFontA(height, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

void FillColour(HDC dc, const RECT& r, uint32_t colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

// Asks a running development environment to show the source line of a stack line: its first message
// window receives it.
void JumpToSource(const std::string& line) { IdeJump(line, IdeJumpScope::FirstWindow); }

class Win32ReportView final : public ReportView {
 public:
  Win32ReportView(HWND parent, const PixelRect& rect, const ReportViewFonts& fonts, HIMAGELIST images, HWND jumpOwner)
      : jumpOwner_(jumpOwner ? jumpOwner : parent) {
    InitCommonControls();
    normalFont_ = static_cast<HFONT>(fonts.normal);
    if (!normalFont_) {
      ownNormal_ = MakeFont("Tahoma", -11, FW_NORMAL);
      if (!ownNormal_) ownNormal_ = MakeFont("MS Sans Serif", -12, FW_NORMAL);
      normalFont_ = ownNormal_;
    }
    fixedFont_ = static_cast<HFONT>(fonts.fixed);
    if (!fixedFont_) fixedFont_ = ownFixed_ = MakeFont("Courier New", -11, FW_NORMAL);
    images_ = images;
    if (!images_) images_ = ownImages_ = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
    tab_ = CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, rect.x, rect.y,
                           rect.width, rect.height, parent, nullptr, OwnInstance(), nullptr);
    if (!tab_) return;
    SendMessageA(tab_, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), FALSE);
    SetPropA(tab_, kViewProperty, this);
    oldProc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(tab_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TabProc)));
  }

  ~Win32ReportView() override {
    Shutdown();
    if (tab_) {
      SetWindowLongPtrA(tab_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(oldProc_));
      RemovePropA(tab_, kViewProperty);
      DestroyWindow(tab_);
    }
    for (auto& [base, bold] : boldFonts_) DeleteObject(bold);
    if (ownNormal_) DeleteObject(ownNormal_);
    if (ownFixed_) DeleteObject(ownFixed_);
    if (ownImages_) ImageList_Destroy(ownImages_);
  }

  bool Valid() const { return tab_ != nullptr; }

  void SetReportSource(Ref<IRVFields> header, Ref<IRVFields> sections) override {
    headerSource_ = std::move(header);
    sectionSource_ = std::move(sections);
    Refresh();
  }
  void SetReport(const NamedTexts& header, const NamedTexts& sections) override {
    headerSource_.reset();
    sectionSource_.reset();
    header_ = header;
    sections_ = sections;
    Refresh();
  }
  void SetReportText(std::string_view report) override {
    NamedTexts header, sections;
    SplitReportText(report, header, sections);
    SetReport(header, sections);
  }

  void Refresh() override {
    if (!tab_ || shuttingDown_) return;
    if (headerSource_ || sectionSource_) {
      header_ = ReadFields(headerSource_.get());
      sections_ = ReadFields(sectionSource_.get());
    }
    RefreshTabs();
    RefreshPage();
  }

  void Resize(const PixelRect& rect) override {
    if (!tab_) return;
    SetWindowPos(tab_, nullptr, rect.x, rect.y, rect.width, rect.height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (content_) {
      RECT r = PageRect();
      SetWindowPos(content_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }

  bool HandleNotify(const void* nmhdr) override {
    const auto* n = static_cast<const NMHDR*>(nmhdr);
    if (!n || !tab_ || n->hwndFrom != tab_) return false;
    if (n->code == static_cast<UINT>(TCN_SELCHANGE)) RefreshPage();
    return true;
  }

  void Shutdown() override {
    if (shuttingDown_) return;
    shuttingDown_ = true;
    RefreshPage();
  }

  ViewWindowHandle TabControl() const override { return tab_; }
  ViewWindowHandle ContentWindow() const override { return content_; }

 private:
  static LRESULT CALLBACK TabProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* view = static_cast<Win32ReportView*>(GetPropA(hwnd, kViewProperty));
    if (!view) return DefWindowProcA(hwnd, msg, wParam, lParam);
    switch (msg) {
      case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item && item->CtlType == ODT_LISTVIEW && item->hwndItem == view->content_) {
          view->PaintRow(*item);
          return TRUE;
        }
        break;
      }
      case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
      case WM_NOTIFY: {
        const auto* n = reinterpret_cast<const NMHDR*>(lParam);
        if (n && n->hwndFrom == view->content_ && n->code == static_cast<UINT>(NM_DBLCLK))
          view->DoubleClick(*reinterpret_cast<const NMITEMACTIVATE*>(n));
        break;
      }
      default:
        break;
    }
    return CallWindowProcA(view->oldProc_, hwnd, msg, wParam, lParam);
  }

  void RefreshTabs() {
    std::vector<std::string> existing;
    int count = static_cast<int>(SendMessageA(tab_, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      char text[128] = {};
      TCITEMA item{};
      item.mask = TCIF_TEXT;
      item.pszText = text;
      item.cchTextMax = sizeof text;
      SendMessageA(tab_, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
      existing.emplace_back(text);
    }
    std::vector<TabEdit> edits = PlanTabEdits(existing, WantedTabs(sections_));
    for (const TabEdit& e : edits) {
      if (e.kind == TabEdit::Delete) {
        SendMessageA(tab_, TCM_DELETEITEM, e.index, 0);
      } else {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(e.text.c_str());
        SendMessageA(tab_, TCM_INSERTITEMA, e.index, reinterpret_cast<LPARAM>(&item));
      }
    }
    if (SendMessageA(tab_, TCM_GETCURSEL, 0, 0) < 0 && SendMessageA(tab_, TCM_GETITEMCOUNT, 0, 0) > 0)
      SendMessageA(tab_, TCM_SETCURSEL, 0, 0);
    if (!edits.empty()) InvalidateRect(tab_, nullptr, TRUE);
  }

  RECT PageRect() const {
    RECT r{};
    GetClientRect(tab_, &r);
    SendMessageA(tab_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
    OffsetRect(&r, -1, 2);
    InflateRect(&r, -3, -3);
    return r;
  }

  void RefreshPage() {
    if (!tab_) return;
    int index = shuttingDown_ ? -1 : static_cast<int>(SendMessageA(tab_, TCM_GETCURSEL, 0, 0));
    std::optional<ReportPage> page = state_.Refresh(index, header_, sections_);
    if (!page) return;
    if (content_) {
      if (listShown_) SendMessageA(content_, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
      DestroyWindow(content_);
      content_ = nullptr;
    }
    columns_.clear();
    items_.clear();
    listShown_ = false;
    if (index < 0) return;
    RECT r = PageRect();
    if (page->IsList()) {
      columns_ = std::move(page->columns);
      items_ = std::move(page->items);
      ShowList(r, page->mono, page->columnHeaders);
    } else {
      content_ = CreateWindowExA(0, "Edit", state_.Text().c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN,
                                 r.left, r.top, r.right - r.left, r.bottom - r.top, tab_, nullptr, OwnInstance(), nullptr);
      if (content_) SendMessageA(content_, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_), TRUE);
    }
  }

  void ShowList(const RECT& r, bool mono, bool headers) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_HSCROLL | WS_VSCROLL | LVS_REPORT | LVS_SINGLESEL |
                  LVS_OWNERDRAWFIXED | LVS_NOSORTHEADER;
    if (!headers) style |= LVS_NOCOLUMNHEADER;
    content_ = CreateWindowExA(0, WC_LISTVIEWA, "", style, r.left, r.top, r.right - r.left, r.bottom - r.top, tab_,
                               nullptr, OwnInstance(), nullptr);
    if (!content_) return;
    listShown_ = true;
    listFont_ = mono ? fixedFont_ : normalFont_;
    SendMessageA(content_, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_), FALSE);
    if (images_) SendMessageA(content_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
    for (size_t c = 0; c < columns_.size(); ++c) {
      LVCOLUMNA column{};
      column.mask = LVCF_TEXT | LVCF_FMT;
      column.fmt = columns_[c].alignment;
      column.pszText = const_cast<char*>(columns_[c].caption.c_str());
      SendMessageA(content_, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&column));
    }
    for (size_t i = 0; i < items_.size(); ++i) {
      std::vector<std::string> cells = RowCells(items_[i].text, columns_);
      for (size_t c = 0; c < cells.size(); ++c) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.iSubItem = static_cast<int>(c);
        item.pszText = const_cast<char*>(cells[c].c_str());
        SendMessageA(content_, c == 0 ? LVM_INSERTITEMA : LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
      }
    }
    for (size_t c = 0; c < columns_.size(); ++c)
      SendMessageA(content_, LVM_SETCOLUMNWIDTH, c, headers ? LVSCW_AUTOSIZE_USEHEADER : LVSCW_AUTOSIZE);
  }

  HFONT BoldOf(HDC dc) {
    HFONT base = static_cast<HFONT>(GetCurrentObject(dc, OBJ_FONT));
    auto found = boldFonts_.find(base);
    if (found != boldFonts_.end()) return found->second;
    char face[LF_FACESIZE] = {};
    GetTextFaceA(dc, sizeof face, face);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    HFONT bold = MakeFont(face, tm.tmHeight - tm.tmInternalLeading > 0 ? -(tm.tmHeight - tm.tmInternalLeading) : tm.tmHeight,
                          FW_BOLD);
    boldFonts_[base] = bold;
    return bold;
  }

  void PaintRow(const DRAWITEMSTRUCT& d) {
    const int row = static_cast<int>(d.itemID);
    if (row < 0 || static_cast<size_t>(row) >= items_.size()) return;
    const TItem& item = items_[static_cast<size_t>(row)];
    HDC dc = d.hDC;
    const bool low = GetDeviceCaps(dc, BITSPIXEL) < 15;
    const bool selected = ShowsSelection(item, (d.itemState & ODS_SELECTED) != 0);
    const int columnCount = static_cast<int>(columns_.size());
    std::vector<int> widths;
    int x = d.rcItem.left;
    for (int c = 0; c < columnCount; ++c) {
      int w = static_cast<int>(SendMessageA(content_, LVM_GETCOLUMNWIDTH, c, 0));
      widths.push_back(w);
      RECT cell{x, d.rcItem.top, x + w, d.rcItem.bottom};
      FillColour(dc, cell, CellBackground(c, columnCount, item.colour, selected, low));
      x += w;
    }
    RowEdge edge = RowEdgeOf(items_, row, selected, low);
    if (edge.kind == RowEdge::Frame) {
      HBRUSH brush = CreateSolidBrush(edge.colour);
      FrameRect(dc, &d.rcItem, brush);
      DeleteObject(brush);
    } else if (edge.kind == RowEdge::BottomLine) {
      RECT line{d.rcItem.left, d.rcItem.bottom - 1, x, d.rcItem.bottom};
      FillColour(dc, line, edge.colour);
    }
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, listFont_);
    if (item.text.starts_with(">>")) {
      std::string text = MarkerRowText(item.text);
      RECT r{d.rcItem.left + 6, d.rcItem.top, d.rcItem.right - 4, d.rcItem.bottom};
      if (item.headline) {
        RECT rule{d.rcItem.left, d.rcItem.bottom - 2, d.rcItem.right, d.rcItem.bottom};
        FillColour(dc, rule, HeadlineRuleColour(selected));
        SelectObject(dc, BoldOf(dc));
      } else {
        SetTextColor(dc, kMarkerTextColour);
      }
      DrawTextA(dc, text.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    } else {
      std::vector<std::string> cells = RowCells(item.text, columns_);
      x = d.rcItem.left;
      for (int c = 0; c < columnCount; ++c) {
        RECT r{x + (c == 0 ? 6 : 4), d.rcItem.top + 2, x + widths[static_cast<size_t>(c)] - 4, d.rcItem.bottom};
        const std::string& text = cells[static_cast<size_t>(c)];
        UINT flags = DT_SINGLELINE | DT_NOPREFIX | (IsPathText(text) ? DT_PATH_ELLIPSIS : DT_END_ELLIPSIS) |
                     (columns_[static_cast<size_t>(c)].alignment == 1 ? DT_RIGHT : DT_LEFT);
        DrawTextA(dc, text.c_str(), -1, &r, flags);
        x += widths[static_cast<size_t>(c)];
      }
    }
    SetTextColor(dc, 0);
    SelectObject(dc, oldFont);
  }

  // The row is the one under the double-click, whatever was selected before (the list selects on the click
  // before it, if at all). A point beside the first column's text still names the row whose band it is in.
  int RowOfDoubleClick(const NMITEMACTIVATE& click) const {
    if (click.iItem >= 0) return click.iItem;
    const int count = static_cast<int>(SendMessageA(content_, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      RECT bounds{LVIR_BOUNDS};
      if (SendMessageA(content_, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&bounds)) &&
          PtInRect(&bounds, click.ptAction))
        return i;
    }
    return -1;
  }

  void DoubleClick(const NMITEMACTIVATE& click) {
    if (state_.Index() != 1 || !content_) return;
    const int row = RowOfDoubleClick(click);
    std::optional<std::string> text = JumpText(items_, columns_, row);
    if (!text) return;
    if (jumpOwner_) SetWindowPos(jumpOwner_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    JumpToSource(*text);
  }

  HWND tab_ = nullptr;
  HWND content_ = nullptr;
  HWND jumpOwner_ = nullptr;
  WNDPROC oldProc_ = nullptr;
  HFONT normalFont_ = nullptr, fixedFont_ = nullptr, ownNormal_ = nullptr, ownFixed_ = nullptr, listFont_ = nullptr;
  HIMAGELIST images_ = nullptr, ownImages_ = nullptr;
  std::map<HFONT, HFONT> boldFonts_;
  Ref<IRVFields> headerSource_, sectionSource_;
  NamedTexts header_, sections_;
  ReportPageState state_;
  TColumns columns_;
  TItems items_;
  bool listShown_ = false;
  bool shuttingDown_ = false;
};

}  // namespace

std::unique_ptr<ReportView> ReportView::Create(ViewWindowHandle parent, const PixelRect& rect,
                                               const ReportViewFonts& fonts, ViewImageListHandle images,
                                               ViewWindowHandle jumpOwner) {
  auto view = std::make_unique<Win32ReportView>(static_cast<HWND>(parent), rect, fonts, static_cast<HIMAGELIST>(images),
                                                static_cast<HWND>(jumpOwner));
  if (!view->Valid()) return nullptr;
  return view;
}

}  // namespace rvx
