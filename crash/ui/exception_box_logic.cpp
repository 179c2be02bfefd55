#include "crash/ui/exception_box_logic.h"

#include <algorithm>
#include <cstring>

#include "crash/core/settings.h"

namespace rvx {

// ---- texts --------------------------------------------------------------------------------------------

std::string AddSentenceBreaks(std::string m) {
  if (m.size() < 30) return m;
  // Backwards, so that an inserted LF never moves a position still to be looked at.
  for (size_t i = m.size() - 10; i >= 20; --i) {
    if (m[i - 1] == '.' && m[i] == ' ') {
      m[i] = '\r';
      m.insert(i + 1, 1, '\n');
    }
  }
  return m;
}

std::string BoxMessageText(BoxForm form, bool frozen, const std::string& setting, const std::string& exceptClass,
                           const std::string& exceptMessage, uintptr_t module) {
  std::string message = AddSentenceBreaks(exceptMessage);
  if (form != kFormFull) return frozen ? setting : message;
  const std::string none;
  return ExpandPlaceholders(setting, module, {&exceptClass, &none, &message});
}

std::string ProgramTitle(const std::string& path) {
  size_t slash = path.rfind('\\');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string Scramble(const std::string& text) {
  std::string out = text;
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ ((0x5A + 7 * i) & 0xFF));
  return out;
}

namespace {
template <size_t N>
std::string Unscramble(const uint8_t (&bytes)[N]) {
  return Scramble(std::string(reinterpret_cast<const char*>(bytes), N));
}
}  // namespace

std::string CreditText() {
  static const uint8_t kText[] = {0x39, 0x13, 0x09, 0x1C, 0x1E, 0x5D, 0xF6, 0xEE, 0xE2, 0xF6, 0xD2,
                                  0xD3, 0x8E, 0xD7, 0xC5, 0xE3, 0x98, 0xB0, 0xAE, 0xBA, 0x9E};
  return Unscramble(kText);
}

std::string CreditLink() {
  static const uint8_t kLink[] = {0x32, 0x15, 0x1C, 0x1F, 0x05, 0x47, 0xAB, 0xA4, 0xE0, 0xF8, 0xD6,
                                  0xC2, 0xD6, 0x9B, 0xD9, 0xBB, 0xAB, 0xBC, 0xA8, 0xB3, 0x83, 0xC2};
  return Unscramble(kLink);
}

// ---- buttons and actions ------------------------------------------------------------------------------

BoxSettings PrepareBox(BoxSettings s, BoxForm form) {
  if (form == kFormFull && s.autoShowBugRep) s.visible[kBoxShow] = false;
  if (s.autoCloseApplies && s.visible[kBoxClose])
    s.focusedBtn = kBoxClose;
  else if (s.autoRestartApplies && s.visible[kBoxRestart])
    s.focusedBtn = kBoxRestart;
  else if (s.autoContinue && s.visible[kBoxContinue] && s.canContinue)
    s.focusedBtn = kBoxContinue;
  return s;
}

std::array<bool, kBoxButtons> BoxButtonsOf(const BoxSettings& s, BoxForm form) {
  if (form == kFormFull) return s.visible;
  std::array<bool, kBoxButtons> b{};
  b[kBoxContinue] = true;
  b[kBoxShow] = form == kFormPlainDetails;
  return b;
}

int DefaultButton(const BoxSettings& s, BoxForm form) {
  if (form != kFormFull) return kBoxContinue;
  return s.focusedBtn < kBoxButtons && s.visible[s.focusedBtn] ? static_cast<int>(s.focusedBtn) : -1;
}

int CountdownButton(const BoxSettings& s, BoxForm form) {
  if (form != kFormFull) return -1;
  if (s.autoCloseApplies && s.visible[kBoxClose]) return kBoxClose;
  if (s.autoRestartApplies && s.visible[kBoxRestart]) return kBoxRestart;
  if (s.autoContinue && s.visible[kBoxContinue] && s.canContinue) return kBoxContinue;
  return -1;
}

bool ContinueDisabled(const BoxSettings& s, BoxForm form) {
  auto b = BoxButtonsOf(s, form);
  return b[kBoxContinue] && !s.canContinue && (b[kBoxRestart] || b[kBoxClose]);
}

BoxAction ClickAction(int kind, bool canContinue) {
  switch (kind) {
    case kBoxSend: return BoxAction::Send;
    case kBoxSave: return BoxAction::Save;
    case kBoxPrint: return BoxAction::Print;
    case kBoxShow: return BoxAction::Details;
    case kBoxContinue: return canContinue ? BoxAction::Continue : BoxAction::Close;
    case kBoxRestart: return BoxAction::Restart;
    case kBoxClose: return BoxAction::Close;
    default: return BoxAction::None;
  }
}

BoxAction CloseRequestAction(const BoxSettings& s, BoxForm form) {
  switch (s.focusedBtn) {
    case kBoxContinue: return BoxAction::Continue;
    case kBoxRestart: return BoxAction::Restart;
    case kBoxClose: return BoxAction::Close;
    default: break;
  }
  auto b = BoxButtonsOf(s, form);
  if (b[kBoxContinue] && s.canContinue) return BoxAction::Continue;
  if (b[kBoxClose]) return BoxAction::Close;
  if (b[kBoxRestart]) return BoxAction::Restart;
  if (form != kFormFull) return BoxAction::Close;
  return BoxAction::None;
}

bool ReshowsExpanded(bool reshowRequested, BoxForm form) {
  return reshowRequested && (form == kFormFull || form == kFormPlainDetails);
}

// ---- countdown ----------------------------------------------------------------------------------------

int CountdownPosition(uint32_t elapsedMs, int width, int32_t autoDelay, bool ugly) {
  if (autoDelay <= 0) return -1;
  // 64-bit: a long delay or a long wait must not wrap the bar back to the start.
  const uint64_t d = static_cast<uint64_t>(autoDelay);
  const uint64_t span = static_cast<uint64_t>(std::max(0, ugly ? width - 11 : width));
  uint64_t x = (elapsedMs * span + d * 500) / (d * 1000);
  if (ugly) x += 5;
  return static_cast<int>(std::min<uint64_t>(x, 0x7FFFFFFF));
}

bool CountdownExpired(int position, int width, bool ugly) { return position > (ugly ? width - 6 : width); }

// ---- colours ------------------------------------------------------------------------------------------

namespace {
unsigned Channel(uint32_t c, int i) { return (c >> (8 * i)) & 0xFF; }
template <class F>
uint32_t PerChannel(F f) {
  uint32_t out = 0;
  for (int i = 0; i < 3; ++i) out |= (static_cast<uint32_t>(f(i)) & 0xFF) << (8 * i);
  return out;
}
}  // namespace

uint32_t Rgb(unsigned r, unsigned g, unsigned b) { return (r & 0xFF) | (g & 0xFF) << 8 | (b & 0xFF) << 16; }

uint32_t ColourStep(uint32_t colour, int step) {
  int over = 0;
  for (int i = 0; i < 3; ++i) over += static_cast<int>(Channel(colour, i)) + step > 256 ? 1 : 0;
  if (over < 2) return PerChannel([&](int i) { return std::min(255, static_cast<int>(Channel(colour, i)) + step); });
  return PerChannel([&](int i) { return std::max(0, static_cast<int>(Channel(colour, i)) - step); });
}

uint32_t BarShade(uint32_t bar, uint32_t background, int i) {
  return PerChannel([&](int c) { return ((4 - i) * Channel(bar, c) + i * Channel(background, c)) / 4; });
}

uint32_t GradientColour(uint32_t start, uint32_t end, int i, int count) {
  if (count <= 0) return start;
  return PerChannel([&](int c) {
    int s = static_cast<int>(Channel(start, c)), e = static_cast<int>(Channel(end, c));
    return s + (e - s) * i / count;
  });
}

std::array<FrameColours, 8> FocusFrames(uint32_t a, uint32_t b, int stepA, uint32_t c, uint32_t d, int stepD,
                                        bool highColour) {
  if (highColour) {
    if (stepA != 0)
      b = ColourStep(b, stepA);
    else
      d = ColourStep(d, stepD);
  }
  std::array<FrameColours, 8> frames;
  for (int n = 7; n >= 0; --n) {
    auto mix = [n](uint32_t from, uint32_t to) {
      return PerChannel([&](int i) { return (n * Channel(from, i) + (8 - n) * Channel(to, i)) / 8; });
    };
    frames[7 - n] = {mix(a, c), mix(b, d)};
  }
  return frames;
}

// ---- pictures -----------------------------------------------------------------------------------------

int PictureSide(size_t size) {
  if (size == kPictureHeaderSize + 4 * 16 * 16) return 16;
  if (size == kPictureResourceSize) return 32;
  return 0;
}

bool BlendPictureOnto(const uint8_t* resource, size_t size, PixelSurface& s, int x, int y) {
  const int n = resource ? PictureSide(size) : 0;
  if (!n) return false;
  int32_t height = 0;
  std::memcpy(&height, resource + 8, sizeof height);
  const bool topDown = height < 0;
  const uint8_t* pixels = resource + kPictureHeaderSize;
  for (int row = 0; row < n; ++row) {
    const int sy = y + row;
    if (sy < 0 || sy >= s.height || !s.bits) continue;
    const uint8_t* src = pixels + static_cast<size_t>(topDown ? row : n - 1 - row) * n * 4;
    for (int col = 0; col < n; ++col) {
      const int sx = x + col;
      if (sx < 0 || sx >= s.width) continue;
      BlendPixelOver(s.bits + (static_cast<size_t>(sy) * s.width + sx) * 4, src + col * 4);
    }
  }
  return true;
}

bool InsideCredit(int mx, int my, int x, int top, int width) {
  return mx > x && mx < x + width && my > top && my < top + 10;
}

}  // namespace rvx
