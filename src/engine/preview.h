// The live preview of the miniature: what the two "Apply" buttons would
// make of the current settings, computed on a reduced copy of the picture
// at the size it is shown, so that a frame costs the same whatever the
// photo's size. The tone and the band are the exact routines at the
// reduced size; the blur is a Gaussian of the same spread scaled to that
// size (approximated by box passes when it is wide), so the preview looks
// like the result without being it byte for byte. The exact result is
// ApplyLook on a copy of the engine.
#pragma once

#include "engine/miniature_engine.h"
#include "engine/settings.h"
#include "imaging/bitmap.h"

// Everything the two "Apply" buttons take from the controls.
struct TLook {
  int saturation = DefaultSaturation;
  int contrast = DefaultContrast;
  int brightness = DefaultBrightness;
  TPoint point;         // the focus point, in view pixels
  FocusSettings focus;  // the view's size, angle, depth, slope
  int blur = DefaultBlur;
  bool operator==(const TLook&) const = default;
};

// Whether the engine's ModifiedBMP already carries the look's tone
// settings (no tone settings applied is the same as all three at 0).
bool ToneApplied(const MiniatureEngine& engine, const TLook& look);

// What the tone "Apply" (when the tone settings differ from the applied
// ones) and then the miniature "Apply" make of the look: the same
// operations, so the same bytes and history steps.
void ApplyLook(MiniatureEngine& engine, const TLook& look);

// `src` (24-bit) reduced to width x height, each pixel the rounded mean of
// the block of source pixels it covers. Not larger than `src`.
TBitmap ShrinkPicture(const TBitmap& src, int width, int height);

// A Gaussian blur of standard deviation `sigma` pixels (any value; below
// 0.2 nothing changes), edges extended. Exact taps up to a spread of 3
// pixels, three box passes of the same variance beyond. `scratch`, when
// given, holds the intermediate picture from one call to the next.
void PreviewBlur(TBitmap& bmp, double sigma, TBitmap* scratch = nullptr);

// Makes `dst` a copy of `src` with pixels of its own, writing into the
// ones it has when they fit (no new memory from frame to frame).
void CopyPixels(TBitmap& dst, const TBitmap& src);

class MiniaturePreview {
 public:
  // Takes a reduced copy of `picture` (the engine's ResizedBMP) of at most
  // width x height, keeping its aspect ratio as the view does.
  void SetPicture(const TBitmap& picture, int width, int height);
  void Clear() { *this = MiniaturePreview(); }
  bool HasPicture() const { return source_.Width() > 0; }
  // Width of the reduced copy per pixel of the picture.
  double Scale() const { return scale_; }

  // The preview of `look`. Stages whose inputs did not change since the
  // last frame are kept: dragging the band redoes only the mask and the
  // blend, a tone slider the whole frame. Throws what the mask throws
  // (MaskError), keeping the last frame.
  const TBitmap& Render(const TLook& look);

 private:
  TBitmap source_, toned_, blurred_, scratch_, result_;
  TFocusMaskCache masks_;
  double scale_ = 1;
  bool valid_ = false;  // the stages hold `last_`
  TLook last_;
};
