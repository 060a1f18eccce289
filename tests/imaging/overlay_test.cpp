#include "imaging/overlay.h"

#include <gtest/gtest.h>

#include "support/pictures.h"

namespace {

int BlendOne(int dst, int src, int weight) {
  TBitmap d = SolidPicture(1, 1, {dst, dst, dst});
  MaskedOverlay(d, SolidPicture(1, 1, {src, src, src}), GreyMask(1, 1, [&](int, int) { return weight; }), 0, 0);
  return PixelAt(d, 0, 0).g;
}

}  // namespace

TEST(MaskedOverlay, BlendsInProportionToTheMask) {
  const struct { int dst, src, weight, out; } cases[] = {
      {0, 255, 128, 128}, {255, 0, 128, 127}, {100, 200, 1, 100},
      {100, 200, 254, 200}, {100, 200, 0, 100}, {100, 200, 255, 200},
  };
  for (const auto& c : cases) EXPECT_EQ(BlendOne(c.dst, c.src, c.weight), c.out) << c.weight;
}

TEST(MaskedOverlay, OffsetsShiftTheBlendedArea) {
  // Each case: dstX, and the destination columns expected to take the
  // source (source column = destination column - dstX).
  const struct { int dstX, firstDst, lastDst; } cases[] = {{10, 10, 99}, {-10, 0, 89}, {0, 0, 99}};
  const TBitmap src = MakePicture(100, 2, [](int x, int) { return Rgb{x, 255, 0}; });
  const TBitmap mask = GreyMask(100, 2, [](int, int) { return 255; });
  for (const auto& c : cases) {
    TBitmap dst = SolidPicture(100, 2, {7, 7, 7});
    MaskedOverlay(dst, src, mask, c.dstX, 0);
    for (int x = 0; x < 100; ++x) {
      const Rgb want = (x >= c.firstDst && x <= c.lastDst) ? Rgb{x - c.dstX, 255, 0} : Rgb{7, 7, 7};
      ASSERT_EQ(PixelAt(dst, x, 1), want) << "dstX " << c.dstX << " column " << x;
    }
  }
}

TEST(MaskedOverlay, LargerSourceBlendsOnlyItsTopLeftPart) {
  const TBitmap src = SolidPicture(8, 6, {50, 60, 70});
  TBitmap dst = SolidPicture(5, 4, {0, 0, 0});
  MaskedOverlay(dst, src, GreyMask(8, 6, [](int, int) { return 255; }), 0, 0);
  EXPECT_EQ(dst, SolidPicture(5, 4, {50, 60, 70}));
}

TEST(MaskedOverlay, DoesNothingForSmallMaskEmptyAreaOrWrongFormats) {
  const TBitmap src = SolidPicture(10, 4, {255, 255, 255});
  const TBitmap before = SolidPicture(10, 4, {0, 0, 0});
  TBitmap dst = before;
  // A mask one pixel narrower than src, even though the area is narrower still.
  MaskedOverlay(dst, src, GreyMask(9, 4, [](int, int) { return 255; }), 5, 0);
  EXPECT_EQ(dst, before);
  const TBitmap fullMask = GreyMask(10, 4, [](int, int) { return 255; });
  MaskedOverlay(dst, src, fullMask, 10, 0);
  MaskedOverlay(dst, src, fullMask, 0, -4);
  EXPECT_EQ(dst, before);
  TBitmap mask24 = SolidPicture(10, 4, {255, 255, 255});
  MaskedOverlay(dst, src, mask24, 0, 0);
  EXPECT_EQ(dst, before);
  TBitmap empty(0, 0, pf24bit);
  MaskedOverlay(empty, src, fullMask, 0, 0);
  MaskedOverlay(dst, TBitmap(0, 0, pf24bit), TBitmap(0, 0, pf8bit), 0, 0);
  EXPECT_EQ(dst, before);
}
