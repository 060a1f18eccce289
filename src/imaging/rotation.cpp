// Rotation: pf24bit only; anything else is refused untouched.
//
// Rotate90 is a pure byte copy.
//
// Rotation first puts a one-pixel frame of the background colour around the
// picture, so that samples at the picture's edges blend with the background
// and no read leaves the framed picture. The geometry (sine, cosine, corners,
// extremes, source positions, weights, partial sums) is held in 32-bit
// floats: every such value is computed in extended precision from its float
// operands and rounded to float when stored. The result size is rounded half
// to even; each channel is rounded half to even into a byte (AdjustByte).
// A result pixel is sampled when the ceil or the floor of its source
// position lies inside the picture; otherwise it keeps the background.
// The caller's bitmap is replaced only when the result is complete, so an
// error (no memory) leaves it as it was.
//
// This file holds the plain, literal forms, which define the results, and
// the switch between them and the fast forms in rotation_simd.cpp.
#include "imaging/rotation.h"

#include <cmath>

#include "imaging/pixel_access.h"
#include "imaging/simd.h"
#include "imaging/turn_sampling.h"

namespace {

float ToFloat(Extended value) {
  return static_cast<float>(value);
}

// Sine and cosine of `degrees`, each rounded to a float.
void SinCos(float degrees, float& sn, float& cs) {
  const Extended radians = (kPi * Extended(degrees)) / 180;
  sn = ToFloat(ExtSin(radians));
  cs = ToFloat(ExtCos(radians));
}

// The picture with a one-pixel frame of `bkColor` around it.
TBitmap Framed(const TBitmap& bmp, TColor bkColor) {
  const int w = bmp.Width(), h = bmp.Height();
  TBitmap framed(w + 2, h + 2, pf24bit);
  framed.FillRect({0, 0, w + 2, h + 2}, bkColor);
  framed.Draw(1, 1, bmp);
  return framed;
}

struct Extremes {
  float xmin, xmax, ymin, ymax;
};

// Turns the corners of a w x h picture clockwise by `angle` about (0, 0)
// and returns the extremes of the turned corners.
Extremes TurnedCorners(int w, int h, float angle) {
  float sn, cs;
  SinCos(-angle, sn, cs);
  TPointF pts[4] = {PointF(0, 0), PointF(float(w), 0), PointF(float(w), float(h)), PointF(0, float(h))};
  for (TPointF& p : pts) {
    const Extended x = p.X, y = p.Y;
    p = PointF(ToFloat(x * cs + y * sn), ToFloat(-x * sn + y * cs));
  }
  Extremes e{pts[0].X, pts[0].X, pts[0].Y, pts[0].Y};
  for (const TPointF& p : pts) {
    if (p.X < e.xmin) e.xmin = p.X;
    if (p.X > e.xmax) e.xmax = p.X;
    if (p.Y < e.ymin) e.ymin = p.Y;
    if (p.Y > e.ymax) e.ymax = p.Y;
  }
  return e;
}

// Fills `dst` (already background) by sampling `framed`, the picture with
// its frame, at the inverse turn of every result pixel.
void Sample(const TBitmap& framed, TBitmap& dst, const TurnGeometry& g) {
  const TBmpConstData24 src(framed);
  const TBmpData24 out(dst);
  for (int iy = 0; iy < out.Height(); ++iy) {
    for (int ix = 0; ix < out.Width(); ++ix) {
      TurnSample s;
      if (!TurnSampleAt(g, ix, iy, s)) continue;
      // Source pixel (x, y) sits at (x + 1, y + 1) of the framed picture.
      const TRGBTriple& p00 = *src.GetData(s.x0 + 1, s.y0 + 1);
      const TRGBTriple& p10 = *src.GetData(s.x0 + 2, s.y0 + 1);
      const TRGBTriple& p01 = *src.GetData(s.x0 + 1, s.y0 + 2);
      const TRGBTriple& p11 = *src.GetData(s.x0 + 2, s.y0 + 2);
      TRGBTriple* d = out.GetData(ix, iy);
      d->rgbtRed = TurnBlend(p00.rgbtRed, p10.rgbtRed, p01.rgbtRed, p11.rgbtRed, s);
      d->rgbtGreen = TurnBlend(p00.rgbtGreen, p10.rgbtGreen, p01.rgbtGreen, p11.rgbtGreen, s);
      d->rgbtBlue = TurnBlend(p00.rgbtBlue, p10.rgbtBlue, p01.rgbtBlue, p11.rgbtBlue, s);
    }
  }
}

}  // namespace

TurnGeometry TurnGeometryOf(int w, int h, float angle) {
  TurnGeometry g;
  g.w = w;
  g.h = h;
  const Extremes e = TurnedCorners(w, h, angle);
  g.xmin = e.xmin;
  g.ymin = e.ymin;
  g.ww = int(RoundHalfEven(Extended(e.xmax) - e.xmin + 1));
  g.hh = int(RoundHalfEven(Extended(e.ymax) - e.ymin + 1));
  SinCos(angle, g.sn, g.cs);
  return g;
}

void TurnSourcePoint(const TurnGeometry& g, int ix, int iy, float& sx, float& sy) {
  const float rx = ToFloat(Extended(ix) + g.xmin);
  const float ry = ToFloat(Extended(iy) + g.ymin);
  sx = ToFloat(Extended(rx) * g.cs + Extended(ry) * g.sn);
  sy = ToFloat(-Extended(rx) * g.sn + Extended(ry) * g.cs);
}

bool TurnSampleAt(const TurnGeometry& g, int ix, int iy, TurnSample& s) {
  float sx, sy;
  TurnSourcePoint(g, ix, iy, sx, sy);
  const int cx = int(std::ceil(sx)), cy = int(std::ceil(sy));
  const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
  if (!turn_sampling::InPicture(cx, cy, g.w, g.h) && !turn_sampling::InPicture(x0, y0, g.w, g.h))
    return false;
  s.x0 = x0;
  s.y0 = y0;
  s.coefx01 = ToFloat(Extended(sx) - x0);
  s.coefx00 = ToFloat(1 - Extended(s.coefx01));
  s.coefy01 = ToFloat(Extended(sy) - y0);
  s.coefy00 = ToFloat(1 - Extended(s.coefy01));
  return true;
}

// One channel of the bilinear sample: the two partial sums are floats.
std::uint8_t TurnBlend(std::uint8_t p00, std::uint8_t p10, std::uint8_t p01, std::uint8_t p11,
                       const TurnSample& s) {
  const float first = ToFloat(Extended(p00) * s.coefx00 + Extended(p10) * s.coefx01);
  const float second = ToFloat(Extended(p01) * s.coefx00 + Extended(p11) * s.coefx01);
  return AdjustByte(Extended(first) * s.coefy00 + Extended(second) * s.coefy01);
}

bool Rotate90Plain(TBitmap& bmp, bool plus) {
  if (bmp.PixelFormat() != pf24bit) return false;
  const int w = bmp.Width(), h = bmp.Height();
  // Every pixel of the turned picture is written below, so it starts empty
  // rather than as a copy of the picture.
  TBitmap tmp(h, w, pf24bit);
  {
    const TBmpConstData24 src(bmp);
    const TBmpData24 dst(tmp);
    for (int iy = 0; iy < h; ++iy) {
      for (int ix = 0; ix < w; ++ix) {
        // Clockwise: the top row becomes the rightmost column, top to bottom.
        // Counter-clockwise: it becomes the leftmost column, bottom to top.
        TRGBTriple* d = plus ? dst.GetData(h - 1 - iy, ix) : dst.GetData(iy, w - 1 - ix);
        *d = *src.GetData(ix, iy);
      }
    }
  }
  bmp.Assign(tmp);
  return true;
}

bool RotationPlain(TBitmap& bmp, float angle, TColor bkColor) {
  if (bmp.PixelFormat() != pf24bit) return false;
  // sin and cos of an infinite angle are undefined, and a NaN size could not
  // be rounded to an integer: refuse instead.
  if (!std::isfinite(angle)) return false;
  const TBitmap framed = Framed(bmp, bkColor);
  const TurnGeometry g = TurnGeometryOf(bmp.Width(), bmp.Height(), angle);
  TBitmap tmp(g.ww, g.hh, pf24bit);
  tmp.Fill(bkColor);
  Sample(framed, tmp, g);
  bmp.Assign(tmp);
  return true;
}

bool Rotate90(TBitmap& bmp, bool plus) {
  return PlainPaths() ? Rotate90Plain(bmp, plus) : Rotate90Fast(bmp, plus);
}

bool Rotation(TBitmap& bmp, float angle, TColor bkColor) {
  return PlainPaths() ? RotationPlain(bmp, angle, bkColor) : RotationFast(bmp, angle, bkColor);
}
