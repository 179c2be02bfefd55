// The exception box's decisions and colours that need no window: the message's sentence breaks, the plain
// box's title, preparation of the buttons (FocusedBtn, the countdown button, the disabled continue button),
// what a click, Escape or an expiring countdown does, the countdown bar, colour steps, picture blending,
// the focus animation's frames, the footer gradient, the credit label and whether a closed box comes back
// expanded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crash/ui/exception_box_layout.h"

namespace rvx {

// ---- texts --------------------------------------------------------------------------------------------

// A full stop followed by a blank becomes a line break (CR LF) when the stop lies at 1-based position 20 or
// later and at least ten characters before the end; messages under 30 characters stay as they are.
std::string AddSentenceBreaks(std::string message);
// The text of the box. Full box: the ExceptMsg (or, frozen, FrozenMsg) setting as the record delivers it,
// expanded once more with the exception class, an empty bug report and the message with its sentence
// breaks. Plain boxes: the message with its sentence breaks, or the delivered FrozenMsg.
std::string BoxMessageText(BoxForm form, bool frozen, const std::string& setting, const std::string& exceptClass,
                           const std::string& exceptMessage, uintptr_t module);
// The program file's name without folder and extension (the plain box's title).
std::string ProgramTitle(const std::string& path);

// The credit label: its text and link are held scrambled in the program.
std::string CreditText();
std::string CreditLink();
std::string Scramble(const std::string& text);  // its own inverse

// ---- buttons and actions ------------------------------------------------------------------------------

// The settings the box decides by, as read from the exception record.
struct BoxSettings {
  std::array<bool, kBoxButtons> visible{};
  uint32_t focusedBtn = 0;
  bool autoShowBugRep = false;
  bool autoContinue = false;
  bool autoRestartApplies = false;  // the automatic close/restart rule passes for AutoRestart
  bool autoCloseApplies = false;    // ... for AutoClose
  int32_t autoDelay = 0;
  bool canContinue = true;
};

// Before anything is measured: the full box opening expanded loses its "show" button; FocusedBtn follows the
// automatic action. Returns the settings as they now are (the caller writes changes back to the record).
BoxSettings PrepareBox(BoxSettings s, BoxForm form);

// Whether each button exists in the form (the plain forms have OK at kBoxContinue and Details at kBoxShow).
std::array<bool, kBoxButtons> BoxButtonsOf(const BoxSettings& s, BoxForm form);

// The button that gets the default style and the focus: the first of FocusedBtn's kind, or OK; -1: none.
int DefaultButton(const BoxSettings& s, BoxForm form);

// The button whose countdown runs (full box only), or -1.
int CountdownButton(const BoxSettings& s, BoxForm form);

// Whether the continue button is disabled and shows the "cantContinue" picture.
bool ContinueDisabled(const BoxSettings& s, BoxForm form);

enum class BoxAction { None, Send, Save, Print, Details, Continue, Restart, Close };

// A click on a button (or its Enter, or the countdown's expiry).
BoxAction ClickAction(int kind, bool canContinue);
// Escape or another close request.
BoxAction CloseRequestAction(const BoxSettings& s, BoxForm form);
// Whether a box closed with the re-show request comes back as the expanded full box.
bool ReshowsExpanded(bool reshowRequested, BoxForm form);

// ---- countdown ----------------------------------------------------------------------------------------

// The bar position after `elapsedMs` in a button `width` pixels wide.
int CountdownPosition(uint32_t elapsedMs, int width, int32_t autoDelay, bool ugly);
// Whether the bar at `position` has reached the end of the button: its click is due.
bool CountdownExpired(int position, int width, bool ugly);

// ---- colours (COLORREF layout: red in the low byte) ---------------------------------------------------

uint32_t Rgb(unsigned r, unsigned g, unsigned b);
// Lightens (or, for light colours, darkens) each channel by `step`.
uint32_t ColourStep(uint32_t colour, int step);
// ((4 - i) * bar + i * background) / 4 per channel: the bar's soft edge at distance i.
uint32_t BarShade(uint32_t bar, uint32_t background, int i);
// start + (end - start) * i / count per channel: pixel i of the separator line.
uint32_t GradientColour(uint32_t start, uint32_t end, int i, int count);

struct FrameColours {
  uint32_t text = 0, background = 0;
};
// The eight frames of a fade from (text A, background B, step sA) to (text C, background D, step sD).
std::array<FrameColours, 8> FocusFrames(uint32_t textA, uint32_t backgroundB, int stepA, uint32_t textC,
                                        uint32_t backgroundD, int stepD, bool highColour);

// ---- pictures -----------------------------------------------------------------------------------------

// The side of a picture resource (40-byte header plus n x n 32-bit pixels): 16 or 32; 0 when the size is
// neither 1064 nor 4136 bytes (such a resource is not drawn).
int PictureSide(size_t size);

// A 32-bit top-down surface (blue, green, red, x per pixel).
struct PixelSurface {
  uint8_t* bits = nullptr;
  int width = 0, height = 0;
};
// Blends the picture's pixels over what the surface holds at (x, y), clipped to the surface; the rows of
// the resource are bottom-up unless its header says otherwise. False when the resource has a wrong size.
bool BlendPictureOnto(const uint8_t* resource, size_t size, PixelSurface& surface, int x, int y);

// The credit label's hot area: strictly inside (x, x + width) and (top, top + 10).
bool InsideCredit(int mouseX, int mouseY, int x, int top, int width);

}  // namespace rvx
