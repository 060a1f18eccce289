// The lens blur's fast form.
//
// Each pixel's weighted linear colour is held in fixed point (1/65536 of
// full light, four 32-bit lanes: the three colours times the weight, and
// the weight), and each row also as running sums, so that a run of pixels
// costs one subtraction; the sums wrap around 2^32 without harm, since no
// run adds up to 2^31. A disc is its full runs, one per row, plus its rim
// pixels with their own weights, from a table made once per radius in
// 1/256 of a pixel.
//
// Small discs are summed at the picture's resolution, a run of pixels of
// one radius at a time. Larger ones are summed on a level of a pyramid of
// 2 x 2 means, where they are at most one "level radius" wide, at the
// level's pixel centres (with the radius found there), and read back
// between the centres bilinearly; just past a level's lower bound a pixel
// blends it with the level below in proportion to its radius, so the blur
// grows without steps. The level radius is the full radius over a power of
// two, at most `fullRadius`, so that all the picture beyond the ramps, at
// the full radius, reads a single level.
//
// Rows go in bands to the toolkit's threads. Every value is computed the
// same way in every band, with whole numbers or with lane-wise IEEE float
// operations in a fixed order (GCC's vector types, no contraction), so the
// bytes do not depend on the thread count or the instruction set.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/lens_blur.h"
#include "imaging/parallel.h"

namespace {

typedef float v4f __attribute__((vector_size(16)));
typedef std::uint32_t v4u __attribute__((vector_size(16)));
typedef std::int32_t v4i __attribute__((vector_size(16)));

constexpr double kFix = 65536;
constexpr int kSteps = 256;  // radius steps per pixel in the disc tables
constexpr int kBand = 128;   // output rows at a time
constexpr int kTile = 192;   // columns at a time
constexpr float kMostLevelRadius = 32;
constexpr float kBlend = 1.5f;

v4f Float(v4u v) {
  return __builtin_convertvector(v4i(v), v4f);
}

// Each quantised radius: its rows dy = 0 .. n, each with the half-width k
// of its run of full pixels (-1: none), the weight of the pixel beyond
// each end, and the row's own weight.
struct DiscTable {
  struct Row {
    int k;
    float row, end;  // the row's weight, and its end pixels' weight times it
  };
  std::vector<int> start;  // per radius step: index of its row 0; one past the last at the end
  std::vector<Row> rows;

  explicit DiscTable(float maxRadius) {
    const int steps = int(std::ceil(maxRadius * kSteps)) + 1;
    for (int q = 0; q <= steps; ++q) {
      start.push_back(int(rows.size()));
      const double r = double(q) / kSteps;
      for (int dy = 0; dy < r + 0.5; ++dy) {
        const LensDiscRow d = LensDiscRowOf(r, dy);
        rows.push_back({d.full, float(d.row), float(d.row * d.end)});
      }
    }
    start.push_back(int(rows.size()));
  }
  int Steps() const { return int(start.size()) - 2; }
};

// The table for every level radius up to kMostLevelRadius, made once.
const DiscTable& SharedTable() {
  static const DiscTable table(2 * kMostLevelRadius + 1);
  return table;
}

// Rows of pixels, `pad` zero pixels on each side, as running sums: entry i
// of a row holds the padded pixels 0 .. i - 1.
// Rows a disc is summed on often (level 0 around a band) also keep their
// pixels as floats.
struct SumRows {
  int width = 0, pad = 0, first = 0;
  std::vector<v4u> sums;
  std::vector<v4f> pixels;

  void Reset(int w, int p, int firstRow, int rowCount, bool keepPixels = false) {
    width = w, pad = p, first = firstRow;
    // Every row is Set before it is read, so the old contents may stay.
    sums.resize(std::size_t(Stride()) * std::size_t(std::max(rowCount, 0)));
    if (keepPixels) pixels.resize(sums.size());
  }
  const v4f* Pixels(int y) const { return pixels.data() + std::size_t(y - first) * Stride() + pad; }
  int Stride() const { return width + 2 * pad + 1; }
  // Sum of pixels a .. b - 1 of row y (either may lie in the padding):
  // Sums(y)[b] - Sums(y)[a].
  const v4u* Sums(int y) const { return sums.data() + std::size_t(y - first) * Stride() + pad; }
  v4u Pixel(int y, int x) const {
    const v4u* s = Sums(y);
    return s[x + 1] - s[x];
  }
  // Row y from its pixels.
  void Set(int y, const v4u* pixels) {
    v4u* s = sums.data() + std::size_t(y - first) * Stride();
    std::fill(s, s + pad + 1, v4u{});
    for (int x = 0; x < width; ++x) s[pad + x + 1] = s[pad + x] + pixels[x];
    for (int i = pad + width + 1; i < Stride(); ++i) s[i] = s[i - 1];
    if (!this->pixels.empty()) {
      v4f* f = this->pixels.data() + std::size_t(y - first) * Stride();
      std::fill(f, f + pad, v4f{});
      for (int x = 0; x < width; ++x) f[pad + x] = Float(pixels[x]);
      std::fill(f + pad + width, f + Stride(), v4f{});
    }
  }
};

// The disc sum of radius step q around pixel x of row y of `s` (rows
// outside 0 .. height - 1 hold nothing).
// Gather for the n pixels x .. x + n - 1 of row y, all of radius step q,
// into out[0 .. n - 1]: the same sums in the same order, the row's runs
// taken for all the pixels at once.
// A pixel of a row from its running sums, or from its float copy.
template <bool kPixels>
struct PixelOf {
  const v4u* sums;
  const v4f* pixels;
  v4f operator[](int i) const {
    if constexpr (kPixels)
      return pixels[i];
    else
      return Float(sums[i + 1] - sums[i]);
  }
};

template <bool kPixels>
void GatherRunOn(const SumRows& s, const DiscTable& t, int x, int n, int y, int height, int q, v4f* out) {
  std::fill(out, out + n, v4f{0, 0, 0, 0});
  const int first = t.start[std::size_t(q)], end = t.start[std::size_t(q) + 1];
  for (int i = first; i < end; ++i) {
    const DiscTable::Row& row = t.rows[std::size_t(i)];
    const int dy = i - first, k = row.k;
    // The row below and the one above (the same one for dy = 0), in Gather's order.
    const bool below = y + dy<height, above = dy> 0 && y - dy >= 0;
    const v4u* sa = below ? s.Sums(y + dy) + x : nullptr;
    const v4u* sb = above ? s.Sums(y - dy) + x : nullptr;
    const PixelOf<kPixels> pa{sa, kPixels && below ? s.Pixels(y + dy) + x : nullptr};
    const PixelOf<kPixels> pb{sb, kPixels && above ? s.Pixels(y - dy) + x : nullptr};
    if (k < 0) {
      for (int j = 0; j < n; ++j) {
        if (below) out[j] += row.end * pa[j];
        if (above) out[j] += row.end * pb[j];
      }
    } else if (below && above) {
      for (int j = 0; j < n; ++j) {
        v4f a = out[j];
        a += row.row * Float(sa[j + k + 1] - sa[j - k]);
        a += row.end * (pa[j - k - 1] + pa[j + k + 1]);
        a += row.row * Float(sb[j + k + 1] - sb[j - k]);
        a += row.end * (pb[j - k - 1] + pb[j + k + 1]);
        out[j] = a;
      }
    } else if (below || above) {
      const v4u* sr = below ? sa : sb;
      const PixelOf<kPixels> p = below ? pa : pb;
      for (int j = 0; j < n; ++j) {
        out[j] += row.row * Float(sr[j + k + 1] - sr[j - k]);
        out[j] += row.end * (p[j - k - 1] + p[j + k + 1]);
      }
    }
  }
}

void GatherRun(const SumRows& s, const DiscTable& t, int x, int n, int y, int height, int q, v4f* out) {
  if (s.pixels.empty())
    GatherRunOn<false>(s, t, x, n, y, height, q, out);
  else
    GatherRunOn<true>(s, t, x, n, y, height, q, out);
}

int Step(float r, const DiscTable& t) {
  return std::min(int(r * float(kSteps) + 0.5f), t.Steps());
}

// The fixed-point pixels of source rows: a table by the largest channel
// and the channel when nothing is protected, the weight worked out
// otherwise.
class Weigher {
 public:
  Weigher(const TBitmap& src, const TLensBlurInput& in) : src_(src), protect_(in.protect) {
    const auto& lin = LinearOfByte();
    for (int m = 0; m < 256; ++m) {
      const double t =
          std::clamp((lin[std::size_t(m)] - kLensBokehThreshold) / (1 - kLensBokehThreshold), 0.0, 1.0);
      boost_[std::size_t(m)] = (1 + in.bokeh / 100.0 * kLensBokehGain * t * t) * kFix;
    }
    if (protect_ == nullptr) {
      table_.reset(new std::uint32_t[256 * 257]);
      for (int m = 0; m < 256; ++m) {
        std::uint32_t* row = table_.get() + 257 * m;
        for (int c = 0; c <= m; ++c) row[c] = Fixed(boost_[std::size_t(m)] * lin[std::size_t(c)]);
        row[256] = Fixed(boost_[std::size_t(m)]);
      }
    }
  }
  void Row(int y, v4u* out) const {
    const std::uint8_t* s = src_.ScanLine(y);
    const std::uint8_t* p = protect_ ? protect_->ScanLine(y) : nullptr;
    const auto& lin = LinearOfByte();
    for (int x = 0; x < src_.Width(); ++x) {
      const std::uint8_t* c = s + 3 * x;
      const int m = std::max({c[0], c[1], c[2]});
      if (p == nullptr) {
        const std::uint32_t* row = table_.get() + 257 * m;
        out[x] = v4u{row[c[0]], row[c[1]], row[c[2]], row[256]};
      } else {
        const double w = (255 - p[x]) / 255.0 * boost_[std::size_t(m)];
        out[x] = v4u{Fixed(w * lin[c[0]]), Fixed(w * lin[c[1]]), Fixed(w * lin[c[2]]), Fixed(w)};
      }
    }
  }

 private:
  static std::uint32_t Fixed(double v) { return std::uint32_t(v + 0.5); }
  const TBitmap& src_;
  const TBitmap* protect_;
  std::array<double, 256> boost_;
  std::unique_ptr<std::uint32_t[]> table_;
};

// Linear light to bytes: the byte of each of 65536 steps between 0 and 1.
const std::uint8_t* EncodeTable() {
  static const std::vector<std::uint8_t> table = [] {
    std::vector<std::uint8_t> t(65536);
    for (int i = 0; i < 65536; ++i) t[std::size_t(i)] = std::uint8_t(ByteOfLinear(i / 65535.0));
    return t;
  }();
  return table.data();
}

std::uint8_t Encode(const std::uint8_t* table, float v) {
  if (!(v > 0)) return 0;
  if (v >= 1) return 255;
  return table[int(v * 65535.0f + 0.5f)];
}

struct Level {
  int width = 0, height = 0;
  SumRows rows;
};

// The centre of level l at or before picture column (or row) i, on a level
// `size` centres long, and how far i lies past it (in level pixels).
int CentreBefore(int i, int l, int size, float& past) {
  const float f = std::max((i + 0.5f) / float(1 << l) - 0.5f, 0.0f);
  const int c = std::min(int(f), size - 1);
  past = f - float(c);
  return c;
}

// Row y of the fixed-point pixels of `src` into `rows`.
void FillRow(const Weigher& weigher, int y, std::vector<v4u>& buffer, SumRows& rows) {
  weigher.Row(y, buffer.data());
  rows.Set(y, buffer.data());
}

// The radius of each pixel of row y, clamped and its protection applied.
void Radii(const TLensBlurInput& in, int y, int width, float most, float* out) {
  in.radius(y, out);
  const std::uint8_t* p = in.protect ? in.protect->ScanLine(y) : nullptr;
  for (int x = 0; x < width; ++x) {
    float v = std::min(std::max(out[x], 0.0f), most);
    if (p) v = float(double(v) * ((255 - p[x]) / 255.0));
    out[x] = v;
  }
}

}  // namespace

// What the rows were made from, and the rows: level 0 whole, and the levels.
struct TLensRows::TData {
  struct Key {
    const void* picture = nullptr;
    const void* protect = nullptr;
    int width = 0, height = 0, bokeh = 0, top = 0, reach = 0;
    float unit = 0;
    bool operator==(const Key&) const = default;
  };
  bool valid = false;
  Key key;
  // Share the pixels the rows were made from, so that no other picture can
  // come to have their address while the key names it.
  TBitmap picture, protect;
  SumRows near;
  std::vector<Level> levels;
};

TLensRows::TLensRows() = default;
TLensRows::~TLensRows() = default;
TLensRows::TLensRows(TLensRows&&) noexcept = default;
TLensRows& TLensRows::operator=(TLensRows&&) noexcept = default;

void TLensRows::Forget() {
  if (data_) data_->valid = false;
}

void LensBlurFast(const TBitmap& src, const TLensBlurInput& input, TBitmap& dst, float fullRadius,
                  TLensRows* kept) {
  CheckLensInput(src, input);
  const int w = src.Width(), h = src.Height();
  const float most = std::max(input.maxRadius, 0.0f);
  // The levels: the full radius is unit * 2^top, unit at most fullRadius.
  fullRadius = std::clamp(fullRadius, 1.0f, kMostLevelRadius);
  int top = 0;
  while (most > fullRadius * float(1 << top) && top < 24) ++top;
  const float unit = most / float(1 << top);
  const Weigher weigher(src, input);
  const std::uint8_t* encode = EncodeTable();
  const DiscTable& table = SharedTable();
  const int reach = int(std::ceil(2 * unit + 1.5)) + 1;  // rows and columns a disc may reach

  // The rows: made here, or kept from the last call when made from the same.
  TLensRows::TData made;
  if (kept && !kept->data_) kept->data_ = std::make_unique<TLensRows::TData>();
  TLensRows::TData& rows = kept ? *kept->data_ : made;
  const TLensRows::TData::Key key{src.PixelsId(),
                                  input.protect ? input.protect->PixelsId() : nullptr,
                                  w,
                                  h,
                                  input.bokeh,
                                  top,
                                  reach,
                                  unit};
  const bool reuse = kept && rows.valid && rows.key == key;
  rows.valid = false;
  std::vector<Level>& levels = rows.levels;
  if (!reuse) levels.assign(std::size_t(top) + 1, Level{});
  levels[0].width = w, levels[0].height = h;
  if (kept && !reuse) {
    rows.near.Reset(w, reach, 0, h, true);
    ParallelRows(h, 16, [&](int y0, int y1) {
      std::vector<v4u> pixels(static_cast<std::size_t>(w));
      for (int y = y0; y < y1; ++y) FillRow(weigher, y, pixels, rows.near);
    });
  }
  for (int l = 1; l <= top && !reuse; ++l) {
    const Level& below = levels[std::size_t(l - 1)];
    Level& next = levels[std::size_t(l)];
    next.width = (below.width + 1) / 2, next.height = (below.height + 1) / 2;
    next.rows.Reset(next.width, reach, 0, next.height);
    ParallelRows(next.height, 16, [&](int y0, int y1) {
      std::vector<v4u> a(std::size_t(below.width) + 1), b(a.size());
      const auto rowOf = [&](int sy, std::vector<v4u>& out) {
        std::fill(out.begin(), out.end(), v4u{});
        if (sy >= below.height) return;
        if (l == 1)
          weigher.Row(sy, out.data());
        else
          for (int x = 0; x < below.width; ++x) out[std::size_t(x)] = below.rows.Pixel(sy, x);
      };
      std::vector<v4u> d(std::size_t(next.width));
      for (int y = y0; y < y1; ++y) {
        rowOf(2 * y, a);
        rowOf(2 * y + 1, b);
        for (int x = 0; x < next.width; ++x) {
          const std::size_t i = std::size_t(2 * x);
          d[std::size_t(x)] = (a[i] + a[i + 1] + b[i] + b[i + 1] + 2) >> 2;
        }
        next.rows.Set(y, d.data());
      }
    });
  }

  // Each level's centre left of every column, and how far the column lies past it.
  std::vector<std::vector<int>> column(std::size_t(top) + 1);
  std::vector<std::vector<float>> columnWeight(std::size_t(top) + 1);
  for (int l = 1; l <= top; ++l)
    for (int x = 0; x < w; ++x) {
      float past;
      column[std::size_t(l)].push_back(CentreBefore(x, l, levels[std::size_t(l)].width, past));
      columnWeight[std::size_t(l)].push_back(past);
    }

  // Written into dst's own pixels when it has the size (a video's frames).
  TBitmap out = dst.Fits(w, h, pf24bit) && !dst.SharesPixels() && dst.PixelsId() != src.PixelsId()
                    ? std::move(dst)
                    : TBitmap::ForOverwrite(w, h, pf24bit);
  // A radius v is read from level l, the first with v <= unit * 2^l; over
  // the first kBlend - 1 of the way from unit * 2^(l - 1) to there it is
  // blended with level l - 1, beyond from level l alone.
  const auto levelOf = [&](float v) {
    int l = 0;
    while (l < top && v > unit * float(1 << l)) ++l;
    return l;
  };
  const auto alone = [&](float v, int l) { return l > 0 && v >= unit * float(1 << (l - 1)) * kBlend; };
  const int bands = (h + kBand - 1) / kBand;
  const int tasks = std::min(bands, 8 * ThreadCount());
  ParallelFor(tasks, [&](int task) {
    // Each task takes a run of bands, reusing its buffers from one to the next.
    std::vector<float> r, centres(static_cast<std::size_t>(w));
    std::vector<v4u> pixels(static_cast<std::size_t>(w));
    std::vector<int> steps0(kTile);  // each pixel's level-0 radius step, -1 for none
    std::vector<v4f> sums0(kTile);
    SumRows near;  // level 0 around the band
    std::vector<std::vector<v4f>> grid(std::size_t(top) + 1), between(std::size_t(top) + 1);
    std::vector<std::vector<int>> steps(std::size_t(top) + 1);  // of each centre read, -1 for the others
    std::vector<int> gridFirst(std::size_t(top) + 1);
    for (int band = int(std::int64_t(bands) * task / tasks);
         band < int(std::int64_t(bands) * (task + 1) / tasks); ++band) {
      const int y0 = band * kBand, y1 = std::min(h, y0 + kBand);
      r.resize(std::size_t(w) * std::size_t(y1 - y0));
      // The levels the band reads (see levelOf and alone).
      int lowest = top + 1, highest = -1;
      for (int y = y0; y < y1; ++y) {
        float* row = r.data() + std::size_t(y - y0) * w;
        Radii(input, y, w, most, row);
        for (int x = 0; x < w; ++x) {
          const float v = row[x];
          if (!(v > 0)) continue;
          const int l = levelOf(v);
          lowest = std::min(lowest, l == 0 || alone(v, l) ? l : l - 1);
          highest = std::max(highest, l);
        }
      }
      if (highest < 0) {
        for (int y = y0; y < y1; ++y) std::copy(src.ScanLine(y), src.ScanLine(y) + 3 * w, out.ScanLine(y));
        continue;
      }
      if (lowest == 0 && !kept) {
        const int first = std::max(0, y0 - reach), last = std::min(h, y1 + reach);
        near.Reset(w, reach, first, last - first, true);
        for (int y = first; y < last; ++y) FillRow(weigher, y, pixels, near);
      }
      // Which pixel centres of each level the band's pixels read, the rows
      // from g0 to the one after the last row's.
      float past;
      for (int l = std::max(1, lowest); l <= highest; ++l) {
        const Level& lv = levels[std::size_t(l)];
        const int g0 = CentreBefore(y0, l, lv.height, past);
        const int g1 = std::min(lv.height - 1, CentreBefore(y1 - 1, l, lv.height, past) + 1);
        gridFirst[std::size_t(l)] = g0;
        grid[std::size_t(l)].resize(std::size_t(lv.width) * std::size_t(g1 - g0 + 1));
        steps[std::size_t(l)].assign(grid[std::size_t(l)].size(), -1);
      }
      for (int y = y0; y < y1; ++y) {
        const float* row = r.data() + std::size_t(y - y0) * w;
        for (int x = 0; x < w; ++x) {
          if (!(row[x] > 0)) continue;
          const int l = levelOf(row[x]);
          for (int k = alone(row[x], l) ? l : std::max(1, l - 1); k <= l; ++k) {
            const Level& lv = levels[std::size_t(k)];
            const int gx = column[std::size_t(k)][std::size_t(x)], gy = CentreBefore(y, k, lv.height, past);
            int* need = steps[std::size_t(k)].data() + std::size_t(gy - gridFirst[std::size_t(k)]) * lv.width;
            const int gx1 = std::min(gx + 1, lv.width - 1);
            need[gx] = need[gx1] = 0;
            if (gy + 1 < lv.height) need[lv.width + gx] = need[lv.width + gx1] = 0;
          }
        }
      }
      // Their disc sums, a tile of columns at a time (the rows a disc
      // reaches stay in the cache).
      for (int l = std::max(1, lowest); l <= highest; ++l) {
        const Level& lv = levels[std::size_t(l)];
        const int scale = 1 << l;
        auto& g = grid[std::size_t(l)];
        auto& st = steps[std::size_t(l)];
        const int g0 = gridFirst[std::size_t(l)], rows = int(g.size()) / lv.width;
        for (int gy = g0; gy < g0 + rows; ++gy) {
          int* row = st.data() + std::size_t(gy - g0) * lv.width;
          if (std::find(row, row + lv.width, 0) == row + lv.width) continue;
          Radii(input, std::min(h - 1, gy * scale + scale / 2), w, most, centres.data());
          for (int gx = 0; gx < lv.width; ++gx)
            if (row[gx] == 0)
              row[gx] =
                  Step(std::min(centres[std::size_t(std::min(w - 1, gx * scale + scale / 2))] / float(scale),
                                2 * unit + 1),
                       table);
        }
        for (int x0 = 0; x0 < lv.width; x0 += kTile)
          for (int gy = g0; gy < g0 + rows; ++gy) {
            const std::size_t at = std::size_t(gy - g0) * lv.width;
            for (int gx = x0, x1 = std::min(lv.width, x0 + kTile); gx < x1;) {
              const int q = st[at + gx];
              int end = gx + 1;
              while (end < x1 && st[at + end] == q) ++end;
              if (q >= 0) GatherRun(lv.rows, table, gx, end - gx, gy, lv.height, q, g.data() + at + gx);
              gx = end;
            }
          }
      }
      // A level read between its centres: down the rows into `between`
      // (for the tile's columns), then along them.
      const auto sample = [&](int l, int x) -> v4f {
        const v4f* v = between[std::size_t(l)].data();
        const int c = column[std::size_t(l)][std::size_t(x)];
        const int c1 = std::min(c + 1, levels[std::size_t(l)].width - 1);
        return v[c] + columnWeight[std::size_t(l)][std::size_t(x)] * (v[c1] - v[c]);
      };
      const auto downRows = [&](int y, int x0, int x1) {
        for (int l = std::max(1, lowest); l <= highest; ++l) {
          const Level& lv = levels[std::size_t(l)];
          float ay;
          const int gy0 = CentreBefore(y, l, lv.height, ay), gy1 = std::min(gy0 + 1, lv.height - 1);
          const v4f* g = grid[std::size_t(l)].data();
          const v4f* upper = g + std::size_t(gy0 - gridFirst[std::size_t(l)]) * lv.width;
          const v4f* lower = g + std::size_t(gy1 - gridFirst[std::size_t(l)]) * lv.width;
          auto& v = between[std::size_t(l)];
          v.resize(std::size_t(lv.width));
          const int c1 = std::min(column[std::size_t(l)][std::size_t(x1 - 1)] + 1, lv.width - 1);
          for (int c = column[std::size_t(l)][std::size_t(x0)]; c <= c1; ++c)
            v[std::size_t(c)] = upper[c] + ay * (lower[c] - upper[c]);
        }
      };
      // Each pixel: its own bytes, the sums of one level, or of two blended.
      for (int x0 = 0; x0 < w; x0 += kTile) {
        for (int y = y0; y < y1; ++y) {
          const std::uint8_t* s = src.ScanLine(y);
          std::uint8_t* d = out.ScanLine(y);
          const float* row = r.data() + std::size_t(y - y0) * w;
          const int x1 = std::min(w, x0 + kTile);
          downRows(y, x0, x1);
          // The level-0 sums first, a run of pixels of one radius at a time.
          for (int x = x0; x < x1; ++x) {
            const float v = row[x];
            const int l = v > 0 ? levelOf(v) : -1;
            steps0[std::size_t(x - x0)] = l == 0 || (l == 1 && !alone(v, l)) ? Step(v, table) : -1;
          }
          for (int x = x0; x < x1;) {
            const int q = steps0[std::size_t(x - x0)];
            int end = x + 1;
            while (end < x1 && steps0[std::size_t(end - x0)] == q) ++end;
            if (q >= 0)
              GatherRun(kept ? rows.near : near, table, x, end - x, y, h, q, sums0.data() + (x - x0));
            x = end;
          }
          for (int x = x0; x < x1; ++x) {
            const float v = row[x];
            v4f a{0, 0, 0, 0};
            if (v > 0) {
              const int l = levelOf(v);
              if (l == 0) {
                a = sums0[std::size_t(x - x0)];
              } else {
                // Between unit * 2^(l - 1) and unit * 2^l: t of the way to level l.
                const v4f hi = sample(l, x);
                const float t = (v / (unit * float(1 << (l - 1))) - 1) / (kBlend - 1);
                if (alone(v, l)) {  // as the centres were marked
                  a = hi;
                } else if (const v4f lo = l == 1 ? sums0[std::size_t(x - x0)] : sample(l - 1, x);
                           hi[3] > 0 && lo[3] > 0) {
                  const v4f clo = lo / lo[3];
                  a = clo + t * (hi / hi[3] - clo);
                  a[3] = 1;
                }
              }
            }
            if (a[3] > 0) {
              const v4f c = a / a[3];
              d[3 * x] = Encode(encode, c[0]), d[3 * x + 1] = Encode(encode, c[1]),
                    d[3 * x + 2] = Encode(encode, c[2]);
            } else {
              d[3 * x] = s[3 * x], d[3 * x + 1] = s[3 * x + 1], d[3 * x + 2] = s[3 * x + 2];
            }
          }
        }
      }
    }
  });
  dst = std::move(out);
  if (kept) {
    rows.picture = src;
    rows.protect = input.protect ? *input.protect : TBitmap();
  }
  rows.key = key;
  rows.valid = true;
}
