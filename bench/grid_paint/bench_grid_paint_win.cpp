// Paints a grid of 1,000 rows page by page (Page Down, then a synchronous repaint) and reports the time per
// page, with ReduceFlicker on and off, against the system list view (report mode) paging through the same rows.
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "framework/db.h"
#include "framework/forms.h"
#include "grid/jvdbgrid.h"

using namespace fw;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int kRows = 1000;

void Pump() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}

struct GridRun {
  double msPerPage = 0;
  int pages = 0;
};

GridRun PageThroughGrid(TJvDBGrid* grid, TDataSet* ds, bool reduceFlicker) {
  grid->ReduceFlicker = reduceFlicker;
  ds->First();
  grid->Repaint();
  GridRun run;
  auto start = Clock::now();
  while (!ds->Eof()) {
    SendMessageA(grid->Handle(), WM_KEYDOWN, VK_NEXT, 1);
    grid->Repaint();
    ++run.pages;
    if (run.pages > kRows) break;
  }
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  run.msPerPage = ms / std::max(1, run.pages);
  return run;
}

GridRun PageThroughListView(HWND parent) {
  HWND lv = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 8, 8, 760, 500,
                            parent, nullptr, GetModuleHandleA(nullptr), nullptr);
  const char* titles[] = {"ID", "NAME", "ACTIVE", "PRICE", "NOTES"};
  for (int c = 0; c < 5; ++c) {
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.cx = c == 1 || c == 4 ? 160 : 70;
    col.pszText = const_cast<char*>(titles[c]);
    SendMessageA(lv, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&col));
  }
  for (int r = 0; r < kRows; ++r) {
    std::string cells[5] = {std::to_string(r + 1), "Contact number " + std::to_string(r + 1), r % 2 ? "True" : "False",
                            std::to_string((r + 1) * 1.25), "A note for row " + std::to_string(r + 1)};
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = r;
    item.pszText = cells[0].data();
    SendMessageA(lv, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    for (int c = 1; c < 5; ++c) {
      item.iSubItem = c;
      item.pszText = cells[c].data();
      SendMessageA(lv, LVM_SETITEMTEXTA, r, reinterpret_cast<LPARAM>(&item));
    }
  }
  UpdateWindow(lv);
  int perPage = static_cast<int>(SendMessageA(lv, LVM_GETCOUNTPERPAGE, 0, 0));
  GridRun run;
  auto start = Clock::now();
  for (int top = 0; top < kRows; top += std::max(1, perPage)) {
    SendMessageA(lv, WM_VSCROLL, SB_PAGEDOWN, 0);
    RedrawWindow(lv, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    ++run.pages;
  }
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  run.msPerPage = ms / std::max(1, run.pages);
  DestroyWindow(lv);
  return run;
}
}  // namespace

int main() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  auto* app = new TApplication();
  app->Initialize();
  auto* form = new TForm(app);
  form->SetBounds(20, 20, 800, 560);
  form->SetCaption("Grid paint");
  auto* ds = new TClientDataSet(form);
  ds->FieldDefs().Add("ID", ftInteger);
  ds->FieldDefs().Add("NAME", ftString, 30);
  ds->FieldDefs().Add("ACTIVE", ftBoolean);
  ds->FieldDefs().Add("PRICE", ftFloat);
  ds->FieldDefs().Add("NOTES", ftMemo);
  ds->CreateDataSet();
  for (int r = 0; r < kRows; ++r) {
    ds->Append();
    ds->FieldByName("ID")->SetAsInteger(r + 1);
    ds->FieldByName("NAME")->SetAsString("Contact number " + std::to_string(r + 1));
    ds->FieldByName("ACTIVE")->SetAsBoolean(r % 2);
    ds->FieldByName("PRICE")->SetAsFloat((r + 1) * 1.25);
    ds->FieldByName("NOTES")->SetAsString("A note for row " + std::to_string(r + 1));
    ds->Post();
  }
  auto* src = new TDataSource(form);
  src->SetDataSet(ds);
  auto* grid = new TJvDBGrid(form);
  grid->SetParent(form);
  grid->SetBounds(8, 8, 760, 500);
  grid->SetDataSource(src);
  grid->SetAlternateRowColor(0xF0E8E0);
  grid->UseXPThemes = false;  // with visual styles the text is always drawn in place
  form->Show();
  Pump();

  GridRun warm = PageThroughGrid(grid, ds, true);
  GridRun offscreen = PageThroughGrid(grid, ds, true);
  GridRun direct = PageThroughGrid(grid, ds, false);
  grid->SetVisible(false);
  Pump();
  GridRun peer = PageThroughListView(form->Handle());
  (void)warm;
  std::printf("grid, 1000 rows, %d pages of %d rows\n", offscreen.pages, grid->VisibleRowCount());
  std::printf("  ReduceFlicker on  (off-screen text): %.2f ms/page\n", offscreen.msPerPage);
  std::printf("  ReduceFlicker off (direct text):     %.2f ms/page\n", direct.msPerPage);
  std::printf("  system list view (peer), %d pages:   %.2f ms/page\n", peer.pages, peer.msPerPage);
  std::printf("ratio grid(off-screen) / list view: %.2f\n", offscreen.msPerPage / peer.msPerPage);
  std::printf("ratio off-screen / direct text:     %.2f\n", offscreen.msPerPage / direct.msPerPage);
  delete app;
  return 0;
}
