// The settings of one frame of the miniature effect, and the one function
// that applies them: what `tessarin-cli miniature` does to a still, so that
// every frame of a video (or of a folder of stills driven by a recipe) is
// byte for byte the still command's result for that frame.
#pragma once

#include <optional>
#include <utility>

#include "engine/settings.h"
#include "imaging/bitmap.h"

class TFocusMaskCache;

struct FrameSettings {
  bool tone = true;  // false: skip the tone step (--no-tone)
  int saturation = DefaultSaturation;
  int contrast = DefaultContrast;
  int brightness = DefaultBrightness;
  int angle = DefaultAngle;
  int depth = DefaultDepth;
  int blur = DefaultBlur;
  BlurSlope slope = BlurSlope::Medium;
  std::optional<TPoint> point;  // in view pixels; default: the view's centre
  int viewWidth = 0;            // the view the point is given in; 0 x 0: the picture's size
  int viewHeight = 0;
};

// The whole-number settings of a frame, each with its entry of the
// settings table (name, range, default): the command line's options and
// the recipe's keys are built from these and checked against them.
struct IntSetting {
  const TSetting* setting;  // option "--name", recipe key "name"
  int FrameSettings::*field;
  const char* help;
};
inline constexpr IntSetting kIntSettings[] = {
    {&kSaturationSetting, &FrameSettings::saturation, "Saturation"},
    {&kContrastSetting, &FrameSettings::contrast, "Contrast"},
    {&kBrightnessSetting, &FrameSettings::brightness, "Brightness"},
    {&kAngleSetting, &FrameSettings::angle, "Tilt of the focus band in degrees, clockwise"},
    {&kDepthSetting, &FrameSettings::depth, "Width of the focus band"},
    {&kBlurSetting, &FrameSettings::blur, "Blur beyond the focus band, in pixels (0 = none)"},
};

// The focus settings and the focus point for a picture of width x height:
// the view defaults to the picture's size and the point to the view's
// centre (whole pixels, halves dropped).
std::pair<FocusSettings, TPoint> ResolveFocus(const FrameSettings& settings, int width, int height);

// The miniature of one picture (pf24bit): the tone step unless switched
// off, then the focus-band blur. Throws what the engine throws (MaskError
// for a picture too small for its band). With `masks`, a run of frames of
// one size and focus builds its focus mask once (the same bytes).
TBitmap MiniatureFrame(const TBitmap& picture, const FrameSettings& settings,
                       TFocusMaskCache* masks = nullptr);

// The same result for a run of frames that need only the result: `target`
// becomes MiniatureFrame(picture, settings), its pixels written over when
// it has the size and pixels of its own; `picture` is toned in place.
void MiniatureFrameInto(TBitmap& picture, const FrameSettings& settings, TFocusMaskCache& masks,
                        TBitmap& target);
