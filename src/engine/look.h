// The look: every setting of the miniature effect in one value, and the
// table that describes each setting once. The window's sliders and menus,
// the live preview, the command line's options, the recipes' keys and
// their keyframes all read and write a Look through this table, and the
// render function (engine/render.h) makes a picture from it.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "engine/settings.h"

struct TViewSize {
  int width = 0;
  int height = 0;
  bool operator==(const TViewSize&) const = default;
};

// Which effect makes the miniature: the classic cross-fade of one blurred
// copy, or the lens, whose blur grows with the distance from the focus.
enum class LookType { Classic, Lens };
// The lens look's sharp area: the band, or an ellipse around the point.
enum class LensShape { Band, Ellipse };

struct Look {
  bool tone = true;  // false: the picture's tones stay as they are
  int saturation = DefaultSaturation;
  int contrast = DefaultContrast;
  int brightness = DefaultBrightness;
  int angle = DefaultAngle;  // degrees, positive tilts the band clockwise
  int depth = DefaultDepth;
  int blur = DefaultBlur;
  BlurSlope slope = BlurSlope::Medium;
  std::optional<TPoint> point;  // in pixels of the view; none: the view's centre
  TViewSize view;               // the view the point is given in; 0 x 0: the picture's size
  LookType type = LookType::Classic;
  LensShape shape = LensShape::Band;
  double aspect = kAspectSetting.defaultValue;
  int bokeh = kBokehSetting.defaultValue;
  bool operator==(const Look&) const = default;

  // The view for a picture of width x height, the focus point in it (whole
  // pixels, halves dropped, when none is given) and the settings the mask
  // is built from.
  TViewSize ViewFor(int width, int height) const;
  TPoint PointFor(int width, int height) const;
  FocusSettings FocusFor(int width, int height) const;
};

// ---- The settings table ----

enum class SettingKind {
  Whole,   // a whole number in a range (a slider)
  Real,    // a number in a range
  Choice,  // one of a few names (a group of check items)
  Flag,    // on or off; the command line's option turns it off
  Point,   // X,Y in view pixels
  Size,    // WxH
};

// Where a setting belongs: which command-line subcommands take it, and
// the panel's boxes.
enum class SettingGroup { Tone, Band, Blur, View, Lens };

struct LookSetting {
  const char* name;  // the recipe's key, and the command line's option "--name"
  SettingKind kind;
  SettingGroup group;
  const char* help;              // what the option and the key mean, for --help
  const char* option = nullptr;  // the command line's option when it is not "--name" (Flag: "--no-name")
  // Whole: its range, default and slider steps, and where it lives.
  const TSetting* range = nullptr;
  int Look::*whole = nullptr;
  // Real: its range and default, and where it lives.
  const TRealSetting* realRange = nullptr;
  double Look::*real = nullptr;
  // Choice: the names, in the order of the values, and where it lives.
  std::span<const char* const> choices = {};
  int (*getChoice)(const Look&) = nullptr;
  void (*setChoice)(Look&, int) = nullptr;
  // Flag, Point, Size: where it lives.
  bool Look::*flag = nullptr;
  std::optional<TPoint> Look::*point = nullptr;
  TViewSize Look::*size = nullptr;

  // "--saturation", "--no-tone", ...
  std::string Option() const;
  // "narrow, medium, wide": the choices for a message.
  std::string ChoiceList() const;
  // The index of `text` among the choices, or -1.
  int ChoiceOf(const std::string& text) const;
};

// "0.2..5": a real setting's range for a message.
std::string RealRange(const TRealSetting& range);

// Every setting, in the order of the panel and of --help.
std::span<const LookSetting> LookSettings();
// The entry named `name`, or null.
const LookSetting* FindLookSetting(const std::string& name);

// Bounds of points and view sizes, from the command line or a recipe: far
// beyond any real picture or view, small enough that nothing overflows.
inline constexpr int kMaxLookCoordinate = 1000000;
inline constexpr int kMaxViewSide = 65535;
