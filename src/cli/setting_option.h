// A command-line option for one of the effect's settings: its name, its
// default and the range it accepts all come from the settings table.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "engine/settings.h"

inline void AddSetting(CLI::App* cmd, int& value, const TSetting& setting, const std::string& what,
                       const std::string& note = "") {
  cmd->add_option("--" + std::string(setting.name), value,
                  what + " (" + std::to_string(setting.acceptedMinimum) + ".." +
                      std::to_string(setting.acceptedMaximum) + note + ")")
      ->check(CLI::Range(setting.acceptedMinimum, setting.acceptedMaximum))
      ->capture_default_str();
}
