// The fast resampling against its plain form.
#include <gtest/gtest.h>

#include <random>

#include "imaging/resample.h"
#include "support/fast_paths.h"
#include "support/pictures.h"
#include "support/random_pictures.h"

// Every method, growing and shrinking (by exact factors of 2, where the
// two-level stripes put bilinear values exactly on halves, and by arbitrary
// ones). Catches: a doubt bound too small for the float sums, taps or
// weights taken for the wrong column, a row's last pixels left out.
TEST(BmpResizeFast, MatchesPlainForEveryMethodGrowingAndShrinking) {
  std::mt19937 rng(55);
  const int count = CaseCount(1800);
  for (int i = 0; i < count; ++i) {
    const TResizeMode mode = TResizeMode(i % 9);
    const int w = RandomSide(rng, 160), h = RandomSide(rng, 120);
    int rw = 0, rh = 0;
    switch ((i / 9) % 4) {
      case 0:
        rw = 2 * w, rh = 2 * h;
        break;
      case 1:
        rw = std::max(1, w / 2), rh = std::max(1, h / 2);
        break;
      case 2:
        rw = w, rh = h;
        break;
      default:
        rw = RandomSide(rng, 300), rh = RandomSide(rng, 200);
        break;
    }
    const TBitmap picture = RandomKindPicture(w, h, rng);
    TBitmap want = picture;
    ASSERT_TRUE(BmpResizePlain(want, rw, rh, mode));
    std::string failed;
    ASSERT_TRUE(SameUnderEveryVariant(
        want,
        [&] {
          TBitmap got = picture;
          BmpResizeFast(got, rw, rh, mode);
          return got;
        },
        failed, i))
        << w << "x" << h << " -> " << rw << "x" << rh << " mode " << int(mode) << " on " << failed;
  }
}

TEST(BmpResizeFast, BilinearHalfRoundsToEven) {
  TBitmap row = GreyRow({0, 253});
  ASSERT_TRUE(BmpResizeFast(row, 4, 1, rmBilinear));
  EXPECT_EQ(RedRow(row), (std::vector<int>{0, 126, 253, 253}));
}

TEST(BmpResizeFast, RefusesLikeThePlainForm) {
  TBitmap mask = GreyMask(3, 3, [](int x, int) { return x; });
  EXPECT_FALSE(BmpResizeFast(mask, 5, 5, rmBicubic));
  TBitmap pic = RandomPicture(4, 4, 1);
  const TBitmap before = pic;
  EXPECT_FALSE(BmpResizeFast(pic, 0, 5, rmBicubic));
  EXPECT_FALSE(BmpResizeFast(pic, 5, -1, rmLanczos));
  EXPECT_FALSE(BmpResizeFast(pic, 5, 5, TResizeMode(9)));
  EXPECT_EQ(pic, before);
}
