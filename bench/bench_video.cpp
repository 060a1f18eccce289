// Times the video pipeline on clips made from the bundled photo with a slow
// pan (H.264, made by ffmpeg before the timing): 1920 x 1080 with 300
// frames and 3840 x 2160 with 120 frames. For each, frames per second of
//   - the miniature alone (the render path on decoded frames in memory),
//   - decode + miniature + encode to H.264 --preset veryfast (RunVideo),
//   - ffmpeg's own decode + encode of the same clip, same preset,
// and the peak memory of the pipeline (run in a child process). The goals
// on 2 cores are printed beside them.
//
//   bench_video [frames-scale]    (0.1 makes every clip ten times shorter)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "codecs/picture_io.h"
#include "engine/miniature_engine.h"
#include "imaging/parallel.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

bool Run(const std::string& command) {
  return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

// Runs a program in a child process (a fresh program: the thread pool of
// this one would not survive a bare fork); its time and peak resident memory.
std::pair<double, double> InChild(const std::vector<std::string>& args) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("  (%s failed)\n", args[0].c_str());
  return {Seconds(start), usage.ru_maxrss / 1024.0};
}

void Measure(const std::string& dir, const std::string& sample, int width, int height, int frames,
             double goalMiniature) {
  const std::string clip = dir + "/clip" + std::to_string(height) + ".mp4";
  // A slow pan across the photo, scaled so the frame fits inside it.
  const int scaledWidth = width * 5 / 4;
  const std::string make =
      "ffmpeg -v error -y -loop 1 -framerate 30 -i " + sample + " -frames:v " + std::to_string(frames) +
      " -vf \"scale=" + std::to_string(scaledWidth) + ":-2,crop=" + std::to_string(width) + ":" +
      std::to_string(height) + ":x='(iw-ow)*n/" + std::to_string(frames) +
      "':y='(ih-oh)/2'\" -c:v libx264 -preset veryfast -crf 20 " + "-pix_fmt yuv420p " + clip;
  if (!Run(make)) {
    std::printf("cannot make %s with ffmpeg\n", clip.c_str());
    return;
  }
  std::printf("%d x %d, %d frames (%s)\n", width, height, frames, clip.c_str());

  // The miniature alone: a few decoded frames, each made a miniature in turn.
  {
    const std::string stills = dir + "/s%02d.png";
    Run("ffmpeg -v error -y -i " + clip + " -frames:v 4 " + stills);
    std::vector<TBitmap> pictures;
    for (int i = 1; i <= 4; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "/s%02d.png", i);
      std::string error;
      TBitmap p;
      if (ReadPicture(dir + name, p, error)) pictures.push_back(p);
    }
    const int n = std::max(8, frames / 10);
    // As the pipeline runs it: one focus for the clip, the result written
    // over the last one's pixels (the copy of the decoded frame the tone
    // step makes here is the pipeline's conversion from the decoder).
    // The median of five runs of n frames: the machine is shared.
    const Look look;
    TFocusMaskCache masks;
    TBitmap target;
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
      const auto start = Clock::now();
      for (int i = 0; i < n; ++i) {
        TBitmap frame = pictures[i % pictures.size()];
        MiniatureEngine::RenderLook(frame, look, masks, target);
      }
      runs.push_back(n / Seconds(start));
    }
    std::sort(runs.begin(), runs.end());
    std::printf("  miniature alone                %7.1f fps   (goal >= %.0f; runs %.1f .. %.1f)\n", runs[2],
                goalMiniature, runs.front(), runs.back());
  }

  const auto [ours, peak] =
      InChild({TESSARIN_CLI_PROGRAM, "video", clip, "-o", dir + "/out.mp4", "--preset", "veryfast"});
  const auto [theirs, theirPeak] = InChild({"ffmpeg", "-v", "error", "-y", "-i", clip, "-c:v", "libx264",
                                            "-preset", "veryfast", "-an", dir + "/ffmpeg.mp4"});
  std::printf("  decode + miniature + H.264     %7.1f fps   peak %5.0f MB%s\n", frames / ours, peak,
              height > 1080 ? "   (goal <= 400 MB)" : "");
  std::printf("  ffmpeg decode + H.264          %7.1f fps   peak %5.0f MB\n", frames / theirs, theirPeak);
  std::printf("  pipeline / ffmpeg              %7.2f       (goal >= 0.5)\n", theirs / ours);
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  const fs::path source = fs::path(TESSARIN_SOURCE_DIR) / "samples" / "evening-glow.jpg";
  const fs::path dir = fs::temp_directory_path() / ("tessarin-bench-video-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("video pipeline, %d threads\n", ThreadCount());
  Measure(dir.string(), source.string(), 1920, 1080, std::max(10, int(300 * scale)), 60);
  Measure(dir.string(), source.string(), 3840, 2160, std::max(10, int(120 * scale)), 15);
  fs::remove_all(dir);
  return 0;
}
