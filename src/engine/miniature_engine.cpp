#include "engine/miniature_engine.h"

#include "imaging/blur.h"
#include "imaging/tone.h"

void MiniatureEngine::LoadPicture(const TBitmap& picture) {
  OriginalBMP = picture;
  ResizedBMP = OriginalBMP;
  ModifiedBMP = ResizedBMP;
  TargetBMP = ModifiedBMP;
  Modified = false;
  Effect.Applied = false;
}

void MiniatureEngine::ApplyEffect() {
  if (!PictureLoaded()) return;
  ModifiedBMP = ResizedBMP;
  // Saturation, contrast, brightness, each only when not 0 (the fast form
  // does the three in one pass).
  AdjustTone(ModifiedBMP, Effect.Saturation, Effect.Contrast, Effect.Brightness);
  TargetBMP = ModifiedBMP;
}

void MiniatureEngine::ApplyTone(int saturation, int contrast, int brightness) {
  if (!PictureLoaded()) return;
  Effect.Applied = true;
  Effect.Saturation = saturation;
  Effect.Contrast = contrast;
  Effect.Brightness = brightness;
  ApplyEffect();
  Modified = true;
}

void MiniatureEngine::CreateMaskBMP(const FocusSettings& focus) {
  const MaskGeometry g = ::CreateMaskBMP(MaskBMP, ModifiedBMP.Width(), ModifiedBMP.Height(), Point, focus);
  depth = g.depth;
}

void MiniatureEngine::Compose(const FocusSettings& focus, int blur) {
  // The mask comes first: if it cannot be built, no picture is touched.
  CreateMaskBMP(focus);
  // TargetBMP becomes ModifiedBMP with its blur blended in through the
  // mask (a refused zone leaves it the sharp picture). The plain form makes
  // the blurred copy and blends it; the fast form blends each blurred row
  // straight into TargetBMP, with the same bytes.
  BlurredOverlay(TargetBMP, ModifiedBMP, MaskBMP, blur);
}

void MiniatureEngine::ApplyMiniature(const FocusSettings& focus, int blur) {
  if (!PictureLoaded()) return;
  Compose(focus, blur);
  Modified = true;
}
