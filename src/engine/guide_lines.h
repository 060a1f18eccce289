// Geometry of the three guide lines that mark the focus band over the view:
// a red middle line through the focus point and two yellow lines at the
// band's half-width on either side. All in view pixels.
#pragma once

#include "engine/settings.h"

struct GuideSegment {
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool operator==(const GuideSegment&) const = default;
};

struct GuideLines {
  int depth = 0;  // the band's half-width in view pixels
  TPoint sideB;   // (XB, YB): where yellowB passes, opposite the band's normal
  TPoint sideC;   // (XC, YC): where yellowC passes, on the normal's side
  GuideSegment red;
  GuideSegment yellowB;  // the side opposite the band's normal (above at angle 0)
  GuideSegment yellowC;  // the side of the normal (below at angle 0)
};

// The lines for a view of viewWidth x viewHeight, focus point `point`,
// angle -90..90 and depth setting 1..200. End points may lie far outside
// the view; drawing clips them.
GuideLines PutLine(TPoint point, int viewWidth, int viewHeight, int angle, int depthSetting);

// The depth setting (1..200) whose band, drawn in a view of viewWidth x
// viewHeight, has the half-width nearest to `halfWidth` view pixels: what
// dragging a side line to that distance from the middle line sets.
int DepthSettingFor(double halfWidth, int viewWidth, int viewHeight);
