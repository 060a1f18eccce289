// Resampling a 24-bit picture to a new size by one of nine methods.
#pragma once

#include "imaging/bitmap.h"

// The resampling methods; the order is fixed (the resize dialog relies on it).
enum TResizeMode {
  rmNearest,   // nearest neighbour, 1 pixel
  rmBilinear,  // bilinear, 2 x 2
  rmBicubic,   // cubic convolution with a = -1, 4 x 4
  rmBSpline,   // cubic B-spline, 4 x 4
  rmHermite,   // cubic Hermite (smoothstep), 2 x 2
  rmMitchell,  // Mitchell-Netravali with B = C = 1/3, 4 x 4
  rmBell,      // quadratic B-spline, 4 x 4
  rmLanczos,   // Lanczos with two lobes, 4 x 4
  rmLagrange,  // four-point Lagrange, 4 x 4
};

// Resamples `bmp` to rwidth x rheight. Destination pixel (ix, iy) samples
// the source at (ix * w / rwidth, iy * h / rheight), without a half-pixel
// offset, and nothing is pre-filtered when shrinking. Refuses (returns
// false, changes nothing) a bitmap that is not pf24bit, an empty bitmap,
// and a new width or height below 1.
bool BmpResize(TBitmap& bmp, int rwidth, int rheight, TResizeMode mode);

// The two forms behind BmpResize (see imaging/simd.h): the plain loops
// that define the result, and the fast path that gives the same bytes.
bool BmpResizePlain(TBitmap& bmp, int rwidth, int rheight, TResizeMode mode);
bool BmpResizeFast(TBitmap& bmp, int rwidth, int rheight, TResizeMode mode);
