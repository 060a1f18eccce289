// tessarin-cli video: the miniature effect over the frames of a video or
// of a series of stills, and the pieces the still command shares with it
// (the per-frame settings from the command line, recipes).
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "video/recipe.h"

// Registers the `video` subcommand; its callback sets `action`.
void AddVideoCommand(CLI::App& app, std::function<int()>& action, std::ostream& err, bool errIsTerminal);

// Reads --recipe before any work; a bad recipe is a usage error
// (CLI::ValidationError) naming the file and the key.
Recipe RecipeOption(const std::string& path, const FrameSettings& base);
