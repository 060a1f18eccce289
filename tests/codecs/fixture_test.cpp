// Files written by a second encoder (ImageMagick, or built byte by byte by
// make_fixtures.sh) decode to the pictures they were made from. The
// formulas here are the script's.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "codec_test_support.h"

namespace {

Rgb T16(int i) {
  return {17 * i, 255 - 17 * i, (53 * i) % 256};
}
Rgb T40(int i) {
  return {6 * i, 255 - 6 * i, (53 * i) % 256};
}

TBitmap Smooth() {
  return MakePicture(32, 24, [](int x, int y) { return Rgb{8 * x, 10 * y, 255 - 4 * x - 4 * y}; });
}
TBitmap Pal16() {
  return MakePicture(16, 12, [](int x, int y) { return T16((x / 2 + y) % 16); });
}
TBitmap Pal40() {
  return MakePicture(16, 12, [](int x, int y) { return T40((x + 3 * y) % 40); });
}
TBitmap BlackWhite() {
  return MakePicture(16, 12, [](int x, int y) { return (x ^ y) & 2 ? Rgb{0, 0, 0} : Rgb{255, 255, 255}; });
}
TBitmap Grey() {
  return MakePicture(32, 24, [](int x, int y) { return Rgb{5 * x + 4 * y, 5 * x + 4 * y, 5 * x + 4 * y}; });
}
// pal16 over white with alpha 17x, rounded to nearest.
TBitmap AlphaOverWhite() {
  return MakePicture(16, 12, [](int x, int y) {
    const Rgb c = T16((x / 2 + y) % 16);
    const int a = 17 * x;
    auto blend = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
    return Rgb{blend(c.r), blend(c.g), blend(c.b)};
  });
}
// pal16 with colour 0 transparent, shown as white.
TBitmap Pal16ZeroWhite() {
  return MakePicture(16, 12, [](int x, int y) {
    const int i = (x / 2 + y) % 16;
    return i == 0 ? Rgb{255, 255, 255} : T16(i);
  });
}
// A channel of n bits scaled to 0..255 the way bit-field masks are read.
int Scaled(int value, int max) {
  return (value * 255 + max / 2) / max;
}
TBitmap Smooth555() {
  return MakePicture(32, 24, [](int x, int y) {
    return Rgb{Scaled((8 * x) >> 3, 31), Scaled((10 * y) >> 3, 31), Scaled((255 - 4 * x - 4 * y) >> 3, 31)};
  });
}
TBitmap Smooth565() {
  return MakePicture(32, 24, [](int x, int y) {
    return Rgb{Scaled((8 * x) >> 3, 31), Scaled((10 * y) >> 2, 63), Scaled((255 - 4 * x - 4 * y) >> 3, 31)};
  });
}
TBitmap Smooth1010() {
  return MakePicture(32, 24, [](int x, int y) {
    return Rgb{Scaled(8 * x * 4 + 3, 1023), Scaled(10 * y * 4 + 3, 1023),
               Scaled((255 - 4 * x - 4 * y) * 4 + 3, 1023)};
  });
}
TBitmap Pal40WithMove() {
  TBitmap p = Pal40();
  for (int x = 4; x < 8; ++x) SetPixel(p, x, 11, T40(0));
  return p;
}

struct FixtureCase {
  const char* file;
  std::function<TBitmap()> expected;
  double meanBound;  // 0: exact
  int maxBound;
};

void ExpectDecodes(const FixtureCase& c) {
  SCOPED_TRACE(c.file);
  TBitmap got;
  std::string error;
  ASSERT_TRUE(ReadPicture(FixturePath(c.file), got, error)) << error;
  const TBitmap want = c.expected();
  ASSERT_EQ(got.PixelFormat(), pf24bit);
  ASSERT_EQ(got.Width(), want.Width());
  ASSERT_EQ(got.Height(), want.Height());
  if (c.meanBound == 0 && c.maxBound == 0) {
    for (int y = 0; y < want.Height(); ++y)
      for (int x = 0; x < want.Width(); ++x)
        ASSERT_EQ(PixelAt(got, x, y), PixelAt(want, x, y)) << "at " << x << ", " << y;
    return;
  }
  const Difference d = Compare(got, want);
  EXPECT_LE(d.mean, c.meanBound);
  EXPECT_LE(d.max, c.maxBound);
}

}  // namespace

TEST(FixtureFiles, BmpVariantsDecodeExactly) {
  const FixtureCase cases[] = {
      {"bmp24.bmp", Smooth, 0, 0},
      {"bmp24_topdown.bmp", Smooth, 0, 0},
      {"bmp24_os2.bmp", Smooth, 0, 0},
      {"bmp8.bmp", Pal40, 0, 0},
      {"bmp8_rle.bmp", Pal40, 0, 0},
      {"bmp8_os2.bmp", Pal40, 0, 0},
      {"bmp8_rle_delta.bmp", Pal40WithMove, 0, 0},
      {"bmp4.bmp", Pal16, 0, 0},
      {"bmp4_rle.bmp", Pal16, 0, 0},
      {"bmp1.bmp", BlackWhite, 0, 0},
      {"bmp16_555.bmp", Smooth555, 0, 0},
      {"bmp16_565.bmp", Smooth565, 0, 0},
      {"bmp32_fields.bmp", Smooth1010, 0, 0},
      {"bmp32_v5.bmp", AlphaOverWhite, 0, 0},  // alpha 17x over white, as PNG and GIF
  };
  for (const FixtureCase& c : cases) ExpectDecodes(c);
}

TEST(FixtureFiles, PngVariantsDecodeExactly) {
  const FixtureCase cases[] = {
      {"png_rgb.png", Smooth, 0, 0},
      {"png_rgb16.png", Smooth, 0, 0},
      {"png_interlaced.png", Smooth, 0, 0},
      {"png_palette.png", Pal40, 0, 0},
      {"png_grey8.png", Grey, 0, 0},
      {"png_grey16.png", Grey, 0, 0},
      {"png_grey1.png", BlackWhite, 0, 0},
      {"png_palette_trns.png", Pal16ZeroWhite, 0, 0},
      // Compositing over white may differ from the rounded reference by one.
      {"png_rgba.png", AlphaOverWhite, 0.5, 1},
      {"png_rgba16.png", AlphaOverWhite, 0.5, 1},
  };
  for (const FixtureCase& c : cases) ExpectDecodes(c);
}

TEST(FixtureFiles, GifVariantsDecodeExactly) {
  const FixtureCase cases[] = {
      {"gif_plain.gif", Pal40, 0, 0},
      {"gif_interlaced.gif", Pal40, 0, 0},
      {"gif_transparent.gif", Pal16ZeroWhite, 0, 0},
      {"gif_two_frames.gif", Pal16, 0, 0},  // the first frame
  };
  for (const FixtureCase& c : cases) ExpectDecodes(c);
}

TEST(FixtureFiles, JpegVariantsDecodeClose) {
  // Quality 95 files of smooth pictures: small mean error, no large one.
  const FixtureCase cases[] = {
      {"jpeg_420.jpg", Smooth, 2.0, 12},         {"jpeg_444.jpeg", Smooth, 2.0, 12},
      {"jpeg_progressive.jpg", Smooth, 2.0, 12}, {"jpeg_grey.jpg", Grey, 1.0, 4},
      {"jpeg_cmyk.jpg", Smooth, 3.0, 16},
  };
  for (const FixtureCase& c : cases) ExpectDecodes(c);
}

TEST(FixtureFiles, GreyJpegGivesThreeEqualChannels) {
  TBitmap got;
  std::string error;
  ASSERT_TRUE(ReadPicture(FixturePath("jpeg_grey.jpg"), got, error)) << error;
  for (int y = 0; y < got.Height(); ++y)
    for (int x = 0; x < got.Width(); ++x) {
      const Rgb p = PixelAt(got, x, y);
      ASSERT_TRUE(p.r == p.g && p.g == p.b) << x << ", " << y;
    }
}

TEST(FixtureFiles, MislabelledFileIsRefusedAndPictureKept) {
  TBitmap picture = SolidPicture(3, 2, {1, 2, 3});
  const TBitmap before = picture;
  std::string error;
  const std::string path = FixturePath("png_named.jpg");
  EXPECT_FALSE(ReadPicture(path, picture, error));
  EXPECT_TRUE(picture == before);
  EXPECT_NE(error.find("JPEG"), std::string::npos) << error;
  EXPECT_NE(error.find(path), std::string::npos) << error;
}
