// Parsing of the command line's compound values ("640x480", "10,20",
// "ff8000", "lanczos").
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "engine/look.h"
#include "imaging/bitmap.h"
#include "imaging/resample.h"

struct SizeArg {
  int width = 0;
  int height = 0;
};

// Bounds for sizes and positions given on the command line: those of a
// look's view and point.
inline constexpr int kMaxArgSide = kMaxViewSide;
inline constexpr int kMaxArgCoordinate = kMaxLookCoordinate;

// A command line that parses but makes no sense (a bad "WxH", two
// outputs, a recipe that cannot be used): exit 2, before any file is read.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// "WxH" with 1 <= W, H <= kMaxArgSide.
std::optional<SizeArg> ParseSize(const std::string& text);
// "X,Y" with |X|, |Y| <= kMaxArgCoordinate.
std::optional<TPoint> ParsePoint(const std::string& text);
// "RRGGBB" (hex, optional leading '#') to a colour value.
std::optional<TColor> ParseHexColor(const std::string& text);
std::optional<TResizeMode> ParseResizeMode(const std::string& text);

// The value of a parse, or a UsageError "OPTION: 'TEXT' is not EXPECTED".
template <typename T>
T Require(const std::optional<T>& value, const std::string& option, const std::string& text,
          const std::string& expected) {
  if (!value) throw UsageError(option + ": '" + text + "' is not " + expected);
  return *value;
}
// ParseSize and ParsePoint through Require, with what they take.
SizeArg SizeOption(const std::string& option, const std::string& text);
TPoint PointOption(const std::string& option, const std::string& text);
