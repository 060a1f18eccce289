// Pixel access and the small helpers every toolkit routine shares.
//
// TBmpData24 / TBmpData8 take every row's address once when they are made
// and then give the address of pixel (x, y) with one lookup and one
// addition. The caller guarantees the format (pf24bit, respectively
// pf8bit), keeps 0 <= x < Width and 0 <= y < Height, and does not resize,
// reassign or copy the bitmap while the accessor lives (a copy would share
// the pixels the accessor writes). Debug builds (no NDEBUG)
// assert the bounds on every call, since all rows share one buffer and a
// sanitizer alone would not see a pixel read from the wrong row.
#pragma once

#include <cassert>
#include <cfloat>
#include <cstdint>
#include <vector>

#include "imaging/bitmap.h"
#include "imaging/extended.h"

// Pi rounded to the extended type.
inline constexpr Extended kPi = Extended(3.141592653589793238462643383279502884L);

// The row table the two accessors share: every row's start address, taken
// once, and the size of the bitmap when the accessor was made. Taking the
// rows gives the bitmap pixels of its own (ScanLine), so routines that hand
// rows to several threads take them all here, on one thread.
class TBmpRows {
 public:
  explicit TBmpRows(TBitmap& bmp);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  std::uint8_t* Row(int y) const {
    assert(y >= 0 && y < FHeight && "TBmpRows: row outside the picture");
    return sl[std::size_t(y)];
  }
  // Every row's address, top first.
  std::uint8_t* const* Rows() const { return sl.data(); }

 protected:
  std::vector<std::uint8_t*> sl;
  int FWidth;
  int FHeight;
};

class TBmpData24 : public TBmpRows {
 public:
  explicit TBmpData24(TBitmap& bmp) : TBmpRows(bmp) {}
  TRGBTriple* GetData(int x, int y) const {
    assert(x >= 0 && x < FWidth && y >= 0 && y < FHeight && "TBmpData24: pixel outside the picture");
    return reinterpret_cast<TRGBTriple*>(sl[std::size_t(y)] + 3 * std::size_t(x));
  }
  TRGBTriple* Data(int x, int y) const { return GetData(x, y); }
};

class TBmpData8 : public TBmpRows {
 public:
  explicit TBmpData8(TBitmap& bmp) : TBmpRows(bmp) {}
  std::uint8_t* GetData(int x, int y) const {
    assert(x >= 0 && x < FWidth && y >= 0 && y < FHeight && "TBmpData8: pixel outside the picture");
    return sl[std::size_t(y)] + x;
  }
  std::uint8_t* Data(int x, int y) const { return GetData(x, y); }
};

// Read-only accessors of the same design, for bitmaps that a routine only
// reads: they yield const addresses and take the rows through the const
// ScanLine, so a bitmap whose pixels are shared with copies stays shared.
class TBmpConstRows {
 public:
  explicit TBmpConstRows(const TBitmap& bmp);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  const std::uint8_t* Row(int y) const {
    assert(y >= 0 && y < FHeight && "TBmpConstRows: row outside the picture");
    return sl[std::size_t(y)];
  }

 protected:
  std::vector<const std::uint8_t*> sl;
  int FWidth;
  int FHeight;
};

class TBmpConstData24 : public TBmpConstRows {
 public:
  explicit TBmpConstData24(const TBitmap& bmp) : TBmpConstRows(bmp) {}
  const TRGBTriple* GetData(int x, int y) const {
    assert(x >= 0 && x < FWidth && y >= 0 && y < FHeight && "TBmpConstData24: pixel outside the picture");
    return reinterpret_cast<const TRGBTriple*>(sl[std::size_t(y)] + 3 * std::size_t(x));
  }
};

class TBmpConstData8 : public TBmpConstRows {
 public:
  explicit TBmpConstData8(const TBitmap& bmp) : TBmpConstRows(bmp) {}
  const std::uint8_t* GetData(int x, int y) const {
    assert(x >= 0 && x < FWidth && y >= 0 && y < FHeight && "TBmpConstData8: pixel outside the picture");
    return sl[std::size_t(y)] + x;
  }
};

// A new bitmap that is an independent copy of `bmp`.
TBitmap BmpClone(const TBitmap& bmp);

// Clamp to 0..255.
std::uint8_t AdjustByte(int value);
// Clamp to 0..255 and round to the nearest integer, ties to even.
// Anything not >= 0 (a NaN too) gives 0.
std::uint8_t AdjustByte(Extended value);

// Round to the nearest integer, ties to even (the default rounding mode,
// which the program never changes). Adding and taking away 2^63 leaves no
// fraction bits in the 64-bit significand, so the hardware rounds the
// value to an integer exactly as nearbyintl would, without a library call.
inline Extended RoundHalfEven(Extended value) {
  constexpr Extended kTwo63 = 9223372036854775808.0L;
  if (value >= 0) return value < kTwo63 ? (value + kTwo63) - kTwo63 : value;
  if (value < 0) return value > -kTwo63 ? -((-value + kTwo63) - kTwo63) : value;
  return value;  // NaN
}

// Give an 8-bit bitmap the grey colour table: entry i is (i, i, i).
void SetGrayPalette(TBitmap& bmp8);

struct TPointF {
  float X;
  float Y;
};

inline TPointF PointF(float x, float y) {
  return TPointF{x, y};
}
