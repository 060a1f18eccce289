// Resampling: pf24bit only; refuses an empty picture, a new width or height
// below 1 and an unknown mode, changing nothing.
//
// Destination pixel (ix, iy) maps to the source point xx = ix * (w / rwidth),
// yy = iy * (h / rheight) in extended precision; its base pixel (x, y) is
// that point truncated. Nearest rounds the point half to even (lowered to
// the last column or row); bilinear blends the 2 x 2 pixels from the base.
// The other methods weigh a window of taps (2 x 2 from the base for
// Hermite, 4 x 4 from base - 1 for the rest) by K(dx) * K(dy), dx and dy the
// distances of the tap from the point; weights are not normalised. The
// B-spline weights come from differences of cubes. A destination column's
// taps and weights are the same on every row, so they are worked out once
// per column and once per row.
// Edges: a tap column outside the picture reads the base column x, a tap
// row outside reads the base row y (not the nearest edge).
// Rounding: all weights, products and sums are extended precision; each
// channel is clamped and rounded half to even into a byte only at the end.
//
// This file holds the plain, literal form, which defines the result, and
// the switch between it and the fast form in resample_simd.cpp.
#include "imaging/resample.h"

#include <cmath>
#include <vector>

#include "imaging/pixel_access.h"
#include "imaging/resample_taps.h"
#include "imaging/simd.h"

namespace {

constexpr Extended kHalfPi = kPi / 2;
constexpr Extended kHalfPiSquared = kPi * kPi / 2;
constexpr Extended kEightNinths = Extended(8) / 9;
constexpr Extended kSixteenNinths = Extended(16) / 9;

// Weight functions of the window methods, for a distance d >= 0.

Extended Bicubic(Extended d) {
  if (d < 1) return (d - 1) * (d * d - d - 1);
  return (1 - d) * ((d - 2) * (d - 2));
}

Extended Hermite(Extended d) {
  return (2 * d - 3) * (d * d) + 1;
}

Extended Mitchell(Extended d) {
  if (d < 1) return 7 * d * d * d / 6 - 2 * d * d + kEightNinths;
  return 2 * d * d - 10 * d / 3 - 7 * d * d * d / 18 + kSixteenNinths;
}

Extended Bell(Extended d) {
  if (d < 0.5L) return 0.75L - d * d;
  if (d < 1.5L) return 0.5L * ((d - 1.5L) * (d - 1.5L));
  return 0;
}

Extended Lanczos(Extended d) {
  if (d == 0) return 1;
  return ExtSin(kPi * d) * ExtSin(kHalfPi * d) / (kHalfPiSquared * (d * d));
}

Extended Lagrange(Extended d) {
  if (d < 1) return (d - 2) * 0.5L * (d + 1) * (d - 1);
  return (3 - d) * (d - 2) * (d - 1) / 6;
}

using WeightFunction = Extended (*)(Extended);

WeightFunction WeightOf(TResizeMode mode) {
  switch (mode) {
    case rmBicubic:
      return Bicubic;
    case rmHermite:
      return Hermite;
    case rmMitchell:
      return Mitchell;
    case rmBell:
      return Bell;
    case rmLanczos:
      return Lanczos;
    case rmLagrange:
      return Lagrange;
    default:
      return nullptr;
  }
}

// Cubic B-spline weights of the taps at offsets -1, 0, 1, 2 from the base,
// in the difference form. The column weights (RX) come from the cubes
// (k - t)^3 / 6, the row weights (RY) from the cubes (t + k)^3 / 6.
void BSplineWeights(Extended t, bool columns, Extended* r) {
  if (columns) {
    Extended dxn[5];
    for (int k = 1; k <= 4; ++k) {
      const Extended v = k - t;
      dxn[k] = v * v * v / 6;
    }
    r[0] = dxn[1];
    r[1] = dxn[2] - 4 * dxn[1];
    r[2] = dxn[3] - 4 * dxn[2] + 6 * dxn[1];
    r[3] = dxn[4] - 4 * dxn[3] + 6 * dxn[2] - 4 * dxn[1];
  } else {
    Extended dyn[4];
    for (int k = 0; k <= 3; ++k) {
      const Extended v = t + k;
      dyn[k] = v * v * v / 6;
    }
    r[0] = dyn[3] - 4 * dyn[2] + 6 * dyn[1] - 4 * dyn[0];
    r[1] = dyn[2] - 4 * dyn[1] + 6 * dyn[0];
    r[2] = dyn[1] - 4 * dyn[0];
    r[3] = dyn[0];
  }
}

}  // namespace

std::vector<AxisTaps> Axis(int size, int count, TResizeMode mode, bool columns) {
  const Extended factor = Extended(size) / Extended(count);
  const WeightFunction k = WeightOf(mode);
  std::vector<AxisTaps> axis(std::size_t(count), AxisTaps{});
  for (int i = 0; i < count; ++i) {
    AxisTaps& a = axis[std::size_t(i)];
    const Extended pos = i * factor;  // always 0 <= pos < size
    const int base = int(pos);
    switch (mode) {
      case rmNearest: {
        const int nearest = int(RoundHalfEven(pos));
        a.index[0] = nearest > size - 1 ? size - 1 : nearest;
        break;
      }
      case rmBilinear:
        a.index[0] = base;
        a.index[1] = base + 1 > size - 1 ? base : base + 1;
        a.weight[1] = pos - base;
        a.weight[0] = 1 - a.weight[1];
        break;
      default: {
        // Hermite's window is base..base + 1, the others' base - 1..base + 2.
        const int first = mode == rmHermite ? base : base - 1;
        const int taps = mode == rmHermite ? 2 : 4;
        for (int t = 0; t < taps; ++t) {
          const int f = first + t;
          // Outside the picture the tap reads the base column (row) instead.
          a.index[t] = (f < 0 || f > size - 1) ? base : f;
          if (mode != rmBSpline) a.weight[t] = k(ExtAbs(pos - f));
        }
        if (mode == rmBSpline) BSplineWeights(pos - base, columns, a.weight);
        break;
      }
    }
  }
  return axis;
}

int TapCount(TResizeMode mode) {
  switch (mode) {
    case rmNearest:
      return 1;
    case rmBilinear:
    case rmHermite:
      return 2;
    default:
      return 4;
  }
}

namespace {

struct Channels {
  Extended r = 0, g = 0, b = 0;

  // sum = (value * wx) * wy + sum, per channel.
  void Add(const TRGBTriple& p, Extended wx, Extended wy) {
    r = (Extended(p.rgbtRed) * wx) * wy + r;
    g = (Extended(p.rgbtGreen) * wx) * wy + g;
    b = (Extended(p.rgbtBlue) * wx) * wy + b;
  }

  void Store(TRGBTriple* out) const {
    out->rgbtRed = AdjustByte(r);
    out->rgbtGreen = AdjustByte(g);
    out->rgbtBlue = AdjustByte(b);
  }
};

// Bilinear: blend along the row first (c1 from the upper pair, c2 from the
// lower one), then between the two rows.
std::uint8_t BlendChannel(std::uint8_t d00, std::uint8_t d10, std::uint8_t d01, std::uint8_t d11,
                          const AxisTaps& cx, const AxisTaps& cy) {
  const Extended c1 = d00 * cx.weight[0] + d10 * cx.weight[1];
  const Extended c2 = d01 * cx.weight[0] + d11 * cx.weight[1];
  return AdjustByte(c1 * cy.weight[0] + c2 * cy.weight[1]);
}

void Bilinear(const TBmpConstData24& src, const AxisTaps& cx, const AxisTaps& cy, TRGBTriple* out) {
  const TRGBTriple& d00 = *src.GetData(cx.index[0], cy.index[0]);
  const TRGBTriple& d10 = *src.GetData(cx.index[1], cy.index[0]);
  const TRGBTriple& d01 = *src.GetData(cx.index[0], cy.index[1]);
  const TRGBTriple& d11 = *src.GetData(cx.index[1], cy.index[1]);
  out->rgbtRed = BlendChannel(d00.rgbtRed, d10.rgbtRed, d01.rgbtRed, d11.rgbtRed, cx, cy);
  out->rgbtGreen = BlendChannel(d00.rgbtGreen, d10.rgbtGreen, d01.rgbtGreen, d11.rgbtGreen, cx, cy);
  out->rgbtBlue = BlendChannel(d00.rgbtBlue, d10.rgbtBlue, d01.rgbtBlue, d11.rgbtBlue, cx, cy);
}

// Window methods: rows outer, columns inner, both increasing.
void Window(const TBmpConstData24& src, const AxisTaps& cx, const AxisTaps& cy, int taps, TRGBTriple* out) {
  Channels sum;
  for (int j = 0; j < taps; ++j)
    for (int i = 0; i < taps; ++i)
      sum.Add(*src.GetData(cx.index[i], cy.index[j]), cx.weight[i], cy.weight[j]);
  sum.Store(out);
}

}  // namespace

void ResamplePixel(const TBmpConstData24& src, const AxisTaps& cx, const AxisTaps& cy, TResizeMode mode,
                   TRGBTriple* out) {
  switch (mode) {
    case rmNearest:
      *out = *src.GetData(cx.index[0], cy.index[0]);
      break;
    case rmBilinear:
      Bilinear(src, cx, cy, out);
      break;
    case rmHermite:
      Window(src, cx, cy, 2, out);
      break;
    default:
      Window(src, cx, cy, 4, out);
      break;
  }
}

std::uint8_t ResampleChannel(const TBmpConstData24& src, const AxisTaps& cx, const AxisTaps& cy,
                             TResizeMode mode, int channel) {
  // Channel 0 is blue, 1 green, 2 red: the byte order of a pixel.
  const auto at = [&](int x, int y) {
    return reinterpret_cast<const std::uint8_t*>(src.GetData(x, y))[channel];
  };
  switch (mode) {
    case rmNearest:
      return at(cx.index[0], cy.index[0]);
    case rmBilinear:
      return BlendChannel(at(cx.index[0], cy.index[0]), at(cx.index[1], cy.index[0]),
                          at(cx.index[0], cy.index[1]), at(cx.index[1], cy.index[1]), cx, cy);
    default: {
      // The same sum as Window's for this channel alone.
      const int taps = mode == rmHermite ? 2 : 4;
      Extended sum = 0;
      for (int j = 0; j < taps; ++j)
        for (int i = 0; i < taps; ++i)
          sum = (Extended(at(cx.index[i], cy.index[j])) * cx.weight[i]) * cy.weight[j] + sum;
      return AdjustByte(sum);
    }
  }
}

bool ResizeAccepted(const TBitmap& bmp, int rwidth, int rheight, TResizeMode mode) {
  if (bmp.PixelFormat() != pf24bit) return false;
  // An empty picture has nothing to sample, and a size below 1 leaves no
  // destination pixel: refuse both rather than read outside the picture.
  if (bmp.Width() < 1 || bmp.Height() < 1 || rwidth < 1 || rheight < 1) return false;
  return int(mode) >= int(rmNearest) && int(mode) <= int(rmLagrange);
}

bool BmpResizePlain(TBitmap& bmp, int rwidth, int rheight, TResizeMode mode) {
  if (!ResizeAccepted(bmp, rwidth, rheight, mode)) return false;
  // Every destination pixel is written below, so the new picture starts
  // empty rather than as a copy of the old one.
  TBitmap tmp(rwidth, rheight, pf24bit);
  const std::vector<AxisTaps> columns = Axis(bmp.Width(), rwidth, mode, true);
  const std::vector<AxisTaps> rows = Axis(bmp.Height(), rheight, mode, false);
  {
    const TBmpConstData24 src(bmp);
    const TBmpData24 dst(tmp);
    for (int iy = 0; iy < rheight; ++iy) {
      const AxisTaps& cy = rows[std::size_t(iy)];
      for (int ix = 0; ix < rwidth; ++ix)
        ResamplePixel(src, columns[std::size_t(ix)], cy, mode, dst.GetData(ix, iy));
    }
  }
  bmp.Assign(tmp);
  return true;
}

bool BmpResize(TBitmap& bmp, int rwidth, int rheight, TResizeMode mode) {
  return PlainPaths() ? BmpResizePlain(bmp, rwidth, rheight, mode)
                      : BmpResizeFast(bmp, rwidth, rheight, mode);
}
