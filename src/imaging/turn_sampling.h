// The steps by which Rotation samples a turned picture, shared with code
// that needs pixels of a turned picture without making it (the focus-band
// mask samples a turned square directly).
//
// Plain steps (rotation.cpp): every geometric value is formed in extended
// precision from float operands and stored as a float.
//
// Fast steps (inline below), the same values in double arithmetic. Every
// sum here adds two products of floats, or of a float and a byte, and such
// products are exact in double. Extended precision rounds the exact sum x
// to 64 bits and then to a float (or to an integer). Let S be x rounded to
// double. If S is not a point where the second rounding has to choose
// (exactly halfway between two floats; a half-integer for the integer
// rounding), then x, S and x rounded to 64 bits all lie on the same side of
// every such point - each of those points is a double, so rounding to
// double or to 64 bits cannot carry a value across one - and so they round
// alike. When S lands on such a point (rare), the fast step reports it and
// the caller falls back to the plain step.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "imaging/bitmap.h"

// What Rotation works out before it samples, for a w x h picture turned
// clockwise by `angle` degrees.
struct TurnGeometry {
  int w = 0, h = 0;      // the picture, without its one-pixel frame
  float sn = 0, cs = 1;  // sine and cosine of the angle (the inverse turn)
  float xmin = 0, ymin = 0;
  int ww = 0, hh = 0;  // size of the turned picture
};
TurnGeometry TurnGeometryOf(int w, int h, float angle);

// Where result pixel (ix, iy) samples the picture: the 2 x 2 window from
// source pixel (x0, y0) (pixels -1 and w or h lie on the frame) and the
// float weights.
struct TurnSample {
  int x0 = 0, y0 = 0;
  float coefx00 = 0, coefx01 = 0, coefy00 = 0, coefy01 = 0;
};

// The plain steps. TurnSourcePoint gives the source position (sx, sy) of
// result pixel (ix, iy); TurnSampleAt returns false when the result pixel
// keeps the background.
void TurnSourcePoint(const TurnGeometry& g, int ix, int iy, float& sx, float& sy);
bool TurnSampleAt(const TurnGeometry& g, int ix, int iy, TurnSample& s);
std::uint8_t TurnBlend(std::uint8_t p00, std::uint8_t p10, std::uint8_t p01, std::uint8_t p11,
                       const TurnSample& s);

namespace turn_sampling {

// a + b (exact doubles) rounded as extended then float rounding would.
// False when the double sum is exactly halfway between two floats or below
// the floats' normal range (there the two roundings might differ).
inline bool SumToFloat(double a, double b, float& out) {
  const double s = a + b;
  std::uint64_t bits;
  std::memcpy(&bits, &s, sizeof bits);
  const int exponent = int((bits >> 52) & 0x7ff);
  if (exponent < 1023 - 126 && s != 0) return false;
  if ((bits & 0x1fffffffu) == 0x10000000u) return false;
  out = static_cast<float>(s);
  return true;
}

// AdjustByte of a + b as extended rounding would give it. False when the
// double sum is exactly a half-integer.
inline bool SumToByte(double a, double b, std::uint8_t& out) {
  const double s = a + b;
  if (!(s >= 0)) {
    out = 0;
    return true;
  }
  if (s > 255.0) {
    out = 255;
    return true;
  }
  const double f = double(std::int32_t(s));  // the floor, since s >= 0
  const double frac = s - f;
  if (frac == 0.5) return false;
  out = static_cast<std::uint8_t>(frac > 0.5 ? f + 1 : f);
  return true;
}

inline bool InPicture(int px, int py, int w, int h) {
  return px >= 0 && px < w && py >= 0 && py < h;
}

// floor and ceil of a float well inside the int range, without a library
// call (the baseline instruction set has no rounding instruction).
inline int FloorInt(float v) {
  const int t = int(v);  // toward zero
  return float(t) > v ? t - 1 : t;
}
inline int CeilInt(float v) {
  const int t = int(v);
  return float(t) < v ? t + 1 : t;
}

// The source position of result pixel (ix, iy), from rx and ry (the float
// result position) as doubles: sx = rx * cs + ry * sn, sy = -rx * sn +
// ry * cs. False when the fast rounding cannot decide.
inline bool SourcePoint(const TurnGeometry& g, float rx, float ry, float& sx, float& sy) {
  return SumToFloat(double(rx) * double(g.cs), double(ry) * double(g.sn), sx) &&
         SumToFloat(-double(rx) * double(g.sn), double(ry) * double(g.cs), sy);
}

// The rest of TurnSampleAt from the source point. Returns 0 when the pixel
// keeps the background, 1 when `s` is filled.
inline int SampleFromPoint(const TurnGeometry& g, float sx, float sy, TurnSample& s) {
  // Source points lie within a few times the picture's size of it, far
  // inside the int range.
  const int x0 = FloorInt(sx), y0 = FloorInt(sy);
  if (!InPicture(x0, y0, g.w, g.h) && !InPicture(CeilInt(sx), CeilInt(sy), g.w, g.h)) return 0;
  s.x0 = x0;
  s.y0 = y0;
  // Single float operations on float operands: rounding the exact result
  // once to float is what extended-then-float rounding gives.
  s.coefx01 = sx - float(x0);
  s.coefx00 = 1.0f - s.coefx01;
  s.coefy01 = sy - float(y0);
  s.coefy00 = 1.0f - s.coefy01;
  return 1;
}

// TurnBlend in double. False when the fast rounding cannot decide.
inline bool Blend(std::uint8_t p00, std::uint8_t p10, std::uint8_t p01, std::uint8_t p11, const TurnSample& s,
                  std::uint8_t& out) {
  float first, second;
  if (!SumToFloat(double(p00) * double(s.coefx00), double(p10) * double(s.coefx01), first)) return false;
  if (!SumToFloat(double(p01) * double(s.coefx00), double(p11) * double(s.coefx01), second)) return false;
  return SumToByte(double(first) * double(s.coefy00), double(second) * double(s.coefy01), out);
}

}  // namespace turn_sampling
