// The fast masked overlay against its plain form.
#include <gtest/gtest.h>

#include <random>

#include "imaging/overlay.h"
#include "support/fast_paths.h"
#include "support/pictures.h"
#include "support/random_pictures.h"

// Every (destination, source, weight) triple: a picture whose pixel (p, q)
// holds p and a source whose pixel holds q, blended with each weight.
// Catches a wrong rounding constant or a division that is off for some
// numerators (the vector form divides by multiplying).
TEST(MaskedOverlayFast, EveryByteTripleBlendsLikeThePlainForm) {
  const TBitmap dst = MakePicture(256, 256, [](int x, int y) { return Rgb{x, y, 255 - x}; });
  const TBitmap src = MakePicture(256, 256, [](int x, int y) { return Rgb{y, x, (x + y) & 255}; });
  const int step = CaseCount(256) == 256 ? 1 : 17;
  for (int a = 0; a < 256; a += step) {
    const TBitmap mask = GreyMask(256, 256, [a](int, int) { return a; });
    TBitmap want = dst, got = dst;
    MaskedOverlayPlain(want, src, mask, 0, 0);
    MaskedOverlayFast(got, src, mask, 0, 0);
    ASSERT_TRUE(got == want) << "weight " << a;
  }
}

// Catches: offsets applied to the wrong side, source pixels left of or
// above the destination read or written, the blended area computed from
// the mask instead of the source.
TEST(MaskedOverlayFast, MatchesPlainForRandomSizesAndOffsets) {
  std::mt19937 rng(31);
  const int count = CaseCount(1500);
  for (int i = 0; i < count; ++i) {
    const int dw = RandomSide(rng, 300), dh = RandomSide(rng, 200);
    const int sw = RandomSide(rng, 300), sh = RandomSide(rng, 200);
    const int dx = int(rng() % 401) - 200, dy = int(rng() % 301) - 150;
    const TBitmap dst = RandomKindPicture(dw, dh, rng);
    const TBitmap src = RandomKindPicture(sw, sh, rng);
    const TBitmap mask = RandomMask(sw + int(rng() % 3) - (i % 11 == 0 ? 1 : 0), sh + int(rng() % 2), rng);
    TBitmap want = dst;
    MaskedOverlayPlain(want, src, mask, dx, dy);
    std::string failed;
    ASSERT_TRUE(SameUnderEveryVariant(
        want,
        [&] {
          TBitmap got = dst;
          MaskedOverlayFast(got, src, mask, dx, dy);
          return got;
        },
        failed, i))
        << dw << "x" << dh << " <- " << sw << "x" << sh << " at " << dx << "," << dy << " on " << failed;
  }
}

TEST(MaskedOverlayFast, SharedDestinationCopiesBeforeWriting) {
  const TBitmap picture = SolidPicture(40, 3, {10, 20, 30});
  TBitmap dst = picture;
  const TBitmap src = SolidPicture(40, 3, {250, 250, 250});
  const TBitmap mask = GreyMask(40, 3, [](int, int) { return 255; });
  MaskedOverlayFast(dst, src, mask, 0, 0);
  EXPECT_EQ(PixelAt(dst, 39, 2), (Rgb{250, 250, 250}));
  EXPECT_EQ(PixelAt(picture, 39, 2), (Rgb{10, 20, 30}));
}
