// The quick blur: its taps and boxes, the plain passes that define its
// bytes, and the switch to the fast passes in quick_blur_simd.cpp.
#include "imaging/quick_blur.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "imaging/simd.h"

namespace {

constexpr int kOne = 1 << 8;  // the taps' unit

// Byte c of pixel x of row y, edges extended.
int At(const TBitmap& src, int x, int y, int c) {
  return src.ScanLine(std::clamp(y, 0, src.Height() - 1))[3 * std::clamp(x, 0, src.Width() - 1) + c];
}

}  // namespace

std::vector<int> QuickBlurTaps(double sigma) {
  const int r = std::max(1, int(std::ceil(3 * sigma)));
  std::vector<double> g(r + 1);
  double total = 0;
  for (int k = 0; k <= r; ++k) total += (k ? 2 : 1) * (g[k] = std::exp(-k * k / (2 * sigma * sigma)));
  std::vector<int> weights(r + 1);
  int sum = 0;
  for (int k = 0; k <= r; ++k) sum += (k ? 2 : 1) * (weights[k] = int(std::lround(g[k] / total * kOne)));
  weights[0] += kOne - sum;
  return weights;
}

std::array<int, 3> QuickBlurBoxRadii(double sigma) {
  const double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
  int wl = int(ideal);
  if (wl % 2 == 0) --wl;
  const int m = int(std::lround((12 * sigma * sigma - 3.0 * wl * wl - 12.0 * wl - 9) / (-4.0 * wl - 4)));
  std::array<int, 3> radii{};
  for (int i = 0; i < 3; ++i) radii[i] = ((i < m ? wl : wl + 2) - 1) / 2;
  return radii;
}

void TapPassPlain(const TBitmap& src, TBitmap& dst, const std::vector<int>& weights, bool horizontal) {
  const int dx = horizontal ? 1 : 0, dy = horizontal ? 0 : 1;
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x)
      for (int c = 0; c < 3; ++c) {
        int acc = weights[0] * At(src, x, y, c);
        for (int k = 1; k < int(weights.size()); ++k)
          acc += weights[k] * (At(src, x - k * dx, y - k * dy, c) + At(src, x + k * dx, y + k * dy, c));
        dst.ScanLine(y)[3 * x + c] = std::uint8_t((acc + kOne / 2) >> 8);
      }
}

void BoxPassPlain(const TBitmap& src, TBitmap& dst, int r, bool horizontal) {
  const std::uint32_t n = 2 * r + 1, inverse = ((1u << 24) + n / 2) / n;
  const int dx = horizontal ? 1 : 0, dy = horizontal ? 0 : 1;
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x)
      for (int c = 0; c < 3; ++c) {
        std::uint32_t sum = 0;
        for (int k = -r; k <= r; ++k) sum += At(src, x + k * dx, y + k * dy, c);
        dst.ScanLine(y)[3 * x + c] = std::uint8_t((sum * std::uint64_t(inverse) + (1u << 23)) >> 24);
      }
}

void QuickGaussianBlur(TBitmap& bmp, double sigma, TBitmap* scratch) {
  if (!(sigma >= 0.2) || bmp.PixelFormat() != pf24bit || bmp.Width() == 0 || bmp.Height() == 0) return;
  TBitmap own;
  TBitmap& across = scratch != nullptr ? *scratch : own;
  if (!across.Fits(bmp.Width(), bmp.Height(), pf24bit))
    across = TBitmap::ForOverwrite(bmp.Width(), bmp.Height(), pf24bit);
  const bool plain = PlainPaths();
  if (sigma <= 3) {
    const std::vector<int> weights = QuickBlurTaps(sigma);
    const auto pass = plain ? TapPassPlain : TapPassFast;
    pass(bmp, across, weights, true);
    pass(across, bmp, weights, false);
    return;
  }
  const auto pass = plain ? BoxPassPlain : BoxPassFast;
  for (const int r : QuickBlurBoxRadii(sigma)) {
    pass(bmp, across, r, true);
    pass(across, bmp, r, false);
  }
}
