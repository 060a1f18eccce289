// Focus-band mask. The band is defined as written level into a square as
// large as the picture's diagonal, turned by the angle with Rotation, cut
// back to the picture's size with ClipMaskBMP and turned into 8-bit grey
// with To8bit. Arithmetic is extended precision in the order written; the
// slope factor is a double; Round is ties to even.
//
// The mask is computed without making the square: each mask pixel is
// sampled where it lands in the turned square, through the same steps
// (ClipMaskBMP's stretching copy, Rotation's inverse mapping and blend
// toward the black frame, To8bit's weights), so memory is that of the mask
// and the result is the same byte for byte. This file holds the plain form
// and the switch to the fast form in focus_mask_simd.cpp.
#include "engine/focus_mask.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/turned_square.h"
#include "imaging/pixel_access.h"
#include "imaging/simd.h"

int GetPerpendicular(TPoint point, int viewWidth, int viewHeight, int angle) {
  const int cX = RoundInt(Extended(viewWidth) / 2);
  const int cY = RoundInt(Extended(viewHeight) / 2);
  const long long i = static_cast<long long>(point.X) - cX;
  if (angle == 0) return SaturatingInt(Extended(point.Y) - cY);
  if (angle == 90) return SaturatingInt(Extended(cX) - point.X);
  if (angle == -90) return SaturatingInt(Extended(i));
  const double a = DegreesToRadiansF(std::abs(angle));
  const double b = DegreesToRadiansF(std::abs(angle) + 90);
  const int k = RoundInt(ExtTan(Extended(a)) * Extended(i));
  // The row where the line through the point crosses the centre column.
  const Extended y = angle > 0 ? Extended(point.Y) - k : Extended(point.Y) + k;
  const double distance = static_cast<double>(ExtSin(Extended(b)) * (y - cY));
  return RoundInt(distance);
}

double FitRatio(int viewWidth, int viewHeight, int width, int height) {
  if (width <= 0 || height <= 0) return 1;
  const Extended byWidth = Extended(viewWidth) / width;
  const Extended byHeight = Extended(viewHeight) / height;
  return static_cast<double>(byHeight <= byWidth ? byHeight : byWidth);
}

MaskGeometry ComputeMaskGeometry(int width, int height, TPoint point, const FocusSettings& focus) {
  if (focus.viewWidth <= 0 || focus.viewHeight <= 0) {
    throw MaskError("the view has zero width or height, so the focus point cannot be placed");
  }
  MaskGeometry g;
  const long long sumSquares =
      static_cast<long long>(width) * width + static_cast<long long>(height) * height;
  g.diagonal = static_cast<int>(ExtCeil(ExtSqrt(Extended(sumSquares))));
  g.ratio = FitRatio(focus.viewWidth, focus.viewHeight, width, height);
  g.center = g.diagonal / 2;
  g.perpendicular = RoundInt(
      Extended(GetPerpendicular(point, focus.viewWidth, focus.viewHeight, focus.angle)) / Extended(g.ratio));
  g.meta = SaturatingInt(Extended(g.center) + g.perpendicular);
  g.depth = RoundInt(Extended(focus.depthSetting) / 600 * Extended(std::min(width, height)));
  const double w = SlopeFactor(focus.slope);
  g.slope1 = RoundInt(Extended(g.depth) * 0.7L + Extended(g.diagonal) * Extended(w));
  g.slope2 = RoundInt((Extended(std::abs(focus.angle)) * (Extended(1) / 180) + 0.5L) * g.slope1);
  // In 64 bits, then saturated: a focus point far off the view must not
  // overflow the row arithmetic.
  const auto sat = [](long long v) { return SaturatingInt(Extended(v)); };
  g.d1 = sat(static_cast<long long>(g.meta) - g.depth);
  g.d2 = sat(static_cast<long long>(g.meta) + g.depth);
  g.d3 = sat(static_cast<long long>(g.d1) - g.slope1);
  g.d4 = sat(static_cast<long long>(g.d2) + g.slope2);
  return g;
}

int MaskRowValue(const MaskGeometry& g, int y) {
  if (g.d1 < y && y < g.d2) return 0;
  if (g.d3 <= y && y <= g.d1) {
    if (g.slope1 == 0) return 0;
    return RoundInt(Extended((static_cast<long long>(g.d1) - y) * 255) / g.slope1);
  }
  if (g.d2 <= y && y <= g.d4) {
    if (g.slope2 == 0) return 0;
    return RoundInt(Extended((static_cast<long long>(y) - g.d2) * 255) / g.slope2);
  }
  return 255;
}

namespace {

// To8bit's value for a grey pixel (v, v, v).
std::uint8_t GreyOf(int v) {
  const Extended e = Extended(v) * 0.299L + Extended(v) * 0.587L + Extended(v) * 0.114L;
  return static_cast<std::uint8_t>(ExtTrunc(e));
}

// ClipMaskBMP's copy of `source` pixels onto `size` (TBitmap::CopyRect):
// the source index of every destination index, -1 where it is skipped.
std::vector<int> ClipSources(int size, int sourceSize) {
  const int dif = RoundInt(Extended(sourceSize - size) / 2);
  const int first = dif, span = sourceSize - 2 * dif;
  std::vector<int> out(std::size_t(std::max(size, 0)), -1);
  if (span <= 0) return out;
  for (int i = 0; i < size; ++i) {
    const int s = first + int(std::int64_t(i) * span / size);
    out[std::size_t(i)] = (s >= 0 && s < sourceSize) ? s : -1;
  }
  return out;
}

}  // namespace

TurnedSquare::TurnedSquare(const MaskGeometry& g, int width, int height, int angle) : side(g.diagonal) {
  rowValue.resize(std::size_t(side));
  for (int y = 0; y < side; ++y) rowValue[std::size_t(y)] = static_cast<std::uint8_t>(MaskRowValue(g, y));
  turn = TurnGeometryOf(side, side, static_cast<float>(angle));
  colSource = ClipSources(width, turn.ww);
  rowSource = ClipSources(height, turn.hh);
  for (int v = 0; v < 256; ++v) grey[v] = GreyOf(v);
}

std::uint8_t TurnedSquare::TurnedPlain(int ix, int iy) const {
  TurnSample s;
  if (!TurnSampleAt(turn, ix, iy, s)) return 0;
  return TurnBlend(Framed(s.x0, s.y0), Framed(s.x0 + 1, s.y0), Framed(s.x0, s.y0 + 1),
                   Framed(s.x0 + 1, s.y0 + 1), s);
}

std::uint8_t TurnedSquare::TurnedFast(int ix, int iy) const {
  const float rx = float(ix) + turn.xmin, ry = float(iy) + turn.ymin;
  float sx, sy;
  TurnSample s;
  if (!turn_sampling::SourcePoint(turn, rx, ry, sx, sy)) return TurnedPlain(ix, iy);
  if (!turn_sampling::SampleFromPoint(turn, sx, sy, s)) return 0;
  const std::uint8_t p00 = Framed(s.x0, s.y0), p10 = Framed(s.x0 + 1, s.y0);
  const std::uint8_t p01 = Framed(s.x0, s.y0 + 1), p11 = Framed(s.x0 + 1, s.y0 + 1);
  std::uint8_t out;
  if (turn_sampling::Blend(p00, p10, p01, p11, s, out)) return out;
  return TurnBlend(p00, p10, p01, p11, s);
}

MaskGeometry CreateMaskBMPPlain(TBitmap& mask, int width, int height, TPoint point,
                                const FocusSettings& focus) {
  const MaskGeometry g = ComputeMaskGeometry(width, height, point, focus);
  const TurnedSquare square(g, width, height, focus.angle);
  TBitmap out(width, height, pf8bit);
  SetGrayPalette(out);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = out.ScanLine(y);
    const int iy = square.rowSource[std::size_t(y)];
    for (int x = 0; x < width; ++x) {
      const int ix = square.colSource[std::size_t(x)];
      const int v = (ix < 0 || iy < 0) ? 0 : square.TurnedPlain(ix, iy);
      row[x] = square.grey[v];
    }
  }
  mask = std::move(out);
  return g;
}

MaskGeometry CreateMaskBMP(TBitmap& mask, int width, int height, TPoint point, const FocusSettings& focus) {
  return PlainPaths() ? CreateMaskBMPPlain(mask, width, height, point, focus)
                      : CreateMaskBMPFast(mask, width, height, point, focus);
}

void ClipMaskBMP(TBitmap& mask, int width, int height) {
  const int wMsk = mask.Width(), hMsk = mask.Height();
  const int wDif = RoundInt(Extended(wMsk - width) / 2);
  const int hDif = RoundInt(Extended(hMsk - height) / 2);
  const TRect dst{0, 0, width, height};
  const TRect src{wDif, hDif, wMsk - wDif, hMsk - hDif};
  TBitmap work(width, height, mask.PixelFormat());
  work.CopyRect(dst, mask, src);
  mask = std::move(work);
}

void To8bit(TBitmap& bmp) {
  const int w = bmp.Width(), h = bmp.Height();
  TBitmap grey(w, h, pf8bit);
  {
    const TBmpConstData24 src(bmp);
    TBmpData8 dst(grey);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const TRGBTriple* p = src.GetData(x, y);
        const Extended v =
            Extended(p->rgbtRed) * 0.299L + Extended(p->rgbtGreen) * 0.587L + Extended(p->rgbtBlue) * 0.114L;
        *dst.GetData(x, y) = static_cast<std::uint8_t>(ExtTrunc(v));
      }
    }
  }
  SetGrayPalette(grey);
  bmp = std::move(grey);
}
