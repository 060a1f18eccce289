#include "engine/look.h"

#include <sstream>
#include <type_traits>
#include <utility>

namespace {

constexpr const char* kSlopeNames[] = {"narrow", "medium", "wide"};
constexpr const char* kTypeNames[] = {"classic", "lens"};
constexpr const char* kShapeNames[] = {"band", "ellipse"};

// Each entry names only what its kind uses (the designated fields stand in
// the order they are declared in).
constexpr LookSetting Whole(const char* name, SettingGroup group, const TSetting& range, int Look::*field,
                            const char* help) {
  return {.name = name,
          .kind = SettingKind::Whole,
          .group = group,
          .help = help,
          .range = &range,
          .whole = field};
}

// A choice among `names`, held in the enum field `Field` (names in the
// order of its values).
template <auto Field>
constexpr LookSetting Choice(const char* name, SettingGroup group, std::span<const char* const> names,
                             const char* help) {
  using Enum = std::remove_cvref_t<decltype(std::declval<Look&>().*Field)>;
  return {.name = name,
          .kind = SettingKind::Choice,
          .group = group,
          .help = help,
          .choices = names,
          .getChoice = [](const Look& l) { return int(l.*Field); },
          .setChoice = [](Look& l, int v) { l.*Field = Enum(v); }};
}

const LookSetting kLookSettings[] = {
    {.name = "tone",
     .kind = SettingKind::Flag,
     .group = SettingGroup::Tone,
     .help = "Skip the tone step",
     .option = "no-tone",
     .flag = &Look::tone},
    Whole("saturation", SettingGroup::Tone, kSaturationSetting, &Look::saturation, "Saturation"),
    Whole("contrast", SettingGroup::Tone, kContrastSetting, &Look::contrast, "Contrast"),
    Whole("brightness", SettingGroup::Tone, kBrightnessSetting, &Look::brightness, "Brightness"),
    Whole("angle", SettingGroup::Band, kAngleSetting, &Look::angle,
          "Tilt of the focus band in degrees, clockwise"),
    Whole("depth", SettingGroup::Band, kDepthSetting, &Look::depth, "Width of the focus band"),
    Whole("blur", SettingGroup::Blur, kBlurSetting, &Look::blur,
          "Blur beyond the focus band in pixels, 0 for none"),
    Choice<&Look::slope>("slope", SettingGroup::Band, kSlopeNames,
                         "How fast the blur fades in: narrow, medium or wide"),
    Choice<&Look::type>("look", SettingGroup::Lens, kTypeNames,
                        "The miniature's look: classic (one blurred copy faded in) or lens (the blur grows "
                        "with the distance, lights become discs)"),
    Choice<&Look::shape>("shape", SettingGroup::Lens, kShapeNames,
                         "The lens look's sharp area: band or ellipse"),
    {.name = "aspect",
     .kind = SettingKind::Real,
     .group = SettingGroup::Lens,
     .help = "The ellipse's width over its height",
     .realRange = &kAspectSetting,
     .real = &Look::aspect},
    Whole("bokeh", SettingGroup::Lens, kBokehSetting, &Look::bokeh,
          "How bright the lens look's discs of light get, 0 for a plain average"),
    {.name = "point",
     .kind = SettingKind::Point,
     .group = SettingGroup::View,
     .help = "Focus point X,Y in view pixels (default: the view's centre)",
     .point = &Look::point},
    {.name = "view",
     .kind = SettingKind::Size,
     .group = SettingGroup::View,
     .help = "Size WxH of the view the point is given in (default: the picture's size)",
     .size = &Look::view},
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

std::string RealRange(const TRealSetting& range) {
  const auto text = [](double v) {
    std::ostringstream out;
    out << v;
    return out.str();
  };
  return text(range.minimum) + ".." + text(range.maximum);
}

std::span<const LookSetting> LookSettings() {
  return kLookSettings;
}

const LookSetting* FindLookSetting(const std::string& name) {
  for (const LookSetting& s : kLookSettings)
    if (name == s.name) return &s;
  return nullptr;
}
