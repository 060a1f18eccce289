#include "engine/miniature_engine.h"

#include <new>
#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "codecs/picture_io.h"
#include "imaging/blur.h"
#include "imaging/rotation.h"
#include "imaging/size_limits.h"
#include "imaging/tone.h"

namespace {

// A value outside what a setting takes is refused before anything changes.
void CheckSetting(const TSetting& setting, int value) {
  if (!setting.Accepts(value))
    throw std::out_of_range(std::string(setting.name) + " " + std::to_string(value) + " is outside " +
                            std::to_string(setting.acceptedMinimum) + ".." +
                            std::to_string(setting.acceptedMaximum));
}

// The checks of the tone "Apply" and of the miniature "Apply".
void CheckTone(int saturation, int contrast, int brightness) {
  CheckSetting(kSaturationSetting, saturation);
  CheckSetting(kContrastSetting, contrast);
  CheckSetting(kBrightnessSetting, brightness);
}

void CheckFocus(const FocusSettings& focus, int blur) {
  CheckSetting(kAngleSetting, focus.angle);
  CheckSetting(kDepthSetting, focus.depthSetting);
  CheckSetting(kBlurSetting, blur);
}

void CheckLens(const Look& look) {
  CheckSetting(kBokehSetting, look.bokeh);
  if (!kAspectSetting.Accepts(look.aspect))
    throw std::out_of_range("aspect " + std::to_string(look.aspect) + " is outside " +
                            RealRange(kAspectSetting));
}

}  // namespace

bool MiniatureEngine::ReadFile(const std::string& path, std::string& error,
                               std::vector<std::string>* warnings) {
  TBitmap picture;
  TPictureMetadata metadata;
  if (!ReadPicture(path, picture, &metadata, error, warnings)) return false;
  TBitmap depth;
  const bool hasDepth = ReadDepthImage(path, depth);
  LoadPicture(picture, std::move(metadata));
  if (hasDepth) SetDepthMap(depth, true);
  return true;
}

void MiniatureEngine::LoadPicture(const TBitmap& picture, TPictureMetadata metadata) {
  // Copies share the pixels, so nothing here can run out of memory. The
  // recorded tone settings stay; they are no longer applied.
  TChain next;
  next.original = picture;
  next.resized = picture;
  next.modified = picture;
  next.target = picture;
  next.mask = chain_.mask;
  next.effect = chain_.effect;
  next.effect.Applied = false;
  next.maskDepth = chain_.maskDepth;
  chain_ = std::move(next);
  metadata_ = std::move(metadata);
  undo_.clear();
  redo_.clear();
}

LensMaps MiniatureEngine::Maps() const {
  LensMaps maps;
  const TBitmap& m = chain_.modified;
  if (chain_.protect.Width() == m.Width() && chain_.protect.Height() == m.Height() && m.Width() > 0)
    maps.protect = &chain_.protect;
  if (chain_.depth.Width() > 0) maps.depth = &chain_.depth;
  return maps;
}

void MiniatureEngine::SetProtection(const TBitmap& mask) {
  const int w = chain_.modified.Width(), h = chain_.modified.Height();
  chain_.protect =
      mask.Width() > 0 && mask.Height() > 0 && w > 0 ? GreyMap(mask, w, h) : TBitmap(0, 0, pf8bit);
}

void MiniatureEngine::SetDepthMap(const TBitmap& map, bool fromPhoto) {
  const bool any = map.Width() > 0 && map.Height() > 0;
  chain_.depth = any ? GreyMap(map) : TBitmap(0, 0, pf8bit);
  chain_.depthFromPhoto = any && fromPhoto;
}

void MiniatureEngine::Retone(TChain& chain) {
  chain.modified = chain.resized;
  // Saturation, contrast, brightness, each only when not 0 (the fast form
  // does the three in one pass).
  AdjustTone(chain.modified, chain.effect.Saturation, chain.effect.Contrast, chain.effect.Brightness);
  chain.target = chain.modified;
}

void MiniatureEngine::Commit(TChain&& next) {
  undo_.push_back(std::move(chain_));  // the one step that may throw: then nothing has changed
  chain_ = std::move(next);
  redo_.clear();
  TrimHistory();
}

void MiniatureEngine::ApplyEffect() {
  if (!PictureLoaded()) return;
  TChain next = chain_;
  Retone(next);
  chain_ = std::move(next);
}

void MiniatureEngine::ApplyTone(int saturation, int contrast, int brightness) {
  if (!PictureLoaded()) return;
  CheckTone(saturation, contrast, brightness);
  TChain next = chain_;
  next.effect = {true, saturation, contrast, brightness};
  Retone(next);
  next.modifiedFlag = true;
  Commit(std::move(next));
}

const TBitmap& TFocusMaskCache::Mask(int width, int height, TPoint point, const FocusSettings& focus,
                                     MaskGeometry& geometry) {
  const bool same = built_ && width == width_ && height == height_ && point == point_ && focus == focus_;
  if (!same) {
    // Written over the last mask where it fits; until it is complete the
    // cache holds nothing.
    built_ = false;
    geometry_ = ::CreateMaskBMP(mask_, width, height, point, focus);
    built_ = true;
    width_ = width;
    height_ = height;
    point_ = point;
    focus_ = focus;
  }
  geometry = geometry_;
  return mask_;
}

MaskGeometry MiniatureEngine::Miniature(const TBitmap& toned, TPoint point, const FocusSettings& focus,
                                        int blur, TFocusMaskCache* masks, TBitmap& mask, TBitmap& target) {
  // The mask comes first: if it cannot be built, no picture is touched.
  MaskGeometry g;
  if (masks)
    mask = masks->Mask(toned.Width(), toned.Height(), point, focus, g);
  else
    g = ::CreateMaskBMP(mask, toned.Width(), toned.Height(), point, focus);
  // The target becomes the toned picture with its blur blended in through
  // the mask (a refused zone leaves it the sharp picture). The plain form
  // makes the blurred copy and blends it; the fast form blends each blurred
  // row straight into the target, with the same bytes.
  BlurredOverlay(target, toned, mask, blur);
  return g;
}

void MiniatureEngine::ApplyMiniature(TPoint point, const FocusSettings& focus, int blur,
                                     TFocusMaskCache* masks) {
  if (!PictureLoaded()) return;
  CheckFocus(focus, blur);
  TChain next = chain_;
  TBitmap mask{0, 0, pf8bit}, target;
  const MaskGeometry g = Miniature(next.modified, point, focus, blur, masks, mask, target);
  next.mask = std::move(mask);
  next.target = std::move(target);
  next.maskDepth = g.depth;
  next.modifiedFlag = true;
  Commit(std::move(next));
}

bool MiniatureEngine::ToneApplied(const Look& look) const {
  const RECEFFECT& e = chain_.effect;
  if (!look.tone) return true;
  if (!e.Applied) return look.saturation == 0 && look.contrast == 0 && look.brightness == 0;
  return e.Saturation == look.saturation && e.Contrast == look.contrast && e.Brightness == look.brightness;
}

void MiniatureEngine::ApplyMiniature(const Look& look) {
  const int w = chain_.modified.Width(), h = chain_.modified.Height();
  if (look.type == LookType::Classic)
    return ApplyMiniature(look.PointFor(w, h), look.FocusFor(w, h), look.blur);
  if (!PictureLoaded()) return;
  CheckFocus(look.FocusFor(w, h), look.blur);
  CheckLens(look);
  TChain next = chain_;
  TBitmap target;
  LensMiniature(next.modified, look, Maps(), target);
  next.target = std::move(target);
  next.maskDepth = ComputeMaskGeometry(w, h, look.PointFor(w, h), look.FocusFor(w, h)).depth;
  next.modifiedFlag = true;
  Commit(std::move(next));
}

void MiniatureEngine::ApplyLook(const Look& look) {
  // Every check first, so that a look that cannot be made leaves no tone step behind.
  const int w = chain_.modified.Width(), h = chain_.modified.Height();
  if (look.tone) CheckTone(look.saturation, look.contrast, look.brightness);
  CheckFocus(look.FocusFor(w, h), look.blur);
  if (look.type == LookType::Lens) CheckLens(look);
  if (PictureLoaded()) ComputeMaskGeometry(w, h, look.PointFor(w, h), look.FocusFor(w, h));
  if (!ToneApplied(look)) ApplyTone(look.saturation, look.contrast, look.brightness);
  ApplyMiniature(look);
}

void MiniatureEngine::RenderLook(TBitmap& picture, const Look& look, TFocusMaskCache& masks, TBitmap& target,
                                 const LensMaps& maps) {
  // The checks and steps of ApplyTone and ApplyMiniature, in their order.
  if (look.tone) CheckTone(look.saturation, look.contrast, look.brightness);
  const int w = picture.Width(), h = picture.Height();
  const TPoint point = look.PointFor(w, h);
  const FocusSettings focus = look.FocusFor(w, h);
  CheckFocus(focus, look.blur);
  if (look.type == LookType::Lens) {
    CheckLens(look);
    ComputeMaskGeometry(w, h, point, focus);  // the view first: if it is empty, nothing is toned
    if (look.tone) AdjustTone(picture, look.saturation, look.contrast, look.brightness);
    LensMiniature(picture, look, maps, target);
    return;
  }
  MaskGeometry g;
  masks.Mask(w, h, point, focus, g);  // the mask first: if it cannot be built, nothing is toned
  if (look.tone) AdjustTone(picture, look.saturation, look.contrast, look.brightness);
  TBitmap mask;
  Miniature(picture, point, focus, look.blur, &masks, mask, target);
}

void MiniatureEngine::Rotate90(bool plus) {
  if (!PictureLoaded()) return;
  TChain next = chain_;
  // Pictures that share their pixels are turned once, and share the turned
  // pixels again.
  TBitmap* pictures[] = {&next.original, &next.resized, &next.modified, &next.target};
  const void* pixels[4];
  for (int i = 0; i < 4; ++i) pixels[i] = pictures[i]->PixelsId();
  for (int i = 0; i < 4; ++i) {
    int same = 0;
    while (same < i && pixels[same] != pixels[i]) ++same;
    if (same < i) {
      *pictures[i] = *pictures[same];
    } else {
      ::Rotate90(*pictures[i], plus);
    }
  }
  TurnGreyMap(next.protect, plus);
  TurnGreyMap(next.depth, plus);
  Commit(std::move(next));
}

void MiniatureEngine::Resize(int width, int height, TResizeMode mode) {
  if (!PictureLoaded()) return;
  CheckSize(width, height);
  // Every resize starts again from the picture as loaded and turned; the
  // recorded tone settings are applied again when any were applied.
  TChain next = chain_;
  next.resized = next.original;
  try {
    BmpResize(next.resized, width, height, mode);
    if (next.effect.Applied) {
      Retone(next);
    } else {
      next.modified = next.resized;
      next.target = next.modified;
    }
    if (next.protect.Width() > 0) next.protect = GreyMap(next.protect, width, height);
    Commit(std::move(next));
  } catch (const std::bad_alloc&) {
    throw std::runtime_error("Not enough memory for a picture of " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels.");
  }
}

void MiniatureEngine::CheckSize(int width, int height) {
  if (width < 1 || height < 1) throw std::runtime_error("The new width and height must be at least 1 pixel.");
  // Nothing larger than a picture file can hold: it could not be saved.
  if (!PictureSizeAllowed(width, height)) {
    throw std::runtime_error("A picture of " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels is too large: at most " + std::to_string(kMaxPictureSide) +
                             " pixels a side and " + std::to_string(kMaxPicturePixels) + " pixels in all.");
  }
}

bool MiniatureEngine::WriteFile(const std::string& path, const TSaveOptions& options, std::string& error,
                                std::vector<std::string>* warnings) {
  if (!PictureLoaded()) return true;
  // Without the camera data the colour profile still goes: the colours
  // depend on it.
  TPictureMetadata colourOnly;
  if (!options.keepMetadata) colourOnly.icc = metadata_.icc;
  const TPictureMetadata& metadata = options.keepMetadata ? metadata_ : colourOnly;
  if (!WritePicture(path, chain_.target, TWriteOptions{options.quality, &metadata}, error, warnings))
    return false;
  chain_.modifiedFlag = false;
  // Every other step of the history now differs from what the file holds.
  for (auto* steps : {&undo_, &redo_})
    for (TChain& step : *steps) step.modifiedFlag = true;
  return true;
}

void MiniatureEngine::Undo() {
  if (undo_.empty()) return;
  redo_.push_back(std::move(chain_));
  chain_ = std::move(undo_.back());
  undo_.pop_back();
}

void MiniatureEngine::Redo() {
  if (redo_.empty()) return;
  undo_.push_back(std::move(chain_));
  chain_ = std::move(redo_.back());
  redo_.pop_back();
}

std::uint64_t MiniatureEngine::HistoryBytes() const {
  std::unordered_set<const void*> counted;
  const auto add = [&counted](const TBitmap& b) -> std::uint64_t {
    if (b.PixelsId() == nullptr || !counted.insert(b.PixelsId()).second) return 0;
    return std::uint64_t(b.RowBytes()) * std::uint64_t(b.Height());
  };
  const auto addChain = [&add](const TChain& c) {
    return add(c.original) + add(c.resized) + add(c.modified) + add(c.target) + add(c.mask);
  };
  addChain(chain_);  // what the current chain holds is not the history's
  std::uint64_t bytes = 0;
  for (const auto* steps : {&undo_, &redo_})
    for (const TChain& step : *steps) bytes += addChain(step);
  return bytes;
}

void MiniatureEngine::TrimHistory() noexcept {
  try {
    while (undo_.size() > 1 && (HistorySteps() > historySteps_ || HistoryBytes() > historyBytes_))
      undo_.pop_front();
  } catch (const std::bad_alloc&) {
    // No memory to count with: keep only the last step.
    while (undo_.size() > 1) undo_.pop_front();
  }
}
