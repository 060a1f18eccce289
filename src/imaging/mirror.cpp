// Mirroring: pixels of a row or whole rows swapped end for end, in place.
// Takes pf24bit only. A picture of one column (left to right) or one row
// (top to bottom), and an empty one, comes back as it was.
#include "imaging/mirror.h"

#include <algorithm>

bool MirrorLeftRight(TBitmap& picture) {
  if (picture.PixelFormat() != pf24bit) return false;
  for (int y = 0; y < picture.Height(); ++y) {
    auto* row = reinterpret_cast<TRGBTriple*>(picture.ScanLine(y));
    std::reverse(row, row + picture.Width());
  }
  return true;
}

bool MirrorTopBottom(TBitmap& picture) {
  if (picture.PixelFormat() != pf24bit) return false;
  for (int top = 0, bottom = picture.Height() - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(picture.ScanLine(top), picture.ScanLine(top) + picture.RowBytes(),
                     picture.ScanLine(bottom));
  return true;
}
