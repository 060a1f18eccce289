// The miniature effect's working state: the chain of working pictures, the
// tone settings last applied, the focus point and the unsaved-changes flag.
//
// Content flows one way: OriginalBMP (as loaded) -> ResizedBMP (after
// quarter turns and resampling) -> ModifiedBMP (with the tone settings)
// -> TargetBMP (plain toned, or the miniature composition). Each stage is
// rebuilt from the one before, so settings never accumulate. The engine
// takes control values as plain inputs; showing pictures is the caller's job.
#pragma once

#include "engine/focus_mask.h"
#include "engine/settings.h"
#include "imaging/bitmap.h"

// The tone settings last applied.
struct RECEFFECT {
  bool Applied = false;
  int Saturation = 0;
  int Contrast = 0;
  int Brightness = 0;
};

class MiniatureEngine {
 public:
  TBitmap OriginalBMP{0, 0, pf24bit};
  TBitmap ResizedBMP{0, 0, pf24bit};
  TBitmap ModifiedBMP{0, 0, pf24bit};
  TBitmap TargetBMP{0, 0, pf24bit};
  TBitmap MaskBMP{0, 0, pf8bit};
  RECEFFECT Effect;
  TPoint Point;    // focus point, in view pixels
  int depth = 0;   // last band half-width computed (view or picture pixels)
  bool Modified = false;

  // A picture is loaded when OriginalBMP has a width.
  bool PictureLoaded() const { return OriginalBMP.Width() > 0; }

  // A newly read picture (24-bit) refills the whole chain; nothing is
  // applied and there is nothing to save.
  void LoadPicture(const TBitmap& picture);

  // Rebuilds ModifiedBMP and TargetBMP from ResizedBMP with the recorded
  // tone settings: saturation, contrast, brightness, each only when not 0.
  void ApplyEffect();

  // The tone "Apply": records the settings, rebuilds, marks the picture
  // modified. Does nothing without a picture.
  void ApplyTone(int saturation, int contrast, int brightness);

  // The miniature "Apply": builds the mask for the focus settings, blurs a
  // copy of ModifiedBMP by `blur` and blends it over a sharp copy through
  // the mask into TargetBMP, then marks the picture modified. Does nothing
  // without a picture. Throws MaskError for a view of zero size, with
  // TargetBMP, MaskBMP and Modified unchanged.
  void ApplyMiniature(const FocusSettings& focus, int blur);

  // The composition alone (no check for a picture, Modified untouched).
  void Compose(const FocusSettings& focus, int blur);

  // Builds MaskBMP for ModifiedBMP's size and leaves `depth` in picture pixels.
  void CreateMaskBMP(const FocusSettings& focus);
};
