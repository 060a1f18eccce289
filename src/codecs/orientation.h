// Turning a picture upright from its EXIF orientation.
#pragma once

#include "imaging/bitmap.h"

// Orientation 1 to 8 as EXIF numbers them: where the stored picture's first
// row and first column lie in the scene. Mirrors and turns `picture` so that
// it stands as the camera held it; 1 and values outside 1..8 leave it alone.
void ApplyOrientation(TBitmap& picture, int orientation);
