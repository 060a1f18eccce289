// Fast Gaussian blur and BlurredOverlay: the same bytes as the plain forms
// in blur.cpp, from vector code and threads. The fast blur is in four
// files:
// - blur_simd.cpp (this file): the entry points and the scheduling. The
//   weights and counts, the bands of rows (one per thread), the rows
//   shared between bands, the ring of row-passed rows each band streams
//   through, and BlurredOverlay's map of the rows' stretches the mask
//   needs.
// - blur_simd_kernels.cpp: the vector kernels per instruction set (row
//   pass, column pass with the blend, mask spreading) and why they give
//   the plain bytes.
// - blur_simd_taps.h: the tap loop both passes share, its spans and the
//   dispatch over them generated at compile time.
// - blur_simd_kernels.h: what the scheduling and the kernels share.
//
// Why the scheduling keeps the bytes:
// - The rows are split into bands, one per thread; every output pixel is
//   computed by the same steps whichever band it falls in.
// - The count of a pixel (the sum of the weights of the taps inside the
//   picture) depends only on its column in the row pass and on its row in
//   the column pass; it is summed here once per column and per row, in the
//   plain order.
// - BlurredOverlay: a mask value of 0 keeps the sharp pixel whatever the
//   blurred one is, so stretches that only such pixels read are not
//   computed (the blend multiplies whatever lies there by 0).
//
// Memory: the row pass streams through a ring of 6 * zone + 8 rows per band
// instead of a second picture. Rows a band needs from its neighbours are
// row-passed once, before any band writes, so the blur can run in place.
// BlurredOverlay reads the sharp picture, blends each blurred row into the
// destination through the mask as it is made, and needs no blurred copy.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "imaging/blur.h"
#include "imaging/blur_simd_kernels.h"
#include "imaging/parallel.h"
#include "imaging/pixel_access.h"

namespace blur_simd {
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
      count = static_cast<float>(Extended(count) + Extended(gf[std::size_t(std::abs(i - x))]));
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
    // Each thread takes a run of groups and walks down the rows, a row of
    // its counts at a time.
    ParallelRows(groups_, 64, [&](int first, int end) {
      std::vector<int> count(std::size_t(end - first), 0);  // masked-in rows among k - range .. k + range
      const auto add = [&](int y, int sign) {
        const std::uint8_t* a = any.data() + std::size_t(y) * groups_ + first;
        for (int g = 0; g < end - first; ++g) count[std::size_t(g)] += sign * a[g];
      };
      for (int y = 0; y < std::min(h, range_); ++y) add(y, 1);
      for (int k = 0; k < h; ++k) {
        if (k + range_ < h) add(k + range_, 1);
        if (k - range_ - 1 >= 0) add(k - range_ - 1, -1);
        std::uint8_t* out = need_.data() + std::size_t(k) * groups_ + first;
        for (int g = 0; g < end - first; ++g) out[g] = count[std::size_t(g)] > 0;
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
        const int k = rows[std::size_t(i)];
        RowPass(plan_, in.Row(k), planes.data(), bytes.data(), Stored(i), Need(k));
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
          RowPass(plan_, in.Row(k), planes.data(), bytes.data(), row.data(), Need(k));
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
          SpreadMask(mask->Row(y + k), plan_.width, m3);
          o.sharp[k] = in.Row(y + k);
          o.mask3[k] = m3;
        }
      }
      ColumnPass(plan_, y, ring.data(), ringStride, offsets.data(), o, tail.data());
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
}  // namespace blur_simd

bool GaussianBlurFast(TBitmap& bmp, int zone) {
  if (bmp.PixelFormat() != pf24bit) return false;
  if (zone < kMinBlurZone || zone > kMaxBlurZone) return false;
  if (bmp.Width() == 0 || bmp.Height() == 0) return true;
  if (bmp.SharesPixels()) {
    // Blurring into a new picture saves copying the shared one first.
    TBitmap out = TBitmap::ForOverwrite(bmp.Width(), bmp.Height(), pf24bit);
    const TBmpRows rows(out);
    blur_simd::Run(bmp, zone, rows.Rows(), nullptr);
    bmp = std::move(out);
  } else {
    const TBmpRows rows(bmp);
    blur_simd::Run(bmp, zone, rows.Rows(), nullptr);
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
  const bool reuse = &dst != &sharp && &dst != &mask && dst.Fits(sharp.Width(), sharp.Height(), pf24bit);
  TBitmap out;
  if (!reuse) out = TBitmap::ForOverwrite(sharp.Width(), sharp.Height(), pf24bit);
  const TBmpRows rows(reuse ? dst : out);
  blur_simd::Run(sharp, zone, rows.Rows(), &mask);
  if (!reuse) dst = std::move(out);
}
