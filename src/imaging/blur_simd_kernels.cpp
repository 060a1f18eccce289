// The fast blur's vector kernels, per instruction set (Highway, chosen at
// run time): the row pass of one row, the column pass of up to eight rows
// from the ring (blended through the mask for BlurredOverlay) and the
// spreading of a mask row over the three channels. blur_simd.cpp
// schedules them over bands of rows; blur_simd_taps.h holds the tap loop
// both passes share.
//
// Why they give the plain bytes:
// - Each tap of the plain form stores float(acc + byte * weight), the sum
//   formed in extended precision. The weights are floats of at least
//   e^-4.5 > 2^-7, so byte * weight and every accumulator value are
//   multiples of 2^-30 below 2^16: the product and the sum are exact in
//   extended (and in double), and the store to float is the only rounding.
//   That is one single-precision fused multiply-add. On instruction sets
//   without fused multiply-add the step runs in double lanes instead
//   (exact product, exact sum, one rounding to float).
// - A tap outside the picture is skipped by the plain form; here it reads
//   a zero, and fma(0, w, acc) is acc exactly. The count (the sum of the
//   weights of the taps used) depends only on the pixel's column in the row
//   pass and on its row in the column pass; blur_simd.cpp sums it once per
//   column and per row in the plain order.
// - The plain quotient sum / count is formed in extended and rounded half
//   to even. A quotient that is not a half-integer lies at least
//   2^-30 / 182 from one (both operands are multiples of 2^-30 and the
//   count is below 182), so the extended rounding never makes or breaks a
//   tie. Here the quotient is estimated as sum * (1 / count), rounded, and
//   corrected by the exact sign of sum - (n +- 1/2) * count (one fused
//   multiply-add each): the exact rounding, ties to even included. Without
//   fused multiply-add, the double quotient rounded half to even is exact
//   for the same reason. (The quotient is first taken as n and only checked
//   when it lies within 0.001 of a half-integer.)
//
// Speed: every tap is a multiply-add that must follow the previous one, so
// the work is what it is; the kernels keep the units busy. The row pass
// splits a row into its three channels and runs them together; each
// vector loaded along the row serves every output vector whose window
// covers it (about 2 * range / 8 of them). The column pass makes eight
// output rows from each row it loads, and reads the ring in memory order.
//
// Preconditions: rows of the ring and of the scratch buffers carry at
// least kPad bytes (or floats) of slack beyond the row, since whole
// vectors are computed past a row's end and only the row's own bytes are
// stored into a picture.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/blur_simd_kernels.cpp"
#include "imaging/blur_simd_kernels.h"

// The kernels keep their accumulators in arrays of vectors, which the
// scalable vectors of SVE cannot form: on ARM64 they take NEON (which every
// ARM64 processor has; the dispatch picks it on SVE machines too).
#include <hwy/detect_targets.h>
#if HWY_ARCH_ARM_A64
#undef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "imaging/blur_simd_taps.h"

HWY_BEFORE_NAMESPACE();
namespace blur_simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The column pass runs on full vectors; the row pass on vectors of at
// most 8 lanes, whose loads along the row each serve more outputs.
using DA = hn::ScalableTag<Acc>;
using DR = hn::CappedTag<Acc, 8>;
using DI = hn::Rebind<std::int32_t, DA>;
using VA = hn::Vec<DA>;
using VI = hn::Vec<DI>;

template <class D>
HWY_INLINE hn::Vec<D> LoadBytes(D d, const std::uint8_t* p) {
  const hn::Rebind<std::int32_t, D> di;
  const hn::Rebind<std::uint8_t, D> db;
#if HWY_NATIVE_FMA
  return hn::ConvertTo(d, hn::PromoteTo(di, hn::LoadU(db, p)));
#else
  return hn::PromoteTo(d, hn::PromoteTo(di, hn::LoadU(db, p)));
#endif
}

template <class D>
HWY_INLINE hn::Vec<D> LoadFloats(D d, const float* p) {
#if HWY_NATIVE_FMA
  return hn::LoadU(d, p);
#else
  return hn::PromoteTo(d, hn::LoadU(hn::Rebind<float, D>(), p));
#endif
}

// The byte the plain form stores for sum / count: rounded half to even.
template <class D>
HWY_INLINE hn::Vec<hn::Rebind<std::int32_t, D>> Quantize(D da, hn::Vec<D> sum, hn::Vec<D> count,
                                                         hn::Vec<D> reciprocal) {
  const hn::Rebind<std::int32_t, D> di;
#if HWY_NATIVE_FMA
  using V = hn::Vec<D>;
  const V q = hn::Mul(sum, reciprocal);  // within 3e-5 of sum / count
  const auto n = hn::NearestInt(q);
  const V nf = hn::ConvertTo(da, n);
  // Farther than 0.499 from n + 1/2 and n - 1/2: n is the rounded quotient.
  if (HWY_LIKELY(hn::AllTrue(da, hn::Lt(hn::Abs(hn::Sub(q, nf)), hn::Set(da, 0.499f))))) return n;
  const V half = hn::Set(da, 0.5f);
  // Exact signs of sum - (n + 1/2) * count and sum - (n - 1/2) * count.
  const V above = hn::NegMulAdd(hn::Add(nf, half), count, sum);
  const V below = hn::NegMulAdd(hn::Sub(nf, half), count, sum);
  const auto one = hn::Set(di, 1);
  const auto odd = hn::And(n, one);
  const V zero = hn::Zero(da);
  // Past a half-integer: one step; exactly on it: to the even neighbour.
  auto r = n;
  r = hn::IfThenElse(hn::RebindMask(di, hn::Gt(above, zero)), hn::Add(n, one), r);
  r = hn::IfThenElse(hn::RebindMask(di, hn::Eq(above, zero)), hn::Add(n, odd), r);
  r = hn::IfThenElse(hn::RebindMask(di, hn::Lt(below, zero)), hn::Sub(n, one), r);
  r = hn::IfThenElse(hn::RebindMask(di, hn::Eq(below, zero)), hn::Sub(n, odd), r);
  return hn::Min(hn::Max(r, hn::Zero(di)), hn::Set(di, 255));
#else
  (void)da;
  (void)reciprocal;
  const auto n = hn::DemoteTo(di, hn::Round(hn::Div(sum, count)));
  return hn::Min(hn::Max(n, hn::Zero(di)), hn::Set(di, 255));
#endif
}

template <class VIx>
HWY_INLINE void StoreBytes(VIx v, std::uint8_t* p) {
  const hn::DFromV<VIx> di;
  const hn::Rebind<std::uint8_t, decltype(di)> db;
  hn::StoreU(hn::DemoteTo(db, v), db, p);
}

// ((255 - a) * p + a * q) / 255 rounded: (x + 127) / 255 rounded down,
// with the division done as (y * 32897) >> 23 (exact for y <= 65152).
HWY_INLINE VI Blend(VI p, VI q, VI a) {
  const DI di;
  const VI num = hn::Add(hn::Mul(hn::Sub(hn::Set(di, 255), a), p), hn::Mul(a, q));
  const VI y = hn::Add(num, hn::Set(di, 127));
  return hn::ShiftRight<23>(hn::Mul(y, hn::Set(di, 32897)));
}

// The loads and weights of the two passes.
struct PlaneLoad {
  const float* p[3];
  HWY_INLINE void operator()(int s, hn::Vec<DR>* in) const {
    const DR d;
    in[0] = LoadFloats(d, p[0] + s);
    in[1] = LoadFloats(d, p[1] + s);
    in[2] = LoadFloats(d, p[2] + s);
  }
};
template <int N>
struct PlaneWeight {
  const float* weight;  // weight[t], t = -range .. range
  HWY_INLINE float operator()(int s, int k) const { return weight[s - k * N]; }
};
template <int V, int N>
struct RingLoad {
  const std::uint8_t* block;
  const int* offsets;
  HWY_INLINE void operator()(int i, VA* in) const {
#pragma GCC unroll 2
    for (int v = 0; v < V; ++v) in[v] = LoadBytes(DA(), block + offsets[i] + v * N);
  }
};
struct RingWeight {
  const float* weight;  // weight[t], t = 0 .. 2 * range
  HWY_INLINE float operator()(int i, int k) const { return weight[i - k]; }
};

// Row pass of the three channels of a row: plane[c][x] for x in
// 0 .. width - 1 holds channel c as floats, with range zeros before it and
// at least range + kPad after it; out[c][x] receives the row-passed byte
// (and slack up to the next multiple of the block). Vectors run along the
// row; each vector loaded serves every output vector whose window covers
// it, in increasing tap order for each output. The three channels share
// the loop, so that enough accumulators are in flight when the window is
// short.
void PlanesPass(const Plan& plan, const float* const* plane, std::uint8_t* const* out,
                const std::uint8_t* need) {
  const DR da;
  // 24 accumulators where there are 32 registers.
  constexpr int K = HWY_MAX_BYTES >= 64 ? 8 : 4;
  constexpr int N = int(hn::MaxLanes(DR()));
  const int w = plan.width, r = plan.range;
  const float* weight = plan.gfFull + r;  // weight[t], t = -r .. r
  // Output vector k takes loads s = k * N - r .. k * N + r.
  Span spans[4 * K + 2];
  const int spanCount = Spans(K, -r, (K - 1) * N + r, N, -r, r, spans);
  for (int x = 0; x < w; x += K * N) {
    if (need != nullptr) {
      bool any = false;
      for (int g = x / kNeedGroup; g * kNeedGroup < std::min(w, x + K * N); ++g) any = any || need[g] != 0;
      // No masked-in pixel reads these outputs: whatever the row holds
      // here is blended with weight 0.
      if (!any) continue;
    }
    hn::Vec<DR> acc[K][3];
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) acc[k][0] = acc[k][1] = acc[k][2] = hn::Zero(da);
    RunTaps<K, 3>(spans, spanCount, acc, PlaneLoad{{plane[0] + x, plane[1] + x, plane[2] + x}},
                  PlaneWeight<N>{weight});
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      const int at = x + k * N;
      const auto count = LoadFloats(da, plan.cntX + at), reciprocal = LoadFloats(da, plan.rcpX + at);
      for (int c = 0; c < 3; ++c) StoreBytes(Quantize(da, acc[k][c], count, reciprocal), out[c] + at);
    }
  }
}

// Row pass of one row (see blur_simd_kernels.h): the channels split into
// float planes, PlanesPass, and the bytes interleaved back.
void RowPass(const Plan& plan, const std::uint8_t* src, float* planes, std::uint8_t* bytes, std::uint8_t* out,
             const std::uint8_t* need) {
  const int w = plan.width, r = plan.range;
  const std::size_t pf = PlaneFloats(plan), pb = PlaneBytes(plan);
  float* plane[3] = {planes + r, planes + pf + r, planes + 2 * pf + r};
  std::uint8_t* channel[3] = {bytes, bytes + pb, bytes + 2 * pb};
  // Split the channels into float planes; zeros around them.
  const hn::ScalableTag<float> df;
  const hn::Rebind<std::int32_t, decltype(df)> di32;
  const hn::Rebind<std::uint8_t, decltype(df)> du8;
  const int NF = int(hn::Lanes(df));
  for (int c = 0; c < 3; ++c) {
    std::fill(plane[c] - r, plane[c], 0.0f);
    std::fill(plane[c] + w, plane[c] - r + pf, 0.0f);
  }
  int x = 0;
  for (; x + NF <= w; x += NF) {
    hn::Vec<decltype(du8)> b, g, rd;
    hn::LoadInterleaved3(du8, src + 3 * x, b, g, rd);
    hn::StoreU(hn::ConvertTo(df, hn::PromoteTo(di32, b)), df, plane[0] + x);
    hn::StoreU(hn::ConvertTo(df, hn::PromoteTo(di32, g)), df, plane[1] + x);
    hn::StoreU(hn::ConvertTo(df, hn::PromoteTo(di32, rd)), df, plane[2] + x);
  }
  for (; x < w; ++x)
    for (int c = 0; c < 3; ++c) plane[c][x] = float(src[3 * x + c]);
  PlanesPass(plan, plane, channel, need);
  // Interleave the three channels back into a row.
  const hn::ScalableTag<std::uint8_t> d8;
  const int N8 = int(hn::Lanes(d8));
  for (x = 0; x + N8 <= w; x += N8)
    hn::StoreInterleaved3(hn::LoadU(d8, channel[0] + x), hn::LoadU(d8, channel[1] + x),
                          hn::LoadU(d8, channel[2] + x), d8, out + 3 * x);
  for (; x < w; ++x)
    for (int c = 0; c < 3; ++c) out[3 * x + c] = channel[c][x];
}

// Whether the mask is 0 for all `bytes` channel values from j on, in every
// output row.
template <int Rows>
HWY_INLINE bool MaskedOut(const Output& o, int j, int bytes) {
  if (bytes % 8 != 0) return false;
  std::uint64_t any = 0;
  for (int k = 0; k < Rows; ++k) {
    for (int b = 0; b < bytes; b += 8) {
      std::uint64_t word;
      std::memcpy(&word, o.mask3[k] + j + b, 8);
      any |= word;
    }
  }
  return any == 0;
}

// Column pass for `Rows` output rows starting at row y (the ring and
// offsets as blur_simd_kernels.h describes). Each row loaded feeds every
// output row whose window holds it, in increasing row order for each
// output row.
template <int Rows>
void ColumnRows(const Plan& plan, int y, const std::uint8_t* ring, std::size_t ringStride, const int* offsets,
                const Output& o, std::uint8_t* tail) {
  const DA da;
  const DI di;
  const int n = plan.n, r = plan.range;
  constexpr int N = int(HWY_LANES(Acc));
  // Two vectors per row where registers allow (16 accumulators), one
  // otherwise.
  constexpr int V = (HWY_MAX_BYTES >= 64 || Rows <= 4) ? 2 : 1;
  const int taps = 2 * r + 1;
  VA count[Rows], reciprocal[Rows];
#pragma GCC unroll 8
  for (int k = 0; k < Rows; ++k) {
    count[k] = hn::Set(da, Acc(plan.cntY[y + k]));
    reciprocal[k] = hn::Set(da, Acc(plan.rcpY[y + k]));
  }
  const float* weight = plan.gfFull;  // weight[t], t = 0 .. taps - 1
  // Load i is row y - range + i; output row y + k takes loads k .. k + taps - 1.
  Span spans[4 * Rows + 2];
  const int spanCount = Spans(Rows, 0, taps + Rows - 2, 1, 0, taps - 1, spans);
  for (int j = 0; j < n; j += V * N) {
    if (o.sharp[0] != nullptr && j + V * N <= n && MaskedOut<Rows>(o, j, V * N)) {
      // Mask 0 keeps the sharp pixel: no blurred value is needed here.
      for (int k = 0; k < Rows; ++k) std::memcpy(o.out[k] + j, o.sharp[k] + j, std::size_t(V * N));
      continue;
    }
    const std::uint8_t* block = ring + std::size_t(j / kBlock) * ringStride + (j % kBlock);
    VA acc[Rows][V];
#pragma GCC unroll 8
    for (int k = 0; k < Rows; ++k)
#pragma GCC unroll 2
      for (int v = 0; v < V; ++v) acc[k][v] = hn::Zero(da);
    RunTaps<Rows, V>(spans, spanCount, acc, RingLoad<V, N>{block, offsets}, RingWeight{weight});
#pragma GCC unroll 8
    for (int k = 0; k < Rows; ++k) {
#pragma GCC unroll 2
      for (int v = 0; v < V; ++v) {
        const int at = j + v * N;
        if (at >= n) break;
        const bool whole = at + N <= n;
        VI b = Quantize(da, acc[k][v], count[k], reciprocal[k]);
        if (o.sharp[k] != nullptr) {
          // Past the row's end the sharp and mask bytes come from copies
          // padded with zeros, so nothing beyond the picture is read.
          const std::uint8_t* sharp = o.sharp[k] + at;
          const std::uint8_t* mask = o.mask3[k] + at;
          std::uint8_t sharpTail[64], maskTail[64];
          if (!whole) {
            const int valid = n - at;
            std::memset(sharpTail, 0, sizeof sharpTail);
            std::memset(maskTail, 0, sizeof maskTail);
            std::memcpy(sharpTail, sharp, std::size_t(valid));
            std::memcpy(maskTail, mask, std::size_t(valid));
            sharp = sharpTail;
            mask = maskTail;
          }
          const hn::Rebind<std::uint8_t, DA> db;
          b = Blend(hn::PromoteTo(di, hn::LoadU(db, sharp)), b, hn::PromoteTo(di, hn::LoadU(db, mask)));
        }
        if (whole) {
          StoreBytes(b, o.out[k] + at);
        } else {
          StoreBytes(b, tail);
          std::memcpy(o.out[k] + at, tail, std::size_t(n - at));
        }
      }
    }
  }
}

// ColumnRows<rows> for o.rows = 1 .. kRowsAtOnce, the cases generated.
template <int... Rows>
HWY_INLINE void ColumnPassOfCount(const Plan& plan, int y, const std::uint8_t* ring, std::size_t ringStride,
                                  const int* offsets, const Output& o, std::uint8_t* tail,
                                  std::integer_sequence<int, Rows...>) {
  (void)((o.rows == Rows + 1 && (ColumnRows<Rows + 1>(plan, y, ring, ringStride, offsets, o, tail), true)) ||
         ...);
}

void ColumnPass(const Plan& plan, int y, const std::uint8_t* ring, std::size_t ringStride, const int* offsets,
                const Output& o, std::uint8_t* tail) {
  ColumnPassOfCount(plan, y, ring, ringStride, offsets, o, tail,
                    std::make_integer_sequence<int, kRowsAtOnce>());
}

// The mask row, each byte three times (one per channel).
void SpreadMask(const std::uint8_t* mask, int width, std::uint8_t* out) {
  const hn::ScalableTag<std::uint8_t> d;
  const int N = int(hn::Lanes(d));
  int x = 0;
  for (; x + N <= width; x += N) {
    const auto m = hn::LoadU(d, mask + x);
    hn::StoreInterleaved3(m, m, m, d, out + 3 * x);
  }
  for (; x < width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = mask[x];
}

}  // namespace HWY_NAMESPACE
}  // namespace blur_simd
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace blur_simd {

HWY_EXPORT(RowPass);
HWY_EXPORT(ColumnPass);
HWY_EXPORT(SpreadMask);

void RowPass(const Plan& plan, const std::uint8_t* src, float* planes, std::uint8_t* bytes, std::uint8_t* out,
             const std::uint8_t* need) {
  HWY_DYNAMIC_DISPATCH(RowPass)(plan, src, planes, bytes, out, need);
}

void ColumnPass(const Plan& plan, int y, const std::uint8_t* ring, std::size_t ringStride, const int* offsets,
                const Output& o, std::uint8_t* tail) {
  HWY_DYNAMIC_DISPATCH(ColumnPass)(plan, y, ring, ringStride, offsets, o, tail);
}

void SpreadMask(const std::uint8_t* mask, int width, std::uint8_t* out) {
  HWY_DYNAMIC_DISPATCH(SpreadMask)(mask, width, out);
}

}  // namespace blur_simd
#endif  // HWY_ONCE
