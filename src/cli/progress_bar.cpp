#include "cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

void ProgressBar::Show(std::int64_t done, std::int64_t total, const std::string& label) {
  if (!enabled_) return;
  constexpr int kWidth = 30;
  err_ << "\r";
  if (total > 0) {
    const int filled = int(kWidth * std::min(done, total) / total);
    err_ << "[" << std::string(std::size_t(filled), '#') << std::string(std::size_t(kWidth - filled), ' ')
         << "] " << done << "/" << total;
  } else {
    err_ << done;
  }
  err_ << " " << label.substr(0, 40) << "\x1b[K" << std::flush;
}

void ProgressBar::ShowFrames(std::int64_t done, std::int64_t total, double seconds) {
  if (!enabled_) return;
  const double fps = seconds > 0 ? double(done) / seconds : 0;
  char label[80];
  if (total > 0 && fps > 0) {
    const int left = int(double(std::max<std::int64_t>(total - done, 0)) / fps);
    std::snprintf(label, sizeof label, "frames  %.1f fps  %d:%02d left", fps, left / 60, left % 60);
  } else {
    std::snprintf(label, sizeof label, "frames  %.1f fps", fps);
  }
  Show(done, total, label);
}
