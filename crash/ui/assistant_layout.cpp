// Layout of an assistant page; see assistant_layout.h.
#include "crash/ui/assistant_layout.h"

#include <algorithm>

#include "crash/ui/bitmap_zoom.h"

namespace rvx {

namespace {
constexpr int kItemX = 21;
constexpr int kFirstY = 40;
// Sizes and positions from a description are kept within this, so that no sum of them overflows.
constexpr int kMaxExtent = 100000;

int Bounded(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, -kMaxExtent, kMaxExtent)); }

std::string_view LabelCaption(TNVItem& item, std::string& keep) {
  keep = static_cast<TNVLabel&>(item).ShownCaption(static_cast<TNVLabel&>(item).Caption());
  return keep;
}

int TextHeight(INVTextMeasure& measure, std::string_view text) { return measure.Measure(NVFont::Tahoma11, text).cy; }

// Computes the item's rectangle at (x, y); returns it.
NVRect ItemRect(TNVItem& item, int x, int y, int clientWidth, INVTextMeasure& measure, const NVMetrics& metrics) {
  NVRect r{x, y, x, y};
  switch (item.Kind()) {
    case NVItemKind::Button: {
      auto& b = static_cast<TNVButton&>(item);
      std::string caption = b.ShownCaption(b.Caption());
      NVTextSize t = measure.Measure(NVFont::Tahoma11, caption);
      r.right = x + Bounded(std::max({t.cx + 32, 70, b.MinWidth()}));
      r.bottom = y + t.cy + 10;
      break;
    }
    case NVItemKind::Label: {
      std::string keep;
      r.top = r.bottom = y - 2;
      NVTextSize t = measure.MeasureWrapped(NVFont::Tahoma11, LabelCaption(item, keep), clientWidth - 46);
      r.right = x + t.cx;
      r.bottom = r.top + t.cy;
      break;
    }
    case NVItemKind::Edit: {
      auto& e = static_cast<TNVEdit&>(item);
      int line = TextHeight(measure, "Gg");
      if (line <= 0) line = 13;
      int h = Bounded((e.Lines() > 1 ? int64_t{line} * e.Lines() : line) + 2);
      // the window sits at (x + 2, y + 2); the rectangle holds the frame around it
      r.right = x + (clientWidth - 46) + 4;
      r.bottom = y + h + 4;
      break;
    }
    case NVItemKind::CheckBox: {
      auto& c = static_cast<TNVCheckBox&>(item);
      NVTextSize t = measure.Measure(NVFont::Tahoma11, c.Caption());
      r.right = x + t.cx + metrics.checkWidth + 8;
      r.bottom = y + std::max(t.cy, metrics.checkHeight);
      break;
    }
    case NVItemKind::Image: {
      auto& im = static_cast<TNVImage&>(item);
      int f = im.FrameAllowance();
      INVBitmap picture = im.Picture();
      // a size that is not positive counts as not given
      int w = im.WantedWidth() > 0 ? im.WantedWidth() : picture ? picture->Width() : 32;
      int h = im.WantedHeight() > 0 ? im.WantedHeight() : picture ? picture->Height() : 32;
      w = std::max(std::min(w, clientWidth - f - 42), 1);
      h = std::max(std::min(h, metrics.screenHeight / 3), 1);
      if (picture && (picture->Width() != w || picture->Height() != h)) {
        int zw, zh;
        if (FittedSize(picture->Width(), picture->Height(), w, h, zw, zh)) {
          w = zw;
          h = zh;
          if (INVBitmap zoomed = picture->Zoom(w, h)) im.StorePicture(zoomed);
        }
      }
      r.right = x + w + f;
      r.bottom = y + h + f;
      im.laidOut = true;
      break;
    }
  }
  return r;
}
}  // namespace

NVTextSize StandardButtonSize(TNVButton& button, INVTextMeasure& measure) {
  bool plain = button.NoOwnerDraw();
  std::string caption = button.ShownCaption(button.Caption());
  NVTextSize t = measure.Measure(plain ? NVFont::Tahoma11 : NVFont::Arial15, caption);
  NVTextSize s;
  s.cy = plain ? 23 : 32;
  s.cx = button.Invisible() ? -8 : std::max(t.cx + 20, plain ? 75 : 85);
  return s;
}

int ClientWidth(TNVForm& form, INVTextMeasure& measure) {
  int w = 32;
  for (int i = kContinueIndex; i <= kCancelIndex; ++i) w += StandardButtonSize(*form.StandardButton(i), measure).cx;
  w = std::max({w, 315, form.MinWidth()});
  int message = measure.Measure(NVFont::Arial15Bold, form.Message()).cx;
  return Bounded(std::max<int64_t>(w, int64_t{message} + int64_t{form.StepCount()} * 19 + 36));
}

bool IsHeadLabel(TNVItem& item, int clientWidth, INVTextMeasure& measure) {
  if (item.Kind() != NVItemKind::Label) return false;
  std::string keep;
  std::string_view caption = LabelCaption(item, keep);
  if (caption.empty() || (caption.back() != ':' && caption.back() != '?')) return false;
  NVTextSize one = measure.Measure(NVFont::Tahoma11, caption);
  NVTextSize wrapped = measure.MeasureWrapped(NVFont::Tahoma11, caption, clientWidth - 46);
  return wrapped.cy <= one.cy;
}

int GapAfter(TNVForm& form, int index, int clientWidth, INVTextMeasure& measure) {
  TNVItem* item = form.ItemAt(index);
  if (!item) return 0;
  if (item->Spacing() != 0) return Bounded(item->Spacing());
  if (index == form.ItemCount() - 1) return 0;
  if (IsHeadLabel(*item, clientWidth, measure)) return 4;
  TNVItem* next = form.ItemAt(index + 1);
  if (next->Kind() == item->Kind()) {
    switch (item->Kind()) {
      case NVItemKind::Button: return 4;
      case NVItemKind::Edit: return 6;
      default: return 8;
    }
  }
  TNVItem* previous = form.ItemAt(index - 1);
  TNVItem* afterNext = form.ItemAt(index + 2);
  if (IsHeadLabel(*next, clientWidth, measure) && previous && IsHeadLabel(*previous, clientWidth, measure) &&
      afterNext && afterNext->Kind() == item->Kind())
    return 8;
  return 12;
}

NVFormLayout LayoutForm(TNVForm& form, INVTextMeasure& measure, const NVMetrics& metrics) {
  NVFormLayout out;
  int W = ClientWidth(form, measure);
  int y = kFirstY;
  for (int i = kFirstContentIndex; i < form.ItemCount(); ++i) {
    TNVItem& item = *form.ItemAt(i);
    item.rect = ItemRect(item, kItemX, y, W, measure, metrics);
    y = Bounded(int64_t{item.rect.bottom} + GapAfter(form, i, W, measure));
  }
  NVTextSize sizes[3];
  for (int i = 0; i < 3; ++i) sizes[i] = StandardButtonSize(*form.StandardButton(i), measure);
  int H = sizes[kContinueIndex].cy + y + 33;
  TNVButton& cont = *form.StandardButton(kContinueIndex);
  TNVButton& skip = *form.StandardButton(kSkipIndex);
  TNVButton& cancel = *form.StandardButton(kCancelIndex);
  int x[3];
  x[kCancelIndex] = W - sizes[kCancelIndex].cx - 8;
  if (cont.NoOwnerDraw() && cancel.NoOwnerDraw() && skip.Invisible()) {
    x[kContinueIndex] = x[kCancelIndex] - 8 - sizes[kContinueIndex].cx;
    x[kSkipIndex] = 8;
  } else {
    x[kContinueIndex] = 8;
    x[kSkipIndex] = 8 + sizes[kContinueIndex].cx + 8;
  }
  for (int i = 0; i < 3; ++i) {
    int top = H - sizes[i].cy - 9;
    out.buttons[i] = NVRect{x[i], top, x[i] + std::max(sizes[i].cx, 0), top + sizes[i].cy};
    form.StandardButton(i)->rect = out.buttons[i];
  }
  out.width = W;
  out.height = H;
  out.finalY = y;
  out.panel = NVRect{8, 25, W - 9, out.buttons[kContinueIndex].top - 10};
  form.clientWidth = W;
  form.clientHeight = H;
  return out;
}

NVRect EditWindowRect(const TNVItem& edit) {
  return NVRect{edit.rect.left + 2, edit.rect.top + 2, edit.rect.right - 2, edit.rect.bottom - 2};
}

}  // namespace rvx
