// Random pictures of awkward sizes and telling content for the tests that
// compare fast and plain forms: noise, checkers, lone bright spikes, ramps,
// flat colour, smooth gradients with a little noise, and two-level stripes
// whose blends land on exact halves.
#pragma once

#include <cstdint>
#include <random>

#include "imaging/bitmap.h"

// Widths around vector and block boundaries.
inline constexpr int kAwkwardWidths[] = {1,  2,  3,  5,  7,  8,  9,   15,  16,  17,
                                         31, 32, 33, 63, 64, 65, 127, 129, 255, 257};

inline int RandomSide(std::mt19937& rng, int largest) {
  if (rng() % 3 == 0) {
    const int w = kAwkwardWidths[rng() % (sizeof kAwkwardWidths / sizeof kAwkwardWidths[0])];
    if (w <= largest) return w;
  }
  // Mostly small, now and then up to `largest`.
  return rng() % 4 == 0 ? 1 + int(rng() % std::uint32_t(largest))
                        : 1 + int(rng() % std::uint32_t(largest / 4 + 1));
}

inline TBitmap RandomKindPicture(int w, int h, std::mt19937& rng) {
  TBitmap bmp(w, h, pf24bit);
  const int kind = int(rng() % 7);
  const int cell = 1 + int(rng() % 9);
  const std::uint8_t a = std::uint8_t(rng()), b = std::uint8_t(rng());
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) {
        std::uint8_t v = 0;
        switch (kind) {
          case 0:
            v = std::uint8_t(rng());
            break;  // noise
          case 1:
            v = ((x / cell + y / cell) % 2) ? a : b;
            break;  // checkers
          case 2:
            v = (rng() % 97 == 0) ? 255 : 0;
            break;  // spikes
          case 3:
            v = std::uint8_t((x * (c + 1) * 255) / (w > 1 ? w - 1 : 1));
            break;  // ramps
          case 4:
            v = c == 0 ? a : b;
            break;  // flat
          case 5:
            v = std::uint8_t((x * 3 + y * 2 + c * 40) / 4 + rng() % 8);
            break;  // smooth
          default:
            v = ((x + y) % 2) ? 253 : 0;
            break;  // halves
        }
        row[3 * x + c] = v;
      }
    }
  }
  return bmp;
}

// An 8-bit mask with long runs of 0 and of 255 and ramps between.
inline TBitmap RandomMask(int w, int h, std::mt19937& rng) {
  TBitmap mask(w, h, pf8bit);
  const int kind = int(rng() % 4);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = mask.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      switch (kind) {
        case 0:
          row[x] = std::uint8_t(rng());
          break;
        case 1:
          // Masked-in rows above and below rows of 0, as a miniature's band.
          row[x] = y < h / 4 ? 255 : y < h / 2 ? 0 : y < 3 * h / 4 ? std::uint8_t(rng()) : 0;
          break;
        case 2:
          row[x] = (x / 40 + y / 7) % 3 == 0 ? 0 : std::uint8_t((x * 7 + y) & 255);
          break;
        default:
          row[x] = 0;
          break;
      }
    }
  }
  return mask;
}
