// The toolkit's quick routines for pictures shown at once: the area
// reduction and the quick blur, against slow references written here, and
// their fast forms against their plain forms byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <tuple>

#include "imaging/quick_blur.h"
#include "imaging/shrink.h"
#include "support/fast_paths.h"
#include "support/pictures.h"
#include "support/random_pictures.h"

// Catches a block boundary off by one, a sum rounded down instead of half
// up, and a picture enlarged; each form against sums written here.
TEST(ShrinkPicture, TakesTheRoundedMeanOfEachBlock) {
  const TBitmap src = RandomPicture(23, 17, 5);
  using Shrink = TBitmap (*)(const TBitmap&, int, int);
  const Shrink plain = ShrinkPicturePlain, fast = ShrinkPictureFast;
  for (auto [w, h, shrink] : {std::tuple{23, 17, plain},
                              {7, 5, plain},
                              {10, 9, plain},
                              {1, 1, plain},
                              {40, 40, plain},
                              {7, 5, fast},
                              {10, 9, fast},
                              {40, 40, fast}}) {
    const TBitmap out = shrink(src, w, h);
    const int ow = std::min(w, 23), oh = std::min(h, 17);  // never larger than the picture
    ASSERT_EQ(out.Width(), ow);
    ASSERT_EQ(out.Height(), oh);
    for (int y = 0; y < oh; ++y)
      for (int x = 0; x < ow; ++x) {
        int sum[3] = {}, n = 0;
        for (int sy = y * 17 / oh; sy < (y + 1) * 17 / oh; ++sy)
          for (int sx = x * 23 / ow; sx < (x + 1) * 23 / ow; ++sx, ++n) {
            const Rgb c = PixelAt(src, sx, sy);
            sum[0] += c.r, sum[1] += c.g, sum[2] += c.b;
          }
        const Rgb got = PixelAt(out, x, y);
        ASSERT_EQ(got.r, (sum[0] + n / 2) / n) << w << "x" << h << " at " << x << "," << y;
        ASSERT_EQ(got.g, (sum[1] + n / 2) / n);
        ASSERT_EQ(got.b, (sum[2] + n / 2) / n);
      }
  }
}

// The taps and the box split: the plain form against a Gaussian in
// doubles. Catches wrong weights, a wrong box split and edges not extended.
TEST(QuickGaussianBlur, FollowsAGaussianOfTheGivenSpread) {
  const int w = 101, h = 81;
  const TBitmap src = NoisyGradient(w, h);
  // Exact taps up to 3 pixels, box passes beyond (whose edges differ: each
  // pass extends the edge again, so they are compared inside 3 sigma from
  // it); below 0.2 nothing moves.
  for (auto [sigma, tolerance] : {std::pair{0.1, 0}, {0.7, 2}, {1.8, 2}, {3.0, 2}, {6.5, 3}}) {
    TBitmap got = src;
    SetPlainPaths(true);
    QuickGaussianBlur(got, sigma);
    SetPlainPaths(false);
    // The reference: a Gaussian in doubles, edges extended, rows then columns.
    const int r = int(std::ceil(4 * sigma));
    std::vector<double> weight(2 * r + 1);
    double total = 0;
    for (int k = -r; k <= r; ++k) total += weight[k + r] = std::exp(-k * k / (2 * sigma * sigma));
    const auto at = [](int v, int n) { return std::clamp(v, 0, n - 1); };
    std::vector<double> across(w * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          double v = 0;
          for (int k = -r; k <= r; ++k) v += weight[k + r] * src.ScanLine(y)[3 * at(x + k, w) + c];
          across[(y * w + x) * 3 + c] = v / total;
        }
    int worst = 0;
    const int edge = sigma > 3 ? int(3 * sigma) : 0;
    for (int y = edge; y < h - edge; ++y)
      for (int x = edge; x < w - edge; ++x)
        for (int c = 0; c < 3; ++c) {
          double v = 0;
          for (int k = -r; k <= r; ++k) v += weight[k + r] * across[(at(y + k, h) * w + x) * 3 + c];
          worst = std::max(worst, std::abs(int(std::lround(v / total)) - got.ScanLine(y)[3 * x + c]));
        }
    EXPECT_LE(worst, tolerance) << "sigma " << sigma;
  }
}

// Awkward sizes (a row shorter than the taps, odd widths), spreads on both
// sides of the switch to boxes, and reductions to every kind of block and
// to half the size: catches a fast pass that pads, sums or divides
// differently, or a band of rows that reads past its neighbours.
TEST(QuickRoutinesFast, GiveThePlainBytes) {
  std::mt19937 rng(7);
  const int count = CaseCount(120);
  for (int i = 0; i < count; ++i) {
    const int w = RandomSide(rng, 90), h = RandomSide(rng, 70);
    const TBitmap src = RandomKindPicture(w, h, rng);
    const double sigma = 0.15 + (rng() % 100) * 0.09;
    TBitmap want = src;
    SetPlainPaths(true);
    QuickGaussianBlur(want, sigma);
    SetPlainPaths(false);
    std::string failed;
    ASSERT_TRUE(SameUnderEveryVariant(
        want,
        [&] {
          TBitmap got = src;
          QuickGaussianBlur(got, sigma);
          return got;
        },
        failed, i, ThreadVariants()))
        << w << "x" << h << " sigma " << sigma << " " << failed;
    // Any size, and a halving (odd sides included), which has a path of its own.
    for (auto [sw, sh] :
         {std::pair{1 + int(rng() % unsigned(w)), 1 + int(rng() % unsigned(h))}, {w / 2, h / 2}})
      ASSERT_TRUE(SameUnderEveryVariant(
          ShrinkPicturePlain(src, sw, sh), [&] { return ShrinkPictureFast(src, sw, sh); }, failed, i,
          ThreadVariants()))
          << w << "x" << h << " to " << sw << "x" << sh << " " << failed;
  }
}
