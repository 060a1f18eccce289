#include "imaging/resample.h"

#include <gtest/gtest.h>

#include "support/pictures.h"

namespace {

constexpr TResizeMode kAllModes[] = {rmNearest,  rmBilinear, rmBicubic, rmBSpline, rmHermite,
                                     rmMitchell, rmBell,     rmLanczos, rmLagrange};

const char* Name(TResizeMode mode) {
  static const char* const names[] = {"Nearest",  "Bilinear", "Bicubic", "BSpline", "Hermite",
                                      "Mitchell", "Bell",     "Lanczos", "Lagrange"};
  return names[mode];
}

// Every channel of the row: the three must agree for a grey row.
std::vector<int> GreyValues(const TBitmap& bmp) {
  std::vector<int> out;
  for (int x = 0; x < bmp.Width(); ++x) {
    const Rgb p = PixelAt(bmp, x, 0);
    EXPECT_TRUE(p.r == p.g && p.g == p.b) << x;
    out.push_back(p.r);
  }
  return out;
}

}  // namespace

TEST(BmpResize, OneRowExamples) {
  const struct {
    TResizeMode mode;
    std::vector<int> in;
    int rwidth;
    std::vector<int> out;
  } cases[] = {
      // Same size: the three smoothing methods soften.
      {rmBSpline, {0, 240, 0, 240, 0}, 5, {40, 160, 80, 160, 40}},
      {rmBell, {0, 240, 0, 240, 0}, 5, {30, 180, 60, 180, 30}},
      {rmMitchell, {0, 144, 0, 144, 0}, 5, {8, 128, 16, 128, 8}},
      // 0.5, 2.5, 4.5 round down, 1.5, 3.5, 5.5 up; 7.5 rounds to 8, lowered to 7.
      {rmNearest, {0, 1, 2, 3, 4, 5, 6, 7}, 16, {0, 0, 1, 2, 2, 2, 3, 4, 4, 4, 5, 6, 6, 6, 7, 7}},
      // 126.5 rounds to even.
      {rmBilinear, {0, 253}, 4, {0, 126, 253, 253}},
      {rmNearest, {0, 0, 0, 255}, 8, {0, 0, 0, 0, 0, 0, 255, 255}},
      {rmBilinear, {0, 0, 0, 255}, 8, {0, 0, 0, 0, 0, 128, 255, 255}},
      {rmHermite, {0, 0, 0, 255}, 8, {0, 0, 0, 0, 0, 128, 255, 255}},
      // The tap beyond the right border reads the base column 2 (weight -0.125).
      {rmBicubic, {0, 0, 0, 255}, 8, {0, 0, 0, 0, 0, 159, 255, 255}},
      {rmLagrange, {0, 0, 0, 255}, 8, {0, 0, 0, 0, 0, 143, 255, 255}},
      {rmLanczos, {0, 0, 0, 255}, 8, {0, 0, 0, 0, 0, 146, 255, 255}},
      {rmBell, {0, 0, 0, 255}, 8, {0, 0, 0, 0, 32, 128, 223, 255}},
      {rmBSpline, {0, 0, 0, 240}, 8, {0, 0, 0, 5, 40, 115, 200, 235}},
      {rmMitchell, {0, 0, 0, 144}, 8, {0, 0, 0, 0, 8, 77, 136, 149}},
      // Shrinking skips the bright column (B-spline alone reaches it).
      {rmNearest, {0, 0, 0, 0, 255}, 2, {0, 0}},
      {rmBilinear, {0, 0, 0, 0, 255}, 2, {0, 0}},
      {rmBicubic, {0, 0, 0, 0, 255}, 2, {0, 0}},
      {rmBSpline, {0, 0, 0, 0, 255}, 2, {0, 5}},
      {rmHermite, {0, 0, 0, 0, 255}, 2, {0, 0}},
      {rmMitchell, {0, 0, 0, 0, 255}, 2, {0, 0}},
      {rmBell, {0, 0, 0, 0, 255}, 2, {0, 0}},
      {rmLanczos, {0, 0, 0, 0, 255}, 2, {0, 0}},
      {rmLagrange, {0, 0, 0, 0, 255}, 2, {0, 0}},
  };
  for (const auto& c : cases) {
    // Along a row, and the same values down a column.
    const int n = int(c.in.size());
    auto grey = [&](int i) { return Rgb{c.in[std::size_t(i)], c.in[std::size_t(i)], c.in[std::size_t(i)]}; };
    TBitmap row = MakePicture(n, 1, [&](int x, int) { return grey(x); });
    ASSERT_TRUE(BmpResize(row, c.rwidth, 1, c.mode));
    ASSERT_EQ(row.Height(), 1);
    EXPECT_EQ(GreyValues(row), c.out) << Name(c.mode) << " to " << c.rwidth;
    TBitmap col = MakePicture(1, n, [&](int, int y) { return grey(y); });
    ASSERT_TRUE(BmpResize(col, 1, c.rwidth, c.mode));
    std::vector<int> down;
    for (int y = 0; y < col.Height(); ++y) down.push_back(PixelAt(col, 0, y).g);
    EXPECT_EQ(down, c.out) << Name(c.mode) << " to height " << c.rwidth;
  }
}

TEST(BmpResize, SameSizeKeepsThePictureForInterpolatingMethods) {
  const int sizes[][2] = {{1, 1}, {1, 5}, {6, 1}, {7, 5}, {16, 9}, {33, 20}};
  std::uint32_t seed = 40;
  for (const TResizeMode mode : {rmNearest, rmBilinear, rmBicubic, rmHermite, rmLagrange, rmLanczos}) {
    for (const auto& s : sizes) {
      const TBitmap pic = RandomPicture(s[0], s[1], seed++);
      TBitmap bmp = pic;
      ASSERT_TRUE(BmpResize(bmp, s[0], s[1], mode));
      EXPECT_EQ(bmp, pic) << Name(mode) << " " << s[0] << "x" << s[1];
    }
  }
}

// A flat picture stays flat wherever the weights sum to one: every method but
// Lanczos, whose unnormalised weights overshoot between pixels.
TEST(BmpResize, SizesAndFlatPictures) {
  const TBitmap flat = SolidPicture(9, 7, {90, 150, 210});
  for (const TResizeMode mode : kAllModes) {
    for (const auto& size : {std::pair{18, 14}, std::pair{4, 3}, std::pair{1, 1}, std::pair{9, 20}}) {
      TBitmap bmp = flat;
      ASSERT_TRUE(BmpResize(bmp, size.first, size.second, mode));
      ASSERT_EQ(bmp.Width(), size.first);
      ASSERT_EQ(bmp.Height(), size.second);
      if (mode == rmLanczos) continue;
      ASSERT_EQ(bmp, SolidPicture(size.first, size.second, {90, 150, 210})) << Name(mode);
    }
  }
}

TEST(BmpResize, RefusalsLeaveTheBitmapUntouched) {
  TBitmap mask = GreyMask(5, 3, [](int x, int y) { return x * 40 + y; });
  TBitmap wide(5, 3, pf32bit);
  wide.Fill(RGBColor(1, 2, 3));
  TBitmap pic = RandomPicture(5, 3, 3);
  TBitmap empty(0, 0, pf24bit);
  TBitmap noRows(4, 0, pf24bit);
  TBitmap noColumns(0, 4, pf24bit);
  for (const TResizeMode mode : kAllModes) {
    for (TBitmap* bmp : {&mask, &wide}) {
      const TBitmap before = *bmp;
      EXPECT_FALSE(BmpResize(*bmp, 10, 6, mode));
      EXPECT_TRUE(*bmp == before);
    }
    const TBitmap before = pic;
    for (const auto& size : {std::pair{0, 3}, std::pair{5, 0}, std::pair{-1, 3}, std::pair{5, -7}}) {
      EXPECT_FALSE(BmpResize(pic, size.first, size.second, mode));
      EXPECT_EQ(pic, before);
    }
    // Empty pictures hold no pixels, so their size is all there is to keep.
    for (TBitmap* bmp : {&empty, &noRows, &noColumns}) {
      const int w = bmp->Width(), h = bmp->Height();
      EXPECT_FALSE(BmpResize(*bmp, 3, 3, mode));
      EXPECT_EQ(bmp->Width(), w);
      EXPECT_EQ(bmp->Height(), h);
      EXPECT_EQ(bmp->PixelFormat(), pf24bit);
    }
  }
  EXPECT_FALSE(BmpResize(pic, 4, 4, static_cast<TResizeMode>(9)));
}

// Random source and destination sizes for every method; under the
// sanitizers this shows that no tap reads outside the picture.
TEST(BmpResize, RandomSizesForEveryMethod) {
  std::mt19937 rng(123);
  std::uniform_int_distribution<int> side(1, 64);
  for (const TResizeMode mode : kAllModes) {
    for (int i = 0; i < 40; ++i) {
      const int w = side(rng), h = side(rng), rw = side(rng), rh = side(rng);
      TBitmap bmp = RandomPicture(w, h, std::uint32_t(i));
      ASSERT_TRUE(BmpResize(bmp, rw, rh, mode));
      ASSERT_EQ(bmp.Width(), rw);
      ASSERT_EQ(bmp.Height(), rh);
    }
  }
}
