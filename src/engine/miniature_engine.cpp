#include "engine/miniature_engine.h"

#include <new>
#include <stdexcept>
#include <utility>

#include "codecs/picture_io.h"
#include "imaging/blur.h"
#include "imaging/rotation.h"
#include "imaging/size_limits.h"
#include "imaging/tone.h"

bool MiniatureEngine::ReadFile(const std::string& path, std::string& error,
                               std::vector<std::string>* warnings) {
  TBitmap picture;
  TPictureMetadata metadata;
  if (!ReadPicture(path, picture, &metadata, error, warnings)) return false;
  LoadPicture(picture, std::move(metadata));
  return true;
}

void MiniatureEngine::LoadPicture(const TBitmap& picture, TPictureMetadata metadata) {
  // Copies share the pixels, so nothing here can run out of memory.
  original_ = picture;
  resized_ = original_;
  modified_ = resized_;
  target_ = modified_;
  metadata_ = std::move(metadata);
  modified_flag_ = false;
  effect_.Applied = false;
}

void MiniatureEngine::Retone(const TBitmap& resized, TBitmap& modified, TBitmap& target) const {
  modified = resized;
  // Saturation, contrast, brightness, each only when not 0 (the fast form
  // does the three in one pass).
  AdjustTone(modified, effect_.Saturation, effect_.Contrast, effect_.Brightness);
  target = modified;
}

void MiniatureEngine::ApplyEffect() {
  if (!PictureLoaded()) return;
  TBitmap modified, target;
  Retone(resized_, modified, target);
  modified_ = std::move(modified);
  target_ = std::move(target);
}

namespace {

// A value outside what a setting takes is refused before anything changes.
void CheckSetting(const TSetting& setting, int value) {
  if (!setting.Accepts(value))
    throw std::out_of_range(std::string(setting.name) + " " + std::to_string(value) + " is outside " +
                            std::to_string(setting.acceptedMinimum) + ".." +
                            std::to_string(setting.acceptedMaximum));
}

}  // namespace

void MiniatureEngine::ApplyTone(int saturation, int contrast, int brightness) {
  if (!PictureLoaded()) return;
  CheckSetting(kSaturationSetting, saturation);
  CheckSetting(kContrastSetting, contrast);
  CheckSetting(kBrightnessSetting, brightness);
  const RECEFFECT before = effect_;
  effect_ = {true, saturation, contrast, brightness};
  try {
    ApplyEffect();
  } catch (...) {
    effect_ = before;
    throw;
  }
  modified_flag_ = true;
}

void MiniatureEngine::ApplyMiniature(TPoint point, const FocusSettings& focus, int blur) {
  if (!PictureLoaded()) return;
  CheckSetting(kAngleSetting, focus.angle);
  CheckSetting(kDepthSetting, focus.depthSetting);
  CheckSetting(kBlurSetting, blur);
  // The mask comes first: if it cannot be built, no picture is touched.
  TBitmap mask{0, 0, pf8bit};
  const MaskGeometry g = ::CreateMaskBMP(mask, modified_.Width(), modified_.Height(), point, focus);
  // The target becomes ModifiedBMP with its blur blended in through the
  // mask (a refused zone leaves it the sharp picture). The plain form makes
  // the blurred copy and blends it; the fast form blends each blurred row
  // straight into the target, with the same bytes.
  TBitmap target;
  BlurredOverlay(target, modified_, mask, blur);
  mask_ = std::move(mask);
  target_ = std::move(target);
  maskDepth_ = g.depth;
  modified_flag_ = true;
}

void MiniatureEngine::Rotate90(bool plus) {
  if (!PictureLoaded()) return;
  TBitmap turned[4] = {original_, resized_, modified_, target_};
  for (TBitmap& picture : turned) ::Rotate90(picture, plus);
  original_ = std::move(turned[0]);
  resized_ = std::move(turned[1]);
  modified_ = std::move(turned[2]);
  target_ = std::move(turned[3]);
}

void MiniatureEngine::Resize(int width, int height, TResizeMode mode) {
  if (!PictureLoaded()) return;
  if (width < 1 || height < 1) throw std::runtime_error("The new width and height must be at least 1 pixel.");
  // Nothing larger than a picture file can hold: it could not be saved.
  if (!PictureSizeAllowed(width, height)) {
    throw std::runtime_error("A picture of " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels is too large: at most " + std::to_string(kMaxPictureSide) +
                             " pixels a side and " + std::to_string(kMaxPicturePixels) + " pixels in all.");
  }
  // Every resize starts again from the picture as loaded and turned.
  TBitmap resized = original_, modified, target;
  try {
    BmpResize(resized, width, height, mode);
    if (effect_.Applied) {
      Retone(resized, modified, target);
    } else {
      modified = resized;
      target = modified;
    }
  } catch (const std::bad_alloc&) {
    throw std::runtime_error("Not enough memory for a picture of " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels.");
  }
  resized_ = std::move(resized);
  modified_ = std::move(modified);
  target_ = std::move(target);
}

bool MiniatureEngine::WriteFile(const std::string& path, const TSaveOptions& options, std::string& error,
                                std::vector<std::string>* warnings) {
  if (!PictureLoaded()) return true;
  // Without the camera data the colour profile still goes: the colours
  // depend on it.
  TPictureMetadata colourOnly;
  if (!options.keepMetadata) colourOnly.icc = metadata_.icc;
  const TPictureMetadata& metadata = options.keepMetadata ? metadata_ : colourOnly;
  if (!WritePicture(path, target_, TWriteOptions{options.quality, &metadata}, error, warnings)) return false;
  modified_flag_ = false;
  return true;
}
