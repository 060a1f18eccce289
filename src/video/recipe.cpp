#include "video/recipe.h"

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

using Json = nlohmann::json;

constexpr long long kMaxCoordinate = 1000000;
constexpr long long kMaxViewSide = 65535;

class Checker {
 public:
  explicit Checker(std::string name) : name_(std::move(name)) {}

  [[noreturn]] void Fail(const std::string& key, const std::string& what) const {
    throw RecipeError("recipe " + name_ + ": " + key + ": " + what);
  }

  long long Whole(const Json& v, const std::string& key, long long min, long long max) const {
    if (!v.is_number_integer()) Fail(key, v.dump() + " is not a whole number");
    const long long n =
        v.is_number_unsigned() && v.get<unsigned long long>() > (1ull << 62) ? max + 1 : v.get<long long>();
    if (n < min || n > max)
      Fail(key, v.dump() + " is outside " + std::to_string(min) + ".." + std::to_string(max));
    return n;
  }

  std::pair<int, int> Pair(const Json& v, const std::string& key, long long min, long long max) const {
    if (!v.is_array() || v.size() != 2) Fail(key, v.dump() + " is not a pair [a, b]");
    return {int(Whole(v[0], key + "[0]", min, max)), int(Whole(v[1], key + "[1]", min, max))};
  }

  Ease EaseOf(const Json& v, const std::string& key) const {
    if (v == "linear") return Ease::Linear;
    if (v == "ease-in-out") return Ease::InOut;
    Fail(key, v.dump() + " is not \"linear\" or \"ease-in-out\"");
  }

  double Number(const Json& v, const std::string& key, double min) const {
    if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() < min)
      Fail(key, v.dump() + " is not a number of at least " + std::to_string(int(min)));
    return v.get<double>();
  }

 private:
  std::string name_;
};

// Applies one keyframe's keys to `s` (the settings it inherits).
void ApplyKeys(const Json& frame, const std::string& at, const Checker& check, Keyframe& key, bool& byTime,
               bool first) {
  FrameSettings& s = key.settings;
  bool when = false;
  for (const auto& [name, value] : frame.items()) {
    const std::string path = at + "." + name;
    bool known = true;
    if (name == "frame" || name == "time") {
      const bool time = name == "time";
      if (when) check.Fail(at, "give either \"frame\" or \"time\", not both");
      if (!first && time != byTime)
        check.Fail(path, "every keyframe must use the same one of \"frame\" and \"time\"");
      byTime = time;
      when = true;
      key.at = time ? check.Number(value, path, 0) : double(check.Whole(value, path, 0, 1ll << 40));
    } else if (name == "ease") {
      key.ease = check.EaseOf(value, path);
    } else if (name == "point") {
      const auto [x, y] = check.Pair(value, path, -kMaxCoordinate, kMaxCoordinate);
      s.point = TPoint{x, y};
    } else if (name == "slope") {
      if (value == "narrow")
        s.slope = BlurSlope::Narrow;
      else if (value == "medium")
        s.slope = BlurSlope::Medium;
      else if (value == "wide")
        s.slope = BlurSlope::Wide;
      else
        check.Fail(path, value.dump() + " is not \"narrow\", \"medium\" or \"wide\"");
    } else if (name == "tone") {
      if (!value.is_boolean()) check.Fail(path, value.dump() + " is not true or false");
      s.tone = value.get<bool>();
    } else {
      known = false;
      for (const IntSetting& setting : kIntSettings)
        if (name == setting.setting->name) {
          s.*setting.field = int(
              check.Whole(value, path, setting.setting->acceptedMinimum, setting.setting->acceptedMaximum));
          known = true;
        }
    }
    if (!known) check.Fail(path, "unknown key");
  }
  if (!when) check.Fail(at, "needs \"frame\" or \"time\"");
}

// Position between two keyframes (0 .. 1) after easing.
double Eased(double t, Ease ease) {
  return ease == Ease::InOut ? t * t * (3 - 2 * t) : t;
}

int Between(int a, int b, double e) {
  return int(std::nearbyint(a + (b - a) * e));
}

}  // namespace

Recipe ParseRecipe(std::string_view text, const std::string& name, const FrameSettings& base) {
  const Checker check(name);
  Json root;
  try {
    root = Json::parse(text);
  } catch (const Json::parse_error& e) {
    throw RecipeError("recipe " + name + ": not valid JSON (" + e.what() + ")");
  }
  if (!root.is_object()) check.Fail("(top)", "the recipe must be a JSON object");
  Recipe recipe;
  Ease ease = Ease::Linear;
  FrameSettings settings = base;
  const Json* frames = nullptr;
  for (const auto& [key, value] : root.items()) {
    if (key == "ease")
      ease = check.EaseOf(value, key);
    else if (key == "fps")
      recipe.fps = check.Number(value, key, 1e-3);
    else if (key == "view")
      std::tie(settings.viewWidth, settings.viewHeight) = check.Pair(value, key, 1, kMaxViewSide);
    else if (key == "keyframes")
      frames = &value;
    else
      check.Fail(key, "unknown key");
  }
  if (!frames || !frames->is_array() || frames->empty())
    check.Fail("keyframes", "needs a list of at least one keyframe");
  for (std::size_t i = 0; i < frames->size(); ++i) {
    const std::string at = "keyframes[" + std::to_string(i) + "]";
    const Json& frame = (*frames)[i];
    if (!frame.is_object()) check.Fail(at, "a keyframe must be a JSON object");
    Keyframe key;
    key.ease = ease;
    key.settings = settings;
    ApplyKeys(frame, at, check, key, recipe.byTime, i == 0);
    if (i > 0 && !(key.at > recipe.keyframes.back().at))
      check.Fail(at, "keyframes must be in increasing order of \"frame\" or \"time\"");
    settings = key.settings;
    recipe.keyframes.push_back(key);
  }
  // A point moves from somewhere: once a keyframe places it, the first
  // one must too (or the command line).
  if (!recipe.keyframes.front().settings.point && recipe.keyframes.back().settings.point)
    check.Fail("keyframes[0].point", "needed when a later keyframe gives a point (or give --point)");
  return recipe;
}

Recipe ReadRecipe(const std::string& path, const FrameSettings& base) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) throw RecipeError("recipe " + path + ": cannot be read");
  return ParseRecipe(text.str(), path, base);
}

FrameSettings Recipe::At(long long frame, double seconds) const {
  const double x = byTime ? seconds : double(frame);
  if (x <= keyframes.front().at) return keyframes.front().settings;
  if (x >= keyframes.back().at) return keyframes.back().settings;
  std::size_t i = 1;
  while (keyframes[i].at <= x) ++i;
  const Keyframe& k0 = keyframes[i - 1];
  const Keyframe& k1 = keyframes[i];
  const double e = Eased((x - k0.at) / (k1.at - k0.at), k0.ease);
  FrameSettings s = k0.settings;
  for (const IntSetting& setting : kIntSettings)
    s.*setting.field = Between(k0.settings.*setting.field, k1.settings.*setting.field, e);
  if (k0.settings.point && k1.settings.point)
    s.point = TPoint{Between(k0.settings.point->X, k1.settings.point->X, e),
                     Between(k0.settings.point->Y, k1.settings.point->Y, e)};
  return s;
}
