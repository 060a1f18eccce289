// Tone adjustments of a 24-bit picture, in place, pixel by pixel.
// Each returns false, changing nothing, for a bitmap that is not pf24bit.
#pragma once

#include "imaging/bitmap.h"
#include "imaging/pixel_access.h"

// Adds percent * 255 / 100 (integer division toward zero) to every channel,
// clamped to 0..255. Any percent is accepted.
bool Brightness(TBitmap& bmp, int percent);

// Stretches every channel away from mid grey by ((nContrast + 100) / 100)^2,
// the factor and its square each held as a 32-bit float. Refuses nContrast
// outside -100..100.
bool Contrast(TBitmap& bmp, int nContrast);

// Moves every channel away from the pixel's grey value
// (0.3086 R + 0.6094 G + 0.082 B) by the factor percent / 100 + 1.
// Any percent is accepted.
bool Saturation(TBitmap& bmp, Extended percent);
