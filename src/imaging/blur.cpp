// Gaussian blur: pf24bit only; zone 1..30, otherwise refused untouched.
//
// Edges: taps outside the picture are left out and the remaining weights
// renormalised by dividing by their sum (never repeated or mirrored).
// Rounding: weights and the four accumulators are 32-bit floats, rounded
// after every tap; each product and sum is formed in extended precision
// first. Between the passes every channel is rounded to a byte (AdjustByte),
// and the column pass reads those bytes.
//
// This file holds the plain, literal form, which defines the result, and
// the switch between it and the fast form in blur_simd.cpp.
#include "imaging/blur.h"

#include <cmath>
#include <cstdlib>

#include "imaging/overlay.h"
#include "imaging/pixel_access.h"
#include "imaging/simd.h"

std::vector<float> GaussianWeights(int zone) {
  const int range = 3 * zone;
  std::vector<float> gf(std::size_t(range) + 1);
  for (int i = 0; i <= range; ++i) {
    const Extended exponent = Extended(-(i * i)) / Extended(2 * zone * zone);
    gf[std::size_t(i)] = static_cast<float>(ExtExp(exponent));
  }
  return gf;
}

namespace {

struct Sums {
  float sr = 0, sg = 0, sb = 0, count = 0;

  void Add(const TRGBTriple& p, float g) {
    sr = static_cast<float>(Extended(sr) + Extended(p.rgbtRed) * Extended(g));
    sg = static_cast<float>(Extended(sg) + Extended(p.rgbtGreen) * Extended(g));
    sb = static_cast<float>(Extended(sb) + Extended(p.rgbtBlue) * Extended(g));
    count = static_cast<float>(Extended(count) + Extended(g));
  }

  void Store(TRGBTriple* out) const {
    out->rgbtBlue = AdjustByte(Extended(sb) / Extended(count));
    out->rgbtGreen = AdjustByte(Extended(sg) / Extended(count));
    out->rgbtRed = AdjustByte(Extended(sr) / Extended(count));
  }
};

// One pass along the rows (the row pass) or down the columns (the column
// pass), reading `src` and writing `dst`.
void Pass(const TBmpData24& src, const TBmpData24& dst, const std::vector<float>& gf, int range,
          bool alongRows) {
  const int w = src.Width(), h = src.Height();
  const int length = alongRows ? w : h;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int centre = alongRows ? x : y;
      Sums s;
      for (int i = centre - range; i <= centre + range; ++i) {
        if (i < 0 || i > length - 1) continue;
        s.Add(alongRows ? *src.GetData(i, y) : *src.GetData(x, i), gf[std::size_t(std::abs(i - centre))]);
      }
      s.Store(dst.GetData(x, y));
    }
  }
}

}  // namespace

bool GaussianBlurPlain(TBitmap& bmp, int zone) {
  if (bmp.PixelFormat() != pf24bit) return false;
  if (zone < kMinBlurZone || zone > kMaxBlurZone) return false;
  const int range = 3 * zone;
  const std::vector<float> gf = GaussianWeights(zone);
  TBitmap tmp = BmpClone(bmp);
  TBmpData24 pic(bmp);
  TBmpData24 mid(tmp);
  Pass(pic, mid, gf, range, true);
  Pass(mid, pic, gf, range, false);
  return true;
}

bool GaussianBlur(TBitmap& bmp, int zone) {
  return PlainPaths() ? GaussianBlurPlain(bmp, zone) : GaussianBlurFast(bmp, zone);
}

void BlurredOverlayPlain(TBitmap& dst, const TBitmap& sharp, const TBitmap& mask, int zone) {
  TBitmap blurred = BmpClone(sharp);
  dst = sharp;
  GaussianBlurPlain(blurred, zone);
  MaskedOverlayPlain(dst, blurred, mask, 0, 0);
}

void BlurredOverlay(TBitmap& dst, const TBitmap& sharp, const TBitmap& mask, int zone) {
  if (PlainPaths()) {
    BlurredOverlayPlain(dst, sharp, mask, zone);
  } else {
    BlurredOverlayFast(dst, sharp, mask, zone);
  }
}
