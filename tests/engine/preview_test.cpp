// The live preview against the engine: the look applied as the two
// buttons would, and a frame against the exact result reduced.
#include "engine/preview.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "imaging/shrink.h"
#include "support/pictures.h"

TEST(Preview, ApplyLookTonesOnlyWhenThePictureLacksTheSettings) {
  const TBitmap picture = NoisyGradient(90, 60);
  struct Case {
    bool applied;  // tone 40, 10, -5 applied before
    int saturation, contrast, brightness;
    bool toneStep;
  };
  for (const Case& c :
       {Case{false, 0, 0, 0, false}, Case{false, 40, 10, -5, true}, Case{true, 40, 10, -5, false},
        Case{true, 30, 10, -5, true}, Case{true, 0, 0, 0, true}}) {
    MiniatureEngine engine, expected;
    engine.LoadPicture(picture);
    expected.LoadPicture(picture);
    if (c.applied) {
      engine.ApplyTone(40, 10, -5);
      expected.ApplyTone(40, 10, -5);
    }
    Look look;
    look.saturation = c.saturation, look.contrast = c.contrast, look.brightness = c.brightness;
    look.point = TPoint{70, 20};
    look.view = {120, 80};
    look.angle = 20, look.depth = 60, look.slope = BlurSlope::Wide;
    look.blur = 4;
    EXPECT_EQ(engine.ToneApplied(look), !c.toneStep);
    engine.ApplyLook(look);
    if (c.toneStep) expected.ApplyTone(c.saturation, c.contrast, c.brightness);
    expected.ApplyMiniature({70, 20}, {120, 80, 20, 60, BlurSlope::Wide}, 4);
    EXPECT_EQ(engine.HistorySteps(), expected.HistorySteps());
    EXPECT_EQ(engine.TargetBMP(), expected.TargetBMP());
  }
}

TEST(Preview, FrameIsTheExactResultAtTheSizeOnScreen) {
  // A 600 x 400 picture in a 300 x 240 view: the frame is 300 x 200.
  const TBitmap picture = NoisyGradient(600, 400);
  MiniaturePreview preview;
  preview.SetPicture(picture, 300, 200);
  ASSERT_DOUBLE_EQ(preview.Scale(), 0.5);
  for (auto [x, y, angle, depth] : {std::tuple{150, 120, 0, 50}, {60, 200, 35, 20}, {250, 40, -80, 120}}) {
    Look look;
    look.saturation = look.contrast = look.brightness = 0;  // toning noise before or after reducing differs
    look.point = TPoint{x, y};
    look.view = {300, 240};
    look.angle = angle, look.depth = depth;
    look.blur = 12;
    const auto exactReduced = [&](const Look& l) {
      MiniatureEngine engine;
      engine.LoadPicture(picture);
      engine.ApplyLook(l);
      return ShrinkPicture(engine.TargetBMP(), 300, 200);
    };
    // Away from the picture's edges, which the two blurs extend differently.
    const auto meanDifference = [](const TBitmap& a, const TBitmap& b) {
      double diff = 0;
      for (int row = 20; row < 180; ++row)
        for (int i = 60; i < 840; ++i) diff += std::abs(a.ScanLine(row)[i] - b.ScanLine(row)[i]);
      return diff / (160 * 780);
    };
    const TBitmap frame = preview.Render(look);
    // The band in the same place, the blur of the same strength: what is
    // left is the order of reducing and blurring, well below what a band
    // 12 view pixels away or half the blur would make.
    const double own = meanDifference(frame, exactReduced(look));
    Look moved = look, weaker = look;
    moved.point->X -= int(std::lround(12 * std::sin(angle * M_PI / 180)));
    moved.point->Y += int(std::lround(12 * std::cos(angle * M_PI / 180)));
    weaker.blur = 6;
    EXPECT_LT(own, 0.5) << x << "," << y << " angle " << angle;
    EXPECT_LT(own * 2, meanDifference(frame, exactReduced(moved))) << x << "," << y << " angle " << angle;
    EXPECT_LT(own * 2, meanDifference(frame, exactReduced(weaker))) << x << "," << y << " angle " << angle;
  }
}

TEST(Preview, AWindowIsThatPartOfTheWholeFrame) {
  // The zoomed view's frames: the whole picture as a window gives the
  // frame of the fitted view, and a part gives that part of it (away from
  // the part's edges, where its blur lacks the picture beside it).
  const TBitmap picture = NoisyGradient(600, 400);
  const auto meanDifference = [](const TBitmap& a, int ax, int ay, const TBitmap& b, int w, int h) {
    double diff = 0;
    for (int y = 0; y < h; ++y)
      for (int i = 0; i < 3 * w; ++i) diff += std::abs(a.ScanLine(ay + y)[3 * ax + i] - b.ScanLine(y)[i]);
    return diff / (3.0 * w * h);
  };
  for (const LookType type : {LookType::Classic, LookType::Lens}) {
    for (const int angle : {0, 30, -70}) {
      Look look;
      look.type = type;
      look.point = TPoint{170, 110};
      look.view = {300, 240};
      look.angle = angle, look.depth = 30, look.blur = 10;
      MiniaturePreview fitted, whole, part;
      fitted.SetPicture(picture, 300, 200);
      whole.SetWindow(picture, {0, 0, 600, 400}, 0.5);
      part.SetWindow(picture, {200, 100, 520, 360}, 0.5);
      const TBitmap a = fitted.Render(look), b = whole.Render(look), c = part.Render(look);
      ASSERT_EQ(b.Width(), 300);
      ASSERT_EQ(c.Width(), 160);
      EXPECT_LT(meanDifference(a, 0, 0, b, 300, 200), 0.6) << int(type) << " " << angle;
      // The part's middle against the same place of the whole.
      TBitmap middle(120, 90, pf24bit);
      middle.Draw(-20, -20, c);
      EXPECT_LT(meanDifference(b, 120, 70, middle, 120, 90), 0.5) << int(type) << " " << angle;
    }
  }
}
