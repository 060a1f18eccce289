// Fast area-average reduction: the same bytes as the plain form in
// shrink.cpp. Each band of output rows adds its source rows into one row
// of block sums (every source byte read once, in order), then divides;
// the bands run on the toolkit's threads. The sums are whole numbers, so
// the order of the additions cannot change them.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/shrink.h"

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
      std::uint8_t* d = out.ScanLine(y);
      for (int x = 0; x < width; ++x) {
        const std::uint64_t n = std::uint64_t(first[x + 1] - first[x]) * (r1 - r0);
        for (int c = 0; c < 3; ++c) d[3 * x + c] = std::uint8_t((sum[3 * x + c] + n / 2) / n);
      }
    }
  });
  return out;
}
