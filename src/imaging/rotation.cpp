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
#include "imaging/rotation.h"

#include <cmath>

#include "imaging/pixel_access.h"

namespace {


float ToFloat(Extended value) {
  return static_cast<float>(value);
}

// Sine and cosine of `degrees`, each rounded to a float.
void SinCos(float degrees, float& sn, float& cs) {
  const Extended radians = (kPi * Extended(degrees)) / 180;
  sn = ToFloat(sinl(radians));
  cs = ToFloat(cosl(radians));
}

bool InPicture(int px, int py, int w, int h) {
  return px >= 0 && px < w && py >= 0 && py < h;
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

// One channel of the bilinear sample: the two partial sums are floats.
std::uint8_t Blend(std::uint8_t p00, std::uint8_t p10, std::uint8_t p01, std::uint8_t p11, float coefx00,
                   float coefx01, float coefy00, float coefy01) {
  const float first = ToFloat(Extended(p00) * coefx00 + Extended(p10) * coefx01);
  const float second = ToFloat(Extended(p01) * coefx00 + Extended(p11) * coefx01);
  return AdjustByte(Extended(first) * coefy00 + Extended(second) * coefy01);
}

// Fills `dst` (already background) by sampling `framed`, the w x h picture
// with its frame, at the inverse turn of every result pixel.
void Sample(TBitmap& framed, int w, int h, TBitmap& dst, const Extremes& e, float angle) {
  float sn, cs;
  SinCos(angle, sn, cs);
  const TBmpData24 src(framed);
  const TBmpData24 out(dst);
  for (int iy = 0; iy < out.Height(); ++iy) {
    for (int ix = 0; ix < out.Width(); ++ix) {
      const float rx = ToFloat(Extended(ix) + e.xmin);
      const float ry = ToFloat(Extended(iy) + e.ymin);
      const float sx = ToFloat(Extended(rx) * cs + Extended(ry) * sn);
      const float sy = ToFloat(-Extended(rx) * sn + Extended(ry) * cs);
      const int cx = int(std::ceil(sx)), cy = int(std::ceil(sy));
      const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
      if (!InPicture(cx, cy, w, h) && !InPicture(x0, y0, w, h)) continue;
      const int x1 = x0 + 1, y1 = y0 + 1;
      const float coefx01 = ToFloat(Extended(sx) - x0);
      const float coefx00 = ToFloat(1 - Extended(coefx01));
      const float coefy01 = ToFloat(Extended(sy) - y0);
      const float coefy00 = ToFloat(1 - Extended(coefy01));
      // Source pixel (x, y) sits at (x + 1, y + 1) of the framed picture.
      const TRGBTriple& p00 = *src.GetData(x0 + 1, y0 + 1);
      const TRGBTriple& p10 = *src.GetData(x1 + 1, y0 + 1);
      const TRGBTriple& p01 = *src.GetData(x0 + 1, y1 + 1);
      const TRGBTriple& p11 = *src.GetData(x1 + 1, y1 + 1);
      TRGBTriple* d = out.GetData(ix, iy);
      d->rgbtRed =
          Blend(p00.rgbtRed, p10.rgbtRed, p01.rgbtRed, p11.rgbtRed, coefx00, coefx01, coefy00, coefy01);
      d->rgbtGreen = Blend(p00.rgbtGreen, p10.rgbtGreen, p01.rgbtGreen, p11.rgbtGreen, coefx00, coefx01,
                           coefy00, coefy01);
      d->rgbtBlue =
          Blend(p00.rgbtBlue, p10.rgbtBlue, p01.rgbtBlue, p11.rgbtBlue, coefx00, coefx01, coefy00, coefy01);
    }
  }
}

}  // namespace

bool Rotate90(TBitmap& bmp, bool plus) {
  if (bmp.PixelFormat() != pf24bit) return false;
  const int w = bmp.Width(), h = bmp.Height();
  // Every pixel of the turned picture is written below, so it starts empty
  // rather than as a copy of the picture.
  TBitmap tmp(h, w, pf24bit);
  {
    const TBmpData24 src(bmp);
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

bool Rotation(TBitmap& bmp, float angle, TColor bkColor) {
  if (bmp.PixelFormat() != pf24bit) return false;
  // sin and cos of an infinite angle are undefined, and a NaN size could not
  // be rounded to an integer: refuse instead.
  if (!std::isfinite(angle)) return false;
  const int w = bmp.Width(), h = bmp.Height();
  TBitmap framed = Framed(bmp, bkColor);

  const Extremes e = TurnedCorners(w, h, angle);
  const int ww = int(RoundHalfEven(Extended(e.xmax) - e.xmin + 1));
  const int hh = int(RoundHalfEven(Extended(e.ymax) - e.ymin + 1));
  TBitmap tmp(ww, hh, pf24bit);
  tmp.Fill(bkColor);

  Sample(framed, w, h, tmp, e, angle);
  bmp.Assign(tmp);
  return true;
}
