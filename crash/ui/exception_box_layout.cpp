#include "crash/ui/exception_box_layout.h"

#include <algorithm>

namespace rvx {

namespace {
bool Visible(const BoxLayoutInput& in, int kind) {
  if (in.form == kFormFull) return in.visible[kind];
  if (kind == kBoxContinue) return true;
  return kind == kBoxShow && in.form == kFormPlainDetails;
}
}  // namespace

BoxLayout LayoutExceptionBox(const BoxLayoutInput& in) {
  BoxLayout l;
  const bool plain = in.form != kFormFull;
  const bool expanded = !plain && in.expanded;
  l.buttonHeight = plain ? 23 : in.ugly ? 26 : 22;
  const int step = l.buttonHeight + 4;

  for (int k = 0; k < kBoxButtons; ++k) {
    l.buttons[k].visible = Visible(in, k);
    l.buttonWidth[k] = l.buttons[k].visible ? std::max(0, in.captionWidth[k]) + 39 : 0;
  }
  auto& w = l.buttonWidth;
  l.rightWidth = std::max({w[kBoxContinue], w[kBoxRestart], w[kBoxClose]});
  if (plain) {
    for (int k : {kBoxContinue, kBoxShow})
      if (l.buttons[k].visible && w[k] < 75) w[k] = 79;
  }
  const int R = l.rightWidth;
  l.scratchWidth = std::max({R, w[kBoxSend], w[kBoxSave], w[kBoxPrint], w[kBoxShow]}) - 4;

  int n = 0;
  for (int k : {kBoxContinue, kBoxRestart, kBoxClose}) n += l.buttons[k].visible ? 1 : 0;
  bool anyLeft = false;
  for (int k : {kBoxSend, kBoxSave, kBoxPrint, kBoxShow}) anyLeft = anyLeft || l.buttons[k].visible;
  l.rightColumn = !plain && n > 1 && anyLeft;
  // Without continue, restart and close the left-hand buttons take the single row of the one-button case,
  // so they stay below the message instead of sliding over it.
  if (n <= 1) n = 2;

  int A, M;
  if (plain) {
    A = in.form == kFormPlainDetails ? w[kBoxContinue] + w[kBoxShow] + 28 : w[kBoxContinue] + 26;
    M = 26;
  } else if (l.rightColumn) {
    A = w[kBoxSend] + w[kBoxSave] + w[kBoxPrint] + w[kBoxShow] + R + 14;
    M = R + 40;
  } else {
    A = 14;
    for (int k = 0; k < kBoxButtons; ++k) A += w[k];
    M = 26;
  }
  l.picture = in.picture;
  if (l.picture) {
    M += 40;
    l.pictureRect = {9, 10, 32, 32};
  }
  PixelSize text = in.measureMessage ? in.measureMessage(std::max(A, kBoxMinExpandedWidth) - M) : PixelSize{};
  const int tw = std::max(0, text.width), th = std::max(0, text.height);

  const BoxMetrics& m = in.metrics;
  int W = std::max(tw + M, A);
  if (expanded) W = std::max(W, std::min(kBoxMinExpandedWidth, m.screenWidth - 5 * m.titleBar));

  int Y = l.picture && th < 26 ? 31 : th + 5;
  if (n == 3) {
    if (l.rightColumn)
      Y = std::max(7, Y - step);
    else
      n = 2;
  }
  l.rows = n;

  auto place = [&](int kind, int x, int row, int width) {
    BoxButtonPlace& b = l.buttons[kind];
    b.row = row;
    b.rect = {x, Y + row * step, width - 4, l.buttonHeight};
  };
  int H;
  if (!plain) {
    int x = 6;
    for (int k : {kBoxSend, kBoxSave, kBoxPrint, kBoxShow}) {
      if (!l.buttons[k].visible) continue;
      place(k, x, n - 1, w[k]);
      x += w[k];
    }
    x = l.rightColumn ? W - R - 8 : W - w[kBoxContinue] - w[kBoxRestart] - w[kBoxClose] - 8;
    for (int k : {kBoxContinue, kBoxRestart, kBoxClose}) {
      if (!l.buttons[k].visible) continue;
      if (l.rightColumn) {
        int row = k == kBoxContinue ? 0 : k == kBoxRestart ? (l.buttons[kBoxContinue].visible ? 1 : 0) : n - 1;
        place(k, x, row, R);
      } else {
        place(k, x, 1, w[k]);
        x += w[k];
      }
    }
    H = step * n + Y + 8;
  } else {
    const bool details = in.form == kFormPlainDetails;
    int x = details ? (W - w[kBoxContinue] - w[kBoxShow] + 2) / 2 - 3 : (W - w[kBoxContinue] + 4) / 2 - 3;
    place(kBoxContinue, x, 1, w[kBoxContinue]);
    x += w[kBoxContinue] + 2;
    if (details) place(kBoxShow, x, 1, w[kBoxShow]);
    H = Y + 2 * step + 13;
  }

  l.message = {l.picture ? 51 : 11, l.picture && th < 26 ? (26 - th) / 2 + 12 : 12, tw, th};

  if (in.form != kFormPlain) {
    l.footerY = H - 8;
    H += expanded ? 9 : 11;
  }
  int T = 0;
  if (expanded) {
    T = H;
    H += kBoxExpandedExtraHeight;
  }
  H = std::min(H, m.screenHeight - 5 * m.titleBar);
  if (expanded) {
    l.tab = true;
    l.tabRect = {5, T - 4, W - 15, std::max(0, H - T - 6)};
  }
  l.width = W;
  l.height = H;
  l.outerWidth = W;
  l.outerHeight = H + m.titleBar;
  if (expanded) {
    l.outerWidth += 2 * (m.sizeFrameX - m.dialogFrameX);
    l.outerHeight += 2 * (m.sizeFrameY - m.dialogFrameY);
  }
  l.left = (m.screenWidth - l.outerWidth) / 2;
  l.top = (m.screenHeight - l.outerHeight) / 2;
  return l;
}

}  // namespace rvx
