// Layout of an assistant page: sizes of the standard buttons, the client width, the content items in a
// column with their gaps, the client height and the button row. Text sizes and system metrics come in from
// outside (the window side measures with the real fonts; tests give fixed measurements).
#pragma once

#include <string_view>
#include <vector>

#include "crash/ui/assistant_model.h"

namespace rvx {

enum class NVFont {
  Tahoma11,     // the form font: items and plain buttons
  Arial15,      // captions of painted buttons
  Arial15Bold,  // the message and the step numbers
};

struct NVTextSize {
  int cx = 0, cy = 0;
};

class INVTextMeasure {
 public:
  // Size of the text on one line; cy 0 when it cannot be measured.
  virtual NVTextSize Measure(NVFont font, std::string_view text) = 0;
  // Size of the text word-wrapped into a width (the widest line and the height of all lines).
  virtual NVTextSize MeasureWrapped(NVFont font, std::string_view text, int width) = 0;

 protected:
  ~INVTextMeasure() = default;
};

struct NVMetrics {
  int checkWidth = 13, checkHeight = 13;  // the check mark (SM_CXMENUCHECK, SM_CYMENUCHECK)
  int screenHeight = 768;
};

// A standard button's size (width -8 when invisible).
NVTextSize StandardButtonSize(TNVButton& button, INVTextMeasure& measure);
int ClientWidth(TNVForm& form, INVTextMeasure& measure);
// Whether a label is a head label: its caption ends in ":" or "?" and fits on one line of width W - 46.
bool IsHeadLabel(TNVItem& item, int clientWidth, INVTextMeasure& measure);
// The gap after the content item at `index` (running y first becomes its bottom).
int GapAfter(TNVForm& form, int index, int clientWidth, INVTextMeasure& measure);

struct NVFormLayout {
  int width = 0, height = 0;  // client area
  int finalY = 0;             // running y after the last content item
  NVRect buttons[3];          // Continue, Skip, Cancel
  NVRect panel;               // the content panel (inclusive corners)
};

// Lays out the whole form: every item's rectangle is set (edits: the item rectangle with its frame;
// EditWindowRect gives the window inside), images get their pictures fitted, and the client size and
// the button row are returned. The form's clientWidth/clientHeight are set.
NVFormLayout LayoutForm(TNVForm& form, INVTextMeasure& measure, const NVMetrics& metrics);
NVRect EditWindowRect(const TNVItem& edit);

}  // namespace rvx
