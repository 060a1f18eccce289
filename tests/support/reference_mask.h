// The focus-band mask built the slow, obvious way, step by step as the
// composition used to: the level band written into a square of the
// picture's diagonal, turned with Rotation (black background), cut back
// with ClipMaskBMP and turned to grey with To8bit. The engine computes each
// pixel where it lands instead; tests and benchmarks compare the two.
#pragma once

#include <algorithm>

#include "engine/focus_mask.h"
#include "imaging/pixel_access.h"
#include "imaging/rotation.h"

inline MaskGeometry SquareAndTurnMask(TBitmap& mask, int width, int height, TPoint point,
                                      const FocusSettings& focus) {
  const MaskGeometry g = ComputeMaskGeometry(width, height, point, focus);
  TBitmap square(g.diagonal, g.diagonal, pf8bit);
  SetGrayPalette(square);
  for (int y = 0; y < g.diagonal; ++y) {
    std::uint8_t* row = square.ScanLine(y);
    std::fill(row, row + g.diagonal, static_cast<std::uint8_t>(MaskRowValue(g, y)));
  }
  square.SetPixelFormat(pf24bit);
  RotationPlain(square, static_cast<float>(focus.angle), 0);
  ClipMaskBMP(square, width, height);
  To8bit(square);
  mask = std::move(square);
  return g;
}
