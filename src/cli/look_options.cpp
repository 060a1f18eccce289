#include "cli/look_options.h"

#include "cli/arguments.h"
#include "codecs/picture_io.h"
#include "engine/lens.h"

void LookOptions::Add(CLI::App* cmd, const std::function<bool(const LookSetting&)>& take) {
  const Look defaults;
  for (const LookSetting& s : LookSettings()) {
    if (take && !take(s)) continue;
    Value& v = values_.emplace_back();
    v.setting = &s;
    const std::string help = s.help;
    switch (s.kind) {
      case SettingKind::Whole:
        v.whole = defaults.*s.whole;
        v.option = cmd->add_option(s.Option(), v.whole,
                                   help + " (" + std::to_string(s.range->acceptedMinimum) + ".." +
                                       std::to_string(s.range->acceptedMaximum) + ")")
                       ->check(CLI::Range(s.range->acceptedMinimum, s.range->acceptedMaximum))
                       ->capture_default_str();
        break;
      case SettingKind::Real:
        v.real = defaults.*s.real;
        v.option = cmd->add_option(s.Option(), v.real, help + " (" + RealRange(*s.realRange) + ")")
                       ->check(CLI::Range(s.realRange->minimum, s.realRange->maximum))
                       ->capture_default_str();
        break;
      case SettingKind::Choice:
        v.text = s.choices[std::size_t(s.getChoice(defaults))];
        v.option = cmd->add_option(s.Option(), v.text, help)->capture_default_str();
        break;
      case SettingKind::Flag:
        v.option = cmd->add_flag(s.Option(), v.flag, help);
        break;
      case SettingKind::Point:
      case SettingKind::Size:
        v.option = cmd->add_option(s.Option(), v.text, help);
        break;
    }
  }
}

Look LookOptions::Into(Look look) const {
  for (const Value& v : values_) {
    const LookSetting& s = *v.setting;
    switch (s.kind) {
      case SettingKind::Whole:
        look.*s.whole = v.whole;
        break;
      case SettingKind::Real:
        look.*s.real = v.real;
        break;
      case SettingKind::Choice: {
        const int choice = s.ChoiceOf(v.text);
        s.setChoice(look, Require(choice < 0 ? std::nullopt : std::optional(choice), s.Option(), v.text,
                                  "one of " + s.ChoiceList()));
        break;
      }
      case SettingKind::Flag:
        if (v.flag) look.*s.flag = false;
        break;
      case SettingKind::Point:
        if (v.option->count() > 0) look.*s.point = PointOption(s.Option(), v.text);
        break;
      case SettingKind::Size:
        if (v.option->count() > 0) {
          const SizeArg size = SizeOption(s.Option(), v.text);
          look.*s.size = {size.width, size.height};
        }
        break;
    }
  }
  return look;
}

void LensMapOptions::Add(CLI::App* cmd) {
  cmd->add_option("--protect", protectPath,
                  "Grey mask of what the lens look keeps sharp (white), fitted to each picture");
  cmd->add_option("--depth-map", depthPath,
                  "Grey depth map for the lens look (white near; any size); a HEIF photo's own depth "
                  "image is taken when none is given");
}

void LensMapOptions::Read() {
  const auto read = [](const std::string& option, const std::string& path, TBitmap& map) {
    if (path.empty()) return;
    TBitmap picture;
    std::string error;
    if (!ReadPicture(path, picture, error)) throw UsageError(option + ": " + error);
    map = GreyMap(picture);
  };
  read("--protect", protectPath, protect);
  read("--depth-map", depthPath, depth);
}

Recipe RecipeOption(const std::string& path, const Look& base) {
  try {
    return ReadRecipe(path, base);
  } catch (const RecipeError& e) {
    throw UsageError(e.what());
  }
}
