// Masked overlay: blend one 24-bit picture into another through an 8-bit mask.
#pragma once

#include "imaging/bitmap.h"

// Blends `src` into `dst` with src's top-left pixel landing on (dstX, dstY)
// of `dst` (either may be negative). Mask value a at (x, y) weighs source
// pixel (x, y): each channel becomes round(((255 - a) * dst + a * src) / 255),
// so 0 keeps the destination and 255 copies the source.
//
// Does nothing when the blended area is empty, when the mask is narrower or
// lower than `src`, or when the formats are not pf24bit (dst, src) and
// pf8bit (mask): the blend writes three bytes per pixel and must never be
// let loose on another layout.
void MaskedOverlay(TBitmap& dst, const TBitmap& src, const TBitmap& mask, int dstX, int dstY);
