// The colours and geometry an assistant page is painted with, computed from the system colours given in:
// the colour step, the step indicator, the rows of the painted standard buttons and the edits' text colour.
// Colours are 0x00BBGGRR values.
#pragma once

#include <cstdint>
#include <vector>

#include "crash/ui/assistant_model.h"

namespace rvx {

using NVColour = uint32_t;

constexpr NVColour Rgb(int r, int g, int b) {
  return static_cast<NVColour>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int RedOf(NVColour c) { return c & 0xFF; }
constexpr int GreenOf(NVColour c) { return (c >> 8) & 0xFF; }
constexpr int BlueOf(NVColour c) { return (c >> 16) & 0xFF; }

// Lightens every channel by `step`; when two or more channels would pass 255 it darkens instead. Darkening
// falls back to lightening when two or more channels would fall below 0. Channels saturate at 0 and 255.
NVColour ColourStep(NVColour colour, int step, bool darken = false);
// Per channel 128 + channel / 2 (frames of edits and check boxes).
NVColour LightTint(NVColour buttonFace);

// The step indicator in the top right corner of a form W wide.
struct NVStepBox {
  int left = 0, right = 0;  // the box from left to right, y 2 to 22
};
NVStepBox StepBox(int clientWidth, int step, int stepCount);
// The colour of row y (7..19) inside the current step's box: the window colour minus 2y - 14 in every
// channel, computed on the whole 24-bit value.
NVColour StepBoxRowColour(NVColour window, int y);
// x of the number n (1-based).
int StepNumberX(int clientWidth, int stepCount, int n);

// The painted look of a standard button.
struct NVButtonLook {
  NVColour accent;
  int step[3];  // red, green, blue
};
NVButtonLook StandardButtonLook(int index);

enum class NVButtonState { Normal, Focused, Disabled };
struct NVRow {
  int y;
  int left, right;  // right exclusive
  NVColour colour;
};
// The rows drawn inside a painted standard button (none for a disabled one).
std::vector<NVRow> ButtonRows(int index, NVButtonState state, const NVRect& rect);

// The text colour of an edit.
NVColour EditTextColour(const TNVEdit& edit);

}  // namespace rvx
