// Guide-line geometry. Angles pass through 32-bit floats on their way to
// radians, which decides the truncations: at angle 0 the side lines lie
// depth - 1, not depth, from the focus point.
#include "engine/guide_lines.h"

#include <algorithm>
#include <cmath>

namespace {

// a + b and a - b, saturated to the int range: a focus point far outside
// the view must not make the end points wrap around. (Exact otherwise: the
// extended type holds every sum of two ints.)
int Add(int a, int b) {
  return SaturatingInt(Extended(a) + Extended(b));
}
int Sub(int a, int b) {
  return SaturatingInt(Extended(a) - Extended(b));
}

// Lines with angle up to 45 degrees run from the left edge to the right
// edge; steeper ones from the top edge to the bottom edge.
GuideSegment LineThrough(int x0, int y0, int angle, Extended t, int w, int h) {
  if (angle <= 45) {
    return {0, Sub(y0, TruncInt(t * Extended(x0))), w, Add(TruncInt(t * (Extended(w) - x0)), y0)};
  }
  return {Sub(x0, TruncInt(Extended(y0) / t)), 0, Add(TruncInt((Extended(h) - y0) / t), x0), h};
}

}  // namespace

GuideLines PutLine(TPoint point, int viewWidth, int viewHeight, int angle, int depthSetting) {
  GuideLines lines;
  lines.depth = RoundInt(Extended(depthSetting) / 600 * Extended(std::min(viewWidth, viewHeight)));
  if (angle == -90) angle = 90;  // vertical either way
  const double a = DegreesToRadiansF(angle);
  const double b = DegreesToRadiansF(angle + 90);
  const int dx = TruncInt(ExtCos(Extended(b)) * Extended(lines.depth));
  const int dy = TruncInt(ExtSin(Extended(b)) * Extended(lines.depth));
  lines.sideB = {Sub(point.X, dx), Sub(point.Y, dy)};
  lines.sideC = {Add(point.X, dx), Add(point.Y, dy)};
  const Extended t = ExtTan(Extended(a));
  lines.red = LineThrough(point.X, point.Y, angle, t, viewWidth, viewHeight);
  lines.yellowB = LineThrough(lines.sideB.X, lines.sideB.Y, angle, t, viewWidth, viewHeight);
  lines.yellowC = LineThrough(lines.sideC.X, lines.sideC.Y, angle, t, viewWidth, viewHeight);
  return lines;
}

int DepthSettingFor(double halfWidth, int viewWidth, int viewHeight) {
  const int side = std::min(viewWidth, viewHeight);
  if (side <= 0) return DefaultDepth;
  const long setting = std::lround(halfWidth * 600 / side);
  return int(std::clamp<long>(setting, kDepthSetting.minimum, kDepthSetting.maximum));
}
