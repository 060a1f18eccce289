// The live preview's pieces against slow references written here: the
// reduced copy, the blur of any spread, the look applied as the two
// buttons would, and a frame against the exact result reduced.
#include "engine/preview.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "support/pictures.h"

namespace {

// Noise over a gradient: blur and band show plainly in it.
TBitmap Busy(int w, int h) {
  TBitmap noise = RandomPicture(w, h, 11);
  return MakePicture(w, h, [&](int x, int y) {
    const Rgb n = PixelAt(noise, x, y);
    return Rgb{n.r / 2 + x * 127 / w, n.g / 2 + y * 127 / h, n.b / 2 + 40};
  });
}

}  // namespace

TEST(Preview, ShrinkTakesTheRoundedMeanOfEachBlock) {
  const TBitmap src = RandomPicture(23, 17, 5);
  for (auto [w, h] : {std::pair{23, 17}, {7, 5}, {10, 9}, {1, 1}, {40, 40}}) {
    const TBitmap out = ShrinkPicture(src, w, h);
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

TEST(Preview, BlurFollowsAGaussianOfTheGivenSpread) {
  const int w = 101, h = 81;
  const TBitmap src = Busy(w, h);
  // Exact taps up to 3 pixels, box passes beyond (whose edges differ: each
  // pass extends the edge again, so they are compared inside 3 sigma from
  // it); below 0.2 nothing moves.
  for (auto [sigma, tolerance] : {std::pair{0.1, 0}, {0.7, 2}, {1.8, 2}, {3.0, 2}, {6.5, 3}}) {
    TBitmap got = src;
    PreviewBlur(got, sigma);
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

TEST(Preview, ApplyLookTonesOnlyWhenThePictureLacksTheSettings) {
  const TBitmap picture = Busy(90, 60);
  struct Case {
    bool applied;  // tone 40, 10, -5 applied before
    int saturation, contrast, brightness;
    bool toneStep;
  };
  for (const Case& c :
       {Case{false, 0, 0, 0, false}, Case{false, 40, 10, -5, true}, Case{true, 40, 10, -5, false},
        Case{true, 30, 10, -5, true}, Case{true, 0, 0, 0, true}}) {
    MiniatureEngine engine, expected;
    engine.LoadPicture(picture);
    expected.LoadPicture(picture);
    if (c.applied) {
      engine.ApplyTone(40, 10, -5);
      expected.ApplyTone(40, 10, -5);
    }
    TLook look;
    look.saturation = c.saturation, look.contrast = c.contrast, look.brightness = c.brightness;
    look.point = {70, 20};
    look.focus = {120, 80, 20, 60, BlurSlope::Wide};
    look.blur = 4;
    EXPECT_EQ(ToneApplied(engine, look), !c.toneStep);
    ApplyLook(engine, look);
    if (c.toneStep) expected.ApplyTone(c.saturation, c.contrast, c.brightness);
    expected.ApplyMiniature(look.point, look.focus, look.blur);
    EXPECT_EQ(engine.HistorySteps(), expected.HistorySteps());
    EXPECT_EQ(engine.TargetBMP(), expected.TargetBMP());
  }
}

TEST(Preview, FrameIsTheExactResultAtTheSizeOnScreen) {
  // A 600 x 400 picture in a 300 x 240 view: the frame is 300 x 200.
  const TBitmap picture = Busy(600, 400);
  MiniaturePreview preview;
  preview.SetPicture(picture, 300, 200);
  ASSERT_DOUBLE_EQ(preview.Scale(), 0.5);
  for (auto [x, y, angle, depth] : {std::tuple{150, 120, 0, 50}, {60, 200, 35, 20}, {250, 40, -80, 120}}) {
    TLook look;
    look.saturation = look.contrast = look.brightness = 0;  // toning noise before or after reducing differs
    look.point = {x, y};
    look.focus = {300, 240, angle, depth, BlurSlope::Medium};
    look.blur = 12;
    const auto exactReduced = [&](const TLook& l) {
      MiniatureEngine engine;
      engine.LoadPicture(picture);
      ApplyLook(engine, l);
      return ShrinkPicture(engine.TargetBMP(), 300, 200);
    };
    // Away from the picture's edges, which the two blurs extend differently.
    const auto meanDifference = [](const TBitmap& a, const TBitmap& b) {
      double diff = 0;
      for (int row = 20; row < 180; ++row)
        for (int i = 60; i < 840; ++i) diff += std::abs(a.ScanLine(row)[i] - b.ScanLine(row)[i]);
      return diff / (160 * 780);
    };
    const TBitmap frame = preview.Render(look);
    // The band in the same place, the blur of the same strength: what is
    // left is the order of reducing and blurring, well below what a band
    // 12 view pixels away or half the blur would make.
    const double own = meanDifference(frame, exactReduced(look));
    TLook moved = look, weaker = look;
    moved.point.X -= int(std::lround(12 * std::sin(angle * M_PI / 180)));
    moved.point.Y += int(std::lround(12 * std::cos(angle * M_PI / 180)));
    weaker.blur = 6;
    EXPECT_LT(own, 0.5) << x << "," << y << " angle " << angle;
    EXPECT_LT(own * 2, meanDifference(frame, exactReduced(moved))) << x << "," << y << " angle " << angle;
    EXPECT_LT(own * 2, meanDifference(frame, exactReduced(weaker))) << x << "," << y << " angle " << angle;
  }
}
