#include "engine/focus_mask.h"

#include <gtest/gtest.h>

#include "support/pictures.h"

namespace {

FocusSettings Focus(int viewW, int viewH, int angle = 0, int depthSetting = 50,
                    BlurSlope slope = BlurSlope::Medium) {
  return FocusSettings{viewW, viewH, angle, depthSetting, slope};
}

int MaskAt(const TBitmap& mask, int x, int y) { return mask.ScanLine(y)[x]; }

}  // namespace

TEST(MaskGeometry, LevelBandOnA400By300Picture) {
  const MaskGeometry g = ComputeMaskGeometry(400, 300, {200, 150}, Focus(400, 300));
  EXPECT_EQ(g.diagonal, 500);
  EXPECT_EQ(g.ratio, 1.0);
  EXPECT_EQ(g.perpendicular, 0);
  EXPECT_EQ(g.center, 250);
  EXPECT_EQ(g.meta, 250);
  EXPECT_EQ(g.depth, 25);
  EXPECT_EQ(g.slope1, 92);
  EXPECT_EQ(g.slope2, 46);
  EXPECT_EQ(g.d1, 225);
  EXPECT_EQ(g.d2, 275);
  EXPECT_EQ(g.d3, 133);
  EXPECT_EQ(g.d4, 321);
  const struct { int first, last, value; } rows[] = {
      {0, 133, 255}, {134, 134, 252}, {224, 224, 3}, {225, 275, 0},
      {276, 276, 6}, {320, 320, 249}, {321, 499, 255},
  };
  for (const auto& r : rows)
    for (int y = r.first; y <= r.last; ++y) ASSERT_EQ(MaskRowValue(g, y), r.value) << "row " << y;
}

TEST(MaskGeometry, SlopeChoices) {
  const MaskGeometry narrow = ComputeMaskGeometry(400, 300, {200, 150}, Focus(400, 300, 0, 50, BlurSlope::Narrow));
  EXPECT_EQ(narrow.slope1, 58);
  EXPECT_EQ(narrow.slope2, 29);
  EXPECT_EQ(narrow.d3, 167);
  EXPECT_EQ(narrow.d4, 304);
  EXPECT_EQ(MaskRowValue(narrow, 168), 251);
  EXPECT_EQ(MaskRowValue(narrow, 276), 9);
  const MaskGeometry wide = ComputeMaskGeometry(400, 300, {200, 150}, Focus(400, 300, 0, 50, BlurSlope::Wide));
  EXPECT_EQ(wide.slope1, 128);
  EXPECT_EQ(wide.slope2, 64);
}

TEST(MaskGeometry, LowerRampGrowsWithTheAngle) {
  const struct { int angle, slope2; } cases[] = {{0, 74}, {30, 99}, {90, 148}, {-30, 99}, {-90, 148}};
  for (const auto& c : cases) {
    const MaskGeometry g = ComputeMaskGeometry(640, 480, {320, 240}, Focus(640, 480, c.angle));
    EXPECT_EQ(g.depth, 40);
    EXPECT_EQ(g.slope1, 148);
    EXPECT_EQ(g.slope2, c.slope2) << c.angle;
  }
}

TEST(MaskGeometry, ViewPixelsConvertToPicturePixels) {
  // 400 x 300 shown in 800 x 600: ratio 2.
  const MaskGeometry g = ComputeMaskGeometry(400, 300, {400, 400}, Focus(800, 600));
  EXPECT_EQ(g.ratio, 2.0);
  EXPECT_EQ(g.perpendicular, 50);
  EXPECT_EQ(g.meta, 300);
}

TEST(MaskGeometry, ZeroSizedViewIsAClearError) {
  EXPECT_THROW(ComputeMaskGeometry(400, 300, {0, 0}, Focus(0, 300)), MaskError);
  EXPECT_THROW(ComputeMaskGeometry(400, 300, {0, 0}, Focus(400, 0)), MaskError);
  TBitmap mask = GreyMask(2, 2, [](int x, int) { return x; });
  const TBitmap before = mask;
  EXPECT_THROW(CreateMaskBMP(mask, 400, 300, {0, 0}, Focus(0, 0)), MaskError);
  EXPECT_EQ(mask, before);
}

TEST(GetPerpendicular, DistanceAlongTheNormal) {
  const struct { TPoint point; int viewW, viewH, angle, want; } cases[] = {
      {{360, 250}, 700, 500, 45, -7},  // 10 right of the centre, on its row
      {{320, 250}, 700, 500, 90, 30},  // 30 left of the centre
      {{320, 250}, 700, 500, -90, -30},
      {{350, 290}, 700, 500, 0, 40},
      {{0, 472}, 945, 945, 0, 0},  // centre of 945 is 472 (472.5 to even)
      {{0, 474}, 947, 947, 0, 0},  // centre of 947 is 474 (473.5 to even)
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetPerpendicular(c.point, c.viewW, c.viewH, c.angle), c.want) << c.angle;
}

TEST(To8bit, GreysTruncateJustBelowSomeLevels) {
  const std::vector<int> in = {0, 63, 126, 128, 215, 229, 252, 255, 100};
  const std::vector<int> out = {0, 62, 125, 128, 214, 228, 251, 255, 100};
  TBitmap bmp = MakePicture(int(in.size()), 1, [&](int x, int) {
    const int v = in[std::size_t(x)];
    return Rgb{v, v, v};
  });
  To8bit(bmp);
  ASSERT_EQ(bmp.PixelFormat(), pf8bit);
  EXPECT_EQ(bmp.ColorTable()[200], (TRGBQuad{200, 200, 200, 0}));
  for (std::size_t x = 0; x < in.size(); ++x) EXPECT_EQ(MaskAt(bmp, int(x), 0), out[x]) << in[x];
}

TEST(CreateMaskBMP, LevelBandRunsThroughTheFocusPoint) {
  TBitmap mask;
  const MaskGeometry g = CreateMaskBMP(mask, 400, 300, {200, 150}, Focus(400, 300));
  ASSERT_EQ(mask.Width(), 400);
  ASSERT_EQ(mask.Height(), 300);
  ASSERT_EQ(mask.PixelFormat(), pf8bit);
  EXPECT_EQ(g.depth, 25);
  for (int x = 0; x < 400; x += 37) {
    EXPECT_EQ(MaskAt(mask, x, 150), 0);
    EXPECT_EQ(MaskAt(mask, x, 0), 255);
    EXPECT_EQ(MaskAt(mask, x, 299), 255);
    // The value depends on the row alone at angle 0.
    for (int y = 0; y < 300; ++y) ASSERT_EQ(MaskAt(mask, x, y), MaskAt(mask, 0, y));
  }
  // The upper ramp is twice as long as the lower one.
  int upper = 0, lower = 0;
  for (int y = 0; y < 300; ++y) {
    const int v = MaskAt(mask, 0, y);
    if (v > 0 && v < 255) (y < 150 ? upper : lower)++;
  }
  EXPECT_NEAR(upper, 2 * lower, 3);
}

TEST(CreateMaskBMP, QuarterTurnMakesTheBandUpright) {
  TBitmap mask;
  CreateMaskBMP(mask, 400, 300, {200, 150}, Focus(400, 300, 90));
  ASSERT_EQ(mask.Width(), 400);
  for (int y = 10; y < 300; y += 41) {
    EXPECT_EQ(MaskAt(mask, 200, y), 0);
    EXPECT_EQ(MaskAt(mask, 0, y), 255);
    EXPECT_EQ(MaskAt(mask, 399, y), 255);
  }
}

TEST(CreateMaskBMP, TinyPicturesHaveNoZeroLengthRampFault) {
  // 1 x 1 at the view's centre: both ramps have length 0; the edge row is
  // part of the band.
  const MaskGeometry g = ComputeMaskGeometry(1, 1, {0, 0}, Focus(1, 1));
  EXPECT_EQ(g.diagonal, 2);
  EXPECT_EQ(g.slope1, 0);
  EXPECT_EQ(g.meta, 1);
  EXPECT_EQ(MaskRowValue(g, 1), 0);
  EXPECT_EQ(MaskRowValue(g, 0), 255);
  for (int side : {1, 2}) {
    for (TPoint p : {TPoint{0, 0}, TPoint{0, 50}, TPoint{1, 1}}) {
      TBitmap mask;
      EXPECT_NO_THROW(CreateMaskBMP(mask, side, side * 4, p, Focus(side, side * 4)));
      EXPECT_EQ(mask.Width(), side);
    }
  }
}
