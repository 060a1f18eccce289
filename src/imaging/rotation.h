// Turning a 24-bit picture: by a quarter turn, or by any angle.
#pragma once

#include "imaging/bitmap.h"

// Turns `bmp` by a quarter turn, clockwise when `plus` is true and
// counter-clockwise otherwise; a w x h picture becomes h x w with every
// pixel copied unchanged. Refuses (returns false, changes nothing) a bitmap
// that is not pf24bit.
bool Rotate90(TBitmap& bmp, bool plus);

// Turns `bmp` about the position of its top-left pixel by `angle` degrees
// (positive is clockwise on screen), sampling bilinearly. The result is the
// bounding box of the turned picture; what the picture does not cover has
// the colour `bkColor`, and the picture's edges blend into it over one
// pixel. Angle 0 gives (w + 1) x (h + 1): the picture, then one column and
// one row of background. Refuses (returns false, changes nothing) a bitmap
// that is not pf24bit and an angle that is not finite.
bool Rotation(TBitmap& bmp, float angle, TColor bkColor);

// The two forms behind each routine (see imaging/simd.h): the plain loops
// that define the result, and the fast path that gives the same bytes.
bool Rotate90Plain(TBitmap& bmp, bool plus);
bool Rotate90Fast(TBitmap& bmp, bool plus);
bool RotationPlain(TBitmap& bmp, float angle, TColor bkColor);
bool RotationFast(TBitmap& bmp, float angle, TColor bkColor);
