// The quick blur's fast passes: the same bytes as the plain passes in
// quick_blur.cpp. The taps' sums fit 16 bits (the weights add up to 256),
// twice as many lanes as 32-bit sums, and both directions run one loop
// over contiguous bytes that the compiler turns into vector code; the box
// passes keep running sums, a cost per pixel that does not grow with the
// radius. Rows are spread over the toolkit's threads.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/quick_blur.h"

namespace {

constexpr int kOne = 1 << 8;

// acc[i] += weight * (a[i] + b[i]): the inner loop of both filter
// directions, over contiguous bytes so that it compiles to vector code.
void Accumulate(std::uint16_t* __restrict acc, const std::uint8_t* __restrict a,
                const std::uint8_t* __restrict b, std::uint16_t weight, int n) {
  for (int i = 0; i < n; ++i) acc[i] = std::uint16_t(acc[i] + weight * std::uint16_t(a[i] + b[i]));
}

void Store(std::uint8_t* __restrict d, const std::uint16_t* __restrict acc, int n) {
  for (int i = 0; i < n; ++i) d[i] = std::uint8_t((acc[i] + kOne / 2) >> 8);
}

}  // namespace

// A row is first copied with r pixels repeated at each end, so that both
// directions are the same loop over bytes.
void TapPassFast(const TBitmap& src, TBitmap& dst, const std::vector<int>& weights, bool horizontal) {
  const int w = src.Width(), h = src.Height(), r = int(weights.size()) - 1, n = 3 * w;
  dst.ScanLine(0);  // pixels shared with another bitmap are copied here, not on the threads
  ParallelRows(h, 16, [&](int y0, int y1) {
    std::vector<std::uint16_t> acc(n);
    std::vector<std::uint8_t> padded(horizontal ? std::size_t(n + 6 * r) : 0);
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* s = src.ScanLine(y);
      if (horizontal) {
        std::copy(s, s + n, padded.begin() + 3 * r);
        for (int k = 0; k < r; ++k) {
          std::copy(s, s + 3, padded.begin() + 3 * k);
          std::copy(s + n - 3, s + n, padded.begin() + 3 * (r + w + k));
        }
      }
      for (int i = 0; i < n; ++i) acc[i] = std::uint16_t(weights[0] * s[i]);
      for (int k = 1; k <= r; ++k) {
        const std::uint8_t* before =
            horizontal ? padded.data() + 3 * (r - k) : src.ScanLine(std::max(y - k, 0));
        const std::uint8_t* after =
            horizontal ? padded.data() + 3 * (r + k) : src.ScanLine(std::min(y + k, h - 1));
        Accumulate(acc.data(), before, after, std::uint16_t(weights[k]), n);
      }
      Store(dst.ScanLine(y), acc.data(), n);
    }
  });
}

// Running sums along the rows, or a row of column sums carried down.
void BoxPassFast(const TBitmap& src, TBitmap& dst, int r, bool horizontal) {
  const int w = src.Width(), h = src.Height();
  const std::uint32_t n = 2 * r + 1, inverse = ((1u << 24) + n / 2) / n;
  const auto average = [&](std::uint32_t sum) {
    return std::uint8_t((sum * std::uint64_t(inverse) + (1u << 23)) >> 24);
  };
  dst.ScanLine(0);  // pixels shared with another bitmap are copied here, not on the threads
  ParallelRows(h, 16, [&](int y0, int y1) {
    if (horizontal) {
      for (int y = y0; y < y1; ++y) {
        const std::uint8_t* s = src.ScanLine(y);
        std::uint8_t* d = dst.ScanLine(y);
        for (int c = 0; c < 3; ++c) {
          const auto at = [&](int x) { return std::uint32_t(s[3 * std::clamp(x, 0, w - 1) + c]); };
          std::uint32_t sum = 0;
          for (int k = -r; k <= r; ++k) sum += at(k);
          for (int x = 0; x < w; ++x) {
            d[3 * x + c] = average(sum);
            sum += at(x + r + 1) - at(x - r);
          }
        }
      }
      return;
    }
    std::vector<std::uint32_t> sum(std::size_t(w) * 3, 0);
    const auto row = [&](int y) { return src.ScanLine(std::clamp(y, 0, h - 1)); };
    for (int k = -r; k <= r; ++k) {
      const std::uint8_t* s = row(y0 + k);
      for (int i = 0; i < 3 * w; ++i) sum[i] += s[i];
    }
    for (int y = y0; y < y1; ++y) {
      std::uint8_t* d = dst.ScanLine(y);
      const std::uint8_t *in = row(y + r + 1), *out = row(y - r);
      for (int i = 0; i < 3 * w; ++i) {
        d[i] = average(sum[i]);
        sum[i] += in[i] - out[i];
      }
    }
  });
}
