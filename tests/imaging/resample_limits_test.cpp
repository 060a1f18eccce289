// Resampling never makes a working picture beyond the picture limits: such
// a picture could not be saved (or read back), so the size is refused.
#include <gtest/gtest.h>

#include "imaging/resample.h"
#include "imaging/size_limits.h"
#include "support/pictures.h"

TEST(BmpResize, RefusesSizesBeyondThePictureLimits) {
  TBitmap pic = RandomPicture(3, 2, 1);
  const TBitmap before = pic;
  const int side = int(kMaxPictureSide);
  for (const auto& size : {std::pair{side + 1, 1}, std::pair{1, side + 1}, std::pair{side, side}}) {
    EXPECT_FALSE(BmpResize(pic, size.first, size.second, rmNearest)) << size.first << "x" << size.second;
    EXPECT_EQ(pic, before);
  }
  // The widest row is fine.
  ASSERT_TRUE(BmpResize(pic, side, 1, rmNearest));
  EXPECT_EQ(pic.Width(), side);
}
