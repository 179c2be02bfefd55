// Layout rules and painting colours of assistant pages, over fixed text measurements.
#include <gtest/gtest.h>

#include "assistant_fixtures.h"
#include "crash/ui/assistant_build.h"
#include "crash/ui/assistant_layout.h"
#include "crash/ui/assistant_paint.h"

using namespace rvx;
using rvxtest::FixedMeasure;
using rvxtest::FormStream;

namespace {

std::vector<int> Gaps(TNVForm& form, int width) {
  FixedMeasure m;
  std::vector<int> gaps;
  for (int i = kFirstContentIndex; i < form.ItemCount(); ++i) gaps.push_back(GapAfter(form, i, width, m));
  return gaps;
}

TEST(AssistantLayout, GapRules) {
  Ref<TNVForm> form = ReadForm(FormStream()
                                   .Child("INVLabel", "H1").Text("Caption", "Name:")
                                   .Child("INVEdit", "E1")
                                   .Child("INVLabel", "H2").Text("Caption", "Why?")
                                   .Child("INVEdit", "E2")
                                   .Child("INVEdit", "E3")
                                   .Child("INVCheckBox", "C1")
                                   .Child("INVCheckBox", "C2")
                                   .Child("INVButton", "B1")
                                   .Child("INVButton", "B2").Int("Spacing", 17)
                                   .Child("INVLabel", "Plain").Text("Caption", "no colon")
                                   .Child("INVLabel", "Long").Text("Caption", std::string(30, 'w') + " " + std::string(30, 'w') + ":")
                                   .Child("INVImage", "I")
                                   .Child("INVImage", "Last")
                                   .End());
  // H1 head 4; E1 then head label H2, previous H1 head, E2 same kind as E1: 8; H2 head 4; E2 -> E3 6; E3 -> C1
  // 12; C1 -> C2 8; C2 -> B1 12; B1 -> B2 4 (same kind); B2 own spacing 17; Plain -> Long 8 (labels); Long is
  // not a head label (two lines): 12; I -> Last 8; last item 0.
  EXPECT_EQ(Gaps(*form, 315), (std::vector<int>{4, 8, 4, 6, 12, 8, 12, 4, 17, 8, 12, 8, 0}));
  Ref<TNVForm> noHead = ReadForm(FormStream()
                                     .Child("INVLabel", "P").Text("Caption", "Plain")
                                     .Child("INVEdit", "E1")
                                     .Child("INVLabel", "H").Text("Caption", "Head:")
                                     .Child("INVEdit", "E2")
                                     .End());
  EXPECT_EQ(Gaps(*noHead, 315), (std::vector<int>{12, 12, 4, 0})) << "the previous item must be a head label too";
}

TEST(AssistantLayout, WidthsAndTheButtonRow) {
  FixedMeasure m;
  Ref<TNVForm> form = ReadForm(FormStream().Text("Message", std::string(40, 'm'))
                                   .Child("INVButton", "ContinueBtn").Text("Caption", std::string(20, 'c'))
                                   .End());
  form->SetStep(2, 4);
  // Continue 20 * 8 + 20 = 180, Skip and Cancel 85 each: 382; the message 360 + 4 * 19 + 36 = 472
  EXPECT_EQ(StandardButtonSize(*form->StandardButton(kContinueIndex), m).cx, 180);
  EXPECT_EQ(StandardButtonSize(*form->StandardButton(kSkipIndex), m).cx, 85);
  EXPECT_EQ(ClientWidth(*form, m), 472);

  Ref<TNVForm> plain = ReadForm(FormStream().Int("MinWidth", 500)
                                    .Child("INVButton", "ContinueBtn").Bool("NoOwnerDraw", true)
                                    .Child("INVButton", "SkipBtn").Bool("Visible", false)
                                    .Child("INVButton", "CancelBtn").Bool("NoOwnerDraw", true).Text("Caption", "Stop")
                                    .End());
  NVTextSize skip = StandardButtonSize(*plain->StandardButton(kSkipIndex), m);
  EXPECT_EQ(skip.cx, -8);
  EXPECT_EQ(StandardButtonSize(*plain->StandardButton(kContinueIndex), m).cy, 23);
  EXPECT_EQ(StandardButtonSize(*plain->StandardButton(kCancelIndex), m).cx, 75);
  NVFormLayout l = LayoutForm(*plain, m, NVMetrics{});
  EXPECT_EQ(l.width, 500);
  EXPECT_EQ(l.height, 23 + 40 + 33);
  // plain Continue and Cancel without Skip sit at the right
  EXPECT_EQ(l.buttons[kCancelIndex], (NVRect{500 - 75 - 8, 96 - 23 - 9, 500 - 8, 96 - 9}));
  EXPECT_EQ(l.buttons[kContinueIndex].left, 500 - 75 - 8 - 8 - 75);
  EXPECT_EQ(l.buttons[kSkipIndex].left, 8);

  Ref<TNVForm> painted = ReadForm(FormStream().End());
  NVFormLayout p = LayoutForm(*painted, m, NVMetrics{});
  EXPECT_EQ(p.width, 315);
  EXPECT_EQ(p.buttons[kContinueIndex].left, 8);
  EXPECT_EQ(p.buttons[kSkipIndex].left, 8 + 85 + 8);
  EXPECT_EQ(p.buttons[kCancelIndex].left, 315 - 85 - 8);
}

TEST(AssistantLayout, ItemSizes) {
  FixedMeasure m;
  NVMetrics metrics;
  metrics.checkWidth = 15;
  metrics.checkHeight = 20;
  metrics.screenHeight = 300;
  Ref<TNVForm> form = ReadForm(FormStream()
                                   .Child("INVButton", "B").Text("Caption", "ab").Int("Spacing", 1)
                                   .Child("INVButton", "Wide").Int("MinWidth", 150).Int("Spacing", 1)
                                   .Child("INVCheckBox", "C").Text("Caption", "abcd").Int("Spacing", 1)
                                   .Child("INVImage", "Empty").Int("Spacing", 1)
                                   .Child("INVImage", "Big").Int("Width", 1000).Int("Height", 1000).Bool("Clickable", true)
                                   .Int("Spacing", 1)
                                   .Child("INVImage", "Pic").Bool("Border", true)
                                   .End());
  INVBitmap picture = TINVBitmap::Create(530, 100);
  static_cast<TNVImage*>(form->FindItem("Pic"))->StorePicture(picture);
  LayoutForm(*form, m, metrics);
  auto size = [&](const char* name) {
    NVRect r = form->FindItem(name)->rect;
    return std::pair<int, int>(r.Width(), r.Height());
  };
  EXPECT_EQ(size("B"), std::make_pair(70, 23)) << "at least 70 wide, text height + 10";
  EXPECT_EQ(size("Wide"), std::make_pair(150, 23));
  EXPECT_EQ(size("C"), std::make_pair(24 + 15 + 8, 20));
  EXPECT_EQ(size("Empty"), std::make_pair(32, 32));
  // limited to W - f - 42 = 315 - 6 - 42 and a third of the screen, then the frame allowance
  EXPECT_EQ(size("Big"), std::make_pair(267 + 6, 100 + 6));
  // 530 x 100 fitted into 271 x 100 (W - 2 - 42) keeps its proportions: 271 x 51
  EXPECT_EQ(size("Pic"), std::make_pair(271 + 2, 51 + 2));
  INVBitmap shown = static_cast<TNVImage*>(form->FindItem("Pic"))->Picture();
  EXPECT_EQ(shown->Width(), 271);
  EXPECT_EQ(shown->Height(), 51);

  // a picture set on a laid-out image is zoomed into its area only when it does not fit
  auto* image = static_cast<TNVImage*>(form->FindItem("Pic"));
  image->SetPicture(TINVBitmap::Create(100, 20));
  EXPECT_EQ(image->Picture()->Width(), 100);
  image->SetPicture(TINVBitmap::Create(1000, 100));
  EXPECT_EQ(image->Picture()->Width(), 271);
  EXPECT_EQ(image->Picture()->Height(), 27);
}

TEST(AssistantLayout, AbsurdSizesStayBounded) {
  FixedMeasure m;
  Ref<TNVForm> form = ReadForm(FormStream().Int("MinWidth", 2147483647)
                                   .Child("INVButton", "B").Int("MinWidth", 2147483647).Int("Spacing", 2147483647)
                                   .Child("INVEdit", "E").Int("Lines", 2147483647).Int("Spacing", -2147483647 - 1)
                                   .Child("INVImage", "I").Int("Width", -5).Int("Height", -7)
                                   .End());
  NVFormLayout l = LayoutForm(*form, m, NVMetrics{});  // the sanitizer would see an overflow
  EXPECT_GT(l.width, 315);
  EXPECT_LE(l.width, 100000);
  EXPECT_GT(form->FindItem("E")->rect.Height(), 13 * 1000);
  // a size that is not positive counts as not given
  EXPECT_EQ(form->FindItem("I")->rect.Width(), 32);
  EXPECT_EQ(form->FindItem("I")->rect.Height(), 32);
}

TEST(AssistantPaint, ColourStep) {
  EXPECT_EQ(ColourStep(Rgb(10, 20, 30), 8), Rgb(18, 28, 38));
  EXPECT_EQ(ColourStep(Rgb(250, 20, 30), 8), Rgb(255, 28, 38)) << "one channel passing saturates";
  EXPECT_EQ(ColourStep(Rgb(250, 250, 30), 8), Rgb(242, 242, 22)) << "two passing: darkened instead";
  EXPECT_EQ(ColourStep(Rgb(250, 250, 3), 8), Rgb(242, 242, 0)) << "a channel below the step stays 0";
  EXPECT_EQ(ColourStep(Rgb(100, 100, 100), 0x10, true), Rgb(84, 84, 84));
  EXPECT_EQ(ColourStep(Rgb(5, 5, 100), 0x10, true), Rgb(21, 21, 116)) << "two below 0: lightened instead";
  EXPECT_EQ(ColourStep(Rgb(5, 200, 100), 0x10, true), Rgb(0, 184, 84));
  // the usual button face
  EXPECT_EQ(ColourStep(Rgb(0xF0, 0xF0, 0xF0), 0x08), Rgb(0xF8, 0xF8, 0xF8));
  EXPECT_EQ(ColourStep(Rgb(0xF0, 0xF0, 0xF0), 0x10), Rgb(0xE0, 0xE0, 0xE0));
  EXPECT_EQ(LightTint(Rgb(0xF0, 0xF0, 0xF0)), Rgb(0xF8, 0xF8, 0xF8));
}

TEST(AssistantPaint, StepIndicatorAndButtonRows) {
  EXPECT_EQ(StepBox(315, 1, 3).left, 315 - 2 * 19 - 29);
  EXPECT_EQ(StepBox(315, 3, 3).right, 315 - 29 + 20);
  EXPECT_EQ(StepNumberX(315, 3, 1), 315 - 57 - 3);
  EXPECT_EQ(StepNumberX(315, 3, 3), 315 - 57 - 3 + 38);
  EXPECT_EQ(StepBoxRowColour(0xFFFFFF, 7), 0xFFFFFFu);
  EXPECT_EQ(StepBoxRowColour(0xFFFFFF, 19), 0xE7E7E7u);
  EXPECT_EQ(StepBoxRowColour(0x000010, 8), 0xFDFE0Eu) << "borrows run through the whole value";

  NVRect r{0, 0, 90, 32};
  std::vector<NVRow> normal = ButtonRows(kContinueIndex, NVButtonState::Normal, r);
  ASSERT_EQ(normal.size(), 26u);  // y 3 .. 28
  EXPECT_EQ(normal[0].y, 3);
  EXPECT_EQ(normal[0].left, 3);
  EXPECT_EQ(normal[0].right, 87);
  EXPECT_EQ(normal[0].colour, Rgb(255, 255, 255));
  EXPECT_EQ(normal[1].colour, Rgb(253, 254, 253));
  EXPECT_EQ(normal[2].colour, Rgb(253, 254, 253));
  EXPECT_EQ(normal[3].colour, Rgb(251, 253, 251));
  std::vector<NVRow> focused = ButtonRows(kCancelIndex, NVButtonState::Focused, r);
  ASSERT_EQ(focused.size(), 28u);  // y 29 up to 2
  EXPECT_EQ(focused[0].y, 29);
  EXPECT_EQ(focused[0].colour, Rgb(0, 0, 0));
  EXPECT_EQ(focused[1].colour, Rgb(3, 0, 0)) << "Cancel grows in red";
  EXPECT_EQ(ButtonRows(kContinueIndex, NVButtonState::Focused, r)[2].colour, Rgb(0, 6, 0));
  EXPECT_EQ(ButtonRows(kSkipIndex, NVButtonState::Focused, r)[2].colour, Rgb(0, 0, 6));
  EXPECT_TRUE(ButtonRows(kSkipIndex, NVButtonState::Disabled, r).empty());

  Ref<TNVForm> form = ReadForm(FormStream().Child("INVEdit", "E").End());
  TNVEdit& e = static_cast<TNVEdit&>(*form->FindItem("E"));
  EXPECT_EQ(EditTextColour(e), Rgb(0, 0x80, 0));
  e.SetValid(false);
  EXPECT_EQ(EditTextColour(e), Rgb(0x80, 0, 0));
  e.SetColored(false);
  EXPECT_EQ(EditTextColour(e), Rgb(0, 0, 0));
}

}  // namespace
