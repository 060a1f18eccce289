#include "imaging/rotation.h"

#include <gtest/gtest.h>

#include "support/pictures.h"

namespace {

constexpr TColor kBackground = RGBColor(10, 20, 30);
constexpr Rgb kBackgroundRgb{10, 20, 30};

// Distinct pixels: (x, y) is told apart by its channels.
TBitmap Numbered(int w, int h) {
  return MakePicture(w, h, [](int x, int y) { return Rgb{x % 256, y % 256, (x * 7 + y * 13) % 256}; });
}

}  // namespace

TEST(Rotate90, ThreeByTwoBothWays) {
  const Rgb a{1, 0, 0}, b{2, 0, 0}, c{3, 0, 0}, d{4, 0, 0}, e{5, 0, 0}, f{6, 0, 0};
  const Rgb rows[2][3] = {{a, b, c}, {d, e, f}};
  const TBitmap pic = MakePicture(3, 2, [&](int x, int y) { return rows[y][x]; });
  const struct {
    bool plus;
    Rgb out[3][2];
  } cases[] = {{true, {{d, a}, {e, b}, {f, c}}}, {false, {{c, f}, {b, e}, {a, d}}}};
  for (const auto& k : cases) {
    TBitmap bmp = pic;
    ASSERT_TRUE(Rotate90(bmp, k.plus));
    ASSERT_EQ(bmp.Width(), 2);
    ASSERT_EQ(bmp.Height(), 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 2; ++x)
        EXPECT_EQ(PixelAt(bmp, x, y), k.out[y][x]) << k.plus << " " << x << "," << y;
  }
}

TEST(Rotate90, TurnsGiveThePictureBack) {
  const int sizes[][2] = {{0, 0}, {1, 1}, {1, 7}, {7, 1}, {2, 3}, {5, 4}, {17, 9}, {33, 32}, {64, 63}};
  std::uint32_t seed = 1;
  for (const auto& s : sizes) {
    const TBitmap pic = RandomPicture(s[0], s[1], seed++);
    TBitmap bmp = pic;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Rotate90(bmp, true));
    EXPECT_EQ(bmp, pic) << s[0] << "x" << s[1];
    ASSERT_TRUE(Rotate90(bmp, true));
    ASSERT_TRUE(Rotate90(bmp, false));
    EXPECT_EQ(bmp, pic) << s[0] << "x" << s[1];
  }
}

TEST(Rotation, ResultSizes) {
  const struct {
    int w, h;
    float angle;
    int ww, hh;
  } cases[] = {
      {100, 50, 30, 113, 94},    {100, 50, -30, 113, 94},  {100, 100, 45, 142, 142},
      {640, 480, 10, 715, 585},  {200, 100, 60, 188, 224}, {640, 480, 90, 481, 641},
      {640, 480, -90, 481, 641}, {640, 480, 0, 641, 481},  {1, 1, 0, 2, 2},
  };
  for (const auto& c : cases) {
    TBitmap bmp = SolidPicture(c.w, c.h, {200, 100, 50});
    ASSERT_TRUE(Rotation(bmp, c.angle, 0));
    EXPECT_EQ(bmp.Width(), c.ww) << c.w << "x" << c.h << " by " << c.angle;
    EXPECT_EQ(bmp.Height(), c.hh) << c.w << "x" << c.h << " by " << c.angle;
  }
}

TEST(Rotation, ByZeroAddsOneColumnAndRowOfBackground) {
  const int sizes[][2] = {{0, 0}, {0, 3}, {4, 0}, {1, 1}, {3, 2}, {16, 9}, {31, 40}};
  for (const auto& s : sizes) {
    const int w = s[0], h = s[1];
    const TBitmap pic = RandomPicture(w, h, std::uint32_t(w * 100 + h));
    TBitmap bmp = pic;
    ASSERT_TRUE(Rotation(bmp, 0, kBackground));
    ASSERT_EQ(bmp.Width(), w + 1);
    ASSERT_EQ(bmp.Height(), h + 1);
    for (int y = 0; y <= h; ++y) {
      for (int x = 0; x <= w; ++x) {
        const Rgb want = (x < w && y < h) ? PixelAt(pic, x, y) : kBackgroundRgb;
        ASSERT_EQ(PixelAt(bmp, x, y), want) << w << "x" << h << " at " << x << "," << y;
      }
    }
  }
}

namespace {

// By +90 source (x, y) lands on (h - y, x); by -90 on (y, w - x); the other
// result pixels are background. The float sine and cosine of a quarter turn
// are not exactly 1 and 0, so a corner pixel of the source may have neither
// its floor nor its ceil point inside the picture and stay background; no
// other pixel may.
void ExpectQuarterTurn(const TBitmap& pic, float angle) {
  const int w = pic.Width(), h = pic.Height();
  TBitmap bmp = pic;
  ASSERT_TRUE(Rotation(bmp, angle, kBackground));
  ASSERT_EQ(bmp.Width(), h + 1);
  ASSERT_EQ(bmp.Height(), w + 1);
  for (int ry = 0; ry <= w; ++ry) {
    for (int rx = 0; rx <= h; ++rx) {
      const int x = angle > 0 ? ry : w - ry, y = angle > 0 ? h - rx : rx;
      const Rgb got = PixelAt(bmp, rx, ry);
      if (x >= 0 && x < w && y >= 0 && y < h && got == PixelAt(pic, x, y)) continue;
      ASSERT_EQ(got, kBackgroundRgb) << w << "x" << h << " by " << angle << " at " << rx << "," << ry;
      const bool corner = (x == 0 || x == w - 1) && (y == 0 || y == h - 1);
      ASSERT_TRUE(corner || x < 0 || x >= w || y < 0 || y >= h) << w << "x" << h << " by " << angle;
    }
  }
}

}  // namespace

TEST(Rotation, QuarterTurnsMovePixelsExactly) {
  std::vector<TBitmap> pictures = {Numbered(1, 1), Numbered(1, 3), Numbered(64, 48), Numbered(640, 480)};
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> side(1, 40);
  for (std::uint32_t i = 0; i < 60; ++i) pictures.push_back(RandomPicture(side(rng), side(rng), i));
  for (const TBitmap& pic : pictures) {
    ExpectQuarterTurn(pic, 90);
    ExpectQuarterTurn(pic, -90);
  }
}

// Pixels whose byte depends on the 32-bit roundings: the first two change
// if the partial sums are kept in extended precision, the last two if the
// source position (sx, sy) is. Grey pictures, black background.
TEST(Rotation, FloatRoundingsDecideThesePixels) {
  const struct {
    int w, h;
    std::vector<int> grey;  // row by row
    float angle;
    int x, y, want;
  } cases[] = {
      {4, 2, {23, 111, 149, 152, 106, 18, 125, 220}, -30, 1, 2, 65},
      {2, 3, {43, 218, 75, 53, 107, 182}, -64, 0, 2, 37},
      {3, 4, {29, 26, 61, 207, 170, 156, 187, 37, 65, 244, 56, 148}, 45, 4, 3, 6},
      {4, 3, {40, 250, 146, 240, 144, 215, 160, 159, 115, 36, 26, 237}, -12, 4, 1, 20},
  };
  for (const auto& c : cases) {
    TBitmap bmp = MakePicture(c.w, c.h, [&](int x, int y) {
      const int v = c.grey[std::size_t(y * c.w + x)];
      return Rgb{v, v, v};
    });
    ASSERT_TRUE(Rotation(bmp, c.angle, 0));
    EXPECT_EQ(PixelAt(bmp, c.x, c.y), (Rgb{c.want, c.want, c.want}))
        << c.w << "x" << c.h << " by " << c.angle;
  }
}

// A white picture on black: the uncovered corners are black, the inside is
// white, and the edges blend between the two.
TEST(Rotation, EdgesFadeIntoBlackBackground) {
  TBitmap bmp = SolidPicture(40, 30, {255, 255, 255});
  ASSERT_TRUE(Rotation(bmp, 30, 0));
  const int ww = bmp.Width(), hh = bmp.Height();
  EXPECT_EQ(PixelAt(bmp, 0, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(bmp, ww - 1, hh - 1), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(bmp, 0, hh - 1), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(bmp, ww / 2, hh / 2), (Rgb{255, 255, 255}));
  bool sawBlend = false;
  for (int x = 0; x < ww; ++x) {
    const Rgb p = PixelAt(bmp, x, hh / 2);
    EXPECT_TRUE(p.r == p.g && p.g == p.b);
    if (p.r > 0 && p.r < 255) sawBlend = true;
  }
  EXPECT_TRUE(sawBlend);
}

TEST(Rotation, RefusesOtherFormatsAndNonFiniteAnglesUntouched) {
  TBitmap mask = GreyMask(5, 3, [](int x, int y) { return x * 40 + y; });
  TBitmap wide(5, 3, pf32bit);
  wide.Fill(RGBColor(1, 2, 3));
  for (TBitmap* bmp : {&mask, &wide}) {
    const TBitmap before = *bmp;
    EXPECT_FALSE(Rotate90(*bmp, true));
    EXPECT_FALSE(Rotate90(*bmp, false));
    EXPECT_FALSE(Rotation(*bmp, 30, kBackground));
    EXPECT_TRUE(*bmp == before);
  }
  TBitmap pic = RandomPicture(5, 3, 9);
  const TBitmap before = pic;
  EXPECT_FALSE(Rotation(pic, std::numeric_limits<float>::infinity(), kBackground));
  EXPECT_FALSE(Rotation(pic, std::numeric_limits<float>::quiet_NaN(), kBackground));
  EXPECT_EQ(pic, before);
}

// Every angle the angle slider offers, and some between, on random sizes:
// the result is the turned bounding box (within a pixel of the exact one),
// and, under the sanitizers, no read leaves the framed picture.
TEST(Rotation, EveryAngleOnRandomSizes) {
  std::mt19937 rng(77);
  std::uniform_int_distribution<int> side(1, 64);
  std::uniform_real_distribution<float> fraction(-0.5f, 0.5f);
  for (int degrees = -90; degrees <= 90; ++degrees) {
    for (const float angle : {float(degrees), float(degrees) + fraction(rng)}) {
      const int w = side(rng), h = side(rng);
      TBitmap bmp = RandomPicture(w, h, std::uint32_t(degrees + 1000));
      ASSERT_TRUE(Rotation(bmp, angle, kBackground));
      const double rad = std::abs(double(angle)) * 3.14159265358979323846 / 180;
      const double ww = w * std::cos(rad) + h * std::sin(rad) + 1;
      const double hh = w * std::sin(rad) + h * std::cos(rad) + 1;
      EXPECT_NEAR(bmp.Width(), ww, 1.0) << w << "x" << h << " by " << angle;
      EXPECT_NEAR(bmp.Height(), hh, 1.0) << w << "x" << h << " by " << angle;
    }
  }
}
