// The one set of size limits for pictures: what the program reads, what it
// writes and what it keeps as a working picture (the chain from the loaded
// picture to the shown one). Every reader refuses a larger declared size
// before it allocates anything, every writer refuses a larger picture (so
// nothing is ever written that cannot be read back), and tessarin-cli
// refuses larger sizes on its command line before it reads anything.
//
// 65535 is the largest side GIF can store; 2^28 pixels (768 MiB at three
// bytes a pixel) keeps a whole picture, its decoding and one working copy
// well inside a desktop's memory. JPEG itself stops at 65500 per side, and
// its writer says so.
//
// The bitmap class has a looser bound of its own (TBitmap::kMaxSide,
// kMaxPixels) for the intermediate masks of the miniature effect, which are
// larger than the picture they are made for.
#pragma once

#include <cstdint>

inline constexpr std::int64_t kMaxPictureSide = 65535;
inline constexpr std::int64_t kMaxPicturePixels = std::int64_t(1) << 28;

// True when a picture of width x height (both at least 1) is within the
// limits.
inline constexpr bool PictureSizeAllowed(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}
