// Where everything of the exception box goes: button widths and rows, the message, the big picture, the
// footer line, the tab control of the expanded box and the outer size, as a pure function of the form, the
// button settings, the measured caption and message sizes and the screen metrics. The window side measures
// with its fonts and places the windows where this says.
#pragma once

#include <array>
#include <functional>

#include "crash/ui/progress_model.h"

namespace rvx {

// Button kinds (the window's user data; they also name the pictures).
enum BoxKind : int {
  kBoxSend = 0, kBoxSave = 1, kBoxPrint = 2, kBoxShow = 3, kBoxContinue = 4, kBoxRestart = 5, kBoxClose = 6,
  kBoxCantContinue = 7, kBoxBig = 8
};
constexpr int kBoxButtons = 7;

// The three forms, numbered like the show settings that ask for them.
enum BoxForm : int { kFormFull = 0, kFormPlainDetails = 2, kFormPlain = 3 };

struct BoxMetrics {
  int screenWidth = 1024, screenHeight = 768;
  int titleBar = 19;  // caption height
  int sizeFrameX = 4, sizeFrameY = 4, dialogFrameX = 3, dialogFrameY = 3;
};

struct BoxLayoutInput {
  BoxForm form = kFormFull;
  bool expanded = false;  // the full box showing the report (ignored for the plain forms)
  bool ugly = false;      // UglyBtns
  bool picture = false;   // the big picture resource exists
  // Full box: the visibility settings. The plain forms ignore them (OK always, Details with details).
  std::array<bool, kBoxButtons> visible{};
  // Caption text widths in the normal font (full box: the captions of the kinds; plain: OK at kBoxContinue,
  // Details at kBoxShow).
  std::array<int, kBoxButtons> captionWidth{};
  // Word-wraps the message into the given width: its text width and height.
  std::function<PixelSize(int width)> measureMessage;
  BoxMetrics metrics;
};

struct BoxButtonPlace {
  bool visible = false;
  int row = 0;
  PixelRect rect;
};

struct BoxLayout {
  int buttonHeight = 0;
  std::array<int, kBoxButtons> buttonWidth{};  // w(k), 0 for a hidden button
  int rightWidth = 0;                    // R
  int scratchWidth = 0;                  // width of the shared drawing surface
  int rows = 0;                          // N after its corrections
  bool rightColumn = false;
  std::array<BoxButtonPlace, kBoxButtons> buttons{};
  bool picture = false;
  PixelRect pictureRect;
  PixelRect message;
  int footerY = 0;  // F: the separator line lies at F + 5, the credit label at F
  bool tab = false;
  PixelRect tabRect;
  int width = 0, height = 0;            // W and H (H without the title bar)
  int outerWidth = 0, outerHeight = 0;  // the window's size, also its minimum tracking size
  int left = 0, top = 0;                // centred on the screen
};

constexpr int kBoxMinExpandedWidth = 664;
constexpr int kBoxExpandedExtraHeight = 491;

BoxLayout LayoutExceptionBox(const BoxLayoutInput& input);

}  // namespace rvx
