// Debug builds check every accessor call against the picture's bounds: the
// rows share one buffer, so a read one pixel past a row's end lands in the
// next row (or its padding) where no sanitizer sees it. The sweep tests of
// the toolkit rely on this to catch reads outside the picture.
#include <gtest/gtest.h>

#include "imaging/pixel_access.h"
#include "support/pictures.h"

#ifndef NDEBUG
TEST(BoundsAssertionDeathTest, AccessorsRefusePixelsOutsideThePicture) {
  TBitmap picture = RandomPicture(5, 3, 1);
  TBitmap mask = GreyMask(4, 2, [](int x, int) { return x; });
  const TBmpData24 data(picture);
  const TBmpData8 grey(mask);
  EXPECT_DEATH(data.GetData(5, 0), "outside the picture");
  EXPECT_DEATH(data.GetData(-1, 1), "outside the picture");
  EXPECT_DEATH(data.GetData(0, 3), "outside the picture");
  EXPECT_DEATH(grey.GetData(4, 1), "outside the picture");
  EXPECT_DEATH(grey.GetData(0, -1), "outside the picture");
  EXPECT_DEATH(picture.ScanLine(3), "outside the bitmap");
  EXPECT_DEATH(picture.ScanLine(-1), "outside the bitmap");
  // The last pixel of every row is fine.
  EXPECT_EQ(data.GetData(4, 2), reinterpret_cast<TRGBTriple*>(picture.ScanLine(2)) + 4);
}
#else
TEST(BoundsAssertionDeathTest, AccessorsRefusePixelsOutsideThePicture) {
  GTEST_SKIP() << "bounds are asserted in debug builds (the sanitizer build)";
}
#endif
