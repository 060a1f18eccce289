// A quick Gaussian blur of any spread for pictures shown at once (the live
// preview): exact taps in 1/256 up to a spread of 3 pixels, three box
// passes of the same variance beyond, edges extended. It looks like
// GaussianBlur without being it byte for byte.
#pragma once

#include <array>
#include <vector>

#include "imaging/bitmap.h"

// Blurs `bmp` (pf24bit) by a Gaussian of standard deviation `sigma` pixels;
// below 0.2 (or for another format or an empty picture) nothing changes.
// `scratch`, when given, holds the intermediate picture from one call to
// the next (no new memory from frame to frame).
void QuickGaussianBlur(TBitmap& bmp, double sigma, TBitmap* scratch = nullptr);

// Its pieces. The taps: weights[0] for the centre, weights[k] for the two
// pixels k away, in 1/256, adding up to exactly 256 (cut at 3 sigma).
std::vector<int> QuickBlurTaps(double sigma);
// The three boxes' radii whose variances add up to sigma^2 (the usual
// split into widths wl and wl + 2).
std::array<int, 3> QuickBlurBoxRadii(double sigma);

// One pass from `src` into `dst` (of src's size) along the rows
// (`horizontal`) or the columns, edges extended: the symmetric taps, each
// byte (w0 s + sum of wk (a + b) + 128) >> 8; or a box of radius r, each
// byte (sum * round(2^24 / (2r + 1)) + 2^23) >> 24. Plain forms define
// the bytes; the fast forms (vectorised loops over bytes, threads over
// rows) give the same.
void TapPassPlain(const TBitmap& src, TBitmap& dst, const std::vector<int>& weights, bool horizontal);
void TapPassFast(const TBitmap& src, TBitmap& dst, const std::vector<int>& weights, bool horizontal);
void BoxPassPlain(const TBitmap& src, TBitmap& dst, int r, bool horizontal);
void BoxPassFast(const TBitmap& src, TBitmap& dst, int r, bool horizontal);
