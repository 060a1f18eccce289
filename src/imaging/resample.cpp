// Resampling: pf24bit only; refuses an empty picture, a new width or height
// below 1 and an unknown mode, changing nothing.
//
// Destination pixel (ix, iy) maps to the source point xx = ix * (w / rwidth),
// yy = iy * (h / rheight) in extended precision; its base pixel (x, y) is
// that point truncated. Nearest rounds the point half to even (lowered to
// the last column or row); bilinear blends the 2 x 2 pixels from the base.
// The other methods weigh a window of taps (2 x 2 from the base for
// Hermite, 4 x 4 from base - 1 for the rest) by K(dx) * K(dy), dx and dy the
// distances of the tap from the point; weights are not normalised.
// Edges: a tap column outside the picture reads the base column x, a tap
// row outside reads the base row y (not the nearest edge).
// Rounding: all weights, products and sums are extended precision; each
// channel is clamped and rounded half to even into a byte only at the end.
#include "imaging/resample.h"

#include <cmath>

#include "imaging/pixel_access.h"

namespace {

constexpr Extended kPi = 3.141592653589793238462643383279502884L;
constexpr Extended kHalfPi = kPi / 2;
constexpr Extended kHalfPiSquared = kPi * kPi / 2;
constexpr Extended kEightNinths = 8.0L / 9.0L;
constexpr Extended kSixteenNinths = 16.0L / 9.0L;

// Weight functions of the window methods, for a distance d >= 0.

Extended Bicubic(Extended d) {
  if (d < 1) return (d - 1) * (d * d - d - 1);
  return (1 - d) * ((d - 2) * (d - 2));
}

Extended Hermite(Extended d) { return (2 * d - 3) * (d * d) + 1; }

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
  return sinl(kPi * d) * sinl(kHalfPi * d) / (kHalfPiSquared * (d * d));
}

Extended Lagrange(Extended d) {
  if (d < 1) return (d - 2) * 0.5L * (d + 1) * (d - 1);
  return (3 - d) * (d - 2) * (d - 1) / 6;
}

using WeightFunction = Extended (*)(Extended);

WeightFunction WeightOf(TResizeMode mode) {
  switch (mode) {
    case rmBicubic: return Bicubic;
    case rmHermite: return Hermite;
    case rmMitchell: return Mitchell;
    case rmBell: return Bell;
    case rmLanczos: return Lanczos;
    case rmLagrange: return Lagrange;
    default: return nullptr;
  }
}

// The source picture and the point a destination pixel maps to.
struct Source {
  const TBmpData24& pic;
  int w, h;
};

struct Point {
  Extended xx, yy;
  int x, y;  // the base pixel: xx and yy truncated
};

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

void Nearest(const Source& s, const Point& p, TRGBTriple* out) {
  int x0 = int(RoundHalfEven(p.xx));
  int y0 = int(RoundHalfEven(p.yy));
  if (x0 > s.w - 1) x0 = s.w - 1;
  if (y0 > s.h - 1) y0 = s.h - 1;
  *out = *s.pic.GetData(x0, y0);
}

std::uint8_t BlendChannel(std::uint8_t d00, std::uint8_t d10, std::uint8_t d01, std::uint8_t d11,
                          Extended coefx00, Extended coefx01, Extended coefy00, Extended coefy01) {
  const Extended c1 = d00 * coefx00 + d10 * coefx01;
  const Extended c2 = d01 * coefx00 + d11 * coefx01;
  return AdjustByte(c1 * coefy00 + c2 * coefy01);
}

void Bilinear(const Source& s, const Point& p, TRGBTriple* out) {
  const int x0 = p.x, y0 = p.y;
  const int x1 = x0 + 1 > s.w - 1 ? x0 : x0 + 1;
  const int y1 = y0 + 1 > s.h - 1 ? y0 : y0 + 1;
  const Extended coefx01 = p.xx - x0, coefx00 = 1 - coefx01;
  const Extended coefy01 = p.yy - y0, coefy00 = 1 - coefy01;
  const TRGBTriple& d00 = *s.pic.GetData(x0, y0);
  const TRGBTriple& d10 = *s.pic.GetData(x1, y0);
  const TRGBTriple& d01 = *s.pic.GetData(x0, y1);
  const TRGBTriple& d11 = *s.pic.GetData(x1, y1);
  out->rgbtRed = BlendChannel(d00.rgbtRed, d10.rgbtRed, d01.rgbtRed, d11.rgbtRed, coefx00, coefx01, coefy00, coefy01);
  out->rgbtGreen =
      BlendChannel(d00.rgbtGreen, d10.rgbtGreen, d01.rgbtGreen, d11.rgbtGreen, coefx00, coefx01, coefy00, coefy01);
  out->rgbtBlue =
      BlendChannel(d00.rgbtBlue, d10.rgbtBlue, d01.rgbtBlue, d11.rgbtBlue, coefx00, coefx01, coefy00, coefy01);
}

// A tap outside the picture reads the base column or row instead.
int TapColumn(const Source& s, const Point& p, int fx) { return (fx < 0 || fx > s.w - 1) ? p.x : fx; }
int TapRow(const Source& s, const Point& p, int fy) { return (fy < 0 || fy > s.h - 1) ? p.y : fy; }

// Taps first..first + n - 1 from the base pixel, rows outer and columns
// inner. The weights K(dx) and K(dy) of the window's columns and rows are
// worked out once per destination pixel; the function is deterministic, so
// this gives the same values as evaluating it afresh for every tap.
void Window(const Source& s, const Point& p, WeightFunction k, int first, int n, TRGBTriple* out) {
  Extended kx[4], ky[4];
  for (int i = 0; i < n; ++i) {
    kx[i] = k(fabsl(p.xx - (p.x + first + i)));
    ky[i] = k(fabsl(p.yy - (p.y + first + i)));
  }
  Channels sum;
  for (int j = 0; j < n; ++j) {
    const int fy = TapRow(s, p, p.y + first + j);
    for (int i = 0; i < n; ++i) sum.Add(*s.pic.GetData(TapColumn(s, p, p.x + first + i), fy), kx[i], ky[j]);
  }
  sum.Store(out);
}

// Cubic B-spline weights of the taps at offsets -1, 0, 1, 2 from the base,
// in the difference form: rx from the cubes (k - t)^3 / 6, ry from the
// cubes (t + k)^3 / 6.
void BSplineWeights(Extended t, Extended* rx, Extended* ry) {
  Extended dxn[5], dyn[4];
  for (int k = 1; k <= 4; ++k) {
    const Extended v = k - t;
    dxn[k] = v * v * v / 6;
  }
  for (int k = 0; k <= 3; ++k) {
    const Extended v = t + k;
    dyn[k] = v * v * v / 6;
  }
  if (rx) {
    rx[0] = dxn[1];
    rx[1] = dxn[2] - 4 * dxn[1];
    rx[2] = dxn[3] - 4 * dxn[2] + 6 * dxn[1];
    rx[3] = dxn[4] - 4 * dxn[3] + 6 * dxn[2] - 4 * dxn[1];
  }
  if (ry) {
    ry[0] = dyn[3] - 4 * dyn[2] + 6 * dyn[1] - 4 * dyn[0];
    ry[1] = dyn[2] - 4 * dyn[1] + 6 * dyn[0];
    ry[2] = dyn[1] - 4 * dyn[0];
    ry[3] = dyn[0];
  }
}

void BSpline(const Source& s, const Point& p, TRGBTriple* out) {
  // RX (index -1..2) comes from the column fraction, RY from the row fraction.
  Extended rx[4], ry[4];
  BSplineWeights(p.xx - p.x, rx, nullptr);
  BSplineWeights(p.yy - p.y, nullptr, ry);
  Channels sum;
  for (int j = 0; j < 4; ++j) {
    const int fy = TapRow(s, p, p.y - 1 + j);
    for (int i = 0; i < 4; ++i) sum.Add(*s.pic.GetData(TapColumn(s, p, p.x - 1 + i), fy), rx[i], ry[j]);
  }
  sum.Store(out);
}

}  // namespace

bool BmpResize(TBitmap& bmp, int rwidth, int rheight, TResizeMode mode) {
  if (bmp.PixelFormat() != pf24bit) return false;
  // An empty picture has nothing to sample, and a size below 1 leaves no
  // destination pixel: refuse both rather than read outside the picture.
  if (bmp.Width() < 1 || bmp.Height() < 1 || rwidth < 1 || rheight < 1) return false;
  if (int(mode) < int(rmNearest) || int(mode) > int(rmLagrange)) return false;

  const int w = bmp.Width(), h = bmp.Height();
  const Extended wfactor = Extended(w) / Extended(rwidth);
  const Extended hfactor = Extended(h) / Extended(rheight);
  TBitmap tmp = BmpClone(bmp);
  tmp.SetWidth(rwidth);
  tmp.SetHeight(rheight);
  {
    const TBmpData24 src(bmp);
    const TBmpData24 dst(tmp);
    const Source s{src, w, h};
    const WeightFunction k = WeightOf(mode);
    for (int iy = 0; iy < rheight; ++iy) {
      for (int ix = 0; ix < rwidth; ++ix) {
        Point p;
        p.xx = ix * wfactor;
        p.yy = iy * hfactor;
        p.x = int(p.xx);
        p.y = int(p.yy);
        TRGBTriple* out = dst.GetData(ix, iy);
        switch (mode) {
          case rmNearest: Nearest(s, p, out); break;
          case rmBilinear: Bilinear(s, p, out); break;
          case rmBSpline: BSpline(s, p, out); break;
          case rmHermite: Window(s, p, k, 0, 2, out); break;
          default: Window(s, p, k, -1, 4, out); break;
        }
      }
    }
  }
  bmp.Assign(tmp);
  return true;
}
