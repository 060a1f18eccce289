// Control values the miniature effect works from, and their defaults.
#pragma once

#include <climits>
#include <cmath>

#include "imaging/blur.h"
#include "imaging/pixel_access.h"
#include "imaging/tone.h"

// One setting of the miniature effect: everything the sliders, the
// command line and the checks know of it, written once. The slider runs
// over minimum..maximum in whole steps; the command line takes the wider
// range the routines accept.
struct TSetting {
  const char* name;  // the command line's option, without "--"
  int minimum, maximum;
  int defaultValue;  // where the slider starts, and what a click on its caption puts back
  int lineStep, pageStep, tickInterval;
  int acceptedMinimum, acceptedMaximum;

  bool Accepts(int value) const { return value >= acceptedMinimum && value <= acceptedMaximum; }
};

// The six settings, in the order of the panel.
inline constexpr TSetting kSaturationSetting{"saturation", 0, 100, 40, 5, 20, 5, -100, 100};
inline constexpr TSetting kContrastSetting{"contrast", 0, 50, 10, 5, 10, 5, -kContrastLimit, kContrastLimit};
inline constexpr TSetting kBrightnessSetting{"brightness", -50, 50, -5, 5, 20, 5, -100, 100};
inline constexpr TSetting kAngleSetting{"angle", -90, 90, 0, 5, 20, 5, -90, 90};
inline constexpr TSetting kDepthSetting{"depth", 1, 200, 50, 5, 20, 5, 1, 200};
inline constexpr TSetting kBlurSetting{"blur", 0, 20, 7, 5, 2, 1, 0, kMaxBlurZone};  // 0: no blur
// The lens look's strength of bright discs (0: a plain disc average).
inline constexpr TSetting kBokehSetting{"bokeh", 0, 100, 40, 5, 20, 10, 0, 100};

// A setting of real numbers: its range and default.
struct TRealSetting {
  double minimum, maximum, defaultValue;
  bool Accepts(double value) const { return value >= minimum && value <= maximum; }
};
// Width of the lens look's elliptic focus area over its height.
inline constexpr TRealSetting kAspectSetting{0.2, 5, 1.5};

// The slider defaults under their own names.
inline constexpr int DefaultSaturation = kSaturationSetting.defaultValue;
inline constexpr int DefaultContrast = kContrastSetting.defaultValue;
inline constexpr int DefaultBrightness = kBrightnessSetting.defaultValue;
inline constexpr int DefaultAngle = kAngleSetting.defaultValue;
inline constexpr int DefaultDepth = kDepthSetting.defaultValue;
inline constexpr int DefaultBlur = kBlurSetting.defaultValue;

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
    case BlurSlope::Narrow:
      return 0.08;
    case BlurSlope::Medium:
      return 0.15;
    case BlurSlope::Wide:
      return 0.22;
  }
  return 0.15;
}

// Where the focus band lies and how wide it is: the window's control values.
struct FocusSettings {
  int viewWidth = 0;  // size of the view the focus point is given in
  int viewHeight = 0;
  int angle = DefaultAngle;  // degrees, positive tilts the band clockwise
  int depthSetting = DefaultDepth;
  BlurSlope slope = BlurSlope::Medium;
  bool operator==(const FocusSettings&) const = default;
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
inline int RoundInt(Extended v) {
  return SaturatingInt(RoundHalfEven(v));
}
inline int TruncInt(Extended v) {
  return SaturatingInt(ExtTrunc(v));
}
