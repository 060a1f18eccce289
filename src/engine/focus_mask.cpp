// Focus-band mask. The band is written level into a square as large as the
// picture's diagonal, turned by the angle with Rotation, cut back to the
// picture's size and turned into 8-bit grey. Arithmetic is extended
// precision in the order written; the slope factor is a double; Round is
// ties to even.
#include "engine/focus_mask.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/pixel_access.h"
#include "imaging/rotation.h"

int GetPerpendicular(TPoint point, int viewWidth, int viewHeight, int angle) {
  const int cX = RoundInt(Extended(viewWidth) / 2);
  const int cY = RoundInt(Extended(viewHeight) / 2);
  const long long i = static_cast<long long>(point.X) - cX;
  if (angle == 0) return SaturatingInt(Extended(point.Y) - cY);
  if (angle == 90) return SaturatingInt(Extended(cX) - point.X);
  if (angle == -90) return SaturatingInt(Extended(i));
  const double a = DegreesToRadiansF(std::abs(angle));
  const double b = DegreesToRadiansF(std::abs(angle) + 90);
  const int k = RoundInt(std::tan(Extended(a)) * Extended(i));
  // The row where the line through the point crosses the centre column.
  const Extended y = angle > 0 ? Extended(point.Y) - k : Extended(point.Y) + k;
  const double distance = static_cast<double>(std::sin(Extended(b)) * (y - cY));
  return RoundInt(distance);
}

MaskGeometry ComputeMaskGeometry(int width, int height, TPoint point, const FocusSettings& focus) {
  if (focus.viewWidth <= 0 || focus.viewHeight <= 0) {
    throw MaskError("the view has zero width or height, so the focus point cannot be placed");
  }
  MaskGeometry g;
  const long long sumSquares = static_cast<long long>(width) * width + static_cast<long long>(height) * height;
  g.diagonal = static_cast<int>(std::ceil(std::sqrt(Extended(sumSquares))));
  // The scale at which the view shows the picture, fitted and centred; a
  // picture side of 0 leaves it 1.
  if (width > 0 && height > 0) {
    const Extended byWidth = Extended(focus.viewWidth) / width;
    const Extended byHeight = Extended(focus.viewHeight) / height;
    g.ratio = static_cast<double>(byHeight <= byWidth ? byHeight : byWidth);
  }
  g.center = g.diagonal / 2;
  g.perpendicular = RoundInt(Extended(GetPerpendicular(point, focus.viewWidth, focus.viewHeight, focus.angle)) /
                             Extended(g.ratio));
  g.meta = SaturatingInt(Extended(g.center) + g.perpendicular);
  g.depth = RoundInt(Extended(focus.depthSetting) / 600 * Extended(std::min(width, height)));
  const double w = SlopeFactor(focus.slope);
  g.slope1 = RoundInt(Extended(g.depth) * 0.7L + Extended(g.diagonal) * Extended(w));
  g.slope2 = RoundInt((Extended(std::abs(focus.angle)) * (1.0L / 180) + 0.5L) * g.slope1);
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

MaskGeometry CreateMaskBMP(TBitmap& mask, int width, int height, TPoint point, const FocusSettings& focus) {
  const MaskGeometry g = ComputeMaskGeometry(width, height, point, focus);
  TBitmap square(g.diagonal, g.diagonal, pf8bit);
  SetGrayPalette(square);
  for (int y = 0; y < g.diagonal; ++y) {
    std::uint8_t* row = square.ScanLine(y);
    std::fill(row, row + g.diagonal, static_cast<std::uint8_t>(MaskRowValue(g, y)));
  }
  square.SetPixelFormat(pf24bit);
  Rotation(square, static_cast<float>(focus.angle), 0);
  ClipMaskBMP(square, width, height);
  To8bit(square);
  mask = std::move(square);
  return g;
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
    TBmpData24 src(bmp);
    TBmpData8 dst(grey);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const TRGBTriple* p = src.GetData(x, y);
        const Extended v = Extended(p->rgbtRed) * 0.299L + Extended(p->rgbtGreen) * 0.587L +
                           Extended(p->rgbtBlue) * 0.114L;
        *dst.GetData(x, y) = static_cast<std::uint8_t>(std::trunc(v));
      }
    }
  }
  SetGrayPalette(grey);
  bmp = std::move(grey);
}
