// Fast turns: the same bytes as the plain forms in rotation.cpp.
//
// Rotate90 copies the pixels in square tiles, so that both the rows read
// and the rows written stay in cache, with the tiles spread over threads.
//
// Rotation computes each result pixel with the double arithmetic of
// turn_sampling.h (exact, falling back to the plain extended steps for the
// rare values where the double rounding cannot decide) and spreads the
// result rows over threads.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/pixel_access.h"
#include "imaging/rotation.h"
#include "imaging/turn_sampling.h"

namespace {

constexpr int kTile = 64;

// Writes `count` pixels of colour `bk` from `out` on.
void FillPixels(std::uint8_t* out, int count, TColor bk) {
  const std::uint8_t px[3] = {std::uint8_t(bk >> 16), std::uint8_t(bk >> 8), std::uint8_t(bk)};
  for (int i = 0; i < count; ++i) std::memcpy(out + 3 * std::size_t(i), px, 3);
}

// The picture with a one-pixel frame of `bk`, as the plain form's Framed
// makes it, a row at a time.
TBitmap Framed(const TBitmap& bmp, TColor bk) {
  const int w = bmp.Width(), h = bmp.Height();
  TBitmap framed = TBitmap::ForOverwrite(w + 2, h + 2, pf24bit);
  for (int y = 0; y < h + 2; ++y) {
    std::uint8_t* row = framed.ScanLine(y);
    if (y == 0 || y == h + 1) {
      FillPixels(row, w + 2, bk);
      continue;
    }
    FillPixels(row, 1, bk);
    if (w > 0) std::memcpy(row + 3, bmp.ScanLine(y - 1), 3 * std::size_t(w));
    FillPixels(row + 3 * (std::size_t(w) + 1), 1, bk);
  }
  return framed;
}

}  // namespace

bool Rotate90Fast(TBitmap& bmp, bool plus) {
  if (bmp.PixelFormat() != pf24bit) return false;
  const int w = bmp.Width(), h = bmp.Height();
  TBitmap tmp = TBitmap::ForOverwrite(h, w, pf24bit);  // every pixel is copied below
  const TBmpConstRows src(bmp);
  const TBmpRows dst(tmp);
  // Result row Y, column X comes from source pixel (Y, h - 1 - X) when
  // turning clockwise, from (w - 1 - Y, X) otherwise.
  const int tilesY = (w + kTile - 1) / kTile;
  ParallelFor(tilesY, [&](int t) {
    const int y0 = t * kTile, y1 = std::min(w, y0 + kTile);
    for (int x0 = 0; x0 < h; x0 += kTile) {
      const int x1 = std::min(h, x0 + kTile);
      for (int y = y0; y < y1; ++y) {
        std::uint8_t* out = dst.Row(y);
        for (int x = x0; x < x1; ++x) {
          const std::uint8_t* in =
              plus ? src.Row(h - 1 - x) + 3 * std::size_t(y) : src.Row(x) + 3 * std::size_t(w - 1 - y);
          std::memcpy(out + 3 * std::size_t(x), in, 3);
        }
      }
    }
  });
  bmp.Assign(tmp);
  return true;
}

bool RotationFast(TBitmap& bmp, float angle, TColor bkColor) {
  if (bmp.PixelFormat() != pf24bit) return false;
  if (!std::isfinite(angle)) return false;
  const TBitmap framed = Framed(bmp, bkColor);
  const TurnGeometry g = TurnGeometryOf(bmp.Width(), bmp.Height(), angle);
  // Every pixel is written below: sampled, or the background.
  TBitmap tmp = TBitmap::ForOverwrite(g.ww, g.hh, pf24bit);
  const TBmpConstRows src(framed);
  const TBmpRows dst(tmp);
  ParallelRows(g.hh, 16, [&](int first, int end) {
    for (int iy = first; iy < end; ++iy) {
      const float ry = float(iy) + g.ymin;
      std::uint8_t* out = dst.Row(iy);
      for (int ix = 0; ix < g.ww; ++ix) {
        const float rx = float(ix) + g.xmin;
        float sx, sy;
        TurnSample s;
        const bool covered = turn_sampling::SourcePoint(g, rx, ry, sx, sy)
                                 ? turn_sampling::SampleFromPoint(g, sx, sy, s) != 0
                                 : TurnSampleAt(g, ix, iy, s);
        if (!covered) {
          FillPixels(out + 3 * std::size_t(ix), 1, bkColor);
          continue;
        }
        // Source pixel (x, y) sits at (x + 1, y + 1) of the framed picture.
        const std::uint8_t* r0 = src.Row(s.y0 + 1) + 3 * std::size_t(s.x0 + 1);
        const std::uint8_t* r1 = src.Row(s.y0 + 2) + 3 * std::size_t(s.x0 + 1);
        std::uint8_t* d = out + 3 * std::size_t(ix);
        for (int c = 0; c < 3; ++c) {
          if (!turn_sampling::Blend(r0[c], r0[c + 3], r1[c], r1[c + 3], s, d[c]))
            d[c] = TurnBlend(r0[c], r0[c + 3], r1[c], r1[c + 3], s);
        }
      }
    }
  });
  bmp.Assign(tmp);
  return true;
}
