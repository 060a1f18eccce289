// Fast masked overlay: the same bytes as the plain form in overlay.cpp,
// from vector code (Highway, chosen at run time) and threads over rows.
//
// Why it is exact: the plain blend rounds num / 255 with num =
// (255 - a) * p + a * q, an integer 0 .. 65025. Since 255 is odd the
// quotient is never a tie, so the rounded value is floor((num + 127) / 255),
// and floor(y / 255) = (y * 32897) >> 23 for every y <= 65152 (a test
// checks all of them). Here that runs in 16-bit lanes as a high-half
// multiply and a shift. A mask value of 0 gives p back exactly, so a
// vector may write such pixels unchanged instead of skipping them.
// Leftover pixels at a row's end go through the plain per-pixel blend.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/overlay_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstdint>

#include "imaging/overlay.h"

HWY_BEFORE_NAMESPACE();
namespace overlay_simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Blends `count` pixels of `q` into `p` (both three bytes per pixel) with
// the mask bytes `a`.
void BlendRow(std::uint8_t* p, const std::uint8_t* q, const std::uint8_t* a, int count) {
  const hn::ScalableTag<std::uint16_t> d16;
  const hn::Rebind<std::uint8_t, decltype(d16)> d8;
  const int N = int(hn::Lanes(d16));
  const auto k255 = hn::Set(d16, 255);
  const auto k127 = hn::Set(d16, 127);
  const auto kDiv = hn::Set(d16, 32897);
  const hn::RebindToSigned<decltype(d16)> di16;
  const auto blend = [&](auto pc, auto qc, auto ac) {
    const auto num = hn::Add(hn::Mul(hn::Sub(k255, ac), pc), hn::Mul(ac, qc));
    const auto out = hn::ShiftRight<7>(hn::MulHigh(hn::Add(num, k127), kDiv));  // 0 .. 255
    return hn::DemoteTo(d8, hn::BitCast(di16, out));
  };
  int x = 0;
  for (; x + N <= count; x += N) {
    hn::Vec<decltype(d8)> pb, pg, pr, qb, qg, qr;
    hn::LoadInterleaved3(d8, p + 3 * x, pb, pg, pr);
    hn::LoadInterleaved3(d8, q + 3 * x, qb, qg, qr);
    const auto m = hn::PromoteTo(d16, hn::LoadU(d8, a + x));
    const auto b = blend(hn::PromoteTo(d16, pb), hn::PromoteTo(d16, qb), m);
    const auto g = blend(hn::PromoteTo(d16, pg), hn::PromoteTo(d16, qg), m);
    const auto r = blend(hn::PromoteTo(d16, pr), hn::PromoteTo(d16, qr), m);
    hn::StoreInterleaved3(b, g, r, d8, p + 3 * x);
  }
  for (; x < count; ++x) {
    const int m = a[x];
    if (m == 0) continue;
    for (int c = 0; c < 3; ++c) p[3 * x + c] = MaskedBlend(p[3 * x + c], q[3 * x + c], m);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace overlay_simd
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <algorithm>

#include "imaging/parallel.h"
#include "imaging/pixel_access.h"

namespace overlay_simd {
HWY_EXPORT(BlendRow);
}  // namespace overlay_simd

void MaskedOverlayFast(TBitmap& dst, const TBitmap& src, const TBitmap& mask, int dstX, int dstY) {
  int w = 0, h = 0;
  if (!OverlayArea(dst, src, mask, dstX, dstY, w, h)) return;
  // Source pixels that land left of or above the destination are skipped.
  const int x0 = dstX < 0 ? int(std::min<std::int64_t>(-std::int64_t(dstX), w)) : 0;
  const int y0 = dstY < 0 ? int(std::min<std::int64_t>(-std::int64_t(dstY), h)) : 0;
  if (x0 >= w || y0 >= h) return;
  // Row addresses are taken here, on one thread (this is where a shared
  // destination gets its own pixels).
  const TBmpRows dstRows(dst);
  const TBmpConstRows srcRows(src), maskRows(mask);
  const std::size_t dstAt = 3 * std::size_t(x0 + dstX), srcAt = 3 * std::size_t(x0);
  ParallelRows(h - y0, 64, [&](int first, int end) {
    for (int y = y0 + first; y < y0 + end; ++y) {
      HWY_DYNAMIC_DISPATCH(overlay_simd::BlendRow)
      (dstRows.Row(y + dstY) + dstAt, srcRows.Row(y) + srcAt, maskRows.Row(y) + x0, w - x0);
    }
  });
}
#endif  // HWY_ONCE
