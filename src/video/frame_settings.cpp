#include "video/frame_settings.h"

#include "engine/miniature_engine.h"

std::pair<FocusSettings, TPoint> ResolveFocus(const FrameSettings& settings, int width, int height) {
  FocusSettings focus;
  focus.viewWidth = settings.viewWidth > 0 ? settings.viewWidth : width;
  focus.viewHeight = settings.viewHeight > 0 ? settings.viewHeight : height;
  focus.angle = settings.angle;
  focus.depthSetting = settings.depth;
  focus.slope = settings.slope;
  const TPoint point = settings.point.value_or(TPoint{focus.viewWidth / 2, focus.viewHeight / 2});
  return {focus, point};
}

TBitmap MiniatureFrame(const TBitmap& picture, const FrameSettings& settings, TFocusMaskCache* masks) {
  MiniatureEngine engine;
  engine.LoadPicture(picture);
  if (settings.tone) engine.ApplyTone(settings.saturation, settings.contrast, settings.brightness);
  const auto [focus, point] =
      ResolveFocus(settings, engine.ModifiedBMP().Width(), engine.ModifiedBMP().Height());
  engine.ApplyMiniature(point, focus, settings.blur, masks);
  return engine.TargetBMP();
}

void MiniatureFrameInto(TBitmap& picture, const FrameSettings& settings, TFocusMaskCache& masks,
                        TBitmap& target) {
  const RECEFFECT tone{true, settings.saturation, settings.contrast, settings.brightness};
  const auto [focus, point] = ResolveFocus(settings, picture.Width(), picture.Height());
  MiniatureEngine::ComposeMiniature(picture, settings.tone ? &tone : nullptr, point, focus, settings.blur,
                                    masks, target);
}
