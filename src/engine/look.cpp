#include "engine/look.h"

namespace {

constexpr const char* kSlopeNames[] = {"narrow", "medium", "wide"};

constexpr LookSetting Whole(const char* name, SettingGroup group, const TSetting& range, int Look::*field,
                            const char* help) {
  LookSetting s{name, SettingKind::Whole, group, help, nullptr};
  s.range = &range;
  s.whole = field;
  return s;
}

const LookSetting kLookSettings[] = {
    [] {
      LookSetting s{"tone", SettingKind::Flag, SettingGroup::Tone, "Skip the tone step", "no-tone"};
      s.flag = &Look::tone;
      return s;
    }(),
    Whole("saturation", SettingGroup::Tone, kSaturationSetting, &Look::saturation, "Saturation"),
    Whole("contrast", SettingGroup::Tone, kContrastSetting, &Look::contrast, "Contrast"),
    Whole("brightness", SettingGroup::Tone, kBrightnessSetting, &Look::brightness, "Brightness"),
    Whole("angle", SettingGroup::Band, kAngleSetting, &Look::angle,
          "Tilt of the focus band in degrees, clockwise"),
    Whole("depth", SettingGroup::Band, kDepthSetting, &Look::depth, "Width of the focus band"),
    Whole("blur", SettingGroup::Blur, kBlurSetting, &Look::blur,
          "Blur beyond the focus band in pixels, 0 for none"),
    [] {
      LookSetting s{"slope", SettingKind::Choice, SettingGroup::Band,
                    "How fast the blur fades in: narrow, medium or wide", nullptr};
      s.choices = kSlopeNames;
      s.getChoice = [](const Look& l) { return int(l.slope); };
      s.setChoice = [](Look& l, int v) { l.slope = BlurSlope(v); };
      return s;
    }(),
    [] {
      LookSetting s{"point", SettingKind::Point, SettingGroup::View,
                    "Focus point X,Y in view pixels (default: the view's centre)", nullptr};
      s.point = &Look::point;
      return s;
    }(),
    [] {
      LookSetting s{"view", SettingKind::Size, SettingGroup::View,
                    "Size WxH of the view the point is given in (default: the picture's size)", nullptr};
      s.size = &Look::view;
      return s;
    }(),
};

}  // namespace

TViewSize Look::ViewFor(int width, int height) const {
  return view.width > 0 && view.height > 0 ? view : TViewSize{width, height};
}

TPoint Look::PointFor(int width, int height) const {
  const TViewSize v = ViewFor(width, height);
  return point.value_or(TPoint{v.width / 2, v.height / 2});
}

FocusSettings Look::FocusFor(int width, int height) const {
  const TViewSize v = ViewFor(width, height);
  FocusSettings focus;
  focus.viewWidth = v.width;
  focus.viewHeight = v.height;
  focus.angle = angle;
  focus.depthSetting = depth;
  focus.slope = slope;
  return focus;
}

std::string LookSetting::Option() const {
  return "--" + std::string(option != nullptr ? option : name);
}

std::string LookSetting::ChoiceList() const {
  std::string list;
  for (const char* c : choices) list += (list.empty() ? "" : ", ") + std::string(c);
  return list;
}

int LookSetting::ChoiceOf(const std::string& text) const {
  for (std::size_t i = 0; i < choices.size(); ++i)
    if (text == choices[i]) return int(i);
  return -1;
}

std::span<const LookSetting> LookSettings() {
  return kLookSettings;
}

const LookSetting* FindLookSetting(const std::string& name) {
  for (const LookSetting& s : kLookSettings)
    if (name == s.name) return &s;
  return nullptr;
}
