// The progress bar of a batch on a terminal: "[####    ] 3/8 name",
// redrawn in place on the error stream.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

class ProgressBar {
 public:
  ProgressBar(std::ostream& err, bool enabled, std::size_t total)
      : err_(err), enabled_(enabled), total_(total) {}
  void Show(std::size_t done, const std::string& name) {
    if (!enabled_) return;
    constexpr int kWidth = 30;
    const int filled = int(kWidth * done / total_);
    err_ << "\r[" << std::string(std::size_t(filled), '#') << std::string(std::size_t(kWidth - filled), ' ')
         << "] " << done << "/" << total_ << " " << name.substr(0, 40) << "\x1b[K" << std::flush;
  }
  // Empties the bar's line, so that a message printed next starts on a
  // clean line; the next Show draws the bar again below it.
  void Clear() {
    if (enabled_) err_ << "\r\x1b[K" << std::flush;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  std::size_t total_;
};
