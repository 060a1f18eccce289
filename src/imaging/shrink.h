// Area-average reduction of a 24-bit picture: the reduced copies the live
// preview works on.
#pragma once

#include "imaging/bitmap.h"

// `src` (pf24bit) reduced to width x height, each pixel the mean of the
// block of source pixels it covers, rounded half up: output column x
// covers source columns x * sw / width .. (x + 1) * sw / width - 1 (integer
// division), and rows likewise. The size is clamped to 1 .. the picture's
// own (never enlarged); at the picture's own size the result shares its
// pixels. Other formats come back unchanged.
TBitmap ShrinkPicture(const TBitmap& src, int width, int height);

// The two forms behind ShrinkPicture (see imaging/simd.h): the literal
// per-pixel sums, and the fast path (row sums shared by a row of blocks,
// threads over rows) with the same bytes.
TBitmap ShrinkPicturePlain(const TBitmap& src, int width, int height);
TBitmap ShrinkPictureFast(const TBitmap& src, int width, int height);

// The clamped size ShrinkPicture makes, and whether it is the picture's own.
bool ShrinkSize(const TBitmap& src, int& width, int& height);
