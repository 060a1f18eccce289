#include "engine/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/focus_mask.h"
#include "imaging/overlay.h"
#include "imaging/parallel.h"
#include "imaging/tone.h"

bool ToneApplied(const MiniatureEngine& engine, const TLook& look) {
  const RECEFFECT& e = engine.Effect();
  if (!e.Applied) return look.saturation == 0 && look.contrast == 0 && look.brightness == 0;
  return e.Saturation == look.saturation && e.Contrast == look.contrast && e.Brightness == look.brightness;
}

void ApplyLook(MiniatureEngine& engine, const TLook& look) {
  if (!ToneApplied(engine, look)) engine.ApplyTone(look.saturation, look.contrast, look.brightness);
  engine.ApplyMiniature(look.point, look.focus, look.blur);
}

TBitmap ShrinkPicture(const TBitmap& src, int width, int height) {
  const int sw = src.Width(), sh = src.Height();
  width = std::clamp(width, 1, std::max(1, sw));
  height = std::clamp(height, 1, std::max(1, sh));
  if (width == sw && height == sh) return src;
  TBitmap out = TBitmap::ForOverwrite(width, height, pf24bit);
  // Output column x covers source columns first[x] .. first[x + 1] - 1.
  std::vector<int> first(width + 1);
  for (int x = 0; x <= width; ++x) first[x] = int(std::int64_t(x) * sw / width);
  ParallelRows(height, 8, [&](int y0, int y1) {
    std::vector<std::uint64_t> sum(std::size_t(width) * 3);
    for (int y = y0; y < y1; ++y) {
      const int r0 = int(std::int64_t(y) * sh / height), r1 = int(std::int64_t(y + 1) * sh / height);
      std::fill(sum.begin(), sum.end(), 0);
      for (int r = r0; r < r1; ++r) {
        const std::uint8_t* row = src.ScanLine(r);
        for (int x = 0; x < width; ++x) {
          std::uint64_t b = 0, g = 0, red = 0;
          for (int sx = first[x]; sx < first[x + 1]; ++sx) {
            b += row[3 * sx];
            g += row[3 * sx + 1];
            red += row[3 * sx + 2];
          }
          sum[3 * x] += b;
          sum[3 * x + 1] += g;
          sum[3 * x + 2] += red;
        }
      }
      std::uint8_t* d = out.ScanLine(y);
      for (int x = 0; x < width; ++x) {
        const std::uint64_t n = std::uint64_t(first[x + 1] - first[x]) * (r1 - r0);
        for (int c = 0; c < 3; ++c) d[3 * x + c] = std::uint8_t((sum[3 * x + c] + n / 2) / n);
      }
    }
  });
  return out;
}

namespace {

// Weights in 1/256 that add up to exactly 256: a sum of weighted bytes
// then fits 16 bits, twice as many lanes as 32-bit sums.
constexpr int kOne = 1 << 8;

// acc[i] += weight * (a[i] + b[i]): the inner loop of both filter
// directions, over contiguous bytes so that it compiles to vector code.
void Accumulate(std::uint16_t* __restrict acc, const std::uint8_t* __restrict a,
                const std::uint8_t* __restrict b, std::uint16_t weight, int n) {
  for (int i = 0; i < n; ++i) acc[i] = std::uint16_t(acc[i] + weight * std::uint16_t(a[i] + b[i]));
}

void Store(std::uint8_t* __restrict d, const std::uint16_t* __restrict acc, int n) {
  for (int i = 0; i < n; ++i) d[i] = std::uint8_t((acc[i] + kOne / 2) >> 8);
}

// One pass of a symmetric filter of radius r along the rows (horizontal)
// or the columns, from `src` into `dst`, edges extended. A row is first
// copied with r pixels repeated at each end, so that both directions are
// the same loop over bytes.
void FilterPass(const TBitmap& src, TBitmap& dst, const std::vector<int>& weights, bool horizontal) {
  const int w = src.Width(), h = src.Height(), r = int(weights.size()) - 1, n = 3 * w;
  dst.ScanLine(0);  // pixels shared with another bitmap are copied here, not on the threads
  ParallelRows(h, 16, [&](int y0, int y1) {
    std::vector<std::uint16_t> acc(n);
    std::vector<std::uint8_t> padded(horizontal ? std::size_t(n + 6 * r) : 0);
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* s = src.ScanLine(y);
      if (horizontal) {
        std::copy(s, s + n, padded.begin() + 3 * r);
        for (int k = 0; k < r; ++k) {
          std::copy(s, s + 3, padded.begin() + 3 * k);
          std::copy(s + n - 3, s + n, padded.begin() + 3 * (r + w + k));
        }
      }
      for (int i = 0; i < n; ++i) acc[i] = std::uint16_t(weights[0] * s[i]);
      for (int k = 1; k <= r; ++k) {
        const std::uint8_t* before =
            horizontal ? padded.data() + 3 * (r - k) : src.ScanLine(std::max(y - k, 0));
        const std::uint8_t* after =
            horizontal ? padded.data() + 3 * (r + k) : src.ScanLine(std::min(y + k, h - 1));
        Accumulate(acc.data(), before, after, std::uint16_t(weights[k]), n);
      }
      Store(dst.ScanLine(y), acc.data(), n);
    }
  });
}

// The halves of a normalised Gaussian of `sigma` cut at 3 sigma.
std::vector<int> GaussianHalf(double sigma) {
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

// One pass of a box of radius r, as running sums (a cost per pixel that
// does not grow with r), edges extended.
void BoxPass(const TBitmap& src, TBitmap& dst, int r, bool horizontal) {
  const int w = src.Width(), h = src.Height();
  const std::uint32_t n = 2 * r + 1, inverse = ((1u << 24) + n / 2) / n;
  const auto average = [&](std::uint32_t sum) {
    return std::uint8_t((sum * std::uint64_t(inverse) + (1u << 23)) >> 24);
  };
  dst.ScanLine(0);  // pixels shared with another bitmap are copied here, not on the threads
  ParallelRows(h, 16, [&](int y0, int y1) {
    if (horizontal) {
      for (int y = y0; y < y1; ++y) {
        const std::uint8_t* s = src.ScanLine(y);
        std::uint8_t* d = dst.ScanLine(y);
        for (int c = 0; c < 3; ++c) {
          const auto at = [&](int x) { return std::uint32_t(s[3 * std::clamp(x, 0, w - 1) + c]); };
          std::uint32_t sum = 0;
          for (int k = -r; k <= r; ++k) sum += at(k);
          for (int x = 0; x < w; ++x) {
            d[3 * x + c] = average(sum);
            sum += at(x + r + 1) - at(x - r);
          }
        }
      }
      return;
    }
    std::vector<std::uint32_t> sum(std::size_t(w) * 3, 0);
    const auto row = [&](int y) { return src.ScanLine(std::clamp(y, 0, h - 1)); };
    for (int k = -r; k <= r; ++k) {
      const std::uint8_t* s = row(y0 + k);
      for (int i = 0; i < 3 * w; ++i) sum[i] += s[i];
    }
    for (int y = y0; y < y1; ++y) {
      std::uint8_t* d = dst.ScanLine(y);
      const std::uint8_t *in = row(y + r + 1), *out = row(y - r);
      for (int i = 0; i < 3 * w; ++i) {
        d[i] = average(sum[i]);
        sum[i] += in[i] - out[i];
      }
    }
  });
}

}  // namespace

void CopyPixels(TBitmap& dst, const TBitmap& src) {
  if (!dst.Fits(src.Width(), src.Height(), src.PixelFormat()))
    dst = TBitmap::ForOverwrite(src.Width(), src.Height(), src.PixelFormat());
  for (int y = 0; y < src.Height(); ++y) std::memcpy(dst.ScanLine(y), src.ScanLine(y), src.RowBytes());
}

void PreviewBlur(TBitmap& bmp, double sigma, TBitmap* scratch) {
  if (!(sigma >= 0.2) || bmp.PixelFormat() != pf24bit || bmp.Width() == 0 || bmp.Height() == 0) return;
  TBitmap own;
  TBitmap& across = scratch != nullptr ? *scratch : own;
  if (!across.Fits(bmp.Width(), bmp.Height(), pf24bit))
    across = TBitmap::ForOverwrite(bmp.Width(), bmp.Height(), pf24bit);
  if (sigma <= 3) {
    const std::vector<int> weights = GaussianHalf(sigma);
    FilterPass(bmp, across, weights, true);
    FilterPass(across, bmp, weights, false);
    return;
  }
  // Three boxes whose variances add up to sigma^2: widths wl and wl + 2,
  // m of the first (the usual split for a box approximation).
  const double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
  int wl = int(ideal);
  if (wl % 2 == 0) --wl;
  const int m = int(std::lround((12 * sigma * sigma - 3.0 * wl * wl - 12.0 * wl - 9) / (-4.0 * wl - 4)));
  for (int i = 0; i < 3; ++i) {
    const int r = ((i < m ? wl : wl + 2) - 1) / 2;
    BoxPass(bmp, across, r, true);
    BoxPass(across, bmp, r, false);
  }
}

void MiniaturePreview::SetPicture(const TBitmap& picture, int width, int height) {
  source_ = ShrinkPicture(picture, width, height);
  scale_ = picture.Width() > 0 ? double(source_.Width()) / picture.Width() : 1;
  valid_ = false;
}

const TBitmap& MiniaturePreview::Render(const TLook& look) {
  const bool tone = !valid_ || look.saturation != last_.saturation || look.contrast != last_.contrast ||
                    look.brightness != last_.brightness;
  const bool blur = tone || look.blur != last_.blur;
  valid_ = false;
  // Each stage writes into the pixels it had at the last frame; the mask
  // is made again only when the band moves.
  if (tone) {
    CopyPixels(toned_, source_);
    AdjustTone(toned_, look.saturation, look.contrast, look.brightness);
  }
  if (blur) {
    CopyPixels(blurred_, toned_);
    PreviewBlur(blurred_, look.blur * scale_, &scratch_);
  }
  MaskGeometry geometry;
  const TBitmap& mask = masks_.Mask(source_.Width(), source_.Height(), look.point, look.focus, geometry);
  CopyPixels(result_, toned_);
  if (look.blur > 0) MaskedOverlay(result_, blurred_, mask, 0, 0);
  last_ = look;
  valid_ = true;
  return result_;
}
