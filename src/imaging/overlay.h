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

// The two forms behind MaskedOverlay (see imaging/simd.h): the plain loops
// that define the result, and the fast path that gives the same bytes.
void MaskedOverlayPlain(TBitmap& dst, const TBitmap& src, const TBitmap& mask, int dstX, int dstY);
void MaskedOverlayFast(TBitmap& dst, const TBitmap& src, const TBitmap& mask, int dstX, int dstY);

// One channel of the blend, the plain way: round(((255 - a) * p + a * q) / 255).
std::uint8_t MaskedBlend(std::uint8_t p, std::uint8_t q, int a);

// The blended area, w x h source pixels from the top-left; false when the
// call does nothing (wrong formats, empty area, mask smaller than src).
bool OverlayArea(const TBitmap& dst, const TBitmap& src, const TBitmap& mask, int dstX, int dstY, int& w,
                 int& h);
