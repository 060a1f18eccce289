// Parsing of the command line's compound values ("640x480", "10,20",
// "ff8000", "medium", "lanczos").
#pragma once

#include <optional>
#include <string>

#include "engine/settings.h"
#include "imaging/bitmap.h"
#include "imaging/resample.h"

struct SizeArg {
  int width = 0;
  int height = 0;
};

// Bounds for sizes and positions given on the command line: far beyond any
// real picture or view, small enough that no arithmetic overflows.
inline constexpr int kMaxArgSide = 65535;
inline constexpr int kMaxArgCoordinate = 1000000;

// "WxH" with 1 <= W, H <= kMaxArgSide.
std::optional<SizeArg> ParseSize(const std::string& text);
// "X,Y" with |X|, |Y| <= kMaxArgCoordinate.
std::optional<TPoint> ParsePoint(const std::string& text);
// "RRGGBB" (hex, optional leading '#') to a colour value.
std::optional<TColor> ParseHexColor(const std::string& text);
std::optional<BlurSlope> ParseSlope(const std::string& text);
std::optional<TResizeMode> ParseResizeMode(const std::string& text);
