// Gaussian blur of a 24-bit picture, in place.
#pragma once

#include <vector>

#include "imaging/bitmap.h"

// The zones GaussianBlur takes.
inline constexpr int kMinBlurZone = 1;
inline constexpr int kMaxBlurZone = 30;

// Blurs with a Gaussian of standard deviation `zone` pixels, cut off at
// 3 * zone, as a row pass then a column pass. Refuses (returns false,
// changes nothing) a bitmap that is not pf24bit or a zone outside
// kMinBlurZone..kMaxBlurZone.
bool GaussianBlur(TBitmap& bmp, int zone);

// The miniature composition's blur and blend in one call: `dst` becomes
// `sharp` with its blur by `zone` blended in through `mask` (0 keeps the
// sharp pixel, 255 takes the blurred one), exactly what
//   dst = sharp; blurred = sharp; GaussianBlur(blurred, zone);
//   MaskedOverlay(dst, blurred, mask, 0, 0);
// gives. A zone the blur refuses leaves `dst` a copy of `sharp`. `dst`
// must not be `sharp` or `mask`.
void BlurredOverlay(TBitmap& dst, const TBitmap& sharp, const TBitmap& mask, int zone);

// The two forms behind GaussianBlur and BlurredOverlay, which the switch
// of imaging/simd.h chooses between: the plain loops that define the
// result, and the fast path (vector code and threads) that gives the same
// bytes. The fast blur streams its row pass through a band of rows instead
// of a second picture, and the fast BlurredOverlay blends each blurred row
// straight into `dst`, so it needs no blurred copy at all.
bool GaussianBlurPlain(TBitmap& bmp, int zone);
bool GaussianBlurFast(TBitmap& bmp, int zone);
void BlurredOverlayPlain(TBitmap& dst, const TBitmap& sharp, const TBitmap& mask, int zone);
void BlurredOverlayFast(TBitmap& dst, const TBitmap& sharp, const TBitmap& mask, int zone);

// The weight table: entry i is exp(-i^2 / (2 zone^2)) rounded to a 32-bit
// float, for i = 0 .. 3 * zone.
std::vector<float> GaussianWeights(int zone);
