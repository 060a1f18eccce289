#include "imaging/tone.h"

#include <gtest/gtest.h>

#include "support/pictures.h"

namespace {

Rgb AfterOne(bool (*routine)(TBitmap&, int), int setting, Rgb in) {
  TBitmap bmp = SolidPicture(1, 1, in);
  EXPECT_TRUE(routine(bmp, setting));
  return PixelAt(bmp, 0, 0);
}

Rgb Saturated(Extended percent, Rgb in) {
  TBitmap bmp = SolidPicture(1, 1, in);
  EXPECT_TRUE(Saturation(bmp, percent));
  return PixelAt(bmp, 0, 0);
}

}  // namespace

TEST(Brightness, OffsetIsTruncatedPercentOf255) {
  const struct { int percent; Rgb in, out; } cases[] = {
      {-5, {255, 128, 0}, {243, 116, 0}},    {50, {128, 128, 128}, {255, 255, 255}},
      {100, {0, 7, 200}, {255, 255, 255}},   {-100, {255, 250, 3}, {0, 0, 0}},
      {1, {10, 10, 10}, {12, 12, 12}},       {-1, {10, 10, 10}, {8, 8, 8}},
      {0, {1, 2, 3}, {1, 2, 3}},             {2000000000, {0, 0, 0}, {255, 255, 255}},
      {-2000000000, {255, 255, 255}, {0, 0, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(AfterOne(Brightness, c.percent, c.in), c.out) << c.percent;
}

TEST(Contrast, MapsChannelsThroughTheFloatFactor) {
  const struct { int n; std::vector<int> in, out; } cases[] = {
      {10, {0, 64, 100, 115, 128, 140, 200, 255}, {0, 51, 94, 112, 128, 143, 215, 255}},
      // With the factor taken as exactly 1.44, 115 would land on a tie.
      {20, {115, 140}, {109, 146}},
      {50, {64, 100, 128, 200}, {0, 66, 129, 255}},
      {-100, {0, 1, 127, 128, 254, 255}, {128, 128, 128, 128, 128, 128}},
      {0, {0, 1, 127, 128, 254, 255}, {0, 1, 127, 128, 254, 255}},
  };
  for (const auto& c : cases) {
    for (std::size_t i = 0; i < c.in.size(); ++i) {
      const int v = c.in[i];
      EXPECT_EQ(AfterOne(Contrast, c.n, {v, v, v}), (Rgb{c.out[i], c.out[i], c.out[i]}))
          << "contrast " << c.n << " of " << v;
    }
  }
}

TEST(Saturation, MovesChannelsAwayFromGrey) {
  const struct { Extended percent; Rgb in, out; } cases[] = {
      {40, {200, 100, 50}, {229, 89, 19}},
      {40, {255, 0, 0}, {255, 0, 0}},
      {-100, {200, 100, 50}, {127, 127, 127}},
      {-100, {255, 0, 0}, {79, 79, 79}},
      {0, {200, 100, 50}, {200, 100, 50}},
  };
  for (const auto& c : cases) EXPECT_EQ(Saturated(c.percent, c.in), c.out) << double(c.percent);
}

TEST(Saturation, LeavesGreyUnchangedAtEveryWholePercent) {
  const TBitmap greys = MakePicture(256, 1, [](int x, int) { return Rgb{x, x, x}; });
  for (int percent = -100; percent <= 100; ++percent) {
    TBitmap bmp = greys;
    ASSERT_TRUE(Saturation(bmp, percent));
    ASSERT_EQ(bmp, greys) << percent;
  }
}

TEST(Tone, RefusalsLeaveThePictureUntouched) {
  TBitmap mask = GreyMask(3, 3, [](int x, int y) { return x * 40 + y; });
  TBitmap wide(3, 3, pf32bit);
  wide.Fill(RGBColor(1, 2, 3));
  for (TBitmap* bmp : {&mask, &wide}) {
    const TBitmap before = *bmp;
    EXPECT_FALSE(Brightness(*bmp, 10));
    EXPECT_FALSE(Contrast(*bmp, 10));
    EXPECT_FALSE(Saturation(*bmp, 10));
    EXPECT_EQ(*bmp, before);
  }
  TBitmap pic = RandomPicture(4, 4, 5);
  const TBitmap before = pic;
  EXPECT_FALSE(Contrast(pic, 101));
  EXPECT_FALSE(Contrast(pic, -101));
  EXPECT_EQ(pic, before);
}

TEST(Tone, EmptyAndSinglePixelPictures) {
  for (int side : {0, 1}) {
    TBitmap bmp = SolidPicture(side, side, {10, 20, 30});
    EXPECT_TRUE(Brightness(bmp, 10));
    EXPECT_TRUE(Contrast(bmp, 10));
    EXPECT_TRUE(Saturation(bmp, 10));
    EXPECT_EQ(bmp.Width(), side);
  }
}
