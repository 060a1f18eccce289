// Fast tone adjustments: the same bytes as the plain forms in tone.cpp,
// with threads over rows.
//
// Brightness adds the same offset to every channel and clamps: a
// saturating add (or subtract) of the offset, exact by definition.
//
// Contrast depends on each channel value alone: a 256-entry table filled
// with the plain formula gives exactly the plain bytes.
//
// Saturation mixes the three channels with extended-precision factors.
// The vector form evaluates the same sums in float lanes. Its error
// against the extended result is at most 4.1 * 2^-24 * T, where
// T = |a| R + |b| G + |c| B <= 255 (|a| + |b| + |c|) (three roundings of
// the sum and products, one of each factor; the extended result's own
// error is below 2^-62 T). Rounding half to even, and the clamp to 0..255,
// change only at half-integers, so a value farther than the bound
// E = 255 (|a| + |b| + |c|) 2^-20 from every half-integer rounds the same
// in both; the pixels with any value within E of one go through the
// plain per-pixel code instead, as do leftover pixels at a row's end.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/tone_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "imaging/tone.h"

#ifndef TESSARIN_TONE_SIMD_SHARED
#define TESSARIN_TONE_SIMD_SHARED
namespace tone_simd {

// The saturation factors as floats, with the bound of the head comment.
struct SaturationLanes {
  float m[3][3];  // m[out][in]: output channel out from input channel in (red, green, blue)
  float bound;
};

// out[j] = table[in[j]] for n bytes, eight at a time through a word.
inline void MapBytes(const std::uint8_t* in, std::uint8_t* out, int n, const std::uint8_t* table) {
  int j = 0;
  for (; j + 8 <= n; j += 8) {
    std::uint64_t word, mapped = 0;
    std::memcpy(&word, in + j, 8);
    for (int k = 0; k < 8; ++k) mapped |= std::uint64_t(table[(word >> (8 * k)) & 255]) << (8 * k);
    std::memcpy(out + j, &mapped, 8);
  }
  for (; j < n; ++j) out[j] = table[in[j]];
}

}  // namespace tone_simd
#endif

HWY_BEFORE_NAMESPACE();
namespace tone_simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void BrightnessRow(const std::uint8_t* in, std::uint8_t* out, int n, int offset) {
  const hn::ScalableTag<std::uint8_t> d;
  const int N = int(hn::Lanes(d));
  const int magnitude = offset < 0 ? -offset : offset;
  const auto add = hn::Set(d, std::uint8_t(magnitude > 255 ? 255 : magnitude));
  int j = 0;
  for (; j + N <= n; j += N) {
    const auto v = hn::LoadU(d, in + j);
    hn::StoreU(offset < 0 ? hn::SaturatedSub(v, add) : hn::SaturatedAdd(v, add), d, out + j);
  }
  for (; j < n; ++j) out[j] = AdjustByte(in[j] + offset);
}

// out[j] = table[in[j]] for n bytes. With VBMI a 64-byte vector looks up
// all its bytes at once: two two-register byte permutes cover the table's
// lower and upper halves and bit 7 of each byte picks between them.
void MapRow(const std::uint8_t* in, std::uint8_t* out, int n, const std::uint8_t* table) {
  int j = 0;
#if HWY_TARGET == HWY_AVX3_DL
  const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
  for (; j + 64 <= n; j += 64) {
    const __m512i index = _mm512_loadu_si512(in + j);
    const __m512i lower = _mm512_permutex2var_epi8(t0, index, t1);
    const __m512i upper = _mm512_permutex2var_epi8(t2, index, t3);
    _mm512_storeu_si512(out + j, _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), lower, upper));
  }
#endif
  MapBytes(in + j, out + j, n - j, table);
}

// Saturates `count` pixels of `in` into `row` (which may be `in`);
// leftover and doubtful pixels go through SaturatePixel.
void SaturationRow(const std::uint8_t* in, std::uint8_t* row, int count, const SaturationLanes& s,
                   const SaturationFactors& f) {
  const hn::ScalableTag<float> df;
  const hn::Rebind<std::int32_t, decltype(df)> di;
  const hn::Rebind<std::uint8_t, decltype(df)> d8;
  const int N = int(hn::Lanes(df));
  const auto bound = hn::Set(df, s.bound);
  const auto half = hn::Set(df, 0.5f);
  const auto lo = hn::Zero(di);
  const auto hi = hn::Set(di, 255);
  int x = 0;
  for (; x + N <= count; x += N) {
    std::uint8_t* p = row + 3 * x;
    hn::Vec<decltype(d8)> b8, g8, r8;
    hn::LoadInterleaved3(d8, in + 3 * x, b8, g8, r8);
    const auto r = hn::ConvertTo(df, hn::PromoteTo(di, r8));
    const auto g = hn::ConvertTo(df, hn::PromoteTo(di, g8));
    const auto b = hn::ConvertTo(df, hn::PromoteTo(di, b8));
    // One channel at a time (no arrays of vectors: scalable vectors have no
    // size to make one of).
    auto doubtful = hn::Lt(hn::Zero(df), hn::Zero(df));
    const auto channel = [&](int c) {
      const auto v = hn::Add(hn::Add(hn::Mul(hn::Set(df, s.m[c][0]), r), hn::Mul(hn::Set(df, s.m[c][1]), g)),
                             hn::Mul(hn::Set(df, s.m[c][2]), b));
      // Distance from the nearest half-integer.
      const auto off = hn::Abs(hn::Sub(hn::Sub(v, hn::Floor(v)), half));
      doubtful = hn::Or(doubtful, hn::Le(off, bound));
      return v;
    };
    const auto out0 = channel(0), out1 = channel(1), out2 = channel(2);
    const bool anyDoubt = !hn::AllFalse(df, doubtful);
    // The doubtful pixels as they were, before the vector's bytes land on them.
    std::uint8_t before[3 * hn::MaxLanes(df)];
    if (anyDoubt) std::memcpy(before, in + 3 * x, std::size_t(3 * N));
    const auto red = hn::DemoteTo(d8, hn::Min(hn::Max(hn::NearestInt(out0), lo), hi));
    const auto green = hn::DemoteTo(d8, hn::Min(hn::Max(hn::NearestInt(out1), lo), hi));
    const auto blue = hn::DemoteTo(d8, hn::Min(hn::Max(hn::NearestInt(out2), lo), hi));
    hn::StoreInterleaved3(blue, green, red, d8, p);
    if (!anyDoubt) continue;
    std::uint8_t doubtBits[(hn::MaxLanes(df) + 7) / 8];
    hn::StoreMaskBits(df, doubtful, doubtBits);
    for (int i = 0; i < N; ++i)
      if (doubtBits[i / 8] >> (i % 8) & 1) {
        std::memcpy(p + 3 * i, before + 3 * i, 3);
        SaturatePixel(reinterpret_cast<TRGBTriple*>(p + 3 * i), f);
      }
  }
  for (; x < count; ++x) {
    if (row != in) std::memcpy(row + 3 * x, in + 3 * x, 3);
    SaturatePixel(reinterpret_cast<TRGBTriple*>(row + 3 * x), f);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace tone_simd
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <array>
#include <utility>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/pixel_access.h"

namespace tone_simd {
namespace {

HWY_EXPORT(BrightnessRow);
HWY_EXPORT(SaturationRow);
HWY_EXPORT(MapRow);

constexpr int kMinRows = 32;

// Runs body(in, out) for every row, over threads: `in` the row as it is,
// `out` where the new row goes (which may be `in`). A picture that shares
// its pixels is read where it is and written into a new picture, which
// then replaces it: no copy first. Otherwise it is changed in place.
template <class Body>
void ForEachRow(TBitmap& bmp, const Body& body) {
  const bool shared = bmp.SharesPixels();
  TBitmap fresh;
  if (shared) fresh = TBitmap::ForOverwrite(bmp.Width(), bmp.Height(), pf24bit);
  {
    // The const rows first: a shared picture stays shared.
    const TBmpConstRows in(bmp);
    const TBmpRows out(shared ? fresh : bmp);
    ParallelRows(bmp.Height(), kMinRows, [&](int first, int end) {
      for (int y = first; y < end; ++y) body(in.Row(y), out.Row(y));
    });
  }
  if (shared) bmp = std::move(fresh);
}

}  // namespace
}  // namespace tone_simd

namespace tone_simd {
namespace {

// The saturation factors in float lanes; false when the percentage lies so
// far outside the sliders' range that the float bound grows useless (such
// calls take the plain path, which gives the same bytes).
bool LanesFor(Extended percent, const SaturationFactors& f, SaturationLanes& lanes) {
  if (!(ExtAbs(percent) <= 10000)) return false;
  const Extended m[3][3] = {{f.satCompR + f.level, f.satCompG, f.satCompB},
                            {f.satCompR, f.satCompG + f.level, f.satCompB},
                            {f.satCompR, f.satCompG, f.satCompB + f.level}};
  Extended largest = 0;
  for (int c = 0; c < 3; ++c) {
    Extended sum = 0;
    for (int i = 0; i < 3; ++i) {
      lanes.m[c][i] = static_cast<float>(m[c][i]);
      sum += ExtAbs(m[c][i]);
    }
    largest = std::max(largest, sum);
  }
  lanes.bound = static_cast<float>(255 * largest * 0x1p-20L);
  return true;
}

}  // namespace
}  // namespace tone_simd

bool BrightnessFast(TBitmap& bmp, int percent) {
  if (bmp.PixelFormat() != pf24bit) return false;
  const int rr = BrightnessOffset(percent);
  if (rr == 0 || bmp.Width() == 0 || bmp.Height() == 0) return true;
  const int n = 3 * bmp.Width();
  tone_simd::ForEachRow(bmp, [&](const std::uint8_t* in, std::uint8_t* out) {
    HWY_DYNAMIC_DISPATCH(tone_simd::BrightnessRow)(in, out, n, rr);
  });
  return true;
}

bool ContrastFast(TBitmap& bmp, int nContrast) {
  if (bmp.PixelFormat() != pf24bit) return false;
  if (nContrast > kContrastLimit || nContrast < -kContrastLimit) return false;
  const float value = ContrastFactor(nContrast);
  std::array<std::uint8_t, 256> table;
  for (int c = 0; c < 256; ++c) table[std::size_t(c)] = ContrastChannel(std::uint8_t(c), value);
  const int n = 3 * bmp.Width();
  tone_simd::ForEachRow(bmp, [&](const std::uint8_t* in, std::uint8_t* out) {
    HWY_DYNAMIC_DISPATCH(tone_simd::MapRow)(in, out, n, table.data());
  });
  return true;
}

bool SaturationFast(TBitmap& bmp, Extended percent) {
  if (bmp.PixelFormat() != pf24bit) return false;
  const SaturationFactors f(percent);
  tone_simd::SaturationLanes lanes{};
  if (!tone_simd::LanesFor(percent, f, lanes)) return SaturationPlain(bmp, percent);
  const int w = bmp.Width();
  tone_simd::ForEachRow(bmp, [&](const std::uint8_t* in, std::uint8_t* out) {
    HWY_DYNAMIC_DISPATCH(tone_simd::SaturationRow)(in, out, w, lanes, f);
  });
  return true;
}

void AdjustToneFast(TBitmap& bmp, int saturation, int contrast, int brightness) {
  if (bmp.PixelFormat() != pf24bit) return;
  const SaturationFactors f{Extended(saturation)};
  tone_simd::SaturationLanes lanes{};
  if (saturation != 0 && !tone_simd::LanesFor(Extended(saturation), f, lanes)) {
    AdjustTonePlain(bmp, saturation, contrast, brightness);
    return;
  }
  // Contrast then brightness act on each channel value alone: one table
  // does both (a contrast outside -100 .. 100 is refused and left out).
  const bool contrastOn = contrast != 0 && contrast >= -100 && contrast <= 100;
  const int offset = brightness != 0 ? BrightnessOffset(brightness) : 0;
  const float value = contrastOn ? ContrastFactor(contrast) : 1.0f;
  std::uint8_t table[256];
  for (int v = 0; v < 256; ++v) {
    const int c = contrastOn ? ContrastChannel(std::uint8_t(v), value) : v;
    table[v] = brightness != 0 ? AdjustByte(c + offset) : std::uint8_t(c);
  }
  if (saturation == 0 && !contrastOn && brightness == 0) return;
  const int w = bmp.Width();
  tone_simd::ForEachRow(bmp, [&](const std::uint8_t* in, std::uint8_t* out) {
    if (saturation != 0) {
      HWY_DYNAMIC_DISPATCH(tone_simd::SaturationRow)(in, out, w, lanes, f);
      in = out;
    }
    if (contrastOn || brightness != 0) HWY_DYNAMIC_DISPATCH(tone_simd::MapRow)(in, out, 3 * w, table);
  });
}

#endif  // HWY_ONCE
