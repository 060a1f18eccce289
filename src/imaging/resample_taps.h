// What the plain and the fast resampling share: the taps of every
// destination column and row, and the plain computation of one pixel.
#pragma once

#include <vector>

#include "imaging/pixel_access.h"
#include "imaging/resample.h"

// Where one destination column (or row) samples the source: the source
// columns (rows) of its taps, border substitution already applied, and their
// weights. Every destination pixel of a column shares them, so they are
// worked out once per column and once per row; the weight functions are
// deterministic, so this gives the same values as evaluating them per tap.
struct AxisTaps {
  int index[4];
  Extended weight[4];
};

// The taps of `count` destination columns (columns = true) or rows over a
// source of `size` pixels.
std::vector<AxisTaps> Axis(int size, int count, TResizeMode mode, bool columns);

// Taps per axis: 1 (nearest), 2 (bilinear, Hermite) or 4.
int TapCount(TResizeMode mode);

// Destination pixel with column taps cx and row taps cy, the plain way.
void ResamplePixel(const TBmpConstData24& src, const AxisTaps& cx, const AxisTaps& cy, TResizeMode mode,
                   TRGBTriple* out);

// One channel (0 blue, 1 green, 2 red) of that pixel, the plain way.
std::uint8_t ResampleChannel(const TBmpConstData24& src, const AxisTaps& cx, const AxisTaps& cy,
                             TResizeMode mode, int channel);

// Whether BmpResize takes these arguments (pf24bit, non-empty, sizes of at
// least 1, a known mode).
bool ResizeAccepted(const TBitmap& bmp, int rwidth, int rheight, TResizeMode mode);
