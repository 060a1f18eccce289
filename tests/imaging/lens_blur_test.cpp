#include "imaging/lens_blur.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "imaging/parallel.h"
#include "support/pictures.h"

namespace {

// Mean absolute difference and 99.9th percentile over every channel.
struct Difference {
  double mean = 0;
  int p999 = 0;
};

Difference Compare(const TBitmap& a, const TBitmap& b) {
  std::vector<int> d;
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (std::size_t i = 0; i < a.RowBytes(); ++i) {
      d.push_back(std::abs(int(a.ScanLine(y)[i]) - int(b.ScanLine(y)[i])));
      sum += d.back();
    }
  std::sort(d.begin(), d.end());
  return {sum / double(d.size()), d[std::size_t(double(d.size() - 1) * 0.999)]};
}

// Radii growing from 0 at the top row to `most` at three quarters down.
TLensBlurInput Ramp(const TBitmap& picture, float most, int bokeh, const TBitmap* protect = nullptr) {
  TLensBlurInput in;
  const int w = picture.Width(), h = picture.Height();
  in.radius = [=](int y, float* out) {
    std::fill(out, out + w, std::min(most, most * float(y) / (0.75f * float(h))));
  };
  in.maxRadius = most;
  in.bokeh = bokeh;
  in.protect = protect;
  return in;
}

TBitmap Lights(int w, int h) {
  TBitmap p = SolidPicture(w, h, {10, 10, 20});
  for (int i = 0; i * 29 + 10 < w; ++i)
    p.FillRect({i * 29 + 10, 20 + i * 7 % (h - 40), i * 29 + 11 + i % 3, 21 + i * 7 % (h - 40) + i % 3},
               0xffffff);
  return p;
}

TBitmap Lines(int w, int h) {
  return MakePicture(w, h, [](int x, int) { return x % 23 == 5 ? Rgb{255, 255, 255} : Rgb{40, 40, 40}; });
}

}  // namespace

// The fast form against the literal one: within half a level on average and
// 4 levels at the 99.9th percentile where discs are summed at the picture's
// resolution and on the pyramid, thin lines at full bokeh included. Sparse
// lights at full bokeh on the pyramid, where a shift of a disc's rim by a
// fraction of a pixel weighs most, stay within the wider bounds measured.
TEST(LensBlur, FastFormComesWithinTheToleranceOfThePlainForm) {
  const TBitmap protect =
      GreyMask(200, 150, [](int x, int y) { return x > 80 && x < 120 && y < 60 ? 255 : 0; });
  struct Case {
    const char* name;
    TBitmap picture;
    float most;
    int bokeh;
    bool protect;
    double mean;
    int p999;
  } cases[] = {
      {"gradient, full resolution", NoisyGradient(200, 150), 12, 40, false, 0.5, 4},
      {"lights, full resolution", Lights(200, 150), 12, 100, false, 0.5, 4},
      {"lines, full resolution", Lines(200, 150), 12, 100, false, 0.5, 4},
      {"protected, full resolution", NoisyGradient(200, 150), 12, 40, true, 0.5, 4},
      {"gradient, pyramid", NoisyGradient(200, 150), 36, 40, false, 0.5, 4},
      {"protected, pyramid", NoisyGradient(200, 150), 36, 40, true, 0.5, 4},
      {"lines, pyramid", Lines(200, 150), 36, 100, false, 0.5, 4},
      {"lights, pyramid", Lights(200, 150), 36, 100, false, 0.25, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TLensBlurInput in = Ramp(c.picture, c.most, c.bokeh, c.protect ? &protect : nullptr);
    TBitmap plain, fast;
    LensBlurPlain(c.picture, in, plain);
    LensBlurFast(c.picture, in, fast);
    const Difference d = Compare(plain, fast);
    EXPECT_LE(d.mean, c.mean);
    EXPECT_LE(d.p999, c.p999);
  }
}

TEST(LensBlur, SameBytesAtAnyThreadCountAndRadiusZeroKeepsThePixels) {
  const TBitmap picture = NoisyGradient(300, 220);
  const TLensBlurInput in = Ramp(picture, 40, 60);
  const int threads = ThreadCount();
  TBitmap one, other;
  SetThreadCount(1);
  LensBlurFast(picture, in, one);
  for (const int n : {2, 3}) {
    SetThreadCount(n);
    LensBlurFast(picture, in, other);
    EXPECT_TRUE(one == other) << n << " threads";
  }
  SetThreadCount(threads);
  // Rows kept from call to call give the same bytes, and are made again for
  // another bokeh or after Forget (here the picture changes in place).
  TLensRows rows;
  TBitmap kept, fresh;
  TBitmap changing = picture;
  for (int i = 0; i < 4; ++i) {  // made, kept, another bokeh, the picture changed
    TLensBlurInput other = in;
    other.bokeh = i == 2 ? 0 : 60;
    if (i == 3) changing.ScanLine(100)[40] ^= 0xff, rows.Forget();
    LensBlurFast(changing, other, kept, kLensFullRadius, &rows);
    LensBlurFast(changing, other, fresh);
    EXPECT_TRUE(kept == fresh) << i;
  }
  // The top row has radius 0 in both forms.
  TBitmap plain;
  LensBlurPlain(picture, in, plain);
  for (const TBitmap* out : {&one, &plain})
    EXPECT_TRUE(std::equal(picture.ScanLine(0), picture.ScanLine(0) + picture.RowBytes(), out->ScanLine(0)));
}

// Pictures smaller than a disc, with discs large enough for the pyramid:
// nothing is read outside them (the sanitised build checks), and the fast
// form stays near the plain one.
TEST(LensBlur, TinyPicturesWithLargeDiscs) {
  for (const auto& [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {5, 3}, {70, 2}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    const TBitmap picture = RandomPicture(w, h, std::uint32_t(w * 31 + h));
    TLensBlurInput in;
    in.radius = [w](int y, float* out) { std::fill(out, out + w, y % 2 ? 80.0f : 5.0f); };
    in.maxRadius = 80;
    in.bokeh = 100;
    TBitmap plain, fast;
    LensBlurPlain(picture, in, plain);
    LensBlurFast(picture, in, fast);
    EXPECT_LE(Compare(plain, fast).mean, 2.0);
  }
}

// Linear light: black and white halves averaged over a wide disc meet at
// the byte of half the light (188), not at the mean of the bytes (128).
TEST(LensBlur, AveragesInLinearLight) {
  const TBitmap picture = MakePicture(101, 9, [](int x, int) {
    return x <= 50 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
  });
  TLensBlurInput in;
  in.radius = [](int, float* out) { std::fill(out, out + 101, 30.0f); };
  in.maxRadius = 30;
  TBitmap plain;
  LensBlurPlain(picture, in, plain);
  // Pixel 50 sees as much white (51 .. 80) as black (20 .. 49) besides itself.
  const int v = PixelAt(plain, 50, 4).r;
  EXPECT_NEAR(v, 186, 4);
  EXPECT_EQ(ByteOfLinear(LinearOfByte()[137]), 137);
}
