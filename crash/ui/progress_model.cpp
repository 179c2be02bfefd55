#include "crash/ui/progress_model.h"

#include <algorithm>

namespace rvx {

void ProgressAreas::Append(std::string_view text, int64_t weight) {
  ProgressArea area;
  area.text = text.empty() && !areas_.empty() ? areas_.back().text : std::string(text);
  area.start = total_;
  area.weight = weight;
  areas_.push_back(std::move(area));
  // Weights come from callers; a sum beyond 64 bits stops growing instead of wrapping.
  if (__builtin_add_overflow(total_, weight, &total_)) total_ = weight > 0 ? INT64_MAX : INT64_MIN;
}

void ProgressAreas::RemoveAll() {
  areas_.clear();
  active_ = 0;
  total_ = 0;
}

bool ProgressAreas::SetActive(int32_t v) {
  const auto count = static_cast<int64_t>(areas_.size());
  if (v == active_ || v < 0 || v > count) return false;
  if (v == count) {
    active_ = static_cast<int32_t>(count - 1);
    position_ = kFullPosition;
  } else {
    active_ = v;
    position_ = 0;
  }
  return true;
}

std::string ProgressAreas::ActiveText() const {
  if (active_ < 0 || static_cast<size_t>(active_) >= areas_.size()) return {};
  return areas_[static_cast<size_t>(active_)].text;
}

std::vector<std::string> ProgressAreas::TextsFromActive() const {
  std::vector<std::string> texts;
  for (size_t i = static_cast<size_t>(std::max(active_, 0)); i < areas_.size(); ++i) texts.push_back(areas_[i].text);
  return texts;
}

std::optional<int32_t> ProgressAreas::BarValue() const {
  if (active_ < 0 || static_cast<size_t>(active_) >= areas_.size()) return std::nullopt;
  const ProgressArea& a = areas_[static_cast<size_t>(active_)];
  return ProgressBarValue(a.weight, position_, a.start, total_);
}

std::optional<int32_t> ProgressBarValue(int64_t weight, int32_t position, int64_t start, int64_t total) {
  if (total <= 0) return std::nullopt;
  int64_t product, done, scaled;
  int64_t value;
  if (!__builtin_mul_overflow(weight, int64_t{position}, &product) &&
      !__builtin_add_overflow(product / 1000, start, &done) && !__builtin_mul_overflow(done, int64_t{1000}, &scaled)) {
    value = scaled / total;
  } else {
    // Weights near the 64-bit limit: the same proportion in floating point.
    long double v = ((static_cast<long double>(weight) * position) / 1000 + start) * 1000 / total;
    value = v < 0 ? 0 : (v > 1000 ? 1000 : static_cast<int64_t>(v));
  }
  return static_cast<int32_t>(std::clamp<int64_t>(value, 0, kFullPosition));
}

ProgressLayout LayoutProgressWindow(const std::vector<PixelSize>& texts, bool picture, const ProgressMetrics& m,
                                    bool activate) {
  ProgressLayout layout;
  int w = 0, h = 0;
  for (const PixelSize& s : texts) {
    w = std::max(w, s.width);
    h = std::max(h, s.height);
  }
  if (picture) {
    w += 40;
    layout.picture = true;
    layout.pictureRect = {9, 9, 32, 32};
  }
  w = std::max(w, 220);
  int left = 11, top = 12;
  if (picture) {
    left = 51;
    if (h < 26) {
      top = 12 + (26 - h) / 2;
      h = 26;
    }
  }
  // The label ends at the same right margin as the bar, so it wraps exactly as the text was measured.
  layout.label = {left, top, w - (left - 11), h};
  layout.bar = {11, h + 24, w, m.cyVScroll};
  const int width = w + 22 + 2 * m.cxDlgFrame;
  const int height = h + 36 + m.cySmCaption + m.cyVScroll + 2 * m.cyDlgFrame;
  if (activate) {
    layout.window = {(m.cxScreen - width) / 2, (m.cyScreen - height) / 2, width, height};
  } else {
    int right = m.hasWorkArea ? m.workRight : m.cxFullScreen;
    int bottom = m.hasWorkArea ? m.workBottom : m.cyFullScreen + m.cyCaption;
    layout.window = {right - width - 2, bottom - height - 2, width, height};
  }
  return layout;
}

bool BlendPicture(const uint8_t* resource, size_t size, uint32_t background, std::vector<uint8_t>& pixels) {
  if (!resource || size != kPictureResourceSize) return false;
  const uint8_t bg[3] = {static_cast<uint8_t>(background >> 16), static_cast<uint8_t>(background >> 8),
                         static_cast<uint8_t>(background)};  // b, g, r
  pixels.assign(resource + kPictureHeaderSize, resource + size);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    uint8_t blended[3] = {bg[0], bg[1], bg[2]};
    BlendPixelOver(blended, &pixels[i]);
    std::copy(blended, blended + 3, &pixels[i]);
  }
  return true;
}

}  // namespace rvx
