// Fast focus-band mask: the same bytes as the plain form in focus_mask.cpp,
// from vector code (Highway, chosen at run time) and threads over rows.
//
// Every lane follows the double steps of imaging/turn_sampling.h (exact;
// see there): the source point in the turned square, its floor, the float
// weights, the two float partial sums and the rounded byte. Inside the
// square (the 2 x 2 window clear of the black frame) the window's upper
// pixels both hold the band value of row y0 and the lower ones that of row
// y0 + 1, so the blend needs two table lookups. A lane whose double
// rounding cannot decide, or whose window touches the frame, or that the
// turned square does not cover, goes through the per-pixel code instead.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/focus_mask_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstdint>

#include "engine/turned_square.h"

#ifndef TESSARIN_MASK_SIMD_SHARED
#define TESSARIN_MASK_SIMD_SHARED
namespace focus_mask_simd {

// What the lanes of one mask row share.
struct RowPlan {
  const double* colCs;  // per mask column: rx * cs (exact)
  const double* colSn;  // per mask column: -rx * sn (exact)
  double rowSn, rowCs;  // ry * sn, ry * cs (exact)
  // Per row y of the square: its band value in the low half, that of row
  // y + 1 in the high half.
  const std::uint64_t* bandPairs;
  // To8bit of grey v is v or v - 1; the levels where it is v - 1.
  const std::int32_t* greyDrops;
  int greyDropCount;
  int side;
};

}  // namespace focus_mask_simd
#endif

HWY_BEFORE_NAMESPACE();
namespace focus_mask_simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DD = hn::ScalableTag<double>;
using DF = hn::Rebind<float, DD>;
using DI = hn::Rebind<std::int32_t, DD>;
using DU = hn::RebindToUnsigned<DD>;
using DS = hn::RebindToSigned<DD>;
using VD = hn::Vec<DD>;
using VF = hn::Vec<DF>;
using MD = hn::Mask<DD>;

// Lanes whose double sum the fast rounding to float can decide (not
// halfway between two floats, not below the floats' normal range).
HWY_INLINE MD FloatDecidable(VD s) {
  const DD dd;
  const DU du;
  const auto bits = hn::BitCast(du, s);
  const auto halfway = hn::Eq(hn::And(bits, hn::Set(du, 0x1fffffffu)), hn::Set(du, 0x10000000u));
  const MD tiny = hn::And(hn::Lt(hn::Abs(s), hn::Set(dd, 0x1p-126)), hn::Ne(s, hn::Zero(dd)));
  return hn::Not(hn::Or(hn::RebindMask(dd, halfway), tiny));
}

HWY_INLINE VD ToDouble(VF v) {
  return hn::PromoteTo(DD(), v);
}

// Computes the mask bytes of columns first .. first + count - 1 of one row
// into out[0 ..]; lanes that need the per-pixel code get flag 1 in redo[].
// Whole vectors: the tables and out[] and redo[] have room past the end.
void MaskRow(const RowPlan& p, int first, int count, std::uint8_t* out, std::uint8_t* redo) {
  const DD dd;
  const DF df;
  const DI di;
  const hn::Rebind<std::uint8_t, DD> d8;
  const int N = int(hn::Lanes(dd));
  const VD rowSn = hn::Set(dd, p.rowSn), rowCs = hn::Set(dd, p.rowCs);
  const VF one = hn::Set(df, 1.0f);
  const VD lastInside = hn::Set(dd, double(p.side - 2));
  const VD zero = hn::Zero(dd);
  for (int i = 0; i < count; i += N) {
    const int x = first + i;
    const VD sxd = hn::Add(hn::LoadU(dd, p.colCs + x), rowSn);
    const VD syd = hn::Add(hn::LoadU(dd, p.colSn + x), rowCs);
    MD ok = hn::And(FloatDecidable(sxd), FloatDecidable(syd));
    const VF sx = hn::DemoteTo(df, sxd), sy = hn::DemoteTo(df, syd);
    const VF x0 = hn::Floor(sx), y0 = hn::Floor(sy);
    // The window x0 .. x0 + 1, y0 .. y0 + 1 inside the square (then the
    // floor point lies in it, so the pixel is covered).
    const VD x0d = ToDouble(x0), y0d = ToDouble(y0);
    const MD inside = hn::And(hn::And(hn::Ge(x0d, zero), hn::Le(x0d, lastInside)),
                              hn::And(hn::Ge(y0d, zero), hn::Le(y0d, lastInside)));
    ok = hn::And(ok, inside);
    const VF cx01 = hn::Sub(sx, x0), cx00 = hn::Sub(one, cx01);
    const VF cy01 = hn::Sub(sy, y0), cy00 = hn::Sub(one, cy01);
    const DS ds;
    const DU du;
    const auto row = hn::PromoteTo(ds, hn::DemoteTo(di, hn::IfThenElseZero(inside, y0d)));
    const auto pair = hn::GatherIndex(du, p.bandPairs, row);
    const VD upper = hn::ConvertTo(dd, hn::BitCast(ds, hn::And(pair, hn::Set(du, 0xffffffffu))));
    const VD lower = hn::ConvertTo(dd, hn::BitCast(ds, hn::ShiftRight<32>(pair)));
    const VD c00 = ToDouble(cx00), c01 = ToDouble(cx01);
    const VD first = hn::Add(hn::Mul(upper, c00), hn::Mul(upper, c01));
    const VD second = hn::Add(hn::Mul(lower, c00), hn::Mul(lower, c01));
    ok = hn::And(ok, hn::And(FloatDecidable(first), FloatDecidable(second)));
    const VD value = hn::Add(hn::Mul(ToDouble(hn::DemoteTo(df, first)), ToDouble(cy00)),
                             hn::Mul(ToDouble(hn::DemoteTo(df, second)), ToDouble(cy01)));
    const VD floorValue = hn::Floor(value);
    ok = hn::And(ok, hn::Ne(hn::Sub(value, floorValue), hn::Set(dd, 0.5)));
    const VD rounded = hn::Min(hn::Max(hn::Round(value), zero), hn::Set(dd, 255.0));
    auto grey = hn::DemoteTo(di, rounded);
    const auto level = grey;
    for (int i = 0; i < p.greyDropCount; ++i)
      grey = hn::IfThenElse(hn::Eq(level, hn::Set(di, p.greyDrops[i])), hn::Sub(level, hn::Set(di, 1)), grey);
    hn::StoreU(hn::DemoteTo(d8, grey), d8, out + i);
    const auto redoLanes = hn::DemoteTo(di, hn::IfThenZeroElse(ok, hn::Set(dd, 1.0)));
    hn::StoreU(hn::DemoteTo(d8, redoLanes), d8, redo + i);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace focus_mask_simd
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/pixel_access.h"

namespace focus_mask_simd {
HWY_EXPORT(MaskRow);

// Vector lanes never exceed this many columns past the row's end.
constexpr int kPad = 64;
}  // namespace focus_mask_simd

namespace {
// Columns a chunk of a mask row: a chunk lying wholly on rows of one band
// value is filled at once.
constexpr int kChunk = 64;
}  // namespace

MaskGeometry CreateMaskBMPFast(TBitmap& mask, int width, int height, TPoint point,
                               const FocusSettings& focus) {
  const MaskGeometry g = ComputeMaskGeometry(width, height, point, focus);
  const TurnedSquare square(g, width, height, focus.angle);
  const TurnGeometry& turn = square.turn;
  // A mask of the right size with pixels of its own (the last one made) is
  // written over in place: no new picture, and no first touch of new memory.
  const bool reuse = mask.Fits(width, height, pf8bit) && width > 0 && height > 0;
  TBitmap fresh;
  if (!reuse) fresh = TBitmap::ForOverwrite(width, height, pf8bit);  // every pixel is written below
  TBitmap& out = reuse ? mask : fresh;
  SetGrayPalette(out);
  if (width == 0 || height == 0) {
    mask = std::move(out);
    return g;
  }
  // Per mask column: the turned square's column as a float position, times
  // the cosine and the (negated) sine; exact in double.
  const std::size_t padded = std::size_t(width) + focus_mask_simd::kPad;
  std::vector<double> colCs(padded, 0.0), colSn(padded, 0.0);
  for (int x = 0; x < width; ++x) {
    const int ix = std::max(square.colSource[std::size_t(x)], 0);
    const float rx = float(ix) + turn.xmin;
    colCs[std::size_t(x)] = double(rx) * double(turn.cs);
    colSn[std::size_t(x)] = -double(rx) * double(turn.sn);
  }
  std::vector<std::uint64_t> bandPairs(std::size_t(square.side) + 1, 0);
  for (int y = 0; y < square.side; ++y) {
    const std::uint64_t lower = y + 1 < square.side ? square.rowValue[std::size_t(y) + 1] : 0;
    bandPairs[std::size_t(y)] = square.rowValue[std::size_t(y)] | (lower << 32);
  }
  std::vector<std::int32_t> greyDrops;
  bool greyNearLevel = true;  // To8bit of grey v is v or v - 1 (else every pixel takes the per-pixel code)
  for (int v = 0; v < 256; ++v) {
    if (square.grey[v] == v - 1) greyDrops.push_back(v);
    if (square.grey[v] != v && square.grey[v] != v - 1) greyNearLevel = false;
  }
  const TBmpRows rows(out);

  // sameUntil[y]: the last row z >= y of the square with the band value of
  // row y on every row y .. z.
  std::vector<int> sameUntil(std::size_t(square.side), 0);
  for (int y = square.side - 1; y >= 0; --y) {
    const bool same =
        y + 1 < square.side && square.rowValue[std::size_t(y) + 1] == square.rowValue[std::size_t(y)];
    sameUntil[std::size_t(y)] = same ? sameUntil[std::size_t(y) + 1] : y;
  }
  // The exact source point of turned-square pixel (ix, iy).
  const auto sourcePoint = [&](int ix, int iy, float& sx, float& sy) {
    if (!turn_sampling::SourcePoint(turn, float(ix) + turn.xmin, float(iy) + turn.ymin, sx, sy))
      TurnSourcePoint(turn, ix, iy, sx, sy);
  };

  ParallelRows(height, 16, [&](int first, int end) {
    std::uint8_t values[kChunk + focus_mask_simd::kPad], redo[kChunk + focus_mask_simd::kPad];
    for (int y = first; y < end; ++y) {
      std::uint8_t* row = rows.Row(y);
      const int iy = square.rowSource[std::size_t(y)];
      if (iy < 0) {  // the stretching copy leaves this row 0
        std::memset(row, 0, std::size_t(width));
        continue;
      }
      const float ry = float(iy) + turn.ymin;
      const focus_mask_simd::RowPlan plan{
          colCs.data(),     colSn.data(),     double(ry) * double(turn.sn), double(ry) * double(turn.cs),
          bandPairs.data(), greyDrops.data(), int(greyDrops.size()),        square.side};
      for (int x0 = 0; x0 < width; x0 += kChunk) {
        const int count = std::min(kChunk, width - x0);
        const int ixFirst = square.colSource[std::size_t(x0)];
        const int ixLast = square.colSource[std::size_t(x0 + count - 1)];
        if (ixFirst >= 0 && ixLast >= 0) {
          // Along a row the source point moves monotonically (every step
          // of its computation is monotonic in the column), so the floors
          // at the chunk's ends bound those of all its pixels. If every
          // window lies inside the square on rows of one band value, every
          // pixel is that value (a 2 x 2 blend of equal values rounds back
          // to the value).
          float sxa, sya, sxb, syb;
          sourcePoint(ixFirst, iy, sxa, sya);
          sourcePoint(ixLast, iy, sxb, syb);
          const float xlo = std::floor(std::min(sxa, sxb)), xhi = std::floor(std::max(sxa, sxb));
          const float ylo = std::floor(std::min(sya, syb)), yhi = std::floor(std::max(sya, syb));
          if (xlo >= 0 && xhi <= float(square.side - 2) && ylo >= 0 && yhi <= float(square.side - 2) &&
              int(yhi) + 1 <= sameUntil[std::size_t(ylo)]) {
            std::memset(row + x0, square.grey[square.rowValue[std::size_t(ylo)]], std::size_t(count));
            continue;
          }
        }
        if (greyNearLevel) {
          HWY_DYNAMIC_DISPATCH(focus_mask_simd::MaskRow)(plan, x0, count, values, redo);
        } else {
          std::memset(redo, 1, sizeof redo);
        }
        for (int i = 0; i < count; ++i) {
          const int ix = square.colSource[std::size_t(x0 + i)];
          if (ix < 0) {
            row[x0 + i] = 0;
          } else if (redo[i] != 0) {
            row[x0 + i] = square.grey[square.TurnedFast(ix, iy)];
          } else {
            row[x0 + i] = values[i];
          }
        }
      }
    }
  });
  if (!reuse) mask = std::move(fresh);
  return g;
}
#endif  // HWY_ONCE
