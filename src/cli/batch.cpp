#include "cli/batch.h"

#include <fstream>
#include <iostream>

#include "cli/arguments.h"
#include "imaging/parallel.h"

void BatchOptions::Add(CLI::App* cmd) {
  cmd->add_option("--files-from", filesFrom, "Read input names from FILE, one a line ('-': standard input)");
  cmd->add_flag("-0,--null", nul, "With --files-from: names are separated by NUL bytes (find -print0)");
  cmd->add_flag("--skip-existing", skipExisting, "Leave out inputs whose output exists already");
  cmd->add_option("--threads", threads, "Cores to use (default: all); for running several jobs side by side")
      ->check(CLI::Range(1, 256));
}

std::vector<std::string> BatchOptions::Inputs(std::vector<std::string> given) const {
  if (filesFrom.empty()) return given;
  std::vector<std::string> listed;
  if (filesFrom == "-") {
    listed = ReadFileList(std::cin, nul);
  } else {
    std::ifstream in(filesFrom, std::ios::binary);
    if (!in) throw UsageError("--files-from: " + filesFrom + " cannot be read");
    listed = ReadFileList(in, nul);
  }
  given.insert(given.end(), listed.begin(), listed.end());
  return given;
}

void BatchOptions::ApplyThreads() const {
  if (threads > 0) SetThreadCount(threads);
}

std::vector<std::string> ReadFileList(std::istream& in, bool nul) {
  std::vector<std::string> names;
  std::string name;
  while (std::getline(in, name, nul ? '\0' : '\n')) {
    if (!nul && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names.push_back(name);
  }
  return names;
}
