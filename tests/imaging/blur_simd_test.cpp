// The fast blur and the fused blur-and-blend against their plain forms.
#include <gtest/gtest.h>

#include <random>

#include "imaging/blur.h"
#include "imaging/overlay.h"
#include "support/fast_paths.h"
#include "support/pictures.h"
#include "support/random_pictures.h"

namespace {

TBitmap BlurPlain(const TBitmap& picture, int zone) {
  TBitmap b = picture;
  GaussianBlurPlain(b, zone);
  return b;
}

}  // namespace

// Catches: a tap order or count that differs from the plain loop, a wrong
// count at the picture's edges, a quotient rounded the wrong way at a tie,
// rows of a band boundary taken from the wrong ring slot.
TEST(GaussianBlurFast, MatchesPlainOnRandomPicturesAtEveryZone) {
  std::mt19937 rng(2024);
  const int perZone = CaseCount(40);
  int cases = 0;
  for (int zone = 1; zone <= 30; ++zone) {
    for (int i = 0; i < perZone; ++i, ++cases) {
      const int w = RandomSide(rng, 300), h = RandomSide(rng, 200);
      const TBitmap picture = RandomKindPicture(w, h, rng);
      const TBitmap want = BlurPlain(picture, zone);
      std::string failed;
      ASSERT_TRUE(SameUnderEveryVariant(
          want,
          [&] {
            TBitmap b = picture;
            b.ScanLine(0);  // its own pixels: the blur runs in place
            GaussianBlurFast(b, zone);
            return b;
          },
          failed, cases))
          << w << " x " << h << " zone " << zone << " on " << failed;
    }
  }
  RecordProperty("cases", cases);
}

// Tall pictures split into several bands, so rows near band boundaries come
// from the rows shared between bands.
TEST(GaussianBlurFast, BandsOfTallPicturesMeetExactly) {
  std::mt19937 rng(5);
  for (int zone : {1, 4, 11, 30}) {
    const TBitmap picture = RandomKindPicture(37, 1200, rng);
    const TBitmap want = BlurPlain(picture, zone);
    for (int threads : {2, 3, 7, 16}) {
      const ThreadsScope scope(threads);
      TBitmap b = picture;
      GaussianBlurFast(b, zone);
      EXPECT_TRUE(b == want) << "zone " << zone << " threads " << threads;
    }
  }
}

// A blurred copy of a shared picture leaves the other holders untouched.
TEST(GaussianBlurFast, SharedPictureStaysWithItsOtherHolders) {
  std::mt19937 rng(8);
  const TBitmap picture = RandomKindPicture(50, 40, rng);
  TBitmap copy = picture;
  ASSERT_TRUE(copy.SharesPixels());
  ASSERT_TRUE(GaussianBlurFast(copy, 3));
  EXPECT_TRUE(copy == BlurPlain(picture, 3));
  EXPECT_FALSE(copy == picture);
}

TEST(GaussianBlurFast, RefusesLikeThePlainForm) {
  TBitmap pic = RandomPicture(6, 6, 11);
  const TBitmap before = pic;
  EXPECT_FALSE(GaussianBlurFast(pic, 0));
  EXPECT_FALSE(GaussianBlurFast(pic, 31));
  EXPECT_EQ(pic, before);
  TBitmap mask = GreyMask(4, 4, [](int x, int y) { return x * y; });
  EXPECT_FALSE(GaussianBlurFast(mask, 3));
  TBitmap empty(0, 7, pf24bit);
  EXPECT_TRUE(GaussianBlurFast(empty, 5));
}

// Catches: a blend constant off by one, mask bytes taken for the wrong
// pixel, skipped work under mask 0 that writes anything but the sharp
// pixel, the last partial vector of a row read past its end.
TEST(BlurredOverlayFast, MatchesTheBlurThenTheOverlay) {
  std::mt19937 rng(77);
  const int count = CaseCount(400);
  for (int i = 0; i < count; ++i) {
    const int w = RandomSide(rng, 300), h = RandomSide(rng, 200);
    const int zone = int(rng() % 32);  // 0 and 31 are refused: the result is the sharp picture
    const TBitmap picture = RandomKindPicture(w, h, rng);
    // Now and then a mask larger than the picture, as MaskedOverlay allows.
    const TBitmap mask = RandomMask(w + (i % 5 == 0 ? 3 : 0), h + (i % 7 == 0 ? 2 : 0), rng);
    TBitmap want;
    BlurredOverlayPlain(want, picture, mask, zone);
    std::string failed;
    ASSERT_TRUE(SameUnderEveryVariant(
        want,
        [&] {
          TBitmap out;
          BlurredOverlayFast(out, picture, mask, zone);
          return out;
        },
        failed, i))
        << w << " x " << h << " zone " << zone << " on " << failed;
  }
}

TEST(BlurredOverlayFast, SmallMaskBlendsNothing) {
  const TBitmap picture = RandomPicture(20, 10, 3);
  const TBitmap mask = GreyMask(19, 10, [](int, int) { return 255; });
  TBitmap out;
  BlurredOverlayFast(out, picture, mask, 5);
  EXPECT_TRUE(out == picture);
}
