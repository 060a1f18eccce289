// The stored picture is w x h. For each orientation, upright pixel (x, y)
// comes from stored pixel:
//   2 (w - 1 - x, y)          mirrored left to right
//   3 (w - 1 - x, h - 1 - y)  half a turn
//   4 (x, h - 1 - y)          mirrored top to bottom
//   5 (y, x)                  transposed
//   6 (y, h - 1 - x)          stored a quarter turn counter-clockwise: turn clockwise
//   7 (w - 1 - y, h - 1 - x)  transversed
//   8 (w - 1 - y, x)          stored a quarter turn clockwise: turn counter-clockwise
#include "codecs/orientation.h"

#include "imaging/mirror.h"
#include "imaging/rotation.h"

void ApplyOrientation(TBitmap& picture, int orientation) {
  if (picture.PixelFormat() != pf24bit) return;
  switch (orientation) {
    case 2:
      MirrorLeftRight(picture);
      break;
    case 3:
      MirrorLeftRight(picture);
      MirrorTopBottom(picture);
      break;
    case 4:
      MirrorTopBottom(picture);
      break;
    case 5:
      Rotate90(picture, true);
      MirrorLeftRight(picture);
      break;
    case 6:
      Rotate90(picture, true);
      break;
    case 7:
      Rotate90(picture, false);
      MirrorLeftRight(picture);
      break;
    case 8:
      Rotate90(picture, false);
      break;
    default:
      break;
  }
}
