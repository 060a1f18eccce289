// The lens look: the blur radius of every pixel, from the band's geometry,
// an ellipse around the focus point or a depth map, and the lens blur
// (imaging/lens_blur.h) that makes the picture from it.
//
// Band: the classic mask's band and ramps (point, angle, depth, slope, the
// shorter ramp below), but the radius grows linearly across each ramp from
// 0 at the band's edge to the full radius at its end, and stays full
// beyond. Ellipse: the sharp area is an ellipse centred on the point, its
// half-height the band's half-width, its half-width that times the aspect,
// turned by the angle; the radius grows outward from it over the ramp (the
// upper ramp's length at the top, the lower one's at the bottom, between
// them in proportion). Depth map (white near): the pixels within
// depth / 600 of the depth under the focus point stay sharp, and the radius
// grows beyond over 0.7 times that plus the slope's factor of the depth
// range, half as far on the near side.
//
// The full radius is blur / 20 * 1.5 % of the picture's diagonal.
#pragma once

#include <vector>

#include "engine/focus_mask.h"
#include "engine/look.h"
#include "imaging/bitmap.h"
#include "imaging/lens_blur.h"

// The pictures the lens look may take besides the look's settings.
struct LensMaps {
  const TBitmap* protect = nullptr;  // grey, the picture's size; white keeps sharp
  const TBitmap* depth = nullptr;    // grey, any size; white is near
};

// A mask or map read from a picture file (24-bit: its grey values, 8-bit:
// as it is) at width x height (bilinear), or as it is for a size of 0.
TBitmap GreyMap(const TBitmap& picture, int width = 0, int height = 0);
// An 8-bit map turned by a quarter turn.
void TurnGreyMap(TBitmap& map, bool plus);

// The protect mask and depth map for pictures of one size after another
// (frames, a batch): the mask is fitted to each new size once.
class TLensMapCache {
 public:
  LensMaps For(const TBitmap& protect, const TBitmap& depth, int width, int height);

 private:
  TBitmap fitted_{0, 0, pf8bit};
  TBitmap source_{0, 0, pf8bit};  // shares the mask's pixels, so their address stays its own
};

// The full radius in picture pixels.
double LensFullRadius(int width, int height, int blur);

// The radius of every pixel of a picture of width x height. Throws
// MaskError for a view of zero size.
class LensRadius {
 public:
  LensRadius(int width, int height, const Look& look, const TBitmap* depth = nullptr);
  void Row(int y, float* out) const;
  float Full() const { return float(full_); }
  // From now on Row(y) gives `width` pixels of row y0 + y from column x0
  // (a part of the picture, as the zoomed preview draws it).
  void SetWindow(int x0, int y0, int width) { x0_ = x0, y0_ = y0, columns_ = width; }

 private:
  int width_, height_;
  int x0_ = 0, y0_ = 0, columns_;  // the window Row gives
  LensShape shape_;
  double full_;
  double sin_ = 0, cos_ = 1;
  double centreX_ = 0, centreY_ = 0;  // the focus point in picture pixels
  double offset_ = 0;                 // the band's middle line from the picture's centre
  double half_ = 0, aspect_ = 1;      // the band's half-width, the ellipse's aspect
  double above_ = 0, below_ = 0;      // the ramps' lengths
  // Depth map: grey picture, the depth under the point, the sharp half-range, the ramps.
  const TBitmap* depth_ = nullptr;
  double focusDepth_ = 0, sharp_ = 0, far_ = 0, near_ = 0;
  double DepthAt(double x, double y) const;
};

// `target` becomes the lens look of `toned` (24-bit); the protect mask must
// have the picture's size. Throws MaskError for a view of zero size and
// std::invalid_argument for a mask of another size.
void LensMiniature(const TBitmap& toned, const Look& look, const LensMaps& maps, TBitmap& target);
