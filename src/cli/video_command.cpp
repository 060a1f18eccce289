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
#include "cli/setting_option.h"
#include "codecs/picture_io.h"
#include "video/video.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Usage(const std::string& message) {
  throw CLI::ValidationError(message);
}

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
      Usage("'" + in + "' matches no file");
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
  if (a < 0 || b < a) Usage("--frames: '" + text + "' is not a range A-B of frame numbers with A <= B");
  return {a, b};
}

class ProgressLine {
 public:
  ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
  void Show(const VideoProgress& p) {
    if (!enabled_) return;
    const double fps = p.seconds > 0 ? double(p.frames) / p.seconds : 0;
    char text[160];
    if (p.total > 0) {
      const double left = fps > 0 ? double(std::max<std::int64_t>(p.total - p.frames, 0)) / fps : 0;
      const int bar = int(24 * std::min<std::int64_t>(p.frames, p.total) / p.total);
      std::snprintf(text, sizeof text, "\r[%s%s] frame %lld/%lld  %.1f fps  ETA %d:%02d\x1b[K",
                    std::string(std::size_t(bar), '#').c_str(),
                    std::string(std::size_t(24 - bar), ' ').c_str(), static_cast<long long>(p.frames),
                    static_cast<long long>(p.total), fps, int(left) / 60, int(left) % 60);
    } else {
      std::snprintf(text, sizeof text, "\rframe %lld  %.1f fps\x1b[K", static_cast<long long>(p.frames), fps);
    }
    err_ << text << std::flush;
  }
  void Clear() {
    if (enabled_) err_ << "\r\x1b[K" << std::flush;
  }

 private:
  std::ostream& err_;
  bool enabled_;
};

}  // namespace

Recipe RecipeOption(const std::string& path, const FrameSettings& base) {
  try {
    return ReadRecipe(path, base);
  } catch (const RecipeError& e) {
    Usage(e.what());
  }
}

void AddVideoCommand(CLI::App& app, std::function<int()>& action, std::ostream& err, bool errIsTerminal) {
  auto* cmd = app.add_subcommand("video",
                                 "Give every frame of a video (or of a series of stills) the miniature look");
  struct Opts {
    std::vector<std::string> inputs;
    std::string output, recipe, slope = "medium", point, view, frames, preset = "medium";
    bool noTone = false;
    double speed = 1, fps = 25;
    int every = 1, crf = -1, quality = kDefaultJpegQuality;
    std::optional<double> start, end;
    FrameSettings settings;
    BatchOptions batch;
  };
  auto o = std::make_shared<Opts>();
  cmd->add_option("IN", o->inputs,
                  "A video, or stills in frame order (a quoted pattern such as 'frames/*.jpg' is expanded)");
  cmd->add_option(
         "-o,--output", o->output,
         "Output: .mp4 (H.264), .webm (VP9), .mkv (FFV1, lossless) or stills such as out/frame_%05d.png")
      ->required();
  for (const IntSetting& s : kIntSettings) AddSetting(cmd, o->settings.*s.field, *s.setting, s.help);
  cmd->add_flag("--no-tone", o->noTone, "Skip the tone step");
  cmd->add_option("--slope", o->slope, "How fast the blur fades in: narrow, medium or wide")
      ->capture_default_str();
  cmd->add_option("--point", o->point, "Focus point X,Y in view pixels (default: the view's centre)");
  cmd->add_option("--view", o->view,
                  "Size WxH of the view the point is given in (default: the frame's size)");
  cmd->add_option("--recipe", o->recipe, "Keyframes (JSON) that move the settings over the frames");
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
    if (job.inputs.empty()) Usage("give a video, stills, or --files-from");
    job.output = o->output;
    job.fps = o->fps;
    job.crf = o->crf;
    if (o->crf > 51 && FileExtension(o->output) == ".mp4") Usage("--crf: H.264 takes 0..51");
    job.preset = o->preset;
    job.quality = o->quality;
    job.threads = o->batch.threads;
    job.settings = o->settings;
    job.settings.tone = !o->noTone;
    job.settings.slope = *[&] {
      const auto s = ParseSlope(o->slope);
      if (!s) Usage("--slope: '" + o->slope + "' is not one of narrow, medium, wide");
      return s;
    }();
    if (!o->view.empty()) {
      const auto v = ParseSize(o->view);
      if (!v) Usage("--view: '" + o->view + "' is not a size WxH");
      job.settings.viewWidth = v->width;
      job.settings.viewHeight = v->height;
    }
    if (!o->point.empty()) {
      job.settings.point = ParsePoint(o->point);
      if (!job.settings.point) Usage("--point: '" + o->point + "' is not a point X,Y");
    }
    if (!o->recipe.empty()) job.recipe = RecipeOption(o->recipe, job.settings);
    job.selection.speedMilli = std::llround(o->speed * 1000);
    job.selection.every = o->every;
    if (!o->frames.empty()) std::tie(job.selection.first, job.selection.last) = FrameRange(o->frames);
    if (o->start) job.selection.start = *o->start;
    if (o->end) job.selection.end = *o->end;
    if (job.selection.end <= job.selection.start) Usage("--end must come after --start");
    const bool skip = o->batch.skipExisting && fs::exists(IsStillPattern(job.output) ? "" : job.output);
    o->batch.ApplyThreads();
    action = [job, skip, &err, errIsTerminal] {
      if (skip) return kExitOk;
      ProgressLine line(err, errIsTerminal);
      try {
        const VideoResult result = RunVideo(job, [&](const VideoProgress& p) { line.Show(p); });
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
