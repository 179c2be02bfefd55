// The exception box's layout and decisions, with fixed caption and message sizes.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/ui/exception_box_layout.h"
#include "crash/ui/exception_box_logic.h"

namespace rvx {
namespace {

// Captions 60 pixels wide, a message that wraps into 13-pixel lines of at most 300 pixels.
BoxLayoutInput Input(BoxForm form, std::array<bool, kBoxButtons> visible, int messageHeight = 13) {
  BoxLayoutInput in;
  in.form = form;
  in.visible = visible;
  in.captionWidth.fill(60);
  in.measureMessage = [messageHeight](int width) { return PixelSize{std::min(width, 300), messageHeight}; };
  return in;
}

constexpr std::array<bool, kBoxButtons> kThisProgram = {true, true, true, true, true, false, false};
constexpr std::array<bool, kBoxButtons> kAll = {true, true, true, true, true, true, true};

bool Overlap(const PixelRect& a, const PixelRect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

void ExpectInside(const BoxLayout& l) {
  for (int k = 0; k < kBoxButtons; ++k) {
    if (!l.buttons[k].visible) continue;
    const PixelRect& r = l.buttons[k].rect;
    EXPECT_GE(r.x, 0) << k;
    EXPECT_LE(r.x + r.width, l.width) << k;
    EXPECT_FALSE(Overlap(r, l.message)) << "button " << k << " over the message";
    EXPECT_LE(r.y + r.height, l.height) << k;
    for (int j = k + 1; j < kBoxButtons; ++j) {
      if (l.buttons[j].visible) {
        EXPECT_FALSE(Overlap(r, l.buttons[j].rect)) << k << " and " << j;
      }
    }
  }
}

TEST(ExceptionBoxLayout, ThisProgramsSettingsGiveOneRowOfFive) {
  BoxLayout l = LayoutExceptionBox(Input(kFormFull, kThisProgram));
  EXPECT_FALSE(l.rightColumn);
  EXPECT_EQ(l.buttonHeight, 22);
  int y = l.buttons[kBoxSend].rect.y, x = 6;
  for (int k : {kBoxSend, kBoxSave, kBoxPrint, kBoxShow}) {
    EXPECT_EQ(l.buttons[k].rect.y, y) << k;
    EXPECT_EQ(l.buttons[k].rect.x, x) << k;
    EXPECT_EQ(l.buttons[k].rect.width, 95) << k;  // caption + 39 - 4
    x += 99;
  }
  EXPECT_EQ(l.buttons[kBoxContinue].rect.y, y);
  EXPECT_EQ(l.buttons[kBoxContinue].rect.x, l.width - 99 - 8);  // the right end
  EXPECT_FALSE(l.buttons[kBoxRestart].visible);
  EXPECT_EQ(y, 13 + 5 + 26);  // row 1 below the message
  EXPECT_EQ(l.width, std::max(300 + 26, 5 * 99 + 14));
  EXPECT_EQ(l.footerY, 26 * 2 + 18 + 8 - 8);
  EXPECT_EQ(l.height, 26 * 2 + 18 + 8 + 11);
  EXPECT_EQ(l.outerHeight, l.height + 19);
  EXPECT_EQ(l.scratchWidth, 95);
  ExpectInside(l);
}

TEST(ExceptionBoxLayout, RightColumnOfThreeRowsStartsHigherButNeverAboveSeven) {
  BoxLayout l = LayoutExceptionBox(Input(kFormFull, kAll));
  ASSERT_TRUE(l.rightColumn);
  EXPECT_EQ(l.rows, 3);
  EXPECT_EQ(l.buttons[kBoxContinue].rect.y, 7);  // 13 + 5 - 26 would be above the top
  EXPECT_EQ(l.buttons[kBoxRestart].row, 1);
  EXPECT_EQ(l.buttons[kBoxClose].row, 2);
  EXPECT_EQ(l.buttons[kBoxSend].row, 2);
  EXPECT_EQ(l.buttons[kBoxRestart].rect.x, l.buttons[kBoxContinue].rect.x);
  EXPECT_EQ(l.buttons[kBoxClose].rect.x, l.width - 99 - 8);
  EXPECT_EQ(l.height, 26 * 3 + 7 + 8 + 11);

  // A long message: the column moves up by one row from below the message.
  BoxLayout tall = LayoutExceptionBox(Input(kFormFull, kAll, 100));
  EXPECT_EQ(tall.buttons[kBoxContinue].rect.y, 105 - 26);
  EXPECT_EQ(tall.buttons[kBoxSend].rect.y, 105 + 26);

  // Without left-hand buttons there is no column: all three in one row.
  BoxLayout right = LayoutExceptionBox(Input(kFormFull, {false, false, false, false, true, true, true}));
  EXPECT_FALSE(right.rightColumn);
  EXPECT_EQ(right.rows, 2);
  EXPECT_EQ(right.buttons[kBoxRestart].rect.y, right.buttons[kBoxContinue].rect.y);
  EXPECT_EQ(right.buttons[kBoxRestart].rect.x, right.buttons[kBoxContinue].rect.x + 99);
  ExpectInside(right);

  // Two of them: continue on top, close below it beside the left-hand row.
  BoxLayout two = LayoutExceptionBox(Input(kFormFull, {true, false, false, false, true, false, true}));
  EXPECT_TRUE(two.rightColumn);
  EXPECT_EQ(two.buttons[kBoxContinue].row, 0);
  EXPECT_EQ(two.buttons[kBoxClose].row, 1);
  EXPECT_EQ(two.buttons[kBoxSend].row, 1);
  ExpectInside(two);
}

TEST(ExceptionBoxLayout, WithoutContinueRestartAndCloseTheButtonsStayBelowTheMessage) {
  BoxLayout l = LayoutExceptionBox(Input(kFormFull, {true, true, false, true, false, false, false}));
  EXPECT_EQ(l.buttons[kBoxSend].row, 1);
  EXPECT_GT(l.height, l.buttons[kBoxSend].rect.y + l.buttonHeight);
  ExpectInside(l);
}

TEST(ExceptionBoxLayout, ExpandedBoxIsWideTallAndHasTheTabs) {
  BoxLayoutInput in = Input(kFormFull, {true, true, true, false, true, false, false});
  BoxLayout normal = LayoutExceptionBox(in);
  in.expanded = true;
  BoxLayout l = LayoutExceptionBox(in);
  EXPECT_GE(l.width, kBoxMinExpandedWidth);
  ASSERT_TRUE(l.tab);
  const int T = l.tabRect.y + 4;
  EXPECT_EQ(l.height - T, 491);
  EXPECT_EQ(T, normal.footerY + 8 + 9);  // footer band of 9 pixels in the expanded box
  EXPECT_EQ(l.tabRect.x, 5);
  EXPECT_EQ(l.tabRect.width, l.width - 15);
  EXPECT_EQ(l.tabRect.height, 491 - 6);
  EXPECT_EQ(l.outerWidth, l.width + 2);  // sizing frame 4 against dialog frame 3 on both sides
  EXPECT_EQ(l.outerHeight, l.height + 19 + 2);
  EXPECT_EQ(normal.tab, false);

  // A narrow screen: five title bars less than its width.
  in.metrics.screenWidth = 600;
  in.captionWidth.fill(20);
  BoxLayout narrow = LayoutExceptionBox(in);
  EXPECT_EQ(narrow.width, std::max(600 - 5 * 19, 300 + 26));

  // A low screen: the height is cut to five title bars less than the screen, the tab shrinks with it.
  in.metrics.screenHeight = 500;
  BoxLayout low = LayoutExceptionBox(in);
  EXPECT_EQ(low.height, 500 - 95);
  EXPECT_EQ(low.tabRect.y + low.tabRect.height + 10, low.height);
}

TEST(ExceptionBoxLayout, VeryLongMessagesAreLimitedToTheScreenHeight) {
  BoxLayout l = LayoutExceptionBox(Input(kFormPlain, {}, 5000));
  EXPECT_EQ(l.height, 768 - 95);
  EXPECT_EQ(l.outerHeight, 768 - 95 + 19);
  EXPECT_GE(l.top, 0);
}

TEST(ExceptionBoxLayout, PlainFormsCentreTheirButtons) {
  BoxLayoutInput in = Input(kFormPlain, kAll);  // the full box's settings play no part
  in.captionWidth.fill(10);                     // short captions: buttons 79 wide
  BoxLayout plain = LayoutExceptionBox(in);
  EXPECT_EQ(plain.buttonHeight, 23);
  EXPECT_TRUE(plain.buttons[kBoxContinue].visible);
  for (int k : {kBoxSend, kBoxSave, kBoxPrint, kBoxShow, kBoxRestart, kBoxClose}) EXPECT_FALSE(plain.buttons[k].visible);
  EXPECT_EQ(plain.buttons[kBoxContinue].rect.width, 75);
  EXPECT_EQ(plain.buttons[kBoxContinue].rect.x, (plain.width - 79 + 4) / 2 - 3);
  EXPECT_EQ(plain.footerY, 0);  // drawn along the top edge
  EXPECT_EQ(plain.height, 18 + 2 * 27 + 13);
  EXPECT_FALSE(plain.tab);

  in.form = kFormPlainDetails;
  in.expanded = true;  // only the full box expands
  BoxLayout details = LayoutExceptionBox(in);
  EXPECT_TRUE(details.buttons[kBoxShow].visible);
  EXPECT_EQ(details.buttons[kBoxShow].rect.x, details.buttons[kBoxContinue].rect.x + 79 + 2);
  EXPECT_EQ(details.buttons[kBoxShow].rect.y, details.buttons[kBoxContinue].rect.y);
  EXPECT_EQ(details.footerY, 18 + 2 * 27 + 13 - 8);
  EXPECT_EQ(details.height, 18 + 2 * 27 + 13 + 11);
  EXPECT_FALSE(details.tab);
  ExpectInside(details);
}

TEST(ExceptionBoxLayout, BigPictureMovesTheMessage) {
  BoxLayoutInput in = Input(kFormFull, kThisProgram);
  in.picture = true;
  BoxLayout l = LayoutExceptionBox(in);
  EXPECT_TRUE(l.picture);
  EXPECT_EQ(l.pictureRect, (PixelRect{9, 10, 32, 32}));
  EXPECT_EQ(l.message.x, 51);
  EXPECT_EQ(l.message.y, (26 - 13) / 2 + 12);
  EXPECT_EQ(l.buttons[kBoxSend].rect.y, 31 + 26);
  EXPECT_EQ(l.width, std::max(300 + 66, 5 * 99 + 14));
  in.ugly = true;
  EXPECT_EQ(LayoutExceptionBox(in).buttonHeight, 26);
}

// ---- decisions ----------------------------------------------------------------------------------------

TEST(ExceptionBoxText, SentenceBreaksOnlyWellInsideLongMessages) {
  EXPECT_EQ(AddSentenceBreaks("Short one. Another. Third x."), "Short one. Another. Third x.");  // 28
  std::string m29 = "Abcdefghijklmnopqrst. Uvwxyz.";
  ASSERT_EQ(m29.size(), 29u);
  EXPECT_EQ(AddSentenceBreaks(m29), m29);
  EXPECT_EQ(AddSentenceBreaks("abcdefghijklmnopqrs. uvwxyzabcdefghijklmnopq"),
            "abcdefghijklmnopqrs.\r\nuvwxyzabcdefghijklmnopq");
  EXPECT_EQ(AddSentenceBreaks("abcdefghijklmnopqr. tuvwxyzabcdefghijklmnop"),
            "abcdefghijklmnopqr. tuvwxyzabcdefghijklmnop");  // position 19
  EXPECT_EQ(AddSentenceBreaks("abcdefghijklmnopqrstuvwxyz012. 456789"), "abcdefghijklmnopqrstuvwxyz012. 456789");
  EXPECT_EQ(AddSentenceBreaks("abcdefghijklmnopqrstuvwxyz. 123456789"),
            "abcdefghijklmnopqrstuvwxyz.\r\n123456789");  // exactly 10 from the end (of 37)
  EXPECT_EQ(AddSentenceBreaks("Access violation at x. Read of 0. The end is here now"),
            "Access violation at x.\r\nRead of 0.\r\nThe end is here now");
}

TEST(ExceptionBoxText, MessageOfEachForm) {
  const std::string message = "Access violation at address 1. Read of address 0 happened here";
  const std::string broken = "Access violation at address 1.\r\nRead of address 0 happened here";
  EXPECT_EQ(BoxMessageText(kFormFull, false, "%exceptClass%: %exceptMsg%%bugReport%", "EAccessViolation", message, 0),
            "EAccessViolation: " + broken);  // the report placeholder disappears
  EXPECT_EQ(BoxMessageText(kFormFull, true, "frozen%LF%%bugReport%", "", message, 0), "frozen\r\n");
  EXPECT_EQ(BoxMessageText(kFormPlain, false, "%exceptMsg% (unused)", "E", message, 0), broken);
  EXPECT_EQ(BoxMessageText(kFormPlainDetails, true, "The program stopped answering.", "E", message, 0),
            "The program stopped answering.");
}

TEST(ExceptionBoxText, TitleAndCredit) {
  EXPECT_EQ(ProgramTitle("C:\\dir.x\\contacts.exe"), "contacts");
  EXPECT_EQ(ProgramTitle("noext"), "noext");
  EXPECT_EQ(ProgramTitle("C:\\a\\my.app.exe"), "my.app");
  std::string credit = CreditText(), link = CreditLink();
  EXPECT_FALSE(credit.empty());
  for (char c : credit) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << credit;
  EXPECT_EQ(link.rfind("https://", 0), 0u) << link;
  EXPECT_EQ(Scramble(Scramble(credit)), credit);
  EXPECT_EQ(Scramble(credit).find("Ravex"), std::string::npos);
  EXPECT_TRUE(InsideCredit(11, 5, 10, 0, 50));
  EXPECT_FALSE(InsideCredit(10, 5, 10, 0, 50));
  EXPECT_FALSE(InsideCredit(60, 5, 10, 0, 50));
  EXPECT_FALSE(InsideCredit(30, 10, 10, 0, 50));
}

BoxSettings ThisProgram(bool canContinue) {
  BoxSettings s;
  s.visible = kThisProgram;
  s.canContinue = canContinue;
  return s;
}

TEST(ExceptionBoxDecisions, ThisProgramsSettings) {
  BoxSettings s = PrepareBox(ThisProgram(true), kFormFull);
  EXPECT_EQ(DefaultButton(s, kFormFull), kBoxSend);
  EXPECT_EQ(CountdownButton(s, kFormFull), -1);
  EXPECT_EQ(CloseRequestAction(s, kFormFull), BoxAction::Continue);
  EXPECT_FALSE(ContinueDisabled(s, kFormFull));
  // Cannot continue: Escape does nothing, the continue button closes.
  BoxSettings c = PrepareBox(ThisProgram(false), kFormFull);
  EXPECT_EQ(CloseRequestAction(c, kFormFull), BoxAction::None);
  EXPECT_FALSE(ContinueDisabled(c, kFormFull));  // no restart or close button
  EXPECT_EQ(ClickAction(kBoxContinue, false), BoxAction::Close);
  EXPECT_EQ(ClickAction(kBoxContinue, true), BoxAction::Continue);
  EXPECT_EQ(ClickAction(kBoxShow, true), BoxAction::Details);
  EXPECT_EQ(ClickAction(kBoxBig, true), BoxAction::None);
}

TEST(ExceptionBoxDecisions, PreparationFollowsTheAutomaticAction) {
  BoxSettings s;
  s.visible = kAll;
  s.autoShowBugRep = true;
  s.autoContinue = true;
  EXPECT_FALSE(PrepareBox(s, kFormFull).visible[kBoxShow]);
  EXPECT_TRUE(PrepareBox(s, kFormPlainDetails).visible[kBoxShow]);
  EXPECT_EQ(PrepareBox(s, kFormFull).focusedBtn, uint32_t{kBoxContinue});
  s.autoRestartApplies = true;
  EXPECT_EQ(PrepareBox(s, kFormFull).focusedBtn, uint32_t{kBoxRestart});
  EXPECT_EQ(CountdownButton(s, kFormFull), kBoxRestart);
  s.autoCloseApplies = true;
  EXPECT_EQ(PrepareBox(s, kFormFull).focusedBtn, uint32_t{kBoxClose});
  EXPECT_EQ(CountdownButton(s, kFormFull), kBoxClose);
  EXPECT_EQ(CountdownButton(s, kFormPlain), -1);
  s.visible[kBoxClose] = false;  // a hidden button gets no countdown
  EXPECT_EQ(CountdownButton(s, kFormFull), kBoxRestart);
  s.autoRestartApplies = false;
  s.canContinue = false;  // continue only when the exception can be continued
  EXPECT_EQ(PrepareBox(s, kFormFull).focusedBtn, 0u);
  EXPECT_EQ(CountdownButton(s, kFormFull), -1);
}

TEST(ExceptionBoxDecisions, CantContinueAndEscape) {
  BoxSettings s;
  s.visible = kAll;
  s.canContinue = false;
  EXPECT_TRUE(ContinueDisabled(s, kFormFull));
  EXPECT_FALSE(ContinueDisabled(s, kFormPlain));
  EXPECT_EQ(CloseRequestAction(s, kFormFull), BoxAction::Close);
  s.visible[kBoxClose] = false;
  EXPECT_EQ(CloseRequestAction(s, kFormFull), BoxAction::Restart);
  s.focusedBtn = kBoxContinue;
  EXPECT_EQ(CloseRequestAction(s, kFormFull), BoxAction::Continue);
  s.focusedBtn = kBoxClose;
  EXPECT_EQ(CloseRequestAction(s, kFormFull), BoxAction::Close);
  // The plain box: OK continues when it can, else the program closes.
  BoxSettings p;
  EXPECT_EQ(CloseRequestAction(p, kFormPlain), BoxAction::Continue);
  p.canContinue = false;
  EXPECT_EQ(CloseRequestAction(p, kFormPlain), BoxAction::Close);
  EXPECT_EQ(CloseRequestAction(p, kFormPlainDetails), BoxAction::Close);
  EXPECT_EQ(DefaultButton(p, kFormPlain), kBoxContinue);
  EXPECT_TRUE(ReshowsExpanded(true, kFormFull));
  EXPECT_TRUE(ReshowsExpanded(true, kFormPlainDetails));
  EXPECT_FALSE(ReshowsExpanded(true, kFormPlain));
  EXPECT_FALSE(ReshowsExpanded(false, kFormFull));
}

TEST(ExceptionBoxCountdown, BarRunsAcrossAndExpiresAtTheEnd) {
  // 3 seconds over a 100-pixel button.
  EXPECT_EQ(CountdownPosition(0, 100, 3, false), 0);
  EXPECT_EQ(CountdownPosition(1500, 100, 3, false), 50);
  EXPECT_EQ(CountdownPosition(3000, 100, 3, false), 100);
  EXPECT_FALSE(CountdownExpired(100, 100, false));
  EXPECT_TRUE(CountdownExpired(CountdownPosition(3015, 100, 3, false), 100, false));
  EXPECT_EQ(CountdownPosition(0, 100, 3, true), 5);
  EXPECT_EQ(CountdownPosition(3000, 100, 3, true), 94);
  EXPECT_FALSE(CountdownExpired(94, 100, true));
  EXPECT_TRUE(CountdownExpired(CountdownPosition(3040, 100, 3, true), 100, true));
  // No delay: nothing moves.
  EXPECT_EQ(CountdownPosition(100000, 100, 0, false), -1);
  EXPECT_FALSE(CountdownExpired(-1, 100, false));
  // A long delay does not wrap around.
  EXPECT_EQ(CountdownPosition(4000000000u, 100, 100000, false), 4000);
}

TEST(ExceptionBoxColours, StepsShadesAndGradients) {
  EXPECT_EQ(ColourStep(Rgb(0xD4, 0xD0, 0xC8), 0x10), Rgb(0xE4, 0xE0, 0xD8));
  EXPECT_EQ(ColourStep(Rgb(0xF8, 0xF8, 0x10), 0x10), Rgb(0xE8, 0xE8, 0x00));  // two would overflow: darker
  EXPECT_EQ(ColourStep(Rgb(0xF8, 0x10, 0x10), 0x10), Rgb(0xFF, 0x20, 0x20));  // one: lighter, capped
  EXPECT_EQ(ColourStep(Rgb(0xF0, 0xF0, 0x10), 0x10), Rgb(0xFF, 0xFF, 0x20));  // exactly 256 is no overflow
  EXPECT_EQ(ColourStep(Rgb(0xFF, 0xFF, 0x04), 0x08), Rgb(0xF7, 0xF7, 0x00));
  EXPECT_EQ(BarShade(Rgb(0, 0, 0), Rgb(200, 100, 40), 0), Rgb(0, 0, 0));
  EXPECT_EQ(BarShade(Rgb(0, 0, 0), Rgb(200, 100, 40), 3), Rgb(150, 75, 30));
  EXPECT_EQ(GradientColour(Rgb(200, 0, 100), Rgb(0, 200, 100), 0, 10), Rgb(200, 0, 100));
  EXPECT_EQ(GradientColour(Rgb(200, 0, 100), Rgb(0, 200, 100), 5, 10), Rgb(100, 100, 100));
  EXPECT_EQ(GradientColour(Rgb(200, 0, 100), Rgb(0, 200, 100), 10, 10), Rgb(0, 200, 100));
  EXPECT_EQ(GradientColour(Rgb(200, 0, 100), Rgb(0, 200, 100), 3, 0), Rgb(200, 0, 100));
}

TEST(ExceptionBoxColours, FocusFramesFadeInEightSteps) {
  const uint32_t black = Rgb(0, 0, 0), white = Rgb(255, 255, 255), face = Rgb(0xC0, 0xC0, 0xC0),
                 shadow = Rgb(0x40, 0x40, 0x40);
  auto frames = FocusFrames(black, face, 0x10, white, shadow, 0, true);
  EXPECT_EQ(frames[0].text, Rgb(31, 31, 31));  // n = 7: 1/8 of the way
  EXPECT_EQ(frames[0].background, Rgb((7 * 0xD0 + 0x40) / 8, (7 * 0xD0 + 0x40) / 8, (7 * 0xD0 + 0x40) / 8));
  EXPECT_EQ(frames[7].text, white);
  EXPECT_EQ(frames[7].background, shadow);
  // Back again: the step goes to the target.
  auto back = FocusFrames(white, shadow, 0, black, face, 0x10, true);
  EXPECT_EQ(back[7].background, Rgb(0xD0, 0xD0, 0xD0));
  EXPECT_EQ(FocusFrames(white, shadow, 0, black, face, 0x10, false)[7].background, face);
}

TEST(ExceptionBoxPictures, BlendingClipsAndRejectsWrongSizes) {
  std::vector<uint8_t> res(40 + 16 * 16 * 4, 0);
  int32_t h = 16;
  std::memcpy(res.data() + 8, &h, 4);
  // Bottom-up rows: the last stored row is the top one. Top-left pixel opaque red, bottom-left half blue.
  uint8_t* top = res.data() + 40 + 15 * 16 * 4;
  top[0] = 0, top[1] = 0, top[2] = 255, top[3] = 255;
  uint8_t* bottom = res.data() + 40;
  bottom[0] = 255, bottom[3] = 127;
  std::vector<uint8_t> bits(20 * 20 * 4, 100);
  PixelSurface s{bits.data(), 20, 20};
  ASSERT_TRUE(BlendPictureOnto(res.data(), res.size(), s, 2, 3));
  const uint8_t* p = &bits[(3 * 20 + 2) * 4];
  EXPECT_EQ(p[2], 255);  // alpha 255: the picture
  EXPECT_EQ(p[0], 0);
  const uint8_t* q = &bits[(18 * 20 + 2) * 4];
  EXPECT_EQ(q[0], (100 * 128 + 255 * 128) >> 8);
  EXPECT_EQ(q[2], (100 * 128) >> 8);
  EXPECT_EQ(bits[(3 * 20 + 3) * 4], (100 * 255) >> 8);  // alpha 0 still weighs 1/256
  EXPECT_EQ(bits[0], 100);                               // outside untouched
  // Partly outside the surface: clipped, not written past it.
  PixelSurface small{bits.data(), 4, 4};
  EXPECT_TRUE(BlendPictureOnto(res.data(), res.size(), small, -8, 2));
  EXPECT_FALSE(BlendPictureOnto(res.data(), res.size() - 1, s, 0, 0));
  EXPECT_FALSE(BlendPictureOnto(nullptr, res.size(), s, 0, 0));
  EXPECT_EQ(PictureSide(1064), 16);
  EXPECT_EQ(PictureSide(4136), 32);
  EXPECT_EQ(PictureSide(4135), 0);
}

}  // namespace
}  // namespace rvx
