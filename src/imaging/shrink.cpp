// Area-average reduction, the plain form that defines the result, and the
// switch between it and the fast form in shrink_simd.cpp.
#include "imaging/shrink.h"

#include <algorithm>
#include <cstdint>

#include "imaging/simd.h"

bool ShrinkSize(const TBitmap& src, int& width, int& height) {
  width = std::clamp(width, 1, std::max(1, src.Width()));
  height = std::clamp(height, 1, std::max(1, src.Height()));
  return width == src.Width() && height == src.Height();
}

TBitmap ShrinkPicturePlain(const TBitmap& src, int width, int height) {
  if (src.PixelFormat() != pf24bit || ShrinkSize(src, width, height)) return src;
  const std::int64_t sw = src.Width(), sh = src.Height();
  TBitmap out = TBitmap::ForOverwrite(width, height, pf24bit);
  for (int y = 0; y < height; ++y) {
    const int r0 = int(y * sh / height), r1 = int((y + 1) * sh / height);
    for (int x = 0; x < width; ++x) {
      const int c0 = int(x * sw / width), c1 = int((x + 1) * sw / width);
      const std::uint64_t n = std::uint64_t(c1 - c0) * std::uint64_t(r1 - r0);
      for (int c = 0; c < 3; ++c) {
        std::uint64_t sum = 0;
        for (int r = r0; r < r1; ++r)
          for (int sx = c0; sx < c1; ++sx) sum += src.ScanLine(r)[3 * sx + c];
        out.ScanLine(y)[3 * x + c] = std::uint8_t((sum + n / 2) / n);
      }
    }
  }
  return out;
}

TBitmap ShrinkPicture(const TBitmap& src, int width, int height) {
  return PlainPaths() ? ShrinkPicturePlain(src, width, height) : ShrinkPictureFast(src, width, height);
}
