// The focus-band mask: an 8-bit grey picture of the picture's size whose
// value says how much of the blurred copy replaces the sharp picture there
// (0 keeps the sharp pixel, 255 takes the blurred one). A band of 0 runs
// through the picture point under the focus point, tilted by the angle; on
// each side the value climbs to 255 over a ramp.
#pragma once

#include <stdexcept>

#include "engine/settings.h"
#include "imaging/bitmap.h"

// A view or picture of zero size: nothing to map the focus point through.
class MaskError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The numbers the mask is built from, in picture pixels (ratio aside).
struct MaskGeometry {
  int diagonal = 0;       // side of the square, the picture's diagonal rounded up
  int center = 0;         // middle row of the square
  double ratio = 1;       // view pixels per picture pixel
  int perpendicular = 0;  // offset of the band's middle line from the middle row
  int meta = 0;           // row of the band's middle line in the square
  int depth = 0;          // half-width of the band
  int slope1 = 0;         // ramp length above the band
  int slope2 = 0;         // ramp length below the band
  int d1 = 0, d2 = 0;     // rows of the band's edges
  int d3 = 0, d4 = 0;     // row where the upper ramp starts, the lower ends
};

// Signed distance in view pixels of the band's middle line from the view's
// centre, measured along the band's normal (positive below at angle 0).
int GetPerpendicular(TPoint point, int viewWidth, int viewHeight, int angle);

// The scale at which a view of viewWidth x viewHeight shows a picture of
// width x height, fitted and centred: view pixels per picture pixel, the
// smaller of the two quotients in extended precision held as a double. A
// picture side of 0 gives 1.
double FitRatio(int viewWidth, int viewHeight, int width, int height);

// The geometry for a picture of width x height. Throws MaskError for a
// view of zero width or height.
MaskGeometry ComputeMaskGeometry(int width, int height, TPoint point, const FocusSettings& focus);

// Value of row y of the level band (0 .. 255). A ramp of length 0 has only
// its edge row, which belongs to the band and gets 0.
int MaskRowValue(const MaskGeometry& g, int y);

// Builds `mask` (8-bit, grey palette) for a picture of width x height.
// Returns the geometry used; its depth is the band's half-width in picture
// pixels. Throws MaskError for a view of zero size, leaving `mask` as it was.
//
// The result is, byte for byte, the level band written into a square of
// the picture's diagonal, turned with Rotation (black background), cut with
// ClipMaskBMP and turned to grey with To8bit; but each pixel is computed
// where it lands, so only the mask itself is allocated and any picture that
// fits in memory gets a mask.
MaskGeometry CreateMaskBMP(TBitmap& mask, int width, int height, TPoint point, const FocusSettings& focus);

// The two forms behind CreateMaskBMP (see imaging/simd.h): plain per-pixel
// extended steps, and the fast path (vector code, threads) with the same
// bytes.
MaskGeometry CreateMaskBMPPlain(TBitmap& mask, int width, int height, TPoint point,
                                const FocusSettings& focus);
MaskGeometry CreateMaskBMPFast(TBitmap& mask, int width, int height, TPoint point,
                               const FocusSettings& focus);

// Cuts the turned square `mask` (24-bit) down to width x height around its
// middle, stretching by a pixel where the size difference is odd.
void ClipMaskBMP(TBitmap& mask, int width, int height);

// Replaces a 24-bit picture by its 8-bit grey version (grey palette):
// Trunc(0.299 R + 0.587 G + 0.114 B).
void To8bit(TBitmap& bmp);
