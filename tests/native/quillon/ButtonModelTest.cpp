#include "ButtonModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quillon {
namespace {

// Text is 100 twips a character and 195 twips high, a round stand-in for a
// real font so that expected positions can be worked out by hand.
class FakePlatform : public ButtonPlatform {
 public:
  Extent MeasureCaption(const std::u16string& text) override {
    return {100.0f * static_cast<float>(text.size()), textHeight};
  }
  bool CursorIsOverButton() override { return cursorOver; }
  void SetTimerRunning(bool running) override { events.push_back(running ? "timer on" : "timer off"); }
  void Redraw() override { ++redraws; }
  void RaiseClick() override { events.push_back("Click"); }
  void RaiseMouseMove(int16_t button, int16_t shift, float x, float y) override {
    events.push_back("MouseMove " + std::to_string(button) + " " + std::to_string(shift) + " " +
                     std::to_string(static_cast<int>(x)) + " " + std::to_string(static_cast<int>(y)));
  }
  void RaiseMouseOver() override { events.push_back("MouseOver"); }
  void RaiseMouseOut() override { events.push_back("MouseOut"); }

  float textHeight = 195;
  bool cursorOver = false;
  int redraws = 0;
  std::vector<std::string> events;
};

// A button as the control's start-up leaves it, sized like a main-window button.
class ButtonModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model.WriteCaption(u"Quillon");
    model.WriteBackColour(0x80000005);
    model.WriteForm(4);
    model.WritePictureAlign(0);
    model.WriteTextAlign(0);
    model.WritePictureStretch(kTrue);
    model.CaptionFontChanged();
    model.WriteEnabled(kTrue);
    model.Resize(2535, 615);
    platform.events.clear();
  }
  void GiveIcon() { model.WritePicture(true, 480, 480); }

  FakePlatform platform;
  ButtonModel model{platform};
};

TEST_F(ButtonModelTest, LayoutExampleWithIconAtNaturalSize) {
  model.WritePictureStretch(kFalse);
  GiveIcon();
  const auto& pic = model.imgPicture().rect;
  const auto& cap = model.lblCaption().rect;
  EXPECT_FLOAT_EQ(pic.left, 75);
  EXPECT_FLOAT_EQ(pic.top, 67.5f);  // the half stays
  EXPECT_FLOAT_EQ(pic.width, 480);
  EXPECT_FLOAT_EQ(pic.height, 480);
  EXPECT_FLOAT_EQ(cap.left, 630);
  EXPECT_FLOAT_EQ(cap.width, 1830);
  EXPECT_FLOAT_EQ(cap.top, 210);
  EXPECT_FLOAT_EQ(model.shpGround().rect.width, 2535);
  EXPECT_FLOAT_EQ(model.shpGround().rect.height, 615);
}

TEST_F(ButtonModelTest, StretchMakesASquareOneHundredTwipsShorterThanTheButton) {
  GiveIcon();
  const auto& pic = model.imgPicture().rect;
  EXPECT_FLOAT_EQ(pic.width, 515);
  EXPECT_FLOAT_EQ(pic.height, 515);
  EXPECT_FLOAT_EQ(pic.top, 50);
  EXPECT_FLOAT_EQ(pic.left, 75);
  EXPECT_FLOAT_EQ(model.lblCaption().rect.left, 665);
  EXPECT_FLOAT_EQ(model.lblCaption().rect.width, 2535 - 225 - 515);

  // Back to the natural size when stretch is switched off.
  model.WritePictureStretch(kFalse);
  EXPECT_FLOAT_EQ(pic.width, 480);
  EXPECT_FLOAT_EQ(pic.top, 67.5f);
}

TEST_F(ButtonModelTest, WithoutPictureCaptionSpansTheButtonWhateverThePictureAlignment) {
  for (int32_t align : {0, 1, 2, 7}) {
    model.WritePictureAlign(align);
    EXPECT_FLOAT_EQ(model.lblCaption().rect.left, 75) << align;
    EXPECT_FLOAT_EQ(model.lblCaption().rect.width, 2535 - 150) << align;
  }
}

TEST_F(ButtonModelTest, PictureAlignmentPlacesPictureAndCaption) {
  model.WritePictureStretch(kFalse);
  GiveIcon();
  const auto& pic = model.imgPicture().rect;
  const auto& cap = model.lblCaption().rect;

  model.WritePictureAlign(1);  // both centred, on top of each other
  EXPECT_FLOAT_EQ(pic.left, (2535 - 480) / 2.0f);
  EXPECT_FLOAT_EQ(cap.left, (2535 - 1830) / 2.0f);

  model.WritePictureAlign(2);
  EXPECT_FLOAT_EQ(pic.left, 2535 - 480 - 75);
  EXPECT_FLOAT_EQ(cap.left, 75);

  model.WritePictureAlign(5);  // unknown: nothing moves
  EXPECT_FLOAT_EQ(pic.left, 2535 - 480 - 75);
  EXPECT_FLOAT_EQ(cap.left, 75);
}

TEST_F(ButtonModelTest, TextAlignmentMapsTheThreeCodesAndKeepsTheOldOneOtherwise) {
  model.WriteTextAlign(1);
  EXPECT_EQ(model.lblCaption().alignment, kAlignCentre);
  model.WriteTextAlign(2);
  EXPECT_EQ(model.lblCaption().alignment, kAlignRight);
  model.WriteTextAlign(-3);
  EXPECT_EQ(model.lblCaption().alignment, kAlignRight);
  EXPECT_EQ(model.State().textAlign, -3);
  model.WriteTextAlign(0);
  EXPECT_EQ(model.lblCaption().alignment, kAlignLeft);
}

TEST_F(ButtonModelTest, TooNarrowForCaptionBesidePictureSkipsOnlyTheWidth) {
  // The square info button: 615 - 225 - 480 is negative.
  model.WriteCaption(u"");
  model.WritePictureStretch(kFalse);
  model.Resize(615, 615);
  const float widthBefore = model.lblCaption().rect.width;
  GiveIcon();
  EXPECT_FLOAT_EQ(model.lblCaption().rect.width, widthBefore);
  EXPECT_FLOAT_EQ(model.lblCaption().rect.left, 630);
  EXPECT_FLOAT_EQ(model.imgPicture().rect.left, 75);
  EXPECT_FLOAT_EQ(model.imgPicture().rect.top, 67.5f);
}

TEST_F(ButtonModelTest, LayoutFailureReachesPropertyWritesButNotResizeOrPictureAlign) {
  GiveIcon();  // stretch on: the picture wants H - 100
  EXPECT_NO_THROW(model.Resize(600, 60));
  EXPECT_FLOAT_EQ(model.shpGround().rect.height, 60);  // done before the failure

  EXPECT_NO_THROW(model.WritePictureAlign(2));
  EXPECT_EQ(model.State().pictureAlign, 2);
  try {
    model.WriteTextAlign(1);
    FAIL() << "no error";
  } catch (const ControlError& e) {
    EXPECT_EQ(e.number, kErrInvalidPropertyValue);
  }
  EXPECT_EQ(model.State().textAlign, 1);  // stored before the layout failed
}

TEST_F(ButtonModelTest, CaptionWriteSizesTheLabelAndKeepsItsPlace) {
  model.WriteTextAlign(1);
  const auto before = model.lblCaption().rect;
  model.WriteCaption(u"Bild");
  const auto& cap = model.lblCaption().rect;
  EXPECT_FLOAT_EQ(cap.left, before.left);
  EXPECT_FLOAT_EQ(cap.top, before.top);
  EXPECT_FLOAT_EQ(cap.width, 400);
  EXPECT_EQ(model.lblCaption().text, u"Bild");

  // The next layout places it again.
  model.Resize(2535, 615);
  EXPECT_FLOAT_EQ(cap.width, 2535 - 150);
}

TEST_F(ButtonModelTest, FontChangeRefitsTheLabelAndLayoutCentresIt) {
  platform.textHeight = 300;
  model.CaptionFontChanged();
  EXPECT_FLOAT_EQ(model.lblCaption().rect.height, 300);
  EXPECT_FLOAT_EQ(model.lblCaption().rect.width, 700);
  model.LayoutButton();
  EXPECT_FLOAT_EQ(model.lblCaption().rect.top, (615 - 300) / 2.0f);
}

TEST_F(ButtonModelTest, OutlineCodesOutsideTheShapeRangeAreStoredButRefusedByTheShape) {
  auto numberOf = [&](int32_t value) {
    try {
      model.WriteForm(value);
    } catch (const ControlError& e) {
      return e.number;
    }
    return 0;
  };
  EXPECT_EQ(numberOf(70000), kErrOverflow);
  EXPECT_EQ(numberOf(-40000), kErrOverflow);
  EXPECT_EQ(numberOf(6), kErrInvalidPropertyValue);
  EXPECT_EQ(numberOf(-1), kErrInvalidPropertyValue);
  EXPECT_EQ(model.State().form, -1);
  EXPECT_EQ(model.shpGround().kind, 4);
  EXPECT_EQ(numberOf(70000), kErrOverflow);
  EXPECT_EQ(model.State().form, 70000);
  for (int32_t code = 0; code <= 5; ++code) {
    EXPECT_EQ(numberOf(code), 0);
    EXPECT_EQ(model.shpGround().kind, code);
  }
}

TEST_F(ButtonModelTest, ClickRoutineAndEnterOnlyWhileEnabled) {
  model.ClickRoutine();
  model.KeyPress(13);
  model.KeyPress(32);
  model.KeyPress(10);
  EXPECT_EQ(platform.events, (std::vector<std::string>{"Click", "Click"}));

  platform.events.clear();
  model.WriteEnabled(kFalse);
  model.ClickRoutine();
  model.KeyPress(13);
  EXPECT_TRUE(platform.events.empty());
}

TEST_F(ButtonModelTest, AnyNonZeroEnabledValueIsStoredAsTrueAndClicks) {
  model.WriteEnabled(1);
  EXPECT_EQ(model.State().enabled, kTrue);
  model.ClickRoutine();
  EXPECT_EQ(platform.events, std::vector<std::string>{"Click"});
}

struct Look {
  Colour fill;
  bool outlineVisible;
  int outlineWidth;
  Colour outlineColour;
  Colour text;
};

Look LookOf(const ButtonModel& m) {
  return {m.shpGround().fill, m.shpGround().outlineVisible, m.shpGround().outlineWidth, m.shpGround().outlineColour,
          m.lblCaption().textColour};
}

void ExpectLook(const ButtonModel& m, Look want, const char* what) {
  const Look got = LookOf(m);
  EXPECT_EQ(got.fill, want.fill) << what;
  EXPECT_EQ(got.outlineVisible, want.outlineVisible) << what;
  EXPECT_EQ(got.outlineWidth, want.outlineWidth) << what;
  EXPECT_EQ(got.outlineColour, want.outlineColour) << what;
  EXPECT_EQ(got.text, want.text) << what;
}

TEST_F(ButtonModelTest, LooksOfTheStatesOfAnEnabledButton) {
  const Colour back = 0x80000018, ink = 0x123456;
  model.WriteBackColour(back);
  model.WriteFontColour(ink);
  ExpectLook(model, {back, true, 1, kRestingOutline, ink}, "resting");

  platform.cursorOver = true;
  model.MouseMove(0, 0, 10, 10);
  ExpectLook(model, {back, true, 2, kHoverOutline, ink}, "hovered");

  model.FocusGained();
  ExpectLook(model, {kFocusFill, true, 2, kHoverOutline, ink}, "focused and hovered");

  platform.cursorOver = false;
  model.TimerTick();
  ExpectLook(model, {kFocusFill, true, 2, kFocusOutline, ink}, "focused");

  model.FocusLost();
  ExpectLook(model, {back, true, 1, kRestingOutline, ink}, "resting again");

  model.WriteEnabled(kFalse);
  ExpectLook(model, {kDisabledFill, false, 1, kRestingOutline, kDisabledText}, "disabled");
}

TEST_F(ButtonModelTest, FocusWhileDisabledOnlySetsTheFlag) {
  model.WriteEnabled(kFalse);
  model.FocusGained();
  EXPECT_TRUE(model.State().bolHasFocus);
  ExpectLook(model, {kDisabledFill, false, 1, kRestingOutline, kDisabledText}, "disabled, focused");
  model.FocusLost();
  EXPECT_FALSE(model.State().bolHasFocus);
}

TEST_F(ButtonModelTest, ColourWritesWhileDisabledPaintAtOnceUntilEnabledIsWrittenAgain) {
  model.WriteEnabled(kFalse);
  model.WriteBackColour(0x00FF00);
  model.WriteFontColour(0x0000FF);
  EXPECT_EQ(model.shpGround().fill, 0x00FF00u);
  EXPECT_EQ(model.lblCaption().textColour, 0x0000FFu);
  model.WriteEnabled(kFalse);
  EXPECT_EQ(model.shpGround().fill, kDisabledFill);
  EXPECT_EQ(model.lblCaption().textColour, kDisabledText);
}

TEST_F(ButtonModelTest, EnablingWhileFocusedReturnsTheFillToTheBackColour) {
  model.FocusGained();
  model.WriteEnabled(kTrue);
  EXPECT_EQ(model.shpGround().fill, 0x80000005u);
  EXPECT_TRUE(model.State().bolHasFocus);
  EXPECT_EQ(model.shpGround().outlineColour, kFocusOutline);
}

TEST_F(ButtonModelTest, FocusLostWhileHoveredTurnsTheOutlineBlackWithoutMouseOut) {
  model.FocusGained();
  platform.cursorOver = true;
  model.MouseMove(0, 0, 1, 1);
  model.FocusLost();
  EXPECT_EQ(model.shpGround().outlineColour, kRestingOutline);
  EXPECT_EQ(model.shpGround().outlineWidth, 1);
  model.TimerTick();  // still over it
  EXPECT_TRUE(model.State().bolMouseIsOver);
  EXPECT_EQ(std::count(platform.events.begin(), platform.events.end(), "MouseOut"), 0);
}

TEST_F(ButtonModelTest, HoverRaisesEventsAndRunsTheTimerOnlyWhileOver) {
  platform.cursorOver = true;
  model.MouseMove(1, 2, 300, 45);
  model.MouseMove(0, 0, 310, 45);  // already over: no second MouseOver
  model.TimerTick();
  EXPECT_TRUE(model.TimerRunning());
  platform.cursorOver = false;
  model.TimerTick();
  EXPECT_FALSE(model.TimerRunning());
  EXPECT_FALSE(model.State().bolMouseIsOver);
  EXPECT_EQ(platform.events, (std::vector<std::string>{"MouseMove 1 2 300 45", "MouseOver", "timer on",
                                                       "MouseMove 0 0 310 45", "timer off", "MouseOut"}));
}

TEST_F(ButtonModelTest, MouseMoveWithoutThePointerOverTheButtonDoesNotHover) {
  // The host may pass on a move that the pointer has already left behind
  // (another window lies in front): only the move is raised.
  model.MouseMove(0, 0, 5, 5);
  EXPECT_EQ(platform.events, std::vector<std::string>{"MouseMove 0 0 5 5"});
  EXPECT_EQ(model.shpGround().outlineWidth, 1);
}

TEST_F(ButtonModelTest, DisabledButtonStillHoversWithItsOutlineUnseen) {
  model.WriteEnabled(kFalse);
  platform.cursorOver = true;
  model.MouseMove(0, 0, 1, 1);
  EXPECT_EQ(model.shpGround().outlineColour, kHoverOutline);
  EXPECT_EQ(model.shpGround().outlineWidth, 2);
  EXPECT_FALSE(model.shpGround().outlineVisible);
  platform.cursorOver = false;
  model.TimerTick();
  EXPECT_EQ(platform.events,
            (std::vector<std::string>{"MouseMove 0 0 1 1", "MouseOver", "timer on", "timer off", "MouseOut"}));
}

TEST(ButtonModelCreation, TimerRunsFromTheStartAndItsFirstTickRaisesMouseOutAlone) {
  FakePlatform platform;
  ButtonModel model(platform);
  EXPECT_TRUE(model.TimerRunning());
  model.TimerTick();
  EXPECT_FALSE(model.TimerRunning());
  EXPECT_EQ(platform.events, (std::vector<std::string>{"timer off", "MouseOut"}));
  EXPECT_FLOAT_EQ(model.Width(), kNewWidth);
  EXPECT_FLOAT_EQ(model.Height(), kNewHeight);
  EXPECT_FLOAT_EQ(model.imgPicture().rect.left, 120);
  EXPECT_FLOAT_EQ(model.imgPicture().rect.width, 495);
}

// ---------------------------------------------------------------- high contrast and the space bar

void ExpectAppearance(const ButtonModel& m, Appearance want, const char* what) {
  const Appearance got = m.Look();
  EXPECT_EQ(got.fill, want.fill) << what;
  EXPECT_EQ(got.outlineVisible, want.outlineVisible) << what;
  EXPECT_EQ(got.outlineWidth, want.outlineWidth) << what;
  EXPECT_EQ(got.outlineColour, want.outlineColour) << what;
  EXPECT_EQ(got.textColour, want.textColour) << what;
  EXPECT_EQ(got.focusRectangle, want.focusRectangle) << what;
}

// Every state of a button, walked once with the system's high contrast on
// and once with it off: with it on only system colours show, the focus and
// the hover are marked with the highlight colour and the focus rectangle.
TEST_F(ButtonModelTest, HighContrastLooksOfEveryStateAndTheOwnLooksWithItOff) {
  const Colour back = 0x80000018, ink = 0x123456;
  model.WriteBackColour(back);
  model.WriteFontColour(ink);
  struct Step {
    const char* what;
    Appearance own, contrast;
    bool hover;
  };
  const Step steps[] = {
      {"resting",
       {back, true, 1, kRestingOutline, ink, false},
       {kButtonFace, true, 1, kButtonText, kButtonText, false},
       false},
      {"hovered",
       {back, true, 2, kHoverOutline, ink, false},
       {kButtonFace, true, 2, kHighlight, kButtonText, false},
       true},
      {"focused and hovered",
       {kFocusFill, true, 2, kHoverOutline, ink, false},
       {kButtonFace, true, 2, kHighlight, kButtonText, true},
       true},
      {"focused",
       {kFocusFill, true, 2, kFocusOutline, ink, false},
       {kButtonFace, true, 2, kHighlight, kButtonText, true},
       false},
      {"disabled and focused",
       {kDisabledFill, false, 2, kFocusOutline, kDisabledText, true},
       {kButtonFace, true, 1, kGrayText, kGrayText, true},
       false},
      {"disabled and hovered",
       {kDisabledFill, false, 2, kHoverOutline, kDisabledText, false},
       {kButtonFace, true, 1, kGrayText, kGrayText, false},
       false},
      {"resting again",
       {back, true, 1, kRestingOutline, ink, false},
       {kButtonFace, true, 1, kButtonText, kButtonText, false},
       false},
  };
  for (bool contrast : {true, false}) {
    SCOPED_TRACE(contrast ? "high contrast" : "own look");
    model.SetHighContrast(contrast);
    EXPECT_EQ(model.HighContrast(), contrast);
    platform.cursorOver = false;
    model.WriteEnabled(kTrue);
    model.TimerTick();
    model.FocusLost();
    int step = 0;
    auto check = [&] {
      const Step& s = steps[step++];
      ExpectAppearance(model, contrast ? s.contrast : s.own, s.what);
      EXPECT_EQ(model.HoverLookShown(), s.hover) << s.what;
    };
    check();
    platform.cursorOver = true;
    model.MouseMove(0, 0, 10, 10);
    check();
    model.FocusGained();
    check();
    platform.cursorOver = false;
    model.TimerTick();
    check();
    model.WriteEnabled(kFalse);
    check();
    model.FocusLost();
    platform.cursorOver = true;
    model.MouseMove(0, 0, 10, 10);
    check();
    platform.cursorOver = false;
    model.TimerTick();
    model.WriteEnabled(kTrue);
    check();
  }
}

TEST_F(ButtonModelTest, SwitchingHighContrastOffShowsTheOwnLookOfWhatHappenedMeanwhile) {
  model.WriteBackColour(0x00FF00);
  const int before = platform.redraws;
  model.SetHighContrast(true);
  EXPECT_GT(platform.redraws, before);  // the switch repaints at once
  model.FocusGained();
  model.WriteFontColour(0x0000FF);
  ExpectAppearance(model, {kButtonFace, true, 2, kHighlight, kButtonText, true}, "contrast, focused");
  // The parts kept their own colours all along.
  EXPECT_EQ(model.shpGround().fill, kFocusFill);
  EXPECT_EQ(model.lblCaption().textColour, 0x0000FFu);

  const int whileOn = platform.redraws;
  model.SetHighContrast(false);
  EXPECT_GT(platform.redraws, whileOn);
  ExpectAppearance(model, {kFocusFill, true, 2, kFocusOutline, 0x0000FF, false}, "own look, focused");
  model.FocusLost();
  ExpectAppearance(model, {0x00FF00, true, 1, kRestingOutline, 0x0000FF, false}, "own look, resting");
}

TEST_F(ButtonModelTest, SpaceBarClicksOnReleaseOnlyWhenPressedOnTheFocusedEnabledButton) {
  // Without the focus the button never sees the key; with it, down arms and
  // up clicks, once however long the key repeats.
  model.SpaceDown();
  model.SpaceUp();
  EXPECT_TRUE(platform.events.empty());
  model.FocusGained();
  model.SpaceDown();
  model.SpaceDown();
  model.SpaceDown();
  EXPECT_TRUE(platform.events.empty());  // nothing before the release
  model.SpaceUp();
  EXPECT_EQ(platform.events, std::vector<std::string>{"Click"});
  model.SpaceUp();  // a release without a press
  EXPECT_EQ(platform.events.size(), 1u);

  // The focus moves on while the key is down: no click.
  model.SpaceDown();
  model.FocusLost();
  model.FocusGained();
  model.SpaceUp();
  EXPECT_EQ(platform.events.size(), 1u);

  // Disabled: pressed or released, nothing; disabled between the two, the
  // release does not click either.
  model.WriteEnabled(kFalse);
  model.SpaceDown();
  model.SpaceUp();
  model.WriteEnabled(kTrue);
  model.SpaceDown();
  model.WriteEnabled(kFalse);
  model.SpaceUp();
  EXPECT_EQ(platform.events.size(), 1u);

  // The character the key also makes is no click of its own.
  model.WriteEnabled(kTrue);
  model.SpaceDown();
  model.KeyPress(32);
  model.SpaceUp();
  EXPECT_EQ(platform.events, (std::vector<std::string>{"Click", "Click"}));
}

TEST_F(ButtonModelTest, HitTestFindsThePartAndItsOwnCoordinates) {
  model.WritePictureStretch(kFalse);
  GiveIcon();  // picture 75..555 x 67.5..547.5, caption from 630, top 210
  auto hit = model.HitTest(100, 100);
  EXPECT_EQ(hit.part, Part::Picture);
  EXPECT_FLOAT_EQ(hit.x, 25);
  EXPECT_FLOAT_EQ(hit.y, 32.5f);
  hit = model.HitTest(700, 300);
  EXPECT_EQ(hit.part, Part::Caption);
  EXPECT_FLOAT_EQ(hit.x, 70);
  EXPECT_FLOAT_EQ(hit.y, 90);
  hit = model.HitTest(20, 20);
  EXPECT_EQ(hit.part, Part::Surface);
  EXPECT_FLOAT_EQ(hit.x, 20);

  // Where the empty holder would be there is nothing but the surface.
  model.WritePicture(false, 0, 0);
  EXPECT_EQ(model.HitTest(100, 40).part, Part::Surface);
}

}  // namespace
}  // namespace quillon
