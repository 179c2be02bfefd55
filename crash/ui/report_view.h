// The bug report view of the exception box's expanded state: a tab control with one tab for the header, one
// for all call stacks and one for every further section; the selected tab shows an owner-painted list with
// banded columns or, for text without a recognisable layout, a read-only text field. The box creates it in its
// window, resizes it with the window, hands it the report (its lists, or a rendered text) and refreshes it when
// the report changes; the view follows a report that is still being completed. Windows only (the logic lives
// in report_view_model.h).
#pragma once

#include <memory>
#include <string_view>

#include "crash/core/bugreport.h"
#include "crash/core/refobject.h"
#include "crash/ui/progress_model.h"

namespace rvx {

class IRVFields;
using ViewWindowHandle = void*;
using ViewFontHandle = void*;
using ViewImageListHandle = void*;

struct ReportViewFonts {
  ViewFontHandle normal = nullptr;  // tabs, lists and the text field; none: the view's own "Tahoma"
  ViewFontHandle fixed = nullptr;   // lists that ask for it; none: the view's own "Courier New"
};

class ReportView {
 public:
  // Creates the tab control as a child of `parent` at `rect` (client coordinates). The 16 x 16 image list sets
  // the list rows' height (none: the view's own). `jumpOwner` is the window that stops being topmost before a
  // development environment is asked to show a source line (none: the parent).
  static std::unique_ptr<ReportView> Create(ViewWindowHandle parent, const PixelRect& rect, const ReportViewFonts& fonts,
                                            ViewImageListHandle images = nullptr, ViewWindowHandle jumpOwner = nullptr);
  virtual ~ReportView() = default;

  // The report as header and section lists read at every refresh (the exception record's lists, each read
  // under its own lock), or as fixed items, or as a rendered report text. Each refreshes tabs and page.
  virtual void SetReportSource(Ref<IRVFields> header, Ref<IRVFields> sections) = 0;
  virtual void SetReport(const NamedTexts& header, const NamedTexts& sections) = 0;
  virtual void SetReportText(std::string_view report) = 0;
  // The report changed (the box's message 0x0709): tabs and the current page follow it.
  virtual void Refresh() = 0;
  virtual void Resize(const PixelRect& rect) = 0;
  // The tab control's parent receives TCN_SELCHANGE: it hands every WM_NOTIFY here first; true when it was
  // the view's.
  virtual bool HandleNotify(const void* nmhdr) = 0;
  // The box closes: the page is dropped before the windows go.
  virtual void Shutdown() = 0;

  virtual ViewWindowHandle TabControl() const = 0;
  virtual ViewWindowHandle ContentWindow() const = 0;
};

}  // namespace rvx
