// Colours and geometry of painted assistant pages; see assistant_paint.h.
#include "crash/ui/assistant_paint.h"

#include <algorithm>

namespace rvx {

NVColour ColourStep(NVColour colour, int step, bool darken) {
  int ch[3] = {RedOf(colour), GreenOf(colour), BlueOf(colour)};
  int over = 0, under = 0;
  for (int c : ch) {
    if (c + step >= 256) ++over;
    if (c - step < 0) ++under;
  }
  bool add = darken ? under >= 2 : over < 2;
  for (int& c : ch) c = std::clamp(add ? c + step : c - step, 0, 255);
  return Rgb(ch[0], ch[1], ch[2]);
}

NVColour LightTint(NVColour f) {
  return Rgb(128 + RedOf(f) / 2, 128 + GreenOf(f) / 2, 128 + BlueOf(f) / 2);
}

NVStepBox StepBox(int clientWidth, int step, int stepCount) {
  int left = clientWidth - (stepCount - step) * 19 - 29;
  return {left, left + 20};
}

NVColour StepBoxRowColour(NVColour window, int y) {
  int64_t v = static_cast<int64_t>(window & 0xFFFFFF) - int64_t{2 * y - 14} * 0x010101;
  return static_cast<NVColour>(v) & 0xFFFFFF;
}

int StepNumberX(int clientWidth, int stepCount, int n) { return clientWidth - stepCount * 19 - 3 + (n - 1) * 19; }

NVButtonLook StandardButtonLook(int index) {
  switch (index) {
    case kContinueIndex: return {Rgb(0x80, 0xA0, 0x80), {2, 1, 2}};
    case kSkipIndex: return {Rgb(0x80, 0x80, 0xA0), {2, 2, 1}};
    default: return {Rgb(0xA0, 0x80, 0x80), {1, 2, 2}};
  }
}

std::vector<NVRow> ButtonRows(int index, NVButtonState state, const NVRect& r) {
  std::vector<NVRow> rows;
  NVButtonLook look = StandardButtonLook(index);
  if (state == NVButtonState::Focused) {
    // from black upwards, gaining 6 - 3 * step per row in each channel
    int ch[3] = {0, 0, 0};
    for (int y = r.bottom - 3; y >= r.top + 2; --y) {
      rows.push_back({y, r.left + 2, r.right - 2, Rgb(ch[0], ch[1], ch[2])});
      for (int c = 0; c < 3; ++c) ch[c] = std::clamp(ch[c] + 6 - 3 * look.step[c], 0, 255);
    }
  } else if (state == NVButtonState::Normal) {
    // from white downwards, losing the step after every odd row
    int ch[3] = {255, 255, 255};
    int row = 1;
    for (int y = r.top + 3; y <= r.bottom - 4; ++y, ++row) {
      rows.push_back({y, r.left + 3, r.right - 3, Rgb(ch[0], ch[1], ch[2])});
      if (row % 2 == 1)
        for (int c = 0; c < 3; ++c) ch[c] = std::max(ch[c] - look.step[c], 0);
    }
  }
  return rows;
}

NVColour EditTextColour(const TNVEdit& edit) {
  auto& e = const_cast<TNVEdit&>(edit);
  if (!e.Colored()) return Rgb(0, 0, 0);
  return e.Valid() ? Rgb(0, 0x80, 0) : Rgb(0x80, 0, 0);
}

}  // namespace rvx
