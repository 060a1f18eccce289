// The fast tone adjustments against their plain forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "imaging/tone.h"
#include "support/fast_paths.h"
#include "support/pictures.h"
#include "support/random_pictures.h"

namespace {

// All 2^24 colours, one per pixel (4096 x 4096), or every `step`-th blue
// level (every 17th at least in the short builds).
TBitmap ColourCube(int step) {
  if (CaseCount(20) != 20) step = std::max(step, 17);
  const bool full = step == 1;
  const int blues = 256 / step + (256 % step ? 1 : 0);
  TBitmap bmp(4096, 16 * blues, pf24bit);
  for (int y = 0; y < bmp.Height(); ++y) {
    std::uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < 4096; ++x) {
      row[3 * x] = std::uint8_t(full ? y / 16 : std::min(255, (y / 16) * step));
      row[3 * x + 1] = std::uint8_t(x & 255);
      row[3 * x + 2] = std::uint8_t((x >> 8) + 16 * (y % 16));
    }
  }
  return bmp;
}

}  // namespace

// Colours through Saturation at the default, the sliders' ends and a few
// values where the mixed sums land on or near halves (-100 gives exact
// decimal halves of the grey weights). Catches a doubt bound too
// small for the float lanes, or a fallback that keeps the vector's bytes.
TEST(SaturationFast, EveryColourMatchesPlain) {
  // Every colour at the default; every eighth blue level otherwise.
  const TBitmap cube = ColourCube(1), eighth = ColourCube(8);
  for (Extended percent : {40.0L, -100.0L, 100.0L, 1.0L, -37.0L, 250.0L}) {
    const TBitmap& colours = percent == 40 ? cube : eighth;
    TBitmap want = colours, got = colours;
    SaturationPlain(want, percent);
    SaturationFast(got, percent);
    ASSERT_TRUE(got == want) << double(percent);
  }
}

TEST(ContrastAndBrightnessFast, EveryLevelMatchesPlain) {
  const TBitmap levels = MakePicture(256, 1, [](int x, int) { return Rgb{x, 255 - x, (x * 7) & 255}; });
  for (int n = -100; n <= 100; ++n) {
    TBitmap want = levels, got = levels;
    ContrastPlain(want, n);
    ContrastFast(got, n);
    ASSERT_TRUE(got == want) << "contrast " << n;
  }
  for (int percent : {-1000, -101, -100, -50, -5, -1, 0, 1, 7, 50, 99, 100, 101, 1000000}) {
    TBitmap want = levels, got = levels;
    BrightnessPlain(want, percent);
    BrightnessFast(got, percent);
    ASSERT_TRUE(got == want) << "brightness " << percent;
  }
}

// Catches rows left out or done twice by the thread split, and leftover
// pixels at a row's end that bypass the plain per-pixel code.
TEST(ToneFast, RandomPicturesAndSettingsMatchPlain) {
  std::mt19937 rng(12);
  const int count = CaseCount(1000);
  for (int i = 0; i < count; ++i) {
    const int w = RandomSide(rng, 300), h = RandomSide(rng, 200);
    const TBitmap picture = RandomKindPicture(w, h, rng);
    const Extended saturation = Extended(int(rng() % 301) - 150);
    const int contrast = int(rng() % 201) - 100, brightness = int(rng() % 301) - 150;
    TBitmap want = picture;
    SaturationPlain(want, saturation);
    ContrastPlain(want, contrast);
    BrightnessPlain(want, brightness);
    std::string failed;
    ASSERT_TRUE(SameUnderEveryVariant(
        want,
        [&] {
          TBitmap got = picture;
          SaturationFast(got, saturation);
          ContrastFast(got, contrast);
          BrightnessFast(got, brightness);
          return got;
        },
        failed, i))
        << w << " x " << h << " " << double(saturation) << "/" << contrast << "/" << brightness << " on "
        << failed;
  }
}

TEST(ToneFast, RefusesLikeThePlainForms) {
  TBitmap mask = GreyMask(3, 3, [](int x, int) { return x; });
  const TBitmap before = mask;
  EXPECT_FALSE(BrightnessFast(mask, 5));
  EXPECT_FALSE(ContrastFast(mask, 5));
  EXPECT_FALSE(SaturationFast(mask, 5));
  EXPECT_EQ(mask, before);
  TBitmap pic = RandomPicture(4, 4, 1);
  const TBitmap picBefore = pic;
  EXPECT_FALSE(ContrastFast(pic, 101));
  EXPECT_FALSE(ContrastFast(pic, -101));
  EXPECT_EQ(pic, picBefore);
  // Far outside the sliders the plain form decides.
  TBitmap huge = pic, hugePlain = pic;
  EXPECT_TRUE(SaturationFast(huge, 1e6L));
  SaturationPlain(hugePlain, 1e6L);
  EXPECT_EQ(huge, hugePlain);
}

// The engine's tone step in one pass against the three plain routines in
// order. Catches the table of contrast and brightness composed in the
// wrong order, a zero setting that is not left out, a refused contrast
// that is applied.
TEST(AdjustToneFast, OnePassMatchesTheThreeRoutines) {
  std::mt19937 rng(64);
  const int count = CaseCount(600);
  for (int i = 0; i < count; ++i) {
    const int w = RandomSide(rng, 300), h = RandomSide(rng, 200);
    const TBitmap picture = RandomKindPicture(w, h, rng);
    const auto pick = [&](int span) {
      return rng() % 4 == 0 ? 0 : int(rng() % std::uint32_t(2 * span + 1)) - span;
    };
    const int saturation = pick(150), contrast = pick(120), brightness = pick(150);
    TBitmap want = picture;
    AdjustTonePlain(want, saturation, contrast, brightness);
    std::string failed;
    ASSERT_TRUE(SameUnderEveryVariant(
        want,
        [&] {
          TBitmap got = picture;
          AdjustToneFast(got, saturation, contrast, brightness);
          return got;
        },
        failed, i))
        << w << " x " << h << " " << saturation << "/" << contrast << "/" << brightness << " on " << failed;
  }
  TBitmap mask = GreyMask(3, 3, [](int x, int) { return x; });
  const TBitmap before = mask;
  AdjustToneFast(mask, 10, 10, 10);
  EXPECT_EQ(mask, before);
}
