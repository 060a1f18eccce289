// The live preview of the miniature: what the two "Apply" buttons would
// make of the current settings, computed on a reduced copy of the picture
// at the size it is shown, so that a frame costs the same whatever the
// photo's size. The tone and the band are the exact routines at the
// reduced size; the blur is a Gaussian of the same spread scaled to that
// size (approximated by box passes when it is wide), so the preview looks
// like the result without being it byte for byte (QuickGaussianBlur). The
// lens look is the lens blur's fast form on the reduced copy, with a
// smaller level radius. The exact result is MiniatureEngine::ApplyLook on a
// copy of the engine.
#pragma once

#include "engine/look.h"
#include "engine/miniature_engine.h"
#include "imaging/bitmap.h"
#include "imaging/lens_blur.h"

class MiniaturePreview {
 public:
  // Takes a reduced copy of `picture` (the engine's ResizedBMP) of at most
  // width x height, keeping its aspect ratio as the view does.
  void SetPicture(const TBitmap& picture, int width, int height);
  // Takes the part `window` (picture pixels) of `picture`, reduced by
  // `scale` (at most 1): the zoomed view's visible part. Frames are then of
  // that part of the picture at that scale; the band is placed as on the
  // whole picture (its mask drawn from the same geometry row by row,
  // without the turn's resampling).
  void SetWindow(const TBitmap& picture, const TRect& window, double scale);
  void Clear() { *this = MiniaturePreview(); }
  bool HasPicture() const { return source_.Width() > 0; }
  // Width of the reduced copy per pixel of the picture.
  double Scale() const { return scale_; }

  // The preview of `look`. Stages whose inputs did not change since the
  // last frame are kept: dragging the band redoes only the mask and the
  // blend, a tone slider the whole frame. Throws what the mask throws
  // (MaskError), keeping the last frame.
  // The lens look takes the engine's protect mask and depth map.
  const TBitmap& Render(const Look& look, const LensMaps& maps = {});

  // The lens look's level radius in the preview.
  static constexpr float kLensLevelRadius = 6;

 private:
  TBitmap source_, toned_, blurred_, scratch_, result_;
  TFocusMaskCache masks_;
  TLensMapCache lensMaps_;
  TLensRows lensRows_;  // the toned copy's, from frame to frame
  TBitmap protect_{0, 0, pf8bit};
  TBitmap windowMask_{0, 0, pf8bit};  // the window's part of the fitted protect mask
  double scale_ = 1;
  // The whole picture at the frame's scale, and where the frame lies in it.
  int fullWidth_ = 0, fullHeight_ = 0;
  int left_ = 0, top_ = 0;
  bool windowed_ = false;
  bool valid_ = false;  // the stages hold `last_`
  Look last_;
};
