// Fast area-average reduction: the same bytes as the plain form in
// shrink.cpp. Each band of output rows adds its source rows into one row
// of block sums (every source byte read once, in order), then divides;
// the rows of a halving (2 x 2 blocks, the views' pyramids) take a path of
// their own without divisions. The bands run on the toolkit's threads.
// The sums are whole numbers, so the order of the additions cannot change
// them.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/shrink.h"

namespace {

// An output row over two source rows whose blocks are two columns wide,
// but for the last one or two (a halving: x * sw / width steps by 2, and
// by 3 once when sw is odd): the mean of four is (sum + 2) >> 2, the
// plain form's (sum + n / 2) / n for n = 4, without a division. Returns
// false, writing nothing, when a block other than the last two is wider.
bool HalvingRow(const std::uint8_t* a, const std::uint8_t* b, const std::vector<int>& first,
                std::uint8_t* d) {
  const int width = int(first.size()) - 1;
  int x = 0;
  while (x < width && first[x + 1] - first[x] == 2) ++x;
  if (x < width - 2) return false;
  for (int i = 0; i < x; ++i) {
    const int s = 3 * first[i];
    for (int c = 0; c < 3; ++c)
      d[3 * i + c] = std::uint8_t((a[s + c] + a[s + 3 + c] + b[s + c] + b[s + 3 + c] + 2) >> 2);
  }
  for (int i = x; i < width; ++i) {  // the last blocks, of any width
    const int n = 2 * (first[i + 1] - first[i]);
    for (int c = 0; c < 3; ++c) {
      int sum = 0;
      for (int sx = first[i]; sx < first[i + 1]; ++sx) sum += a[3 * sx + c] + b[3 * sx + c];
      d[3 * i + c] = std::uint8_t((sum + n / 2) / n);
    }
  }
  return true;
}

}  // namespace

TBitmap ShrinkPictureFast(const TBitmap& src, int width, int height) {
  if (src.PixelFormat() != pf24bit || ShrinkSize(src, width, height)) return src;
  const int sw = src.Width(), sh = src.Height();
  TBitmap out = TBitmap::ForOverwrite(width, height, pf24bit);
  // Output column x covers source columns first[x] .. first[x + 1] - 1.
  std::vector<int> first(width + 1);
  for (int x = 0; x <= width; ++x) first[x] = int(std::int64_t(x) * sw / width);
  ParallelRows(height, 8, [&](int y0, int y1) {
    std::vector<std::uint64_t> sum(std::size_t(width) * 3);
    for (int y = y0; y < y1; ++y) {
      const int r0 = int(std::int64_t(y) * sh / height), r1 = int(std::int64_t(y + 1) * sh / height);
      std::uint8_t* d = out.ScanLine(y);
      if (r1 - r0 == 2 && HalvingRow(src.ScanLine(r0), src.ScanLine(r0 + 1), first, d)) continue;
      std::fill(sum.begin(), sum.end(), 0);
      for (int r = r0; r < r1; ++r) {
        const std::uint8_t* row = src.ScanLine(r);
        for (int x = 0; x < width; ++x) {
          std::uint64_t b = 0, g = 0, red = 0;
          for (int sx = first[x]; sx < first[x + 1]; ++sx) {
            b += row[3 * sx];
            g += row[3 * sx + 1];
            red += row[3 * sx + 2];
          }
          sum[3 * x] += b;
          sum[3 * x + 1] += g;
          sum[3 * x + 2] += red;
        }
      }
      for (int x = 0; x < width; ++x) {
        const std::uint64_t n = std::uint64_t(first[x + 1] - first[x]) * (r1 - r0);
        for (int c = 0; c < 3; ++c) d[3 * x + c] = std::uint8_t((sum[3 * x + c] + n / 2) / n);
      }
    }
  });
  return out;
}
