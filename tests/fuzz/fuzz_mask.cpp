// Fuzz target: the focus-band mask for any small picture, any view size
// (zero included), any focus point (the whole int range), every angle,
// depth and slope; then the whole miniature composition on a small
// picture. The mask must come out 8-bit at the picture's size; a view of
// zero size must be refused with MaskError and change nothing.
#include <cstdlib>

#include "engine/focus_mask.h"
#include "engine/miniature_engine.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int w = int(in.Int(1, 64)), h = int(in.Int(1, 64));
  FocusSettings focus;
  focus.viewWidth = int(in.Int(0, 3000));
  focus.viewHeight = int(in.Int(0, 3000));
  focus.angle = int(in.Int(-90, 90));
  focus.depthSetting = int(in.Int(1, 200));
  focus.slope = BlurSlope(in.Int(0, 2));
  const bool wide = in.Int(0, 1) == 1;
  TPoint point;
  point.X = wide ? int(std::int32_t(in.U32())) : int(in.Int(-100, 3100));
  point.Y = wide ? int(std::int32_t(in.U32())) : int(in.Int(-100, 3100));
  const int blur = int(in.Int(0, 20));
  const bool compose = in.Int(0, 3) == 0;
  const bool emptyView = focus.viewWidth == 0 || focus.viewHeight == 0;

  TBitmap mask;
  try {
    CreateMaskBMP(mask, w, h, point, focus);
    if (emptyView || mask.PixelFormat() != pf8bit || mask.Width() != w || mask.Height() != h) std::abort();
  } catch (const MaskError&) {
    if (!emptyView || mask.Width() != 0) std::abort();
  }
  if (!compose) return 0;
  MiniatureEngine engine;
  engine.LoadPicture(in.Picture(w, h, pf24bit));
  try {
    engine.ApplyMiniature(point, focus, blur);
    if (emptyView || !engine.Modified() || engine.TargetBMP().Width() != w) std::abort();
  } catch (const MaskError&) {
    if (!emptyView || engine.Modified() || !(engine.TargetBMP() == engine.ModifiedBMP())) std::abort();
  }
  return 0;
}
