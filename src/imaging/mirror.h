// Mirroring a picture in place.
#pragma once

#include "imaging/bitmap.h"

// Reverses the order of the pixels in every row (pf24bit only; other
// formats are refused: false, picture untouched).
bool MirrorLeftRight(TBitmap& picture);

// Reverses the order of the rows (pf24bit only; other formats are refused:
// false, picture untouched).
bool MirrorTopBottom(TBitmap& picture);
