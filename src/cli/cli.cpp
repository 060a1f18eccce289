// tessarin-cli. Each subcommand reads its pictures, runs one engine or
// toolkit operation and writes the result, all through one runner
// (RunJobs), so the same rules hold for every subcommand: the output is
// checked before any input is read, a failure writes nothing, every error
// names its file and goes to the error stream (below a cleared progress
// line), and a damaged but readable input is reported as a warning.
//
// Exit codes: 0 all done, 1 some file failed, 2 the command line is wrong.
// Every usage and range error is found before any file is read: bad
// options, sizes beyond the picture limits, and --out-dir outputs that
// would overwrite an input or collide with each other.
#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>

#include "cli/arguments.h"
#include "cli/batch.h"
#include "cli/look_options.h"
#include "cli/progress_bar.h"
#include "cli/video_command.h"
#include "codecs/picture_io.h"
#include "engine/guide_lines.h"
#include "engine/miniature_engine.h"
#include "engine/recipe.h"
#include "engine/version.h"
#include "imaging/blur.h"
#include "imaging/overlay.h"
#include "imaging/resample.h"
#include "imaging/rotation.h"
#include "imaging/tone.h"

namespace {

namespace fs = std::filesystem;

// One file's failure, with a message that names the file: reported,
// counted, and the next file goes on.
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A size for a picture the program will make: within the picture limits.
SizeArg PictureSizeOption(const std::string& option, const std::string& text) {
  const SizeArg size = SizeOption(option, text);
  if (!PictureSizeAllowed(size.width, size.height))
    throw UsageError(option + ": '" + text + "' has more than " + std::to_string(kMaxPicturePixels) +
                     " pixels");
  return size;
}

// The settings of the band and the view it is given in: the options of
// `mask` and `guides`.
bool BandSetting(const LookSetting& s) {
  return s.group == SettingGroup::Band || s.group == SettingGroup::View;
}

// The outputs of --out-dir: each input's file name in the folder. Refuses,
// before anything is read, an output that would be the input itself and
// two inputs that would be written to the same file.
std::vector<std::string> OutDirOutputs(const std::vector<std::string>& inputs, const std::string& outDir) {
  std::vector<std::string> outputs;
  std::map<std::string, std::string> claimed;  // output (normalised) -> the input it is for
  for (const std::string& in : inputs) {
    const std::string out = (fs::path(outDir) / FileNamePart(in)).string();
    std::error_code ec;
    if (fs::equivalent(in, out, ec))
      throw UsageError("--out-dir: the output for " + in + " would be " + out +
                       ", the input itself; choose another folder");
    const std::string key = fs::absolute(out, ec).lexically_normal().string();
    const auto [at, fresh] = claimed.emplace(key, in);
    if (!fresh)
      throw UsageError("--out-dir: " + at->second + " and " + in + " would both be written to " + out +
                       "; give them different names or folders");
    outputs.push_back(out);
  }
  return outputs;
}

// One picture to make: the files it is made from (read in this order) and
// the file it goes to.
struct Job {
  std::vector<std::string> inputs;
  std::string output;
};

// Makes the picture of one job from its decoded inputs.
using Operation = std::function<TBitmap(std::vector<TBitmap>& pictures)>;

// How the outputs are written: the JPEG quality, and whether the first
// input's metadata (camera data, colour profile) goes with them.
struct OutputOptions {
  int quality = kDefaultJpegQuality;
  bool strip = false;

  void Add(CLI::App* cmd, bool withStrip) {
    cmd->add_option("--quality", quality, "JPEG quality of the output (1..100)")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    if (withStrip)
      cmd->add_flag("--strip", strip, "Write no metadata (camera data, GPS, colour profile) into the output");
  }
};

struct Cli {
  Cli(std::ostream& o, std::ostream& e, bool terminal) : out(o), err(e), errIsTerminal(terminal) {}

  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal;
  CLI::App app{"Tessarin: give photographs the look of a miniature model.", "tessarin-cli"};
  std::function<int()> action;
  std::size_t currentJob = 0;  // the job RunJobs is at

  // The one runner of every subcommand that makes pictures: for each job,
  // check the output, read the inputs, run the operation, write the
  // result. A job that fails is reported (naming its file) and counted, and
  // the next one goes on; a job that fails writes nothing.
  int RunJobs(const std::vector<Job>& jobs, const Operation& operation, const OutputOptions& output) {
    ProgressBar bar(err, errIsTerminal && jobs.size() > 1);
    auto report = [&](const std::string& message) {
      bar.Clear();
      err << "tessarin-cli: " << message << "\n";
    };
    int status = kExitOk;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      const Job& job = jobs[i];
      currentJob = i;
      bar.Show(std::int64_t(i), std::int64_t(jobs.size()),
               FileNamePart(job.inputs.empty() ? job.output : job.inputs.front()));
      // What an error that is not about one file names: the picture being
      // made and where it was going.
      const std::string subject =
          job.inputs.empty() ? job.output : job.inputs.front() + " (for " + job.output + ")";
      try {
        std::string error;
        if (!CheckPictureTarget(job.output, error)) throw FileError(error);
        std::vector<TBitmap> pictures;
        // The output carries the metadata of the picture it is made from.
        TPictureMetadata metadata;
        for (const std::string& in : job.inputs) {
          std::vector<std::string> warnings;
          TBitmap picture;
          TPictureMetadata* keep = pictures.empty() && !output.strip ? &metadata : nullptr;
          if (!ReadPicture(in, picture, keep, error, &warnings)) throw FileError(error);
          for (const std::string& w : warnings) report("warning: " + w);
          pictures.push_back(std::move(picture));
        }
        const TBitmap result = operation(pictures);
        std::vector<std::string> warnings;
        if (!WritePicture(job.output, result, TWriteOptions{output.quality, &metadata}, error, &warnings))
          throw FileError(error);
        for (const std::string& w : warnings) report("warning: " + w);
      } catch (const FileError& e) {
        report(e.what());
        status = kExitFailed;
      } catch (const std::bad_alloc&) {
        report(subject + ": out of memory; nothing written");
        status = kExitFailed;
      } catch (const std::exception& e) {
        report(subject + ": " + e.what() + "; nothing written");
        status = kExitFailed;
      }
    }
    bar.Show(std::int64_t(jobs.size()), std::int64_t(jobs.size()), "");
    bar.Clear();
    return status;
  }

  void AddMiniature() {
    auto* cmd = app.add_subcommand("miniature", "Tone the pictures, then give them the miniature look");
    struct Opts {
      std::vector<std::string> inputs;
      std::string output, outDir;
      LookOptions look;
      LensMapOptions maps;
      OutputOptions writing;
      std::string recipe;
      BatchOptions batch;
    };
    auto o = std::make_shared<Opts>();
    o->writing.Add(cmd, true);
    cmd->add_option("IN", o->inputs, "Pictures to process");
    auto* outOpt = cmd->add_option("-o,--output", o->output, "Output picture (one input only)");
    auto* dirOpt = cmd->add_option("--out-dir", o->outDir, "Folder for the outputs, named like the inputs");
    outOpt->excludes(dirOpt);
    o->look.Add(cmd);
    o->maps.Add(cmd);
    cmd->add_option("--recipe", o->recipe,
                    "Keyframes (JSON) that move the look over the pictures, taken in sorted order");
    o->batch.Add(cmd);
    cmd->callback([this, o] {
      o->inputs = o->batch.Inputs(o->inputs);
      if (o->inputs.empty()) throw UsageError("give pictures to process, or --files-from");
      if (o->output.empty() == o->outDir.empty()) throw UsageError("give either -o OUT or --out-dir DIR");
      if (!o->output.empty() && o->inputs.size() != 1)
        throw UsageError("-o takes one input; use --out-dir for several");
      // Check the look's options and the recipe once, before any file is read.
      const Look look = o->look.Into();
      o->maps.Read();
      std::optional<Recipe> recipe;
      if (!o->recipe.empty()) {
        recipe = RecipeOption(o->recipe, look);
        // A picture's frame number is its place in the sorted list.
        std::sort(o->inputs.begin(), o->inputs.end());
      }
      std::vector<Job> jobs;
      std::vector<long long> frameOfJob;
      if (o->outDir.empty()) {
        jobs.push_back({{o->inputs.front()}, o->output});
      } else {
        const std::vector<std::string> outputs = OutDirOutputs(o->inputs, o->outDir);
        for (std::size_t i = 0; i < outputs.size(); ++i) jobs.push_back({{o->inputs[i]}, outputs[i]});
      }
      for (std::size_t i = 0; i < jobs.size(); ++i) frameOfJob.push_back((long long)i);
      if (o->batch.skipExisting) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < jobs.size(); ++i)
          if (!fs::exists(jobs[i].output)) {
            jobs[kept] = jobs[i];
            frameOfJob[kept++] = frameOfJob[i];
          }
        jobs.resize(kept);
        frameOfJob.resize(kept);
      }
      o->batch.ApplyThreads();
      action = [this, o, jobs, frameOfJob, look, recipe] {
        if (!o->outDir.empty()) fs::create_directories(o->outDir);
        return RunJobs(
            jobs,
            [this, o, jobs, frameOfJob, look, recipe,
             lensMaps = std::make_shared<TLensMapCache>()](std::vector<TBitmap>& pictures) {
              const long long frame = frameOfJob[currentJob];
              const Look at = recipe ? recipe->At(frame, double(frame) / recipe->fps) : look;
              // The lens look takes a HEIF photo's own depth image when no map is given.
              TBitmap ownDepth{0, 0, pf8bit};
              if (at.type == LookType::Lens && o->maps.depth.Width() == 0)
                ReadDepthImage(jobs[currentJob].inputs.front(), ownDepth);
              const LensMaps maps =
                  lensMaps->For(o->maps.protect, ownDepth.Width() > 0 ? ownDepth : o->maps.depth,
                                pictures[0].Width(), pictures[0].Height());
              TFocusMaskCache masks;
              TBitmap target;
              MiniatureEngine::RenderLook(pictures[0], at, masks, target, maps);
              return target;
            },
            o->writing);
      };
    });
  }

  void AddTone() {
    auto* cmd = app.add_subcommand("tone", "Adjust saturation, contrast and brightness");
    struct Opts {
      std::string in, out;
      int saturation = 0, contrast = 0, brightness = 0;
      OutputOptions writing;
    };
    auto o = std::make_shared<Opts>();
    o->writing.Add(cmd, true);
    cmd->add_option("IN", o->in, "Input picture")->required();
    cmd->add_option("OUT", o->out, "Output picture")->required();
    cmd->add_option("--saturation", o->saturation, "Saturation in percent (0: unchanged)")
        ->capture_default_str();
    cmd->add_option("--contrast", o->contrast,
                    "Contrast (-" + std::to_string(kContrastLimit) + ".." + std::to_string(kContrastLimit) +
                        "; 0: unchanged)")
        ->check(CLI::Range(-kContrastLimit, kContrastLimit))
        ->capture_default_str();
    cmd->add_option("--brightness", o->brightness, "Brightness in percent (0: unchanged)")
        ->capture_default_str();
    cmd->callback([this, o] {
      action = [this, o] {
        return RunJobs(
            {{{o->in}, o->out}},
            [o](std::vector<TBitmap>& pictures) {
              // The toolkit's tone step itself: any saturation and brightness.
              AdjustTone(pictures[0], o->saturation, o->contrast, o->brightness);
              return pictures[0];
            },
            o->writing);
      };
    });
  }

  void AddBlur() {
    auto* cmd = app.add_subcommand("blur", "Gaussian blur");
    struct Opts {
      std::string in, out;
      int zone = 0;
      OutputOptions writing;
    };
    auto o = std::make_shared<Opts>();
    o->writing.Add(cmd, true);
    cmd->add_option("IN", o->in, "Input picture")->required();
    cmd->add_option("OUT", o->out, "Output picture")->required();
    cmd->add_option("--zone", o->zone,
                    "Standard deviation in pixels (" + std::to_string(kMinBlurZone) + ".." +
                        std::to_string(kMaxBlurZone) + ")")
        ->required()
        ->check(CLI::Range(kMinBlurZone, kMaxBlurZone));
    cmd->callback([this, o] {
      action = [this, o] {
        return RunJobs(
            {{{o->in}, o->out}},
            [o](std::vector<TBitmap>& pictures) {
              GaussianBlur(pictures[0], o->zone);
              return pictures[0];
            },
            o->writing);
      };
    });
  }

  void AddRotate() {
    auto* cmd = app.add_subcommand("rotate", "Turn by a quarter turn or by any angle");
    struct Opts {
      std::string in, out, quarter, background = "000000";
      float angle = 0;
      OutputOptions writing;
    };
    auto o = std::make_shared<Opts>();
    o->writing.Add(cmd, true);
    cmd->add_option("IN", o->in, "Input picture")->required();
    cmd->add_option("OUT", o->out, "Output picture")->required();
    auto* quarter = cmd->add_option("--quarter", o->quarter, "Quarter turn: left or right")
                        ->check(CLI::IsMember({"left", "right"}));
    auto* angle = cmd->add_option("--angle", o->angle, "Angle in degrees, positive clockwise");
    cmd->add_option("--background", o->background, "Colour RRGGBB of uncovered parts (with --angle)")
        ->capture_default_str();
    quarter->excludes(angle);
    cmd->callback([this, o, quarter, angle] {
      if (quarter->count() == 0 && angle->count() == 0)
        throw UsageError("give --quarter left|right or --angle DEG");
      if (!std::isfinite(o->angle)) throw UsageError("--angle must be a finite number");
      const TColor bk =
          Require(ParseHexColor(o->background), "--background", o->background, "a colour RRGGBB");
      const bool byQuarter = quarter->count() > 0;
      action = [this, o, bk, byQuarter] {
        return RunJobs(
            {{{o->in}, o->out}},
            [o, bk, byQuarter](std::vector<TBitmap>& pictures) {
              if (byQuarter) {
                Rotate90(pictures[0], o->quarter == "right");
              } else {
                Rotation(pictures[0], o->angle, bk);
              }
              return pictures[0];
            },
            o->writing);
      };
    });
  }

  void AddResize() {
    auto* cmd = app.add_subcommand("resize", "Resample to a new size");
    struct Opts {
      std::string in, out, size, method = "bilinear";
      OutputOptions writing;
    };
    auto o = std::make_shared<Opts>();
    o->writing.Add(cmd, true);
    cmd->add_option("IN", o->in, "Input picture")->required();
    cmd->add_option("OUT", o->out, "Output picture")->required();
    cmd->add_option("--size", o->size, "New size WxH")->required();
    cmd->add_option("--method", o->method,
                    "nearest, bilinear, bicubic, bspline, hermite, mitchell, bell, lanczos or lagrange")
        ->capture_default_str();
    cmd->callback([this, o] {
      const SizeArg size = PictureSizeOption("--size", o->size);
      const TResizeMode mode = Require(ParseResizeMode(o->method), "--method", o->method, "a known method");
      action = [this, o, size, mode] {
        return RunJobs(
            {{{o->in}, o->out}},
            [size, mode](std::vector<TBitmap>& pictures) {
              if (!BmpResize(pictures[0], size.width, size.height, mode))
                throw std::invalid_argument("the picture cannot be resampled");
              return pictures[0];
            },
            o->writing);
      };
    });
  }

  void AddOverlay() {
    auto* cmd = app.add_subcommand("overlay", "Blend SRC into DST through a grey MASK");
    struct Opts {
      std::string dst, src, mask, out, offset = "0,0";
      OutputOptions writing;
    };
    auto o = std::make_shared<Opts>();
    o->writing.Add(cmd, true);
    cmd->add_option("DST", o->dst, "Destination picture")->required();
    cmd->add_option("SRC", o->src, "Source picture")->required();
    cmd->add_option("MASK", o->mask, "Mask, read as grey values: 0 keeps DST, 255 takes SRC")->required();
    cmd->add_option("OUT", o->out, "Output picture")->required();
    cmd->add_option("--offset", o->offset, "Where SRC's top-left pixel lands on DST, X,Y")
        ->capture_default_str();
    cmd->callback([this, o] {
      const TPoint offset = PointOption("--offset", o->offset);
      action = [this, o, offset] {
        return RunJobs(
            {{{o->dst, o->src, o->mask}, o->out}},
            [o, offset](std::vector<TBitmap>& pictures) {
              TBitmap& dst = pictures[0];
              const TBitmap& src = pictures[1];
              TBitmap& mask = pictures[2];
              if (mask.Width() < src.Width() || mask.Height() < src.Height())
                throw FileError("mask " + o->mask + " is smaller than the source picture " + o->src +
                                "; nothing written to " + o->out);
              mask.SetPixelFormat(pf8bit);
              MaskedOverlay(dst, src, mask, offset.X, offset.Y);
              return dst;
            },
            o->writing);
      };
    });
  }

  void AddMask() {
    auto* cmd = app.add_subcommand("mask", "Write the focus-band mask as a grey picture");
    struct Opts {
      std::string out, picture;
      LookOptions look;
      OutputOptions writing;
    };
    auto o = std::make_shared<Opts>();
    o->writing.Add(cmd, false);
    cmd->add_option("OUT", o->out, "Output picture")->required();
    cmd->add_option("--picture", o->picture, "Picture size WxH")->required();
    o->look.Add(cmd, BandSetting);
    cmd->callback([this, o] {
      const SizeArg size = PictureSizeOption("--picture", o->picture);
      const Look look = o->look.Into();
      action = [this, o, size, look] {
        return RunJobs(
            {{{}, o->out}},
            [size, look](std::vector<TBitmap>&) {
              TBitmap mask;
              CreateMaskBMP(mask, size.width, size.height, look.PointFor(size.width, size.height),
                            look.FocusFor(size.width, size.height));
              mask.SetPixelFormat(pf24bit);
              return mask;
            },
            o->writing);
      };
    });
  }

  void AddGuides() {
    auto* cmd = app.add_subcommand("guides", "Print the guide lines of the focus band as JSON");
    auto look = std::make_shared<LookOptions>();
    look->Add(cmd, [](const LookSetting& s) { return BandSetting(s) && s.kind != SettingKind::Choice; });
    cmd->get_option("--view")->required()->description("Size WxH of the view");
    cmd->callback([this, look] {
      const Look l = look->Into();
      action = [this, l] {
        const TPoint point = l.PointFor(0, 0);
        const GuideLines g = PutLine(point, l.view.width, l.view.height, l.angle, l.depth);
        const auto seg = [](const GuideSegment& s) {
          return "[" + std::to_string(s.x1) + ", " + std::to_string(s.y1) + ", " + std::to_string(s.x2) +
                 ", " + std::to_string(s.y2) + "]";
        };
        out << "{\"depth\": " << g.depth << ", \"red\": " << seg(g.red) << ", \"yellowB\": " << seg(g.yellowB)
            << ", \"yellowC\": " << seg(g.yellowC) << "}\n";
        return kExitOk;
      };
    });
  }
};

}  // namespace

int RunTessarinCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool errIsTerminal) {
  Cli cli(out, err, errIsTerminal);
  cli.app.require_subcommand(1);
  cli.app.set_version_flag("--version", std::string("tessarin-cli ") + kTessarinVersion);
  cli.AddMiniature();
  cli.AddTone();
  cli.AddBlur();
  cli.AddRotate();
  cli.AddResize();
  cli.AddOverlay();
  cli.AddMask();
  cli.AddGuides();
  AddVideoCommand(cli.app, cli.action, err, errIsTerminal);

  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    cli.app.parse(reversed);
  } catch (const CLI::CallForHelp& e) {
    return cli.app.exit(e, out, err);
  } catch (const CLI::CallForAllHelp& e) {
    return cli.app.exit(e, out, err);
  } catch (const CLI::CallForVersion& e) {
    return cli.app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    cli.app.exit(e, out, err);
    return kExitUsage;
  } catch (const UsageError& e) {
    err << "tessarin-cli: " << e.what() << "\nRun with --help for more information.\n";
    return kExitUsage;
  }
  if (!cli.action) return kExitUsage;
  try {
    return cli.action();
  } catch (const std::exception& e) {
    err << "tessarin-cli: " << e.what() << "\n";
    return kExitFailed;
  }
}
