// Clips for the video tests, made once per test program by Debian's
// ffmpeg from pictures generated here: 320 x 180, 24 frames at 25 fps,
// lossless (FFV1 in BGR) so that every frame is known to the byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/cli_test_support.h"
#include "support/pictures.h"

inline constexpr int kClipWidth = 320, kClipHeight = 180, kClipFrames = 24;

// Frame n: smooth gradients with a square moving across and a little
// fixed noise, so that blur, tone and band all leave their mark.
inline TBitmap ClipFrame(int n) {
  return MakePicture(kClipWidth, kClipHeight, [n](int x, int y) {
    const bool square = x >= 10 * n && x < 10 * n + 40 && y >= 60 && y < 120;
    const int noise = int((x * 7919 + y * 104729) % 23);
    if (square) return Rgb{240 - noise, 30 + noise, 60};
    return Rgb{(x * 255 / kClipWidth + noise) % 256, (y * 255 / kClipHeight + 3 * n) % 256,
               (x + y + noise) % 256};
  });
}

// Runs a shell command; true when it succeeded.
inline bool Shell(const std::string& command) {
  return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

// What a command prints.
inline std::string ShellOutput(const std::string& command) {
  std::string text;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
    ::pclose(p);
  }
  return text;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text)
    if (c == '\n') {
      if (!line.empty()) lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The shared clips, made in the suite's set-up.
class VideoTest : public CliFolderTest {
 protected:
  static void SetUpTestSuite() {
    clips_ = std::filesystem::temp_directory_path() / ("tessarin-video-clips-" + std::to_string(::getpid()));
    std::filesystem::create_directories(clips_);
    for (int n = 0; n < kClipFrames; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "f%03d.png", n);
      std::string error;
      ASSERT_TRUE(WritePicture((clips_ / name).string(), ClipFrame(n), error)) << error;
    }
    const std::string dir = clips_.string();
    const std::string frames = "ffmpeg -v error -y -framerate 25 -i " + dir + "/f%03d.png ";
    const std::string tone = "-f lavfi -i sine=frequency=440:duration=0.96 ";
    ASSERT_TRUE(Shell(frames + tone + "-c:v ffv1 -pix_fmt bgr0 -c:a flac " + dir + "/clip.mkv"));
    ASSERT_TRUE(Shell(frames + tone + "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac " + dir +
                      "/clip.mp4"));
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(clips_); }

  static std::string Clip(const std::string& name) { return (clips_ / name).string(); }
  static std::string SourceFrame(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "f%03d.png", n);
    return Clip(name);
  }

  // The still command's result for source frame n with `options`.
  TBitmap StillResult(int n, const std::vector<std::string>& options) {
    std::vector<std::string> args = {"miniature", SourceFrame(n), "-o", Path("still.png")};
    args.insert(args.end(), options.begin(), options.end());
    const CliRun r = Cli(args);
    EXPECT_EQ(r.code, kExitOk) << r.err;
    return Load(Path("still.png"));
  }

  // Times of the video frames of `path`, in seconds, as ffprobe reads them.
  static std::vector<double> FrameTimes(const std::string& path) {
    std::vector<double> times;
    for (const std::string& line : Lines(ShellOutput(
             "ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 " + path)))
      times.push_back(std::stod(line));
    return times;
  }
  static std::string Streams(const std::string& path) {
    return ShellOutput("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + path);
  }

  static inline std::filesystem::path clips_;
};
