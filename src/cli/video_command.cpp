#include "cli/video_command.h"

#include <glob.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "cli/arguments.h"
#include "cli/batch.h"
#include "cli/cli.h"
#include "cli/look_options.h"
#include "cli/progress_bar.h"
#include "codecs/picture_io.h"
#include "video/video.h"

namespace {

namespace fs = std::filesystem;

// A name with wildcards that names no file is expanded, sorted.
std::vector<std::string> ExpandGlobs(const std::vector<std::string>& inputs) {
  std::vector<std::string> out;
  for (const std::string& in : inputs) {
    std::error_code ec;
    if (in.find_first_of("*?[") == std::string::npos || fs::exists(in, ec)) {
      out.push_back(in);
      continue;
    }
    glob_t found{};
    const int rc = ::glob(in.c_str(), 0, nullptr, &found);
    if (rc != 0) {
      globfree(&found);
      throw UsageError("'" + in + "' matches no file");
    }
    for (std::size_t i = 0; i < found.gl_pathc; ++i) out.push_back(found.gl_pathv[i]);
    globfree(&found);
  }
  return out;
}

// "A-B": frame numbers A to B, both included.
std::pair<std::int64_t, std::int64_t> FrameRange(const std::string& text) {
  const auto dash = text.find('-');
  std::int64_t a = -1, b = -1;
  if (dash != std::string::npos) {
    const char* s = text.data();
    const auto r1 = std::from_chars(s, s + dash, a);
    const auto r2 = std::from_chars(s + dash + 1, s + text.size(), b);
    if (r1.ec != std::errc() || r1.ptr != s + dash || r2.ec != std::errc() || r2.ptr != s + text.size())
      a = -1;
  }
  if (a < 0 || b < a)
    throw UsageError("--frames: '" + text + "' is not a range A-B of frame numbers with A <= B");
  return {a, b};
}

}  // namespace

void AddVideoCommand(CLI::App& app, std::function<int()>& action, std::ostream& err, bool errIsTerminal) {
  auto* cmd = app.add_subcommand("video",
                                 "Give every frame of a video (or of a series of stills) the miniature look");
  struct Opts {
    std::vector<std::string> inputs;
    std::string output, recipe, frames, preset = "medium";
    double speed = 1, fps = 25;
    int every = 1, crf = -1, quality = kDefaultJpegQuality;
    std::optional<double> start, end;
    LookOptions look;
    LensMapOptions maps;
    BatchOptions batch;
  };
  auto o = std::make_shared<Opts>();
  cmd->add_option("IN", o->inputs,
                  "A video, or stills in frame order (a quoted pattern such as 'frames/*.jpg' is expanded)");
  cmd->add_option(
         "-o,--output", o->output,
         "Output: .mp4 (H.264), .webm (VP9), .mkv (FFV1, lossless) or stills such as out/frame_%05d.png")
      ->required();
  o->look.Add(cmd);
  o->maps.Add(cmd);
  cmd->add_option("--recipe", o->recipe, "Keyframes (JSON) that move the look over the frames");
  cmd->add_option("--speed", o->speed, "Play N times faster by dropping frames evenly (1..1000)")
      ->check(CLI::Range(1.0, 1000.0));
  cmd->add_option("--every", o->every, "Keep one frame in N, timing unchanged (the stop-motion look)")
      ->check(CLI::Range(1, 1000000));
  cmd->add_option("--fps", o->fps, "Frames per second of a series of stills")
      ->check(CLI::Range(0.01, 1000.0));
  auto* start = cmd->add_option("--start", o->start, "Start at this time, in seconds from the first frame")
                    ->check(CLI::NonNegativeNumber);
  auto* end =
      cmd->add_option("--end", o->end, "Stop before this time, in seconds")->check(CLI::NonNegativeNumber);
  auto* frames =
      cmd->add_option("--frames", o->frames, "Frame numbers A-B only (0 is the first; B included)");
  frames->excludes(start)->excludes(end);
  cmd->add_option("--crf", o->crf,
                  "Quality of H.264 (0..51, default 23) or VP9 (0..63, default 32); lower is better")
      ->check(CLI::Range(0, 63));
  cmd->add_option("--preset", o->preset, "Encoder speed: ultrafast .. veryslow")
      ->check(CLI::IsMember(
          {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower", "veryslow"}))
      ->capture_default_str();
  cmd->add_option("--quality", o->quality, "JPEG quality of still outputs (1..100)")
      ->check(CLI::Range(1, 100));
  o->batch.Add(cmd);

  cmd->callback([o, &action, &err, errIsTerminal] {
    VideoJob job;
    job.inputs = ExpandGlobs(o->batch.Inputs(o->inputs));
    if (job.inputs.empty()) throw UsageError("give a video, stills, or --files-from");
    job.output = o->output;
    job.fps = o->fps;
    job.crf = o->crf;
    if (o->crf > 51 && FileExtension(o->output) == ".mp4") throw UsageError("--crf: H.264 takes 0..51");
    job.preset = o->preset;
    job.quality = o->quality;
    job.threads = o->batch.threads;
    job.look = o->look.Into();
    o->maps.Read();
    job.protect = o->maps.protect;
    job.depth = o->maps.depth;
    if (!o->recipe.empty()) job.recipe = RecipeOption(o->recipe, job.look);
    job.selection.speedMilli = std::llround(o->speed * 1000);
    job.selection.every = o->every;
    if (!o->frames.empty()) std::tie(job.selection.first, job.selection.last) = FrameRange(o->frames);
    if (o->start) job.selection.start = *o->start;
    if (o->end) job.selection.end = *o->end;
    if (job.selection.end <= job.selection.start) throw UsageError("--end must come after --start");
    const bool skip = o->batch.skipExisting && fs::exists(IsStillPattern(job.output) ? "" : job.output);
    o->batch.ApplyThreads();
    action = [job, skip, &err, errIsTerminal] {
      if (skip) return kExitOk;
      ProgressBar line(err, errIsTerminal);
      try {
        const VideoResult result =
            RunVideo(job, [&](const VideoProgress& p) { line.ShowFrames(p.frames, p.total, p.seconds); });
        line.Clear();
        for (const std::string& note : result.notes) err << "tessarin-cli: note: " << note << "\n";
        return kExitOk;
      } catch (const VideoError& e) {
        line.Clear();
        err << "tessarin-cli: " << e.what() << "\n";
        return kExitFailed;
      }
    };
  });
}
