#include "engine/recipe.h"

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

using Json = nlohmann::json;

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

  // One setting of the table from its JSON value, into `look`.
  void Setting(const LookSetting& s, const Json& v, const std::string& key, Look& look) const {
    switch (s.kind) {
      case SettingKind::Whole:
        look.*s.whole = int(Whole(v, key, s.range->acceptedMinimum, s.range->acceptedMaximum));
        break;
      case SettingKind::Real: {
        const TRealSetting& r = *s.realRange;
        if (!v.is_number() || !r.Accepts(v.get<double>()))
          Fail(key, v.dump() + " is not a number in " + RealRange(r));
        look.*s.real = v.get<double>();
        break;
      }
      case SettingKind::Choice: {
        const int choice = v.is_string() ? s.ChoiceOf(v.get<std::string>()) : -1;
        if (choice < 0) Fail(key, v.dump() + " is not one of " + s.ChoiceList());
        s.setChoice(look, choice);
        break;
      }
      case SettingKind::Flag:
        if (!v.is_boolean()) Fail(key, v.dump() + " is not true or false");
        look.*s.flag = v.get<bool>();
        break;
      case SettingKind::Point: {
        const auto [x, y] = Pair(v, key, -kMaxLookCoordinate, kMaxLookCoordinate);
        look.*s.point = TPoint{x, y};
        break;
      }
      case SettingKind::Size: {
        const auto [w, h] = Pair(v, key, 1, kMaxViewSide);
        look.*s.size = {w, h};
        break;
      }
    }
  }

 private:
  std::string name_;
};

// Applies one keyframe's keys to its look (the look it inherits).
void ApplyKeys(const Json& frame, const std::string& at, const Checker& check, Keyframe& key, bool& byTime,
               bool first) {
  bool when = false;
  for (const auto& [name, value] : frame.items()) {
    const std::string path = at + "." + name;
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
    } else if (const LookSetting* s = FindLookSetting(name); s && s->kind != SettingKind::Size) {
      check.Setting(*s, value, path, key.look);
    } else {
      check.Fail(path, s ? "give it once, for the whole recipe" : "unknown key");
    }
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

Recipe ParseRecipe(std::string_view text, const std::string& name, const Look& base) {
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
  Look look = base;
  const Json* frames = nullptr;
  for (const auto& [key, value] : root.items()) {
    if (key == "ease") {
      ease = check.EaseOf(value, key);
    } else if (key == "fps") {
      recipe.fps = check.Number(value, key, 1e-3);
    } else if (key == "keyframes") {
      frames = &value;
    } else if (const LookSetting* s = FindLookSetting(key); s && s->kind == SettingKind::Size) {
      check.Setting(*s, value, key, look);
    } else {
      check.Fail(key, s ? "belongs in a keyframe" : "unknown key");
    }
  }
  if (!frames || !frames->is_array() || frames->empty())
    check.Fail("keyframes", "needs a list of at least one keyframe");
  for (std::size_t i = 0; i < frames->size(); ++i) {
    const std::string at = "keyframes[" + std::to_string(i) + "]";
    const Json& frame = (*frames)[i];
    if (!frame.is_object()) check.Fail(at, "a keyframe must be a JSON object");
    Keyframe key;
    key.ease = ease;
    key.look = look;
    ApplyKeys(frame, at, check, key, recipe.byTime, i == 0);
    if (i > 0 && !(key.at > recipe.keyframes.back().at))
      check.Fail(at, "keyframes must be in increasing order of \"frame\" or \"time\"");
    look = key.look;
    recipe.keyframes.push_back(key);
  }
  // A point moves from somewhere: once a keyframe places it, the first
  // one must too (or the command line).
  if (!recipe.keyframes.front().look.point && recipe.keyframes.back().look.point)
    check.Fail("keyframes[0].point", "needed when a later keyframe gives a point (or give --point)");
  return recipe;
}

Recipe ReadRecipe(const std::string& path, const Look& base) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) throw RecipeError("recipe " + path + ": cannot be read");
  return ParseRecipe(text.str(), path, base);
}

Look Recipe::At(long long frame, double seconds) const {
  const double x = byTime ? seconds : double(frame);
  if (x <= keyframes.front().at) return keyframes.front().look;
  if (x >= keyframes.back().at) return keyframes.back().look;
  std::size_t i = 1;
  while (keyframes[i].at <= x) ++i;
  const Keyframe& k0 = keyframes[i - 1];
  const Keyframe& k1 = keyframes[i];
  const double e = Eased((x - k0.at) / (k1.at - k0.at), k0.ease);
  Look look = k0.look;
  for (const LookSetting& s : LookSettings()) {
    if (s.kind == SettingKind::Whole) {
      look.*s.whole = Between(k0.look.*s.whole, k1.look.*s.whole, e);
    } else if (s.kind == SettingKind::Real) {
      look.*s.real = k0.look.*s.real + (k1.look.*s.real - k0.look.*s.real) * e;
    } else if (s.kind == SettingKind::Point) {
      const auto &p0 = k0.look.*s.point, &p1 = k1.look.*s.point;
      if (p0 && p1) look.*s.point = TPoint{Between(p0->X, p1->X, e), Between(p0->Y, p1->Y, e)};
    }
  }
  return look;
}

std::string LookRecipeText(const Look& look) {
  Json root = Json::object();
  Json frame = Json::object();
  frame["frame"] = 0;
  for (const LookSetting& s : LookSettings()) {
    switch (s.kind) {
      case SettingKind::Whole:
        frame[s.name] = look.*s.whole;
        break;
      case SettingKind::Real:
        frame[s.name] = look.*s.real;
        break;
      case SettingKind::Choice:
        frame[s.name] = s.choices[std::size_t(s.getChoice(look))];
        break;
      case SettingKind::Flag:
        frame[s.name] = look.*s.flag;
        break;
      case SettingKind::Point:
        if (const auto& p = look.*s.point) frame[s.name] = {p->X, p->Y};
        break;
      case SettingKind::Size:
        if ((look.*s.size).width > 0) root[s.name] = {(look.*s.size).width, (look.*s.size).height};
        break;
    }
  }
  root["keyframes"] = Json::array({frame});
  return root.dump(2) + "\n";
}
