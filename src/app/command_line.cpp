#include "app/command_line.h"

std::string StartupFile(const std::vector<std::string>& args) {
  bool options = true;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options && a == "--") {
      options = false;
    } else if (!options || a.empty() || a[0] != '-') {
      return a;
    }
  }
  return "";
}
