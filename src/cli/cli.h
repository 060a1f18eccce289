// tessarin-cli: the miniature engine and the bitmap toolkit from the
// command line, for batch work and scripting.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // at least one file failed; the others were processed
inline constexpr int kExitUsage = 2;   // the command line itself is wrong

// Runs the command line `args` (without the program name). Results and help
// go to `out`, errors and progress to `err`. `errIsTerminal` turns on the
// progress bar for several inputs.
int RunTessarinCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool errIsTerminal = false);
