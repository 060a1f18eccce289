// Masked overlay. Rounding: the integer (255 - a) * p + a * q is divided by
// 255 in extended precision and rounded (the quotient is never a tie and
// never leaves 0..255). Source pixels that land left of or above the
// destination are skipped, never read.
//
// This file holds the plain, literal form, which defines the result, and
// the switch between it and the fast form in overlay_simd.cpp.
#include "imaging/overlay.h"

#include "imaging/pixel_access.h"
#include "imaging/simd.h"

std::uint8_t MaskedBlend(std::uint8_t p, std::uint8_t q, int a) {
  return AdjustByte(Extended((255 - a) * p + a * q) / 255);
}

bool OverlayArea(const TBitmap& dst, const TBitmap& src, const TBitmap& mask, int dstX, int dstY, int& w,
                 int& h) {
  if (dst.PixelFormat() != pf24bit || src.PixelFormat() != pf24bit || mask.PixelFormat() != pf8bit)
    return false;
  const int dw = dst.Width(), dh = dst.Height();
  const int sw = src.Width(), sh = src.Height();
  // 64-bit so that extreme offsets cannot overflow.
  const long long aw = (std::int64_t(dw) - dstX < sw) ? std::int64_t(dw) - dstX : sw;
  const long long ah = (std::int64_t(dh) - dstY < sh) ? std::int64_t(dh) - dstY : sh;
  if (aw < 1 || ah < 1 || mask.Width() < sw || mask.Height() < sh) return false;
  w = int(aw);
  h = int(ah);
  return true;
}

void MaskedOverlayPlain(TBitmap& dst, const TBitmap& src, const TBitmap& mask, int dstX, int dstY) {
  int w = 0, h = 0;
  if (!OverlayArea(dst, src, mask, dstX, dstY, w, h)) return;
  TBmpData24 d(dst);
  const TBmpConstData24 s(src);
  const TBmpConstData8 m(mask);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int a = *m.GetData(x, y);
      if (a == 0 || std::int64_t(x) + dstX < 0 || std::int64_t(y) + dstY < 0) continue;
      TRGBTriple* p = d.GetData(x + dstX, y + dstY);
      const TRGBTriple* q = s.GetData(x, y);
      p->rgbtRed = MaskedBlend(p->rgbtRed, q->rgbtRed, a);
      p->rgbtGreen = MaskedBlend(p->rgbtGreen, q->rgbtGreen, a);
      p->rgbtBlue = MaskedBlend(p->rgbtBlue, q->rgbtBlue, a);
    }
  }
}

void MaskedOverlay(TBitmap& dst, const TBitmap& src, const TBitmap& mask, int dstX, int dstY) {
  if (PlainPaths()) {
    MaskedOverlayPlain(dst, src, mask, dstX, dstY);
  } else {
    MaskedOverlayFast(dst, src, mask, dstX, dstY);
  }
}
