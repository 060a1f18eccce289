// Small picture builders and pixel helpers for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "imaging/bitmap.h"

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

inline Rgb PixelAt(const TBitmap& bmp, int x, int y) {
  const std::uint8_t* p = bmp.ScanLine(y) + 3 * x;
  return {p[2], p[1], p[0]};
}

inline void SetPixel(TBitmap& bmp, int x, int y, Rgb c) {
  std::uint8_t* p = bmp.ScanLine(y) + 3 * x;
  p[0] = std::uint8_t(c.b), p[1] = std::uint8_t(c.g), p[2] = std::uint8_t(c.r);
}

inline TBitmap MakePicture(int w, int h, const std::function<Rgb(int, int)>& fn) {
  TBitmap bmp(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SetPixel(bmp, x, y, fn(x, y));
  return bmp;
}

inline TBitmap SolidPicture(int w, int h, Rgb c) {
  return MakePicture(w, h, [c](int, int) { return c; });
}

// A one-row picture whose three channels all hold the given values.
inline TBitmap GreyRow(std::initializer_list<int> values) {
  TBitmap bmp(int(values.size()), 1, pf24bit);
  int x = 0;
  for (int v : values) SetPixel(bmp, x++, 0, {v, v, v});
  return bmp;
}

inline TBitmap RandomPicture(int w, int h, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  TBitmap bmp(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = bmp.ScanLine(y);
    for (std::size_t i = 0; i < bmp.RowBytes(); ++i) row[i] = std::uint8_t(byte(rng));
  }
  return bmp;
}

// Noise over a gradient: a blur or a band shows plainly in it.
inline TBitmap NoisyGradient(int w, int h) {
  TBitmap noise = RandomPicture(w, h, 11);
  return MakePicture(w, h, [&](int x, int y) {
    const Rgb n = PixelAt(noise, x, y);
    return Rgb{n.r / 2 + x * 127 / w, n.g / 2 + y * 127 / h, n.b / 2 + 40};
  });
}

inline TBitmap GreyMask(int w, int h, const std::function<int(int, int)>& fn) {
  TBitmap bmp(w, h, pf8bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bmp.ScanLine(y)[x] = std::uint8_t(fn(x, y));
  return bmp;
}

// The red channel of row y, left to right.
inline std::vector<int> RedRow(const TBitmap& bmp, int y = 0) {
  std::vector<int> out;
  for (int x = 0; x < bmp.Width(); ++x) out.push_back(PixelAt(bmp, x, y).r);
  return out;
}
