#include "imaging/pixel_access.h"

#include <gtest/gtest.h>

#include "support/pictures.h"

TEST(AdjustByte, IntegerFormClamps) {
  const struct { int in; int out; } cases[] = {{-1, 0}, {0, 0}, {255, 255}, {256, 255}, {1000, 255}, {77, 77}};
  for (const auto& c : cases) EXPECT_EQ(AdjustByte(c.in), c.out) << c.in;
}

TEST(AdjustByte, RealFormClampsAndRoundsHalfToEven) {
  const struct { Extended in; int out; } cases[] = {
      {-0.3L, 0},    {0.5L, 0},     {1.5L, 2},     {127.5L, 128}, {254.5L, 254}, {253.5L, 254},
      {254.6L, 255}, {255.0L, 255}, {255.4L, 255}, {300.0L, 255}, {-1e30L, 0},   {__builtin_nanl(""), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(AdjustByte(c.in), c.out) << double(c.in);
}

TEST(RoundHalfEven, AgreesWithTheLibraryRounding) {
  std::mt19937_64 rng(7);
  std::vector<Extended> values = {0.5L, 1.5L, 2.5L, -0.5L, -1.5L, -2.5L, 1e19L, -1e19L, 0.49999999999999999L,
                                  9223372036854775807.5L, -0.0L, 4503599627370496.5L};
  for (int i = 0; i < 100000; ++i) {
    const Extended v = Extended(std::int64_t(rng() >> (rng() % 64))) / Extended(1 << (rng() % 16));
    values.push_back(rng() % 2 ? v : -v);
  }
  for (Extended v : values)
    ASSERT_EQ(RoundHalfEven(v), Extended(__builtin_nearbyintl(static_cast<long double>(v)))) << double(v);
}

TEST(Accessors, EmptyBitmapGivesEmptyRowTable) {
  TBitmap bmp(5, 0, pf24bit);
  TBmpData24 data(bmp);
  EXPECT_EQ(data.Height(), 0);
  EXPECT_EQ(data.Width(), 5);
}

TEST(Accessors, AddressPixelsOfPaddedBottomUpRows) {
  // Width 5 gives 15 bytes of pixels in a 16-byte row: the padding must not
  // shift later rows.
  TBitmap bmp = MakePicture(5, 3, [](int x, int y) { return Rgb{x, y, x + 10 * y}; });
  TBmpData24 data(bmp);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const TRGBTriple* p = data.GetData(x, y);
      EXPECT_EQ(Rgb(p->rgbtRed, p->rgbtGreen, p->rgbtBlue), (Rgb{x, y, x + 10 * y}));
    }
  TBitmap mask = GreyMask(3, 2, [](int x, int y) { return x + 3 * y; });
  TBmpData8 m(mask);
  EXPECT_EQ(*m.GetData(2, 1), 5);
}

TEST(GrayPalette, MakesIndexTheGreyLevel) {
  TBitmap bmp = GreyMask(256, 1, [](int x, int) { return x; });
  SetGrayPalette(bmp);
  EXPECT_EQ(bmp.ColorTable()[0], (TRGBQuad{0, 0, 0, 0}));
  EXPECT_EQ(bmp.ColorTable()[128], (TRGBQuad{128, 128, 128, 0}));
  EXPECT_EQ(bmp.ColorTable()[255], (TRGBQuad{255, 255, 255, 0}));
  bmp.SetPixelFormat(pf24bit);
  for (int x = 0; x < 256; ++x) EXPECT_EQ(PixelAt(bmp, x, 0), (Rgb{x, x, x}));
}

TEST(BmpClone, CopiesAreIndependentBothWays) {
  TBitmap a = RandomPicture(7, 4, 1);
  TBitmap b = BmpClone(a);
  const TBitmap aBefore = a;
  ASSERT_EQ(a, b);
  SetPixel(b, 3, 2, {1, 2, 3});
  EXPECT_EQ(a, aBefore);
  const TBitmap bBefore = b;
  SetPixel(a, 0, 0, {9, 9, 9});
  EXPECT_EQ(b, bBefore);
}

TEST(Bitmap, ResizeKeepsSharedAreaAndZeroesTheRest) {
  TBitmap bmp = RandomPicture(4, 3, 2);
  const TBitmap before = bmp;
  bmp.SetWidth(6);
  bmp.SetHeight(2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(bmp, x, y), PixelAt(before, x, y));
    for (int x = 4; x < 6; ++x) EXPECT_EQ(PixelAt(bmp, x, y), (Rgb{0, 0, 0}));
  }
}

TEST(Bitmap, EmptyBitmapsCompare) {
  EXPECT_EQ(TBitmap(0, 5, pf24bit), TBitmap(0, 5, pf24bit));
  EXPECT_EQ(TBitmap(5, 0, pf24bit), TBitmap(5, 0, pf24bit));
  EXPECT_NE(TBitmap(0, 5, pf24bit), TBitmap(0, 4, pf24bit));
}

TEST(Bitmap, RefusesNegativeAndHugeSizes) {
  EXPECT_THROW(TBitmap(-1, 3), std::invalid_argument);
  EXPECT_THROW(TBitmap(TBitmap::kMaxSide + 1, 1), std::length_error);
  EXPECT_THROW(TBitmap(100000, 100000), std::length_error);
}

TEST(Bitmap, FillDrawAndStretchingCopy) {
  TBitmap bg(4, 4, pf24bit);
  bg.Fill(RGBColor(10, 20, 30));
  EXPECT_EQ(PixelAt(bg, 3, 3), (Rgb{10, 20, 30}));
  // Draw is clipped at every side.
  bg.Draw(-1, 2, SolidPicture(3, 3, {1, 1, 1}));
  EXPECT_EQ(PixelAt(bg, 0, 2), (Rgb{1, 1, 1}));
  EXPECT_EQ(PixelAt(bg, 1, 3), (Rgb{1, 1, 1}));
  EXPECT_EQ(PixelAt(bg, 2, 2), (Rgb{10, 20, 30}));
  EXPECT_EQ(PixelAt(bg, 0, 1), (Rgb{10, 20, 30}));

  const TBitmap src = RandomPicture(5, 5, 3);
  TBitmap same(3, 3, pf24bit);
  same.CopyRect({0, 0, 3, 3}, src, {1, 1, 4, 4});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelAt(same, x, y), PixelAt(src, x + 1, y + 1));
  TBitmap stretched(4, 4, pf24bit);
  stretched.CopyRect({0, 0, 4, 4}, src, {1, 1, 4, 4});
  EXPECT_EQ(PixelAt(stretched, 0, 0), PixelAt(src, 1, 1));
  EXPECT_EQ(PixelAt(stretched, 3, 3), PixelAt(src, 3, 3));
}
