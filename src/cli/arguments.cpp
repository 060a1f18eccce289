#include "cli/arguments.h"

#include <charconv>
#include <cstdlib>

namespace {

// A whole decimal number that uses up all of `text`.
std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  if (text.empty()) return std::nullopt;
  const char* first = text.data();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::pair<int, int>> ParsePair(const std::string& text, char separator) {
  const auto at = text.find(separator);
  if (at == std::string::npos) return std::nullopt;
  const auto a = ParseInt(std::string_view(text).substr(0, at));
  const auto b = ParseInt(std::string_view(text).substr(at + 1));
  if (!a || !b) return std::nullopt;
  return std::pair{*a, *b};
}

}  // namespace

std::optional<SizeArg> ParseSize(const std::string& text) {
  auto pair = ParsePair(text, 'x');
  if (!pair) pair = ParsePair(text, 'X');
  if (!pair) return std::nullopt;
  const auto [w, h] = *pair;
  if (w < 1 || h < 1 || w > kMaxArgSide || h > kMaxArgSide) return std::nullopt;
  return SizeArg{w, h};
}

std::optional<TPoint> ParsePoint(const std::string& text) {
  const auto pair = ParsePair(text, ',');
  if (!pair) return std::nullopt;
  const auto [x, y] = *pair;
  // In 64 bits: the magnitude of INT_MIN does not fit an int.
  const auto outside = [](int v) { return std::llabs(static_cast<long long>(v)) > kMaxArgCoordinate; };
  if (outside(x) || outside(y)) return std::nullopt;
  return TPoint{x, y};
}

std::optional<TColor> ParseHexColor(const std::string& text) {
  std::string_view hex(text);
  if (!hex.empty() && hex.front() == '#') hex.remove_prefix(1);
  if (hex.size() != 6) return std::nullopt;
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
  if (ec != std::errc() || end != hex.data() + hex.size()) return std::nullopt;
  return RGBColor(std::uint8_t(value >> 16), std::uint8_t(value >> 8), std::uint8_t(value));
}

SizeArg SizeOption(const std::string& option, const std::string& text) {
  return Require(ParseSize(text), option, text, "a size WxH with sides 1.." + std::to_string(kMaxArgSide));
}

TPoint PointOption(const std::string& option, const std::string& text) {
  return Require(ParsePoint(text), option, text, "a point X,Y within +-" + std::to_string(kMaxArgCoordinate));
}

std::optional<TResizeMode> ParseResizeMode(const std::string& text) {
  static const struct {
    const char* name;
    TResizeMode mode;
  } kModes[] = {
      {"nearest", rmNearest}, {"bilinear", rmBilinear}, {"bicubic", rmBicubic},
      {"bspline", rmBSpline}, {"hermite", rmHermite},   {"mitchell", rmMitchell},
      {"bell", rmBell},       {"lanczos", rmLanczos},   {"lagrange", rmLagrange},
  };
  for (const auto& m : kModes)
    if (text == m.name) return m.mode;
  return std::nullopt;
}
