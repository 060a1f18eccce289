// Control values the miniature effect works from, and their defaults.
#pragma once

#include <cmath>
#include <climits>

#include "imaging/pixel_access.h"

// Slider defaults (and what a click on a slider's caption puts back).
inline constexpr int DefaultSaturation = 40;  // slider 0 .. 100
inline constexpr int DefaultContrast = 10;    // slider 0 .. 50
inline constexpr int DefaultBrightness = -5;  // slider -50 .. 50
inline constexpr int DefaultAngle = 0;        // slider -90 .. 90
inline constexpr int DefaultDepth = 50;       // slider 1 .. 200
inline constexpr int DefaultBlur = 7;         // slider 0 .. 20

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint&) const = default;
};

// How fast the blur fades in beside the focus band (the Config menu).
enum class BlurSlope { Narrow, Medium, Wide };

// Ramp length per pixel of the picture's diagonal, held as a double.
inline double SlopeFactor(BlurSlope slope) {
  switch (slope) {
    case BlurSlope::Narrow: return 0.08;
    case BlurSlope::Medium: return 0.15;
    case BlurSlope::Wide: return 0.22;
  }
  return 0.15;
}

// Where the focus band lies and how wide it is: the window's control values.
struct FocusSettings {
  int viewWidth = 0;   // size of the view the focus point is given in
  int viewHeight = 0;
  int angle = DefaultAngle;  // degrees, positive tilts the band clockwise
  int depthSetting = DefaultDepth;
  BlurSlope slope = BlurSlope::Medium;
};

// Degrees to radians, as one extended constant.
inline constexpr Extended kDegToRad = kPi / 180;

// An angle of whole degrees in radians: the degrees as a 32-bit float, times
// pi/180 in extended precision, the product rounded to a 32-bit float.
inline double DegreesToRadiansF(int degrees) {
  return static_cast<float>(Extended(static_cast<float>(degrees)) * kDegToRad);
}

// Integer conversions that saturate instead of overflowing, so that focus
// points far outside the view cannot make a conversion undefined. Inside
// the int range they are Round (ties to even) and Trunc.
inline int SaturatingInt(Extended v) {
  if (!(v == v)) return 0;
  if (v >= Extended(INT_MAX)) return INT_MAX;
  if (v <= Extended(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}
inline int RoundInt(Extended v) { return SaturatingInt(RoundHalfEven(v)); }
inline int TruncInt(Extended v) { return SaturatingInt(std::trunc(v)); }
