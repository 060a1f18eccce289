// Gaussian blur of a 24-bit picture, in place.
#pragma once

#include <vector>

#include "imaging/bitmap.h"

// Blurs with a Gaussian of standard deviation `zone` pixels, cut off at
// 3 * zone, as a row pass then a column pass. Refuses (returns false,
// changes nothing) a bitmap that is not pf24bit or a zone outside 1..30.
bool GaussianBlur(TBitmap& bmp, int zone);

// The weight table: entry i is exp(-i^2 / (2 zone^2)) rounded to a 32-bit
// float, for i = 0 .. 3 * zone.
std::vector<float> GaussianWeights(int zone);
