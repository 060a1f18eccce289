// The fast turns against their plain forms.
#include <gtest/gtest.h>

#include <random>

#include "imaging/rotation.h"
#include "support/fast_paths.h"
#include "support/pictures.h"
#include "support/random_pictures.h"

// Whole degrees -90 .. 90 (the mask's angles), and arbitrary float angles.
// (The fast turns have no vector code: only the thread count varies.)
// Catches: a source point rounded once instead of through extended and
// float, the ceil-or-floor coverage test reversed, a fallback that keeps
// the double value where the two roundings may differ, the background
// written over covered pixels.
TEST(RotationFast, MatchesPlainForRandomPicturesAndAngles) {
  std::mt19937 rng(91);
  const int count = CaseCount(2000);
  for (int i = 0; i < count; ++i) {
    const int w = RandomSide(rng, 120), h = RandomSide(rng, 80);
    const float angle =
        i % 2 == 0 ? float(int(rng() % 181) - 90) : float(double(rng()) / double(rng.max()) * 720.0 - 360.0);
    const TColor background = TColor(rng() & 0xffffff);
    const TBitmap picture = RandomKindPicture(w, h, rng);
    TBitmap want = picture;
    RotationPlain(want, angle, background);
    std::string failed;
    ASSERT_TRUE(SameUnderEveryVariant(
        want,
        [&] {
          TBitmap got = picture;
          RotationFast(got, angle, background);
          return got;
        },
        failed, i, ThreadVariants()))
        << w << " x " << h << " angle " << angle << " on " << failed;
  }
}

TEST(Rotate90Fast, MatchesPlainBothWays) {
  std::mt19937 rng(4);
  const int count = CaseCount(300);
  for (int i = 0; i < count; ++i) {
    const int w = RandomSide(rng, 300), h = RandomSide(rng, 200);
    const TBitmap picture = RandomKindPicture(w, h, rng);
    for (bool plus : {true, false}) {
      TBitmap want = picture;
      Rotate90Plain(want, plus);
      std::string failed;
      ASSERT_TRUE(SameUnderEveryVariant(
          want,
          [&] {
            TBitmap got = picture;
            Rotate90Fast(got, plus);
            return got;
          },
          failed, i, ThreadVariants()))
          << w << " x " << h << (plus ? " clockwise" : " counter-clockwise") << " on " << failed;
    }
  }
}

TEST(RotationFast, RefusesLikeThePlainForm) {
  TBitmap mask = GreyMask(3, 3, [](int x, int) { return x; });
  EXPECT_FALSE(RotationFast(mask, 10, 0));
  EXPECT_FALSE(Rotate90Fast(mask, true));
  TBitmap pic = RandomPicture(4, 4, 1);
  const TBitmap before = pic;
  EXPECT_FALSE(RotationFast(pic, __builtin_inff(), 0));
  EXPECT_EQ(pic, before);
  TBitmap empty(0, 0, pf24bit);
  TBitmap emptyPlain = empty;
  EXPECT_TRUE(RotationFast(empty, 30, 0));
  RotationPlain(emptyPlain, 30, 0);
  EXPECT_EQ(empty, emptyPlain);
}
