#include "imaging/blur.h"

#include <gtest/gtest.h>

#include "support/pictures.h"

TEST(GaussianWeights, ZoneOneHoldsSinglePrecisionValues) {
  const std::vector<float> gf = GaussianWeights(1);
  ASSERT_EQ(gf.size(), 4u);
  EXPECT_EQ(gf[0], 1.0f);
  EXPECT_EQ(gf[1], 0.60653067f);
  EXPECT_EQ(gf[2], 0.13533528f);
  EXPECT_EQ(gf[3], 0.011108996f);
}

TEST(GaussianBlur, SevenPixelRowsWithZoneOne) {
  const struct { std::vector<int> in, out; } cases[] = {
      {{0, 0, 0, 255, 0, 0, 0}, {2, 15, 62, 102, 62, 15, 2}},
      // At the left edge the missing taps are renormalised away.
      {{255, 0, 0, 0, 0, 0, 0}, {145, 66, 14, 1, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    TBitmap row = MakePicture(7, 1, [&](int x, int) { return Rgb{c.in[std::size_t(x)], 0, 0}; });
    ASSERT_TRUE(GaussianBlur(row, 1));
    EXPECT_EQ(RedRow(row), c.out);
    // The same values down a column: the column pass treats them alike.
    TBitmap col = MakePicture(1, 7, [&](int, int y) { return Rgb{c.in[std::size_t(y)], 0, 0}; });
    ASSERT_TRUE(GaussianBlur(col, 1));
    for (int y = 0; y < 7; ++y) EXPECT_EQ(PixelAt(col, 0, y).r, c.out[std::size_t(y)]);
  }
}

TEST(GaussianBlur, FlatPicturesAndSinglePixelsStayExact) {
  const TBitmap flat = SolidPicture(9, 5, {200, 17, 93});
  const TBitmap one = SolidPicture(1, 1, {3, 250, 128});
  for (int zone = 1; zone <= 30; ++zone) {
    for (const TBitmap* pic : {&flat, &one}) {
      TBitmap bmp = *pic;
      ASSERT_TRUE(GaussianBlur(bmp, zone));
      ASSERT_EQ(bmp, *pic) << zone;
    }
  }
}

TEST(GaussianBlur, RefusesWrongZoneOrFormatUntouched) {
  TBitmap pic = RandomPicture(6, 6, 11);
  const TBitmap before = pic;
  EXPECT_FALSE(GaussianBlur(pic, 0));
  EXPECT_FALSE(GaussianBlur(pic, 31));
  EXPECT_FALSE(GaussianBlur(pic, -3));
  EXPECT_EQ(pic, before);
  TBitmap mask = GreyMask(4, 4, [](int x, int y) { return x * y; });
  const TBitmap maskBefore = mask;
  EXPECT_FALSE(GaussianBlur(mask, 3));
  EXPECT_EQ(mask, maskBefore);
  TBitmap wide(4, 4, pf32bit);
  EXPECT_FALSE(GaussianBlur(wide, 3));
  EXPECT_TRUE(GaussianBlur(pic, 30));
  TBitmap empty(0, 0, pf24bit);
  EXPECT_TRUE(GaussianBlur(empty, 5));
}

// Checked against a weighted mean in doubles: the float accumulation may
// differ by rounding, so the bound is half a level.
TEST(GaussianBlur, NarrowPictureIsWeightedMeanOfExistingPixels) {
  // A 3-pixel-wide picture with zone 2 (window 13): every pixel is the
  // weighted mean of the three pixels of its row.
  TBitmap bmp = MakePicture(3, 1, [](int x, int) { return Rgb{x * 100, 0, 0}; });
  ASSERT_TRUE(GaussianBlur(bmp, 2));
  const std::vector<float> gf = GaussianWeights(2);
  for (int x = 0; x < 3; ++x) {
    double sum = 0, count = 0;
    for (int ix = 0; ix < 3; ++ix) {
      sum += ix * 100 * double(gf[std::size_t(std::abs(ix - x))]);
      count += gf[std::size_t(std::abs(ix - x))];
    }
    EXPECT_NEAR(PixelAt(bmp, x, 0).r, sum / count, 0.5001) << x;
  }
}
