// The look's options on a subcommand, generated from the settings table
// (engine/look.h): each setting's option, help, range and default come
// from its entry, and every value is checked with the same messages.
#pragma once

#include <CLI/CLI.hpp>
#include <deque>
#include <functional>
#include <string>

#include "engine/look.h"
#include "engine/recipe.h"

class LookOptions {
 public:
  // Adds an option for every setting of the table that `take` accepts
  // (all of them when not given).
  void Add(CLI::App* cmd, const std::function<bool(const LookSetting&)>& take = {});
  // `look` with the given options set (the others at their defaults).
  // Throws UsageError for a value the setting does not take.
  Look Into(Look look = {}) const;

 private:
  struct Value {
    const LookSetting* setting = nullptr;
    int whole = 0;
    double real = 0;
    bool flag = false;
    std::string text;
    CLI::Option* option = nullptr;
  };
  std::deque<Value> values_;  // the options write here: their places must stay
};

// The lens look's --protect MASK and --depth-map MAP, read before any work.
struct LensMapOptions {
  std::string protectPath, depthPath;
  TBitmap protect{0, 0, pf8bit}, depth{0, 0, pf8bit};

  void Add(CLI::App* cmd);
  // A file that cannot be read is a UsageError naming it.
  void Read();
};

// Reads --recipe before any work; a bad recipe is a UsageError naming the
// file and the key.
Recipe RecipeOption(const std::string& path, const Look& base);
