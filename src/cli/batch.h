// Options for batches of files: where the list of inputs comes from
// (--files-from, -0), outputs already made (--skip-existing) and how many
// cores one run takes (--threads), for sharing a machine among parallel jobs.
#pragma once

#include <CLI/CLI.hpp>
#include <istream>
#include <string>
#include <vector>

struct BatchOptions {
  std::string filesFrom;  // "-": standard input
  bool nul = false;
  bool skipExisting = false;
  int threads = 0;  // 0: every core

  void Add(CLI::App* cmd);
  // The inputs given on the command line followed by those of --files-from;
  // a list that cannot be read is a UsageError.
  std::vector<std::string> Inputs(std::vector<std::string> given) const;
  // Sets the engine's thread count when --threads was given.
  void ApplyThreads() const;
};

// Names one per line (a final line without its newline counts; empty
// lines and a carriage return before the newline are dropped), or
// separated by NUL bytes when `nul` is set (then every byte is kept).
std::vector<std::string> ReadFileList(std::istream& in, bool nul);
