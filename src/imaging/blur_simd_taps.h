// The fast blur's tap loop, which both passes share, per instruction set
// (included by blur_simd_kernels.cpp once for each target Highway builds).
//
// K accumulators (each V vectors wide) take taps from a sequence of loaded
// vectors s = s0, s0 + 1, ...; along a stretch of s the accumulators that
// take the vector are a fixed range kLo .. kHi. Spans cuts the loads into
// such stretches once per pass; Segment runs one stretch with the range
// fixed at compile time, so the loop has no per-accumulator tests; RunTaps
// picks, for each stretch, the instantiation of its range from a dispatch
// generated at compile time over every pair kLo <= kHi < K.
//
// Each tap stores float(acc + v * w), the exact sum rounded once: one
// single-precision fused multiply-add where the target has them, otherwise
// a step in double lanes (exact product and sum) demoted to float.

// Highway's include guard for per-target headers: toggled on each pass.
#if defined(TESSARIN_IMAGING_BLUR_SIMD_TAPS_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef TESSARIN_IMAGING_BLUR_SIMD_TAPS_H_
#undef TESSARIN_IMAGING_BLUR_SIMD_TAPS_H_
#else
#define TESSARIN_IMAGING_BLUR_SIMD_TAPS_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <utility>

HWY_BEFORE_NAMESPACE();
namespace blur_simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_NATIVE_FMA
using Acc = float;
#else
using Acc = double;
#endif

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

// The loads s0 .. s1 - 1, each taken by the accumulators KLo .. KHi.
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
// `out` has room for 4 * K + 2 spans.
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

// Runs Segment<KLo, KHi> for the span whose pair is Pair = KLo * K + KHi
// (pairs with KLo > KHi never occur).
template <int Pair, int K, int V, class Vec, class Load, class Weight>
HWY_INLINE bool SegmentIfPair(int pair, const Span& span, Vec (&acc)[K][V], const Load& load,
                              const Weight& weight) {
  constexpr int kLo = Pair / K, kHi = Pair % K;
  if constexpr (kLo <= kHi) {
    if (pair != Pair) return false;
    Segment<kLo, kHi, K, V>(span.s0, span.s1, acc, load, weight);
    return true;
  } else {
    return false;
  }
}

// One comparison per pair, which the compiler turns into a jump table: the
// switch over every (kLo, kHi), written out by the fold.
template <int K, int V, class Vec, class Load, class Weight, int... Pairs>
HWY_INLINE void SegmentOfSpan(const Span& span, Vec (&acc)[K][V], const Load& load, const Weight& weight,
                              std::integer_sequence<int, Pairs...>) {
  const int pair = span.kLo * K + span.kHi;
  (void)(SegmentIfPair<Pairs, K, V>(pair, span, acc, load, weight) || ...);
}

// Runs the taps of all spans; K is 1 .. 8.
template <int K, int V, class Vec, class Load, class Weight>
HWY_INLINE void RunTaps(const Span* spans, int count, Vec (&acc)[K][V], const Load& load,
                        const Weight& weight) {
  static_assert(K >= 1 && K <= 8, "at most 8 accumulators");
  for (int i = 0; i < count; ++i)
    SegmentOfSpan<K, V>(spans[i], acc, load, weight, std::make_integer_sequence<int, K * K>());
}

}  // namespace HWY_NAMESPACE
}  // namespace blur_simd
HWY_AFTER_NAMESPACE();

#endif  // include guard
