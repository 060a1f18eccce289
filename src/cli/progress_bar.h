// The progress display of every subcommand on a terminal, redrawn in place
// on the error stream: "[####      ] 3/8 name" for a batch of files,
// "[####      ] 120/480 frames  31.2 fps  0:11 left" for a video (without
// the bar and the total when the length is not known).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

class ProgressBar {
 public:
  ProgressBar(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
  // `done` of `total` (negative: not known), and what follows the count.
  void Show(std::int64_t done, std::int64_t total, const std::string& label);
  // A video's frames: the count, the rate and the time left.
  void ShowFrames(std::int64_t done, std::int64_t total, double seconds);
  // Empties the bar's line, so that a message printed next starts on a
  // clean line; the next Show draws the bar again below it.
  void Clear() {
    if (enabled_) err_ << "\r\x1b[K" << std::flush;
  }

 private:
  std::ostream& err_;
  bool enabled_;
};
