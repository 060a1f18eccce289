#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/interleave.cpp"
#include "imaging/interleave.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace interleave_simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void InterleaveRow(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r, std::uint8_t* out,
                   int count) {
  const hn::ScalableTag<std::uint8_t> d;
  const int N = int(hn::Lanes(d));
  int x = 0;
  for (; x + N <= count; x += N)
    hn::StoreInterleaved3(hn::LoadU(d, b + x), hn::LoadU(d, g + x), hn::LoadU(d, r + x), d, out + 3 * x);
  InterleaveBgrPlain(b + x, g + x, r + x, out + 3 * x, count - x);
}

}  // namespace HWY_NAMESPACE
}  // namespace interleave_simd
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "imaging/simd.h"

namespace interleave_simd {
HWY_EXPORT(InterleaveRow);
}  // namespace interleave_simd

void InterleaveBgrPlain(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r,
                        std::uint8_t* out, int count) {
  for (int x = 0; x < count; ++x) {
    out[3 * x] = b[x];
    out[3 * x + 1] = g[x];
    out[3 * x + 2] = r[x];
  }
}

void InterleaveBgr(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r, std::uint8_t* out,
                   int count) {
  if (PlainPaths())
    InterleaveBgrPlain(b, g, r, out, count);
  else
    HWY_DYNAMIC_DISPATCH(interleave_simd::InterleaveRow)(b, g, r, out, count);
}
#endif  // HWY_ONCE
