// Keyframe recipes: a JSON file that moves the look over the frames of a
// video or a sorted list of stills.
//
//   {
//     "ease": "linear",                 optional; or "ease-in-out"
//     "view": [1920, 1080],             optional; the view the points are given in
//     "fps": 25,                        optional; stills only: seconds of a "time" key
//     "keyframes": [
//       {"frame": 0,  "point": [960, 300], "angle": 0, "depth": 40, "blur": 8},
//       {"frame": 90, "point": [960, 800], "angle": 12, "ease": "ease-in-out"}
//     ]
//   }
//
// Each keyframe has either "frame" (a frame number, 0 is the first) or
// "time" (seconds from the first frame); all keyframes use the same one,
// in increasing order. Its other keys are the look's settings, named as in
// the settings table (engine/look.h): whole numbers in their ranges,
// choices by name ("slope": "wide"), "tone" true or false and "point"
// [x, y]; "view" is given once, for the whole recipe. A key a keyframe
// leaves out keeps the value of the keyframe before it; the first keyframe
// starts from the command line's look.
//
// Between two keyframes the whole numbers and the point move from the
// first's values to the second's, linearly or eased in and out
// (smoothstep) as the first keyframe's "ease" (or the recipe's) says, and
// are rounded to whole numbers (halves to even) for each frame. Choices
// and "tone" switch at the keyframe. Before the first keyframe the first
// one's look holds, after the last the last one's.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/look.h"

// A recipe that cannot be used; the message names the file and the key.
struct RecipeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Ease { Linear, InOut };

struct Keyframe {
  double at = 0;  // frame number or seconds
  Ease ease = Ease::Linear;
  Look look;
};

struct Recipe {
  bool byTime = false;  // keyframes given in seconds
  double fps = 25;      // for stills: seconds = position / fps
  std::vector<Keyframe> keyframes;

  // The look of frame number `frame`, shown at `seconds`.
  Look At(long long frame, double seconds) const;
};

// Reads and checks the whole recipe; `base` is what the command line set.
Recipe ParseRecipe(std::string_view text, const std::string& name, const Look& base);
Recipe ReadRecipe(const std::string& path, const Look& base);

// `look` as a recipe of one keyframe (frame 0) holding every setting of
// the table, its view at the top when it has one: what ParseRecipe reads
// back as `look` whatever the base.
std::string LookRecipeText(const Look& look);
