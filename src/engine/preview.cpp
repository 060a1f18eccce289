#include "engine/preview.h"

#include <cmath>
#include <vector>

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
  fullWidth_ = source_.Width(), fullHeight_ = source_.Height();
  left_ = top_ = 0;
  windowed_ = false;
  valid_ = false;
}

void MiniaturePreview::SetWindow(const TBitmap& picture, const TRect& window, double scale) {
  const TRect part{std::max(0, window.Left), std::max(0, window.Top), std::min(picture.Width(), window.Right),
                   std::min(picture.Height(), window.Bottom)};
  if (part.Width() <= 0 || part.Height() <= 0) {
    *this = MiniaturePreview();
    return;
  }
  TBitmap cut = TBitmap::ForOverwrite(part.Width(), part.Height(), picture.PixelFormat());
  cut.Draw(-part.Left, -part.Top, picture);
  scale_ = std::min(scale, 1.0);
  const int w = std::max(1, int(std::lround(part.Width() * scale_)));
  const int h = std::max(1, int(std::lround(part.Height() * scale_)));
  source_ = scale_ < 1 ? ShrinkPicture(cut, w, h) : std::move(cut);
  fullWidth_ = std::max(1, int(std::lround(picture.Width() * scale_)));
  fullHeight_ = std::max(1, int(std::lround(picture.Height() * scale_)));
  left_ = int(std::lround(part.Left * scale_));
  top_ = int(std::lround(part.Top * scale_));
  windowed_ = true;
  valid_ = false;
}

namespace {

// The band's mask on the part of a picture of width x height with its top
// left at (left, top): each pixel takes the value of the band's row it lies
// on, measured across the turned band from the same geometry as the mask.
void BandWindow(TBitmap& mask, int width, int height, int left, int top, TPoint point,
                const FocusSettings& focus) {
  const MaskGeometry g = ComputeMaskGeometry(width, height, point, focus);
  const double a = focus.angle * M_PI / 180, sn = std::sin(a), cs = std::cos(a);
  std::vector<std::uint8_t> values(std::size_t(g.diagonal) + 2);
  for (int y = 0; y < int(values.size()); ++y) values[std::size_t(y)] = std::uint8_t(MaskRowValue(g, y));
  for (int y = 0; y < mask.Height(); ++y) {
    std::uint8_t* row = mask.ScanLine(y);
    const double dy = top + y + 0.5 - height / 2.0;
    for (int x = 0; x < mask.Width(); ++x) {
      const double dx = left + x + 0.5 - width / 2.0;
      const long r = std::lround(g.center - dx * sn + dy * cs);
      row[x] = r < 0 || r >= long(values.size()) ? 255 : values[std::size_t(r)];
    }
  }
}

}  // namespace

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
    LensRadius radius(fullWidth_, fullHeight_, look, maps.depth);
    radius.SetWindow(left_, top_, w);
    TLensBlurInput input;
    input.radius = [&radius](int y, float* out) { radius.Row(y, out); };
    input.maxRadius = radius.Full();
    input.protect =
        maps.protect ? lensMaps_.For(*maps.protect, {}, fullWidth_, fullHeight_).protect : nullptr;
    if (input.protect != nullptr && windowed_) {
      if (!protect_.Fits(w, h, pf8bit)) protect_ = TBitmap(w, h, pf8bit);
      protect_.Draw(-left_, -top_, *input.protect);
      input.protect = &protect_;
    }
    input.bokeh = look.bokeh;
    LensBlurFast(toned_, input, result_, kLensLevelRadius, &lensRows_);
    last_ = look;
    valid_ = true;
    return result_;
  }
  MaskGeometry geometry;
  const TBitmap* mask = nullptr;
  if (windowed_) {
    if (!windowMask_.Fits(w, h, pf8bit)) windowMask_ = TBitmap(w, h, pf8bit);
    BandWindow(windowMask_, fullWidth_, fullHeight_, left_, top_, look.PointFor(fullWidth_, fullHeight_),
               look.FocusFor(fullWidth_, fullHeight_));
    mask = &windowMask_;
  } else {
    mask = &masks_.Mask(w, h, look.PointFor(w, h), look.FocusFor(w, h), geometry);
  }
  result_.CopyPixelsOf(toned_);
  if (look.blur > 0) MaskedOverlay(result_, blurred_, *mask, 0, 0);
  last_ = look;
  valid_ = true;
  return result_;
}
