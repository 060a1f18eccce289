#include "engine/preview.h"

#include "engine/focus_mask.h"
#include "engine/lens.h"
#include "imaging/lens_blur.h"
#include "imaging/overlay.h"
#include "imaging/quick_blur.h"
#include "imaging/shrink.h"
#include "imaging/tone.h"

void MiniaturePreview::SetPicture(const TBitmap& picture, int width, int height) {
  source_ = ShrinkPicture(picture, width, height);
  scale_ = picture.Width() > 0 ? double(source_.Width()) / picture.Width() : 1;
  valid_ = false;
}

const TBitmap& MiniaturePreview::Render(const Look& look, const LensMaps& maps) {
  const bool tone = !valid_ || look.tone != last_.tone || look.saturation != last_.saturation ||
                    look.contrast != last_.contrast || look.brightness != last_.brightness;
  const bool blur =
      look.type == LookType::Classic && (tone || look.blur != last_.blur || last_.type != LookType::Classic);
  valid_ = false;
  // Each stage writes into the pixels it had at the last frame; the mask
  // is made again only when the band moves.
  if (tone) {
    toned_.CopyPixelsOf(source_);
    if (look.tone) AdjustTone(toned_, look.saturation, look.contrast, look.brightness);
    lensRows_.Forget();
  }
  if (blur) {
    blurred_.CopyPixelsOf(toned_);
    QuickGaussianBlur(blurred_, look.blur * scale_, &scratch_);
  }
  const int w = source_.Width(), h = source_.Height();
  if (look.type == LookType::Lens) {
    const LensRadius radius(w, h, look, maps.depth);
    TLensBlurInput input;
    input.radius = [&radius](int y, float* out) { radius.Row(y, out); };
    input.maxRadius = radius.Full();
    input.protect = maps.protect ? lensMaps_.For(*maps.protect, {}, w, h).protect : nullptr;
    input.bokeh = look.bokeh;
    LensBlurFast(toned_, input, result_, kLensLevelRadius, &lensRows_);
    last_ = look;
    valid_ = true;
    return result_;
  }
  MaskGeometry geometry;
  const TBitmap& mask = masks_.Mask(w, h, look.PointFor(w, h), look.FocusFor(w, h), geometry);
  result_.CopyPixelsOf(toned_);
  if (look.blur > 0) MaskedOverlay(result_, blurred_, mask, 0, 0);
  last_ = look;
  valid_ = true;
  return result_;
}
