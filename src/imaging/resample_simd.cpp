// Fast resampling: the same bytes as the plain form in resample.cpp, from
// vector code (Highway, chosen at run time) and threads over rows.
//
// Nearest neighbour copies pixels and needs no arithmetic.
//
// The other methods weigh source pixels by the extended-precision weights
// of the plain form. Here the weights are rounded to float and each
// destination row is formed in two steps: the weighted sum of its source
// rows, for every source column, then the weighted sum of the columns at
// each destination pixel's taps. This is the plain sum in another order
// and another precision. With u = 2^-24 and SX, SY the largest sums of
// absolute weights along a row and down a column, each step is within
// 5u of its exact value relative to 255 SX SY (rounding of the weights,
// products and partial sums in float), so the fast value is within
// 10u * 255 * SX * SY of the exact sum; the plain form's own roundings in
// extended are below 2^-59 of that. Rounding half to even and the clamp to
// 0 .. 255 change only at half-integers, so where the fast value lies
// farther than E = 2^-19 * 255 * SX * SY (more than three times the bound)
// from every half-integer it rounds as the plain one does; the few pixels
// nearer to one are computed the plain way.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/resample_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstdint>

#ifndef TESSARIN_RESAMPLE_SIMD_SHARED
#define TESSARIN_RESAMPLE_SIMD_SHARED
namespace resample_simd {

// What every destination row of one resampling shares.
struct Plan {
  int sourceValues;  // channel values per source row, 3 * source width
  int width;         // destination pixels per row
  int taps;          // 2 or 4
  // Per tap t and destination column x (row-major by tap, padded): the
  // source channel value offset 3 * column of the tap, and its weight.
  const std::int32_t* offset;
  const float* weight;
  int stride;  // entries per tap in offset[] and weight[]
  float near;  // E of the head comment
};

}  // namespace resample_simd
#endif

HWY_BEFORE_NAMESPACE();
namespace resample_simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The weighted sum of `taps` source rows for every channel value:
// column[e] = sum over j of rows[j][e] * weights[j].
void SumRows(const Plan& p, const std::uint8_t* const* rows, const float* weights, float* column) {
  const hn::ScalableTag<float> df;
  const hn::Rebind<std::int32_t, decltype(df)> di;
  const hn::Rebind<std::uint8_t, decltype(df)> d8;
  const int N = int(hn::Lanes(df));
  int e = 0;
  for (; e + N <= p.sourceValues; e += N) {
    auto sum = hn::Zero(df);
    for (int j = 0; j < p.taps; ++j) {
      const auto v = hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d8, rows[j] + e)));
      sum = hn::MulAdd(v, hn::Set(df, weights[j]), sum);
    }
    hn::StoreU(sum, df, column + e);
  }
  for (; e < p.sourceValues; ++e) {
    float sum = 0;
    for (int j = 0; j < p.taps; ++j) sum += float(rows[j][e]) * weights[j];
    column[e] = sum;
  }
}

// The weighted sum of the column sums at each destination pixel's taps:
// sums[3 * x + c] = sum over t of column[offset(t, x) + c] * weight(t, x),
// the taps in order, one multiply-add each (fused where the instruction set
// has it), as in SumRows. A tap's three channel sums lie side by side, so
// one four-lane load takes them (and one value beyond, which column[] has
// room for); the fourth lane of each pixel's store is overwritten by the
// next pixel, and sums[] has room for the last. Plain loads, where a
// gather per channel and tap cost a third more.
void SumColumns(const Plan& p, const float* column, float* sums) {
#if HWY_TARGET == HWY_SCALAR
  const hn::ScalableTag<float> d1;  // one lane
  for (int x = 0; x < p.width; ++x) {
    for (int c = 0; c < 3; ++c) {
      auto sum = hn::Zero(d1);
      for (int t = 0; t < p.taps; ++t)
        sum = hn::MulAdd(hn::Set(d1, column[p.offset[t * p.stride + x] + c]),
                         hn::Set(d1, p.weight[t * p.stride + x]), sum);
      sums[3 * x + c] = hn::GetLane(sum);
    }
  }
#else
  const hn::FixedTag<float, 4> d4;
  for (int x = 0; x < p.width; ++x) {
    auto sum = hn::Zero(d4);
    for (int t = 0; t < p.taps; ++t)
      sum = hn::MulAdd(hn::LoadU(d4, column + p.offset[t * p.stride + x]),
                       hn::Set(d4, p.weight[t * p.stride + x]), sum);
    hn::StoreU(sum, d4, sums + 3 * x);
  }
#endif
}

// The bytes of one destination row from its sums: out[e] = sums[e] rounded
// half to even and clamped to 0 .. 255, and redo[e] = 1 where sums[e] lies
// within p.near of a half-integer; returns how many are. Whole vectors:
// every array has room.
std::size_t RoundRow(const Plan& p, const float* sums, std::uint8_t* out, std::uint8_t* redo) {
  const hn::ScalableTag<float> df;
  const hn::Rebind<std::int32_t, decltype(df)> di;
  const hn::Rebind<std::uint8_t, decltype(df)> d8;
  const int N = int(hn::Lanes(df));
  const auto near = hn::Set(df, p.near);
  const auto half = hn::Set(df, 0.5f);
  const auto top = hn::Set(di, 255);
  std::size_t count = 0;
  for (int e = 0; e < 3 * p.width; e += N) {
    const auto sum = hn::LoadU(df, sums + e);
    const auto off = hn::Abs(hn::Sub(hn::Sub(sum, hn::Floor(sum)), half));
    const auto near_half = hn::Le(off, near);
    count += hn::CountTrue(df, near_half);
    const auto doubtful = hn::RebindMask(di, near_half);
    const auto byte = hn::Min(hn::Max(hn::NearestInt(sum), hn::Zero(di)), top);
    hn::StoreU(hn::DemoteTo(d8, byte), d8, out + e);
    hn::StoreU(hn::DemoteTo(d8, hn::IfThenElseZero(doubtful, hn::Set(di, 1))), d8, redo + e);
  }
  return count;
}

}  // namespace HWY_NAMESPACE
}  // namespace resample_simd
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/resample_taps.h"

namespace resample_simd {
namespace {

HWY_EXPORT(SumRows);
HWY_EXPORT(SumColumns);
HWY_EXPORT(RoundRow);

constexpr int kPad = 64;

// The largest sum of absolute weights over the destination columns (rows).
Extended LargestWeightSum(const std::vector<AxisTaps>& axis, int taps) {
  Extended largest = 0;
  for (const AxisTaps& a : axis) {
    Extended sum = 0;
    for (int t = 0; t < taps; ++t) sum += ExtAbs(a.weight[t]);
    largest = std::max(largest, sum);
  }
  return largest;
}

void Nearest(const TBitmap& bmp, TBitmap& tmp, const std::vector<AxisTaps>& columns,
             const std::vector<AxisTaps>& rows) {
  const TBmpConstRows src(bmp);
  const TBmpRows dst(tmp);
  const int w = tmp.Width();
  ParallelRows(tmp.Height(), 32, [&](int first, int end) {
    for (int y = first; y < end; ++y) {
      const std::uint8_t* in = src.Row(rows[std::size_t(y)].index[0]);
      std::uint8_t* out = dst.Row(y);
      for (int x = 0; x < w; ++x)
        std::memcpy(out + 3 * x, in + 3 * std::size_t(columns[std::size_t(x)].index[0]), 3);
    }
  });
}

}  // namespace
}  // namespace resample_simd

bool BmpResizeFast(TBitmap& bmp, int rwidth, int rheight, TResizeMode mode) {
  using namespace resample_simd;
  if (!ResizeAccepted(bmp, rwidth, rheight, mode)) return false;
  TBitmap tmp = TBitmap::ForOverwrite(rwidth, rheight, pf24bit);  // every pixel is written below
  const std::vector<AxisTaps> columns = Axis(bmp.Width(), rwidth, mode, true);
  const std::vector<AxisTaps> rows = Axis(bmp.Height(), rheight, mode, false);
  if (mode == rmNearest) {
    Nearest(bmp, tmp, columns, rows);
    bmp.Assign(tmp);
    return true;
  }
  const int taps = TapCount(mode);
  const int stride = rwidth + kPad;
  std::vector<std::int32_t> offset(std::size_t(taps) * stride, 0);
  std::vector<float> weight(std::size_t(taps) * stride, 0.0f);
  for (int t = 0; t < taps; ++t) {
    for (int x = 0; x < rwidth; ++x) {
      offset[std::size_t(t) * stride + x] = 3 * columns[std::size_t(x)].index[t];
      weight[std::size_t(t) * stride + x] = float(columns[std::size_t(x)].weight[t]);
    }
  }
  Plan plan;
  plan.sourceValues = 3 * bmp.Width();
  plan.width = rwidth;
  plan.taps = taps;
  plan.offset = offset.data();
  plan.weight = weight.data();
  plan.stride = stride;
  plan.near = float(0x1p-19L * 255 * LargestWeightSum(columns, taps) * LargestWeightSum(rows, taps));

  const TBmpConstData24 src(bmp);
  const TBmpRows dst(tmp);
  ParallelRows(rheight, 8, [&](int first, int end) {
    std::vector<float> column(std::size_t(plan.sourceValues) + kPad);
    std::vector<float> sums(3 * std::size_t(stride));
    std::vector<std::uint8_t> bytes(3 * std::size_t(stride)), redo(3 * std::size_t(stride));
    const std::uint8_t* sourceRows[4];
    float rowWeights[4];
    for (int y = first; y < end; ++y) {
      const AxisTaps& cy = rows[std::size_t(y)];
      for (int j = 0; j < taps; ++j) {
        sourceRows[j] = src.Row(cy.index[j]);
        rowWeights[j] = float(cy.weight[j]);
      }
      HWY_DYNAMIC_DISPATCH(SumRows)(plan, sourceRows, rowWeights, column.data());
      HWY_DYNAMIC_DISPATCH(SumColumns)(plan, column.data(), sums.data());
      const std::size_t doubtful =
          HWY_DYNAMIC_DISPATCH(RoundRow)(plan, sums.data(), bytes.data(), redo.data());
      std::uint8_t* out = dst.Row(y);
      std::memcpy(out, bytes.data(), 3 * std::size_t(rwidth));
      // The lanes past the row's end are counted too; they are never redone.
      for (int e = 0; doubtful != 0 && e < 3 * rwidth; ++e) {
        if (redo[std::size_t(e)] != 0)
          out[e] = ResampleChannel(src, columns[std::size_t(e / 3)], cy, mode, e % 3);
      }
    }
  });
  bmp.Assign(tmp);
  return true;
}
#endif  // HWY_ONCE
