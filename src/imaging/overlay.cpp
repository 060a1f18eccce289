// Masked overlay. Rounding: the integer (255 - a) * p + a * q is divided by
// 255 in extended precision and rounded (the quotient is never a tie and
// never leaves 0..255). Source pixels that land left of or above the
// destination are skipped, never read.
#include "imaging/overlay.h"

#include "imaging/pixel_access.h"

namespace {

std::uint8_t Blend(std::uint8_t p, std::uint8_t q, int a) {
  return AdjustByte(Extended((255 - a) * p + a * q) / 255);
}

}  // namespace

void MaskedOverlay(TBitmap& dst, const TBitmap& src, const TBitmap& mask, int dstX, int dstY) {
  if (dst.PixelFormat() != pf24bit || src.PixelFormat() != pf24bit || mask.PixelFormat() != pf8bit) return;
  const int dw = dst.Width(), dh = dst.Height();
  const int sw = src.Width(), sh = src.Height();
  // 64-bit so that extreme offsets cannot overflow.
  const long long w = (std::int64_t(dw) - dstX < sw) ? std::int64_t(dw) - dstX : sw;
  const long long h = (std::int64_t(dh) - dstY < sh) ? std::int64_t(dh) - dstY : sh;
  if (w < 1 || h < 1 || mask.Width() < sw || mask.Height() < sh) return;

  // The accessors only read through src and mask.
  TBmpData24 d(dst);
  TBmpData24 s(const_cast<TBitmap&>(src));
  TBmpData8 m(const_cast<TBitmap&>(mask));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int a = *m.GetData(x, y);
      if (a == 0 || std::int64_t(x) + dstX < 0 || std::int64_t(y) + dstY < 0) continue;
      TRGBTriple* p = d.GetData(x + dstX, y + dstY);
      const TRGBTriple* q = s.GetData(x, y);
      p->rgbtRed = Blend(p->rgbtRed, q->rgbtRed, a);
      p->rgbtGreen = Blend(p->rgbtGreen, q->rgbtGreen, a);
      p->rgbtBlue = Blend(p->rgbtBlue, q->rgbtBlue, a);
    }
  }
}
