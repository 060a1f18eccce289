// Fuzz target: the guide lines for any focus point and view size (the
// whole int range), every angle and depth setting. The lines must span the
// view: those up to 45 degrees (negative ones included) from its left to
// its right edge, steeper ones from its top to its bottom edge; the red line must pass the focus point's row
// or column where that lies inside the int range.
#include <cstdlib>

#include "engine/guide_lines.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const bool wide = in.Int(0, 1) == 1;
  const int viewW = wide ? int(in.Int(0, 1 << 30)) : int(in.Int(0, 4000));
  const int viewH = wide ? int(in.Int(0, 1 << 30)) : int(in.Int(0, 4000));
  TPoint point;
  point.X = wide ? int(std::int32_t(in.U32())) : int(in.Int(-1000000, 1000000));
  point.Y = wide ? int(std::int32_t(in.U32())) : int(in.Int(-1000000, 1000000));
  const int angle = int(in.Int(-90, 90));
  const int depth = int(in.Int(1, 200));
  const GuideLines g = PutLine(point, viewW, viewH, angle, depth);
  if (g.depth < 0 || g.depth > viewW || g.depth > viewH) std::abort();
  for (const GuideSegment& s : {g.red, g.yellowB, g.yellowC}) {
    const bool level = angle <= 45 && angle != -90;  // -90 is drawn as 90
    if (level ? (s.x1 != 0 || s.x2 != viewW) : (s.y1 != 0 || s.y2 != viewH)) std::abort();
  }
  if (angle == 0 && (g.red.y1 != point.Y || g.red.y2 != point.Y)) std::abort();
  return 0;
}
