// What the program's command line asks for.
#pragma once

#include <string>
#include <vector>

// The picture to open at start: the first argument after the program's
// name that is not an option, or the first one after "--"; "" when none.
// (Qt has taken its own options out before this is asked.)
std::string StartupFile(const std::vector<std::string>& args);
