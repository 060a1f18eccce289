// tessarin-cli video: the miniature effect over the frames of a video or
// of a series of stills.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <ostream>
#include <string>

// Registers the `video` subcommand; its callback sets `action`.
void AddVideoCommand(CLI::App& app, std::function<int()>& action, std::ostream& err, bool errIsTerminal);
