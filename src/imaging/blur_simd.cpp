// Fast Gaussian blur: the same bytes as the plain form in blur.cpp, from
// vector code (Highway, chosen at run time for the CPU) and threads.
//
// Why it is exact:
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
//   pass and on its row in the column pass; it is summed once per column
//   and per row in the plain order.
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
// - The rows are split into bands, one per thread; every output pixel is
//   computed by the same steps whichever band it falls in.
// - BlurredOverlay: a mask value of 0 keeps the sharp pixel whatever the
//   blurred one is, so stretches that only such pixels read are not
//   computed (the blend multiplies whatever lies there by 0).
//
// Speed: every tap is a multiply-add that must follow the previous one, so
// the work is what it is; the kernels keep the units busy. The row pass
// splits a row into its three channels and runs them together; each
// vector loaded along the row serves every output vector whose window
// covers it (about 2 * range / 8 of them). The column pass makes eight
// output rows from each row it loads, and reads the ring in memory order.
//
// Memory: the row pass streams through a ring of 6 * zone + 8 rows per band
// instead of a second picture. Rows a band needs from its neighbours are
// row-passed once, before any band writes, so the blur can run in place.
// BlurredOverlay reads the sharp picture, blends each blurred row into the
// destination through the mask as it is made, and needs no blurred copy.
//
// Preconditions of the kernels: rows of the ring and of the scratch
// buffers carry at least kPad bytes (or floats) of slack beyond the row,
// since whole vectors are computed past a row's end and only the row's own
// bytes are stored into a picture.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/blur_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#ifndef TESSARIN_BLUR_SIMD_SHARED
#define TESSARIN_BLUR_SIMD_SHARED
namespace blurfast {

// Slack beyond every buffer row, in elements; more than any target's
// widest block (8 vectors of 16 floats).
constexpr int kPad = 256;
// Output rows the column pass makes at once from one load of each row.
constexpr int kRowsAtOnce = 8;
// The ring stores its rows in blocks of this many bytes, the blocks of all
// rows for one stretch of columns side by side, so that the column pass
// reads memory in order.
constexpr int kBlock = 64;

// What every row of one blur shares.
struct Plan {
  int width = 0;  // pixels
  int height = 0;
  int n = 0;                      // bytes (channel values) per row, 3 * width
  int range = 0;                  // 3 * zone
  const float* gfFull = nullptr;  // weights of taps -range .. range
  const float* cntX = nullptr;    // per pixel of a row: the row pass's count
  const float* rcpX = nullptr;    // and its reciprocal
  const float* cntY = nullptr;    // per row: the column pass's count
  const float* rcpY = nullptr;
};

// In BlurredOverlay only pixels whose mask is not 0 need their blurred
// value, so the row pass may leave out stretches of a row that no such
// pixel within `range` rows reads. The need is kept per group of
// kNeedGroup pixels: need[g] != 0 when group g of the row is needed.
constexpr int kNeedGroup = 8;

// Where the column pass puts its rows: straight into `out`, or blended
// with `sharp` through the per-channel mask `mask3`.
struct Output {
  std::uint8_t* out[kRowsAtOnce];
  const std::uint8_t* sharp[kRowsAtOnce];  // null: plain blur
  const std::uint8_t* mask3[kRowsAtOnce];
  int rows;
};

// Scratch sizes of one channel plane of the row pass: floats with range
// zeros on each side and room for whole blocks of vectors; bytes likewise.
inline std::size_t PlaneFloats(const Plan& plan) {
  return std::size_t(plan.width) + 2 * plan.range + 2 * kPad;
}
inline std::size_t PlaneBytes(const Plan& plan) {
  return std::size_t(plan.width) + 2 * kPad;
}

}  // namespace blurfast
#endif

HWY_BEFORE_NAMESPACE();
namespace blurfast {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_NATIVE_FMA
using Acc = float;
#else
using Acc = double;
#endif
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

// acc + v * w rounded once to float.
template <class V>
HWY_INLINE V Tap(V v, V w, V acc) {
#if HWY_NATIVE_FMA
  return hn::MulAdd(v, w, acc);
#else
  // Exact in double; the only rounding is the demotion to float.
  const hn::DFromV<V> d;
  return hn::PromoteTo(d, hn::DemoteTo(hn::Rebind<float, decltype(d)>(), hn::Add(hn::Mul(v, w), acc)));
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

// Both passes share one loop shape: K accumulators (each V vectors wide)
// take taps from a sequence of loaded vectors s = s0, s0 + 1, ...; along a
// stretch of s the accumulators that take the vector are a fixed range
// kLo .. kHi. Segment runs one such stretch with the range fixed at
// compile time, so the loop has no per-accumulator tests; RunSegment picks
// the instantiation for a range known only at run time.
template <int KLo, int KHi, int K, int V, class Vec, class Load, class Weight>
HWY_INLINE void Segment(int s0, int s1, Vec (&acc)[K][V], const Load& load, const Weight& weight) {
  const hn::DFromV<Vec> da;
  for (int s = s0; s < s1; ++s) {
    Vec in[V];
    load(s, in);
#pragma GCC unroll 8
    for (int k = KLo; k <= KHi; ++k) {
      const Vec w = hn::Set(da, Acc(weight(s, k)));
#pragma GCC unroll 2
      for (int v = 0; v < V; ++v) acc[k][v] = Tap(in[v], w, acc[k][v]);
    }
  }
}

// A stretch of loads s0 .. s1 - 1 taken by the accumulators kLo .. kHi.
struct Span {
  int s0, s1, kLo, kHi;
};

// The spans of K accumulators over the loads s = sFirst .. sLast, where
// accumulator k takes the loads k * step + tFirst .. k * step + tLast.
HWY_INLINE int Spans(int K, int sFirst, int sLast, int step, int tFirst, int tLast, Span* out) {
  int count = 0;
  int s = sFirst;
  while (s <= sLast) {
    int kLo = K, kHi = -1, until = sLast + 1;
    for (int k = 0; k < K; ++k) {
      const int first = k * step + tFirst, last = k * step + tLast;
      if (s >= first && s <= last) {
        kLo = std::min(kLo, k);
        kHi = std::max(kHi, k);
        until = std::min(until, last + 1);
      } else if (first > s) {
        until = std::min(until, first);
      }
    }
    if (kLo <= kHi) out[count++] = Span{s, until, kLo, kHi};
    s = until;
  }
  return count;
}

// Runs the taps of all spans; K is at most 8.
template <int K, int V, class Vec, class Load, class Weight>
HWY_INLINE void RunTaps(const Span* spans, int count, Vec (&acc)[K][V], const Load& load,
                        const Weight& weight) {
  for (int i = 0; i < count; ++i) {
    const int s0 = spans[i].s0, s1 = spans[i].s1;
    switch (spans[i].kLo * 8 + spans[i].kHi) {
      case 0 * 8 + 0:
        if constexpr (0 < K) Segment<0, 0, K, V>(s0, s1, acc, load, weight);
        break;
      case 0 * 8 + 1:
        if constexpr (1 < K) Segment<0, 1, K, V>(s0, s1, acc, load, weight);
        break;
      case 0 * 8 + 2:
        if constexpr (2 < K) Segment<0, 2, K, V>(s0, s1, acc, load, weight);
        break;
      case 0 * 8 + 3:
        if constexpr (3 < K) Segment<0, 3, K, V>(s0, s1, acc, load, weight);
        break;
      case 0 * 8 + 4:
        if constexpr (4 < K) Segment<0, 4, K, V>(s0, s1, acc, load, weight);
        break;
      case 0 * 8 + 5:
        if constexpr (5 < K) Segment<0, 5, K, V>(s0, s1, acc, load, weight);
        break;
      case 0 * 8 + 6:
        if constexpr (6 < K) Segment<0, 6, K, V>(s0, s1, acc, load, weight);
        break;
      case 0 * 8 + 7:
        if constexpr (7 < K) Segment<0, 7, K, V>(s0, s1, acc, load, weight);
        break;
      case 1 * 8 + 1:
        if constexpr (1 < K) Segment<1, 1, K, V>(s0, s1, acc, load, weight);
        break;
      case 1 * 8 + 2:
        if constexpr (2 < K) Segment<1, 2, K, V>(s0, s1, acc, load, weight);
        break;
      case 1 * 8 + 3:
        if constexpr (3 < K) Segment<1, 3, K, V>(s0, s1, acc, load, weight);
        break;
      case 1 * 8 + 4:
        if constexpr (4 < K) Segment<1, 4, K, V>(s0, s1, acc, load, weight);
        break;
      case 1 * 8 + 5:
        if constexpr (5 < K) Segment<1, 5, K, V>(s0, s1, acc, load, weight);
        break;
      case 1 * 8 + 6:
        if constexpr (6 < K) Segment<1, 6, K, V>(s0, s1, acc, load, weight);
        break;
      case 1 * 8 + 7:
        if constexpr (7 < K) Segment<1, 7, K, V>(s0, s1, acc, load, weight);
        break;
      case 2 * 8 + 2:
        if constexpr (2 < K) Segment<2, 2, K, V>(s0, s1, acc, load, weight);
        break;
      case 2 * 8 + 3:
        if constexpr (3 < K) Segment<2, 3, K, V>(s0, s1, acc, load, weight);
        break;
      case 2 * 8 + 4:
        if constexpr (4 < K) Segment<2, 4, K, V>(s0, s1, acc, load, weight);
        break;
      case 2 * 8 + 5:
        if constexpr (5 < K) Segment<2, 5, K, V>(s0, s1, acc, load, weight);
        break;
      case 2 * 8 + 6:
        if constexpr (6 < K) Segment<2, 6, K, V>(s0, s1, acc, load, weight);
        break;
      case 2 * 8 + 7:
        if constexpr (7 < K) Segment<2, 7, K, V>(s0, s1, acc, load, weight);
        break;
      case 3 * 8 + 3:
        if constexpr (3 < K) Segment<3, 3, K, V>(s0, s1, acc, load, weight);
        break;
      case 3 * 8 + 4:
        if constexpr (4 < K) Segment<3, 4, K, V>(s0, s1, acc, load, weight);
        break;
      case 3 * 8 + 5:
        if constexpr (5 < K) Segment<3, 5, K, V>(s0, s1, acc, load, weight);
        break;
      case 3 * 8 + 6:
        if constexpr (6 < K) Segment<3, 6, K, V>(s0, s1, acc, load, weight);
        break;
      case 3 * 8 + 7:
        if constexpr (7 < K) Segment<3, 7, K, V>(s0, s1, acc, load, weight);
        break;
      case 4 * 8 + 4:
        if constexpr (4 < K) Segment<4, 4, K, V>(s0, s1, acc, load, weight);
        break;
      case 4 * 8 + 5:
        if constexpr (5 < K) Segment<4, 5, K, V>(s0, s1, acc, load, weight);
        break;
      case 4 * 8 + 6:
        if constexpr (6 < K) Segment<4, 6, K, V>(s0, s1, acc, load, weight);
        break;
      case 4 * 8 + 7:
        if constexpr (7 < K) Segment<4, 7, K, V>(s0, s1, acc, load, weight);
        break;
      case 5 * 8 + 5:
        if constexpr (5 < K) Segment<5, 5, K, V>(s0, s1, acc, load, weight);
        break;
      case 5 * 8 + 6:
        if constexpr (6 < K) Segment<5, 6, K, V>(s0, s1, acc, load, weight);
        break;
      case 5 * 8 + 7:
        if constexpr (7 < K) Segment<5, 7, K, V>(s0, s1, acc, load, weight);
        break;
      case 6 * 8 + 6:
        if constexpr (6 < K) Segment<6, 6, K, V>(s0, s1, acc, load, weight);
        break;
      case 6 * 8 + 7:
        if constexpr (7 < K) Segment<6, 7, K, V>(s0, s1, acc, load, weight);
        break;
      case 7 * 8 + 7:
        if constexpr (7 < K) Segment<7, 7, K, V>(s0, s1, acc, load, weight);
        break;
      default:
        break;
    }
  }
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

// Row pass of one row: `src` holds plan.n bytes, `out` receives as many
// (and slack). `planes` is scratch of 3 * PlaneFloats(plan) floats and
// `bytes` of 3 * PlaneBytes(plan). `need`, when given, marks the groups of
// pixels that must be computed; the others may hold anything.
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

// Column pass for `Rows` output rows starting at row y. The row-passed
// rows live in the ring in blocks of kBlock bytes: block b of the row in
// slot s starts at ring + b * ringStride + s * kBlock. offsets[i] is
// s * kBlock for the row y - range + i (a zero row outside the picture),
// i = 0 .. 2 * range + Rows - 1. Each row loaded feeds every output row
// whose window holds it, in increasing row order for each output row.
template <int Rows>
void ColumnPass(const Plan& plan, int y, const std::uint8_t* ring, std::size_t ringStride, const int* offsets,
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

void ColumnPassRows(const Plan& plan, int y, const std::uint8_t* ring, std::size_t ringStride,
                    const int* offsets, const Output& o, std::uint8_t* tail) {
  switch (o.rows) {
    case 1:
      ColumnPass<1>(plan, y, ring, ringStride, offsets, o, tail);
      break;
    case 2:
      ColumnPass<2>(plan, y, ring, ringStride, offsets, o, tail);
      break;
    case 3:
      ColumnPass<3>(plan, y, ring, ringStride, offsets, o, tail);
      break;
    case 4:
      ColumnPass<4>(plan, y, ring, ringStride, offsets, o, tail);
      break;
    case 5:
      ColumnPass<5>(plan, y, ring, ringStride, offsets, o, tail);
      break;
    case 6:
      ColumnPass<6>(plan, y, ring, ringStride, offsets, o, tail);
      break;
    case 7:
      ColumnPass<7>(plan, y, ring, ringStride, offsets, o, tail);
      break;
    default:
      ColumnPass<8>(plan, y, ring, ringStride, offsets, o, tail);
      break;
  }
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
}  // namespace blurfast
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <cstdlib>
#include <memory>

#include "imaging/blur.h"
#include "imaging/overlay.h"
#include "imaging/parallel.h"
#include "imaging/pixel_access.h"

namespace blurfast {

HWY_EXPORT(RowPass);
HWY_EXPORT(ColumnPassRows);
HWY_EXPORT(SpreadMask);

namespace {

// Counts (the sum of the weights of the taps inside the picture, added in
// the plain order) for every position along an axis of `length` pixels.
std::vector<float> Counts(const std::vector<float>& gf, int range, int length) {
  std::vector<float> counts(std::size_t(std::max(length, 0)));
  float inner = -1;  // the count of a position whose whole window fits
  for (int x = 0; x < length; ++x) {
    const bool whole = x - range >= 0 && x + range <= length - 1;
    if (whole && inner >= 0) {
      counts[std::size_t(x)] = inner;
      continue;
    }
    float count = 0;
    for (int i = std::max(0, x - range); i <= std::min(length - 1, x + range); ++i)
      count = static_cast<float>(static_cast<long double>(count) + gf[std::size_t(std::abs(i - x))]);
    counts[std::size_t(x)] = count;
    if (whole) inner = count;
  }
  return counts;
}

// Everything the bands share: weights, counts, and the row-passed rows
// that lie within `range` of a band boundary.
class Blur {
 public:
  Blur(int width, int height, int zone, const TBitmap& src) : src_(src) {
    range_ = 3 * zone;
    gf_ = GaussianWeights(zone);
    plan_.width = width;
    plan_.height = height;
    plan_.n = 3 * width;
    plan_.range = range_;
    gfFull_.resize(std::size_t(2 * range_ + 1));
    for (int t = -range_; t <= range_; ++t) gfFull_[std::size_t(t + range_)] = gf_[std::size_t(std::abs(t))];
    plan_.gfFull = gfFull_.data();
    const std::vector<float> cx = Counts(gf_, range_, width);
    cntX_.assign(std::size_t(width) + 2 * kPad, 1.0f);
    std::copy(cx.begin(), cx.end(), cntX_.begin());
    rcpX_.resize(cntX_.size());
    for (std::size_t j = 0; j < cntX_.size(); ++j) rcpX_[j] = 1.0f / cntX_[j];
    cntY_ = Counts(gf_, range_, height);
    rcpY_.resize(cntY_.size());
    for (std::size_t y = 0; y < cntY_.size(); ++y) rcpY_[y] = 1.0f / cntY_[y];
    plan_.cntX = cntX_.data();
    plan_.rcpX = rcpX_.data();
    plan_.cntY = cntY_.data();
    plan_.rcpY = rcpY_.data();
    zeroRow_.assign(RowStride(), 0);
  }

  std::size_t RowStride() const { return std::size_t(plan_.n) + kPad; }

  // For BlurredOverlay: which groups of each row the row pass must compute
  // (some pixel within `range` rows of it, in the group, has a mask value
  // other than 0).
  void NeedFromMask(const TBitmap& mask) {
    const int h = plan_.height, w = plan_.width;
    groups_ = (w + kNeedGroup - 1) / kNeedGroup;
    // Masked-in pixels per group, rows 0 .. h - 1, then a running count
    // over the window of rows k - range .. k + range.
    std::vector<std::uint8_t> any(std::size_t(h) * groups_, 0);
    const TBmpConstRows rows(mask);
    ParallelRows(h, 64, [&](int first, int end) {
      static_assert(kNeedGroup == 8, "one 64-bit word per group");
      for (int y = first; y < end; ++y) {
        const std::uint8_t* m = rows.Row(y);
        std::uint8_t* out = any.data() + std::size_t(y) * groups_;
        int g = 0;
        for (; (g + 1) * kNeedGroup <= w; ++g) {
          std::uint64_t word;
          std::memcpy(&word, m + g * kNeedGroup, sizeof word);
          out[g] = word != 0;
        }
        for (int x = g * kNeedGroup; x < w; ++x) out[g] |= m[x] != 0;
      }
    });
    need_.assign(std::size_t(h) * groups_, 0);
    ParallelRows(groups_, 16, [&](int first, int end) {
      for (int g = first; g < end; ++g) {
        int count = 0;  // masked-in rows among y - range .. y + range
        for (int y = 0; y < std::min(h, range_); ++y) count += any[std::size_t(y) * groups_ + g];
        for (int k = 0; k < h; ++k) {
          if (k + range_ < h) count += any[std::size_t(k + range_) * groups_ + g];
          if (k - range_ - 1 >= 0) count -= any[std::size_t(k - range_ - 1) * groups_ + g];
          need_[std::size_t(k) * groups_ + g] = count > 0;
        }
      }
    });
  }

  const std::uint8_t* Need(int k) const {
    return need_.empty() ? nullptr : need_.data() + std::size_t(k) * groups_;
  }

  // Splits the rows into `bands` bands and row-passes, before any band
  // runs, every row that a band needs from outside itself.
  void Prepare(int bands) {
    const int h = plan_.height;
    bandStart_.resize(std::size_t(bands) + 1);
    for (int b = 0; b <= bands; ++b) bandStart_[std::size_t(b)] = int(std::int64_t(h) * b / bands);
    storedIndex_.assign(std::size_t(h), -1);
    std::vector<int> rows;
    for (int b = 1; b < bands; ++b) {
      const int cut = bandStart_[std::size_t(b)];
      for (int k = std::max(0, cut - range_); k < std::min(h, cut + range_); ++k) {
        if (storedIndex_[std::size_t(k)] < 0) {
          storedIndex_[std::size_t(k)] = int(rows.size());
          rows.push_back(k);
        }
      }
    }
    stored_.assign(rows.size() * RowStride(), 0);
    const TBmpConstRows in(src_);
    ParallelRows(int(rows.size()), 16, [&](int first, int end) {
      std::vector<float> planes(3 * PlaneFloats(plan_));
      std::vector<std::uint8_t> bytes(3 * PlaneBytes(plan_));
      for (int i = first; i < end; ++i) {
        HWY_DYNAMIC_DISPATCH(RowPass)
        (plan_, in.Row(rows[std::size_t(i)]), planes.data(), bytes.data(), Stored(i),
         Need(rows[std::size_t(i)]));
      }
    });
  }

  int Bands() const { return int(bandStart_.size()) - 1; }

  // The buffers of one band. All are made before any band runs, so that
  // running out of memory stops the blur before it has written anything.
  struct Workspace {
    std::vector<std::uint8_t> ring, row, bytes, spread, tail;
    std::vector<float> planes;
    std::vector<int> offsets;
  };

  Workspace NewWorkspace(bool blend) const {
    const int slots = 2 * range_ + kRowsAtOnce;
    const std::size_t blocks = (std::size_t(plan_.n) + kBlock - 1) / kBlock;
    Workspace w;
    w.ring.assign(blocks * std::size_t(slots) * kBlock + kPad, 0);
    w.row.assign(RowStride(), 0);
    w.planes.assign(3 * PlaneFloats(plan_), 0.0f);
    w.bytes.assign(3 * PlaneBytes(plan_), 0);
    w.spread.assign(blend ? kRowsAtOnce * RowStride() : 0, 0);
    w.tail.assign(kPad, 0);
    w.offsets.assign(std::size_t(2 * range_ + kRowsAtOnce), 0);
    return w;
  }

  // Blurs band `b` into `dstRows` (which may be the source picture's own
  // rows), blending with the source through `mask` when it is given.
  void RunBand(int b, Workspace& work, std::uint8_t* const* dstRows, const TBmpConstRows& in,
               const TBmpConstRows* mask) {
    const int h = plan_.height, r = range_;
    const int y0 = bandStart_[std::size_t(b)], y1 = bandStart_[std::size_t(b) + 1];
    if (y0 >= y1) return;
    const int slots = 2 * r + kRowsAtOnce;
    const std::size_t blocks = (std::size_t(plan_.n) + kBlock - 1) / kBlock;
    const std::size_t ringStride = std::size_t(slots) * kBlock;
    std::vector<std::uint8_t>& ring = work.ring;
    std::vector<std::uint8_t>& row = work.row;
    std::vector<float>& planes = work.planes;
    std::vector<std::uint8_t>& bytes = work.bytes;
    std::vector<std::uint8_t>& spread = work.spread;
    std::vector<std::uint8_t>& tail = work.tail;
    std::vector<int>& offsets = work.offsets;
    const auto slotOf = [&](int k) { return ((k % slots) + slots) % slots; };
    // Puts row k, row-passed (or zero outside the picture), into its slot.
    const auto produce = [&](int k) {
      const std::uint8_t* src = zeroRow_.data();
      if (k >= 0 && k < h) {
        const int stored = storedIndex_[std::size_t(k)];
        if (stored >= 0) {
          src = Stored(stored);
        } else {
          HWY_DYNAMIC_DISPATCH(RowPass)(plan_, in.Row(k), planes.data(), bytes.data(), row.data(), Need(k));
          src = row.data();
        }
      }
      std::uint8_t* slot = ring.data() + std::size_t(slotOf(k)) * kBlock;
      for (std::size_t i = 0; i < blocks; ++i) std::memcpy(slot + i * ringStride, src + i * kBlock, kBlock);
    };
    int next = y0 - r;  // the next row to put into the ring
    for (int y = y0; y < y1; y += kRowsAtOnce) {
      const int count = std::min(kRowsAtOnce, y1 - y);
      for (; next <= y + count - 1 + r; ++next) produce(next);
      for (int i = 0; i < 2 * r + count; ++i) offsets[std::size_t(i)] = slotOf(y - r + i) * kBlock;
      Output o{};
      o.rows = count;
      for (int k = 0; k < count; ++k) {
        o.out[k] = dstRows[y + k];
        o.sharp[k] = nullptr;
        if (mask) {
          std::uint8_t* m3 = spread.data() + std::size_t(k) * RowStride();
          HWY_DYNAMIC_DISPATCH(SpreadMask)(mask->Row(y + k), plan_.width, m3);
          o.sharp[k] = in.Row(y + k);
          o.mask3[k] = m3;
        }
      }
      HWY_DYNAMIC_DISPATCH(ColumnPassRows)(plan_, y, ring.data(), ringStride, offsets.data(), o, tail.data());
    }
  }

 private:
  std::uint8_t* Stored(int i) { return stored_.data() + std::size_t(i) * RowStride(); }
  const std::uint8_t* Stored(int i) const { return stored_.data() + std::size_t(i) * RowStride(); }

  const TBitmap& src_;
  int range_ = 0;
  std::vector<float> gf_, gfFull_, cntX_, rcpX_, cntY_, rcpY_;
  Plan plan_;
  std::vector<std::uint8_t> zeroRow_;
  std::vector<int> bandStart_;
  std::vector<int> storedIndex_;
  std::vector<std::uint8_t> stored_;
  std::vector<std::uint8_t> need_;
  int groups_ = 0;
};

// One band per thread, each at least a few windows high so that the rows
// shared between bands stay a small part of the work.
int BandCount(int height, int range) {
  const int minRows = std::max(64, 4 * range);
  return std::max(1, std::min(ThreadCount(), height / minRows));
}

// Blurs `src` into the rows `dstRows` (which may be src's own rows),
// blending through `mask` when given.
void Run(const TBitmap& src, int zone, std::uint8_t* const* dstRows, const TBitmap* mask) {
  const int w = src.Width(), h = src.Height();
  Blur blur(w, h, zone, src);
  if (mask) blur.NeedFromMask(*mask);
  blur.Prepare(BandCount(h, 3 * zone));
  const TBmpConstRows in(src);
  std::unique_ptr<TBmpConstRows> maskRows;
  if (mask) maskRows = std::make_unique<TBmpConstRows>(*mask);
  std::vector<Blur::Workspace> work;
  for (int b = 0; b < blur.Bands(); ++b) work.push_back(blur.NewWorkspace(mask != nullptr));
  ParallelFor(blur.Bands(),
              [&](int b) { blur.RunBand(b, work[std::size_t(b)], dstRows, in, maskRows.get()); });
}

}  // namespace
}  // namespace blurfast

bool GaussianBlurFast(TBitmap& bmp, int zone) {
  if (bmp.PixelFormat() != pf24bit) return false;
  if (zone < 1 || zone > 30) return false;
  if (bmp.Width() == 0 || bmp.Height() == 0) return true;
  if (bmp.SharesPixels()) {
    // Blurring into a new picture saves copying the shared one first.
    TBitmap out = TBitmap::ForOverwrite(bmp.Width(), bmp.Height(), pf24bit);
    const TBmpRows rows(out);
    blurfast::Run(bmp, zone, rows.Rows(), nullptr);
    bmp = std::move(out);
  } else {
    const TBmpRows rows(bmp);
    blurfast::Run(bmp, zone, rows.Rows(), nullptr);
  }
  return true;
}

void BlurredOverlayFast(TBitmap& dst, const TBitmap& sharp, const TBitmap& mask, int zone) {
  const bool fused = sharp.PixelFormat() == pf24bit && mask.PixelFormat() == pf8bit && zone >= 1 &&
                     zone <= 30 && mask.Width() >= sharp.Width() && mask.Height() >= sharp.Height() &&
                     sharp.Width() > 0 && sharp.Height() > 0;
  if (!fused) {
    // The blur refuses the picture or the zone, or the overlay refuses the
    // mask: nothing is blended, and the result is the sharp picture.
    dst = sharp;
    return;
  }
  // A destination of the right size with pixels of its own (the result of
  // the last composition) is written over in place: no new picture, and no
  // first touch of new memory.
  const bool reuse = &dst != &sharp && &dst != &mask && !dst.SharesPixels() && dst.PixelFormat() == pf24bit &&
                     dst.Width() == sharp.Width() && dst.Height() == sharp.Height();
  TBitmap out;
  if (!reuse) out = TBitmap::ForOverwrite(sharp.Width(), sharp.Height(), pf24bit);
  const TBmpRows rows(reuse ? dst : out);
  blurfast::Run(sharp, zone, rows.Rows(), &mask);
  if (!reuse) dst = std::move(out);
}
#endif  // HWY_ONCE
