// The lens blur's plain form, which defines the result, and the switch to
// the fast form in lens_blur_fast.cpp.
#include "imaging/lens_blur.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "imaging/simd.h"

namespace {

double Decode(double c) {
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

const std::array<double, 256>& LinearOfByte() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int i = 0; i < 256; ++i) t[std::size_t(i)] = Decode(i / 255.0);
    return t;
  }();
  return table;
}

const std::array<double, 255>& ByteThresholds() {
  static const std::array<double, 255> table = [] {
    std::array<double, 255> t{};
    for (int k = 1; k < 256; ++k) t[std::size_t(k - 1)] = Decode((k - 0.5) / 255.0);
    return t;
  }();
  return table;
}

int ByteOfLinear(double v) {
  const auto& t = ByteThresholds();
  return int(std::upper_bound(t.begin(), t.end(), v) - t.begin());
}

LensDiscRow LensDiscRowOf(double r, int dy) {
  const double e = std::sqrt(std::max(r * r - double(dy) * dy, 0.0));
  const int full = int(std::floor(e - 0.5));
  return {std::max(full, -1), std::clamp(r + 0.5 - std::abs(dy), 0.0, 1.0),
          std::clamp(e + 0.5 - (std::max(full, -1) + 1), 0.0, 1.0)};
}

void CheckLensInput(const TBitmap& src, const TLensBlurInput& input) {
  if (src.PixelFormat() != pf24bit) throw std::invalid_argument("the lens blur takes 24-bit pictures");
  const TBitmap* p = input.protect;
  if (p != nullptr &&
      (p->PixelFormat() != pf8bit || p->Width() != src.Width() || p->Height() != src.Height()))
    throw std::invalid_argument("the protect mask must be an 8-bit picture of the picture's size");
}

void LensBlurPlain(const TBitmap& src, const TLensBlurInput& input, TBitmap& dst) {
  CheckLensInput(src, input);
  const int w = src.Width(), h = src.Height();
  const auto& lin = LinearOfByte();
  // Each pixel's linear colour and weight (protection and bokeh).
  std::vector<double> colour(std::size_t(w) * h * 3), weight(std::size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* s = src.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const std::size_t i = std::size_t(y) * w + x;
      double m = 0;
      for (int c = 0; c < 3; ++c) {
        colour[3 * i + c] = lin[s[3 * x + c]];
        m = std::max(m, colour[3 * i + c]);
      }
      const double t = std::clamp((m - kLensBokehThreshold) / (1 - kLensBokehThreshold), 0.0, 1.0);
      const double keep = input.protect ? (255 - input.protect->ScanLine(y)[x]) / 255.0 : 1.0;
      weight[i] = keep * (1 + input.bokeh / 100.0 * kLensBokehGain * t * t);
    }
  }
  TBitmap out(w, h, pf24bit);
  std::vector<float> radius(std::size_t(std::max(w, 0)));
  for (int y = 0; y < h; ++y) {
    input.radius(y, radius.data());
    const std::uint8_t* s = src.ScanLine(y);
    std::uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const double keep = input.protect ? (255 - input.protect->ScanLine(y)[x]) / 255.0 : 1.0;
      const double r = double(radius[std::size_t(x)]) * keep;
      std::copy(s + 3 * x, s + 3 * x + 3, d + 3 * x);
      if (!(r > 0)) continue;
      const int n = int(std::ceil(r + 0.5));
      double sum[3] = {0, 0, 0}, total = 0;
      for (int qy = std::max(0, y - n); qy <= std::min(h - 1, y + n); ++qy) {
        const int dy = qy - y;
        const double e = std::sqrt(std::max(r * r - double(dy) * dy, 0.0));
        const double rowWeight = std::clamp(r + 0.5 - std::abs(dy), 0.0, 1.0);
        for (int qx = std::max(0, x - n); qx <= std::min(w - 1, x + n); ++qx) {
          const double disc = rowWeight * std::clamp(e + 0.5 - std::abs(qx - x), 0.0, 1.0);
          const std::size_t i = std::size_t(qy) * w + qx;
          const double k = disc * weight[i];
          if (k == 0) continue;
          for (int c = 0; c < 3; ++c) sum[c] += k * colour[3 * i + c];
          total += k;
        }
      }
      if (total > 0)
        for (int c = 0; c < 3; ++c) d[3 * x + c] = std::uint8_t(ByteOfLinear(sum[c] / total));
    }
  }
  dst = std::move(out);
}

void LensBlur(const TBitmap& src, const TLensBlurInput& input, TBitmap& dst) {
  if (PlainPaths())
    LensBlurPlain(src, input, dst);
  else
    LensBlurFast(src, input, dst);
}
