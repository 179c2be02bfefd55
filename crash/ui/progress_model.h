// The progress window without its window: weighted areas with texts, the current area and the position in
// thousandths within it, the bar value over all areas, the window's geometry from measured text sizes and
// system metrics, and the picture blended over the button face. Portable: no system calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rvx {

struct ProgressArea {
  int64_t start = 0;  // total weight of the areas before it when it was appended
  int64_t weight = 0;
  std::string text;
};

constexpr const char* kDefaultProgressText = "Please wait...";
constexpr int32_t kFullPosition = 1000;

class ProgressAreas {
 public:
  // An empty text repeats the last area's text.
  void Append(std::string_view text, int64_t weight);
  // No areas, area 0, total weight 0; the position stays.
  void RemoveAll();
  // The current area becomes v (v = number of areas: the last one, with the bar full; position 0 otherwise).
  // False, and nothing changes, when v is the current area, negative or beyond the number of areas.
  bool SetActive(int32_t v);
  void SetPosition(int32_t position) { position_ = position; }

  int32_t Active() const { return active_; }
  int32_t Position() const { return position_; }
  int64_t TotalWeight() const { return total_; }
  const std::vector<ProgressArea>& Areas() const { return areas_; }
  // The current area's text (empty without areas) and the texts from the current area to the last.
  std::string ActiveText() const;
  std::vector<std::string> TextsFromActive() const;

  // ((weight * position) div 1000 + start) * 1000 div total over the current area, in 0..1000; none without
  // areas or total weight.
  std::optional<int32_t> BarValue() const;

 private:
  std::vector<ProgressArea> areas_;
  int64_t total_ = 0;
  int32_t active_ = 0;
  int32_t position_ = 0;
};

// The bar value of a position within an area (see ProgressAreas::BarValue); none when total <= 0.
std::optional<int32_t> ProgressBarValue(int64_t weight, int32_t position, int64_t start, int64_t total);

// ---- geometry -----------------------------------------------------------------------------------------

struct ProgressMetrics {
  int cxDlgFrame = 3, cyDlgFrame = 3, cySmCaption = 15, cyVScroll = 16, cyCaption = 18;
  int cxScreen = 1024, cyScreen = 768, cxFullScreen = 1024, cyFullScreen = 730;
  bool hasWorkArea = false;
  int workRight = 0, workBottom = 0;
};

struct PixelSize {
  int width = 0, height = 0;
};

struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

struct ProgressLayout {
  bool picture = false;
  PixelRect pictureRect, label, bar, window;
};

// Texts are measured word-wrapped within this width.
constexpr int kProgressTextWidth = 420;

// texts: the measured sizes of the current area's text and of every later one (at least one entry).
ProgressLayout LayoutProgressWindow(const std::vector<PixelSize>& texts, bool picture, const ProgressMetrics& metrics,
                                    bool activate);

// ---- picture ------------------------------------------------------------------------------------------

// A 32 x 32 picture resource: a 40-byte bitmap information header and 32-bit pixels (blue, green, red, alpha).
constexpr size_t kPictureSide = 32;
constexpr size_t kPictureHeaderSize = 40;
constexpr size_t kPictureResourceSize = kPictureHeaderSize + 4 * kPictureSide * kPictureSide;

// One picture pixel (blue, green, red, straight alpha) blended over the colour bytes at `dst` (blue, green,
// red): each channel (background x (256 - a') + picture x a') / 256 with a' = alpha + 1.
inline void BlendPixelOver(uint8_t* dst, const uint8_t* pixel) {
  const unsigned a = pixel[3] + 1u;
  for (int c = 0; c < 3; ++c) dst[c] = static_cast<uint8_t>((dst[c] * (256 - a) + pixel[c] * a) >> 8);
}

// The pixels of the resource blended over `background` (a colour reference, red in the low byte), alpha
// bytes left as they are. False, and nothing written, when the resource does not have the exact size.
bool BlendPicture(const uint8_t* resource, size_t size, uint32_t background, std::vector<uint8_t>& pixels);

}  // namespace rvx
