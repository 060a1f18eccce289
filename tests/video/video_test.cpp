#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "video/frame_selection.h"
#include "video_test_support.h"

namespace fs = std::filesystem;

namespace {

std::string Numbered(const std::string& pattern, int n) {
  char name[256];
  std::snprintf(name, sizeof name, pattern.c_str(), n);
  return name;
}

std::vector<std::string> FilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  if (fs::exists(dir))
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// Output frame k of each speed is source frame ceil(k * speed); --every
// then keeps every Nth of those. Worked out by hand.
TEST(FrameSelection, KeepsFramesEvenly) {
  struct Case {
    std::int64_t speedMilli, every;
    std::vector<std::int64_t> kept;  // of source frames 0 .. 10
  } cases[] = {
      {1000, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {2000, 1, {0, 2, 4, 6, 8, 10}},
      {1500, 1, {0, 2, 3, 5, 6, 8, 9}},
      {2500, 1, {0, 3, 5, 8, 10}},
      {1000, 3, {0, 3, 6, 9}},
      {2000, 2, {0, 4, 8}},
  };
  for (const Case& c : cases) {
    FrameSelection s;
    s.speedMilli = c.speedMilli;
    s.every = c.every;
    std::vector<std::int64_t> kept;
    for (std::int64_t i = 0; i <= 10; ++i)
      if (const auto k = s.OutputIndex(i)) {
        EXPECT_EQ(*k, std::int64_t(kept.size())) << "speed " << c.speedMilli << " frame " << i;
        kept.push_back(i);
      }
    EXPECT_EQ(kept, c.kept) << "speed " << c.speedMilli << " every " << c.every;
  }
}

// Every frame is the still command's result for that frame: catches a
// colour conversion of the decoded or encoded frames, a frame taken out
// of order, an option that does not reach the engine.
TEST_F(VideoTest, EveryFrameIsTheStillCommandsResult) {
  const std::vector<std::string> options = {"--angle", "-12",    "--depth",      "30", "--blur",  "5",
                                            "--point", "100,60", "--saturation", "70", "--slope", "wide"};
  const std::vector<std::vector<std::string>> extra = {{}, {"--no-tone", "--view", "640x360"}};
  for (const auto& more : extra) {
    std::vector<std::string> args = {"video", Clip("clip.mkv"), "-o", Path("s/f_%03d.png")};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), more.begin(), more.end());
    fs::create_directories(Path("s"));
    CliRun r = Cli(args);
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(FilesIn(Path("s")).size(), std::size_t(kClipFrames));
    args[3] = Path("lossless.mkv");
    r = Cli(args);
    ASSERT_EQ(r.code, kExitOk) << r.err;
    ASSERT_TRUE(Shell("ffmpeg -v error -y -i " + Path("lossless.mkv") + " " + Path("back_%03d.png")));
    std::vector<std::string> still = options;
    still.insert(still.end(), more.begin(), more.end());
    for (int n : {0, 7, kClipFrames - 1}) {
      const TBitmap expected = StillResult(n, still);
      EXPECT_TRUE(Load(Numbered(Path("s/f_%03d.png"), n)) == expected) << "frame " << n;
      // ffmpeg numbers from 1.
      EXPECT_TRUE(Load(Numbered(Path("back_%03d.png"), n + 1)) == expected) << "FFV1 frame " << n;
    }
    fs::remove_all(Path("s"));
  }
}

// The same frames come from a list of stills, in the order given.
TEST_F(VideoTest, StillsAreFramesToo) {
  const CliRun r = Cli({"video", SourceFrame(5), SourceFrame(3), "-o", Path("f_%02d.png"), "--blur", "4"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(Load(Path("f_00.png")) == StillResult(5, {"--blur", "4"}));
  EXPECT_TRUE(Load(Path("f_01.png")) == StillResult(3, {"--blur", "4"}));
  EXPECT_FALSE(fs::exists(Path("f_02.png")));
}

// Frame counts and timestamps: --speed keeps the frame rate and shortens
// the clip, --every keeps the timing; the cut starts the output at 0.
TEST_F(VideoTest, SpeedEveryAndCutsGiveTheirFramesAndTimes) {
  struct Case {
    std::vector<std::string> options;
    std::vector<double> times;
  } cases[] = {
      {{"--speed", "3"}, {0, 0.04, 0.08, 0.12, 0.16, 0.2, 0.24, 0.28}},
      {{"--every", "5"}, {0, 0.2, 0.4, 0.6, 0.8}},
      {{"--frames", "10-13"}, {0, 0.04, 0.08, 0.12}},
      {{"--start", "0.47", "--end", "0.59"}, {0, 0.04, 0.08}},
      {{"--speed", "1.5", "--frames", "0-5"}, {0, 0.04, 0.08, 0.12}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"video", Clip("clip.mkv"), "-o", Path("t.mkv"), "--blur", "0"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CliRun r = Cli(args);
    ASSERT_EQ(r.code, kExitOk) << c.options[0] << r.err;
    const std::vector<double> times = FrameTimes(Path("t.mkv"));
    ASSERT_EQ(times.size(), c.times.size()) << c.options[0];
    for (std::size_t i = 0; i < times.size(); ++i)
      EXPECT_NEAR(times[i], c.times[i], 0.0015) << c.options[0] << " " << i;
  }
  // --speed 1.5 keeps source frames 0, 2, 3, 5: output frame 1 is source frame 2.
  ASSERT_EQ(
      Cli({"video", Clip("clip.mkv"), "-o", Path("q_%d.png"), "--speed", "1.5", "--no-tone", "--blur", "0"})
          .code,
      kExitOk);
  EXPECT_TRUE(Load(Path("q_1.png")) == Load(SourceFrame(2)));
  EXPECT_TRUE(Load(Path("q_3.png")) == Load(SourceFrame(5)));
  EXPECT_EQ(FilesIn(dir_).size(), 1 + 16u);  // t.mkv and frames 0 .. 15
}

// Pieces cut by frame numbers give, joined, exactly the frames of one run,
// recipe and --every included.
TEST_F(VideoTest, SplitRunsJoinToTheWholeRun) {
  std::ofstream(Path("r.json")) << R"({"keyframes": [{"frame": 0, "angle": -20, "blur": 2},
                                                        {"frame": 23, "angle": 20, "blur": 9}]})";
  const std::vector<std::string> common = {"--recipe", Path("r.json"), "--every", "2"};
  auto run = [&](const std::string& dir, std::vector<std::string> more) {
    fs::create_directories(Path(dir));
    std::vector<std::string> args = {"video", Clip("clip.mkv"), "-o", Path(dir + "/f_%04d.png")};
    args.insert(args.end(), common.begin(), common.end());
    args.insert(args.end(), more.begin(), more.end());
    const CliRun r = Cli(args);
    EXPECT_EQ(r.code, kExitOk) << r.err;
  };
  run("whole", {});
  run("parts", {"--frames", "0-8"});
  run("parts", {"--frames", "9-16"});
  run("parts", {"--frames", "17-23"});
  const std::vector<std::string> names = FilesIn(Path("whole"));
  ASSERT_EQ(names.size(), 12u);
  ASSERT_EQ(FilesIn(Path("parts")), names);
  for (const std::string& name : names)
    EXPECT_EQ(ReadBytes(Path("parts/" + name)), ReadBytes(Path("whole/" + name))) << name;
}

// Between keyframes the settings move and are rounded per frame; the
// expected values are worked out by hand. Linear, frame 5 of 0 .. 20:
// angle 0 -> 30 gives 7.5 (to 8, halves to even), depth 20 -> 60 gives 30,
// blur 2 -> 10 gives 4, point (100,50) -> (200,150) gives (125,75).
// Eased in and out, t = 0.25 moves 0.15625 of the way: angle 4.69 -> 5,
// depth 26.25 -> 26, blur 3.25 -> 3, point (115.6, 65.6) -> (116, 66).
TEST_F(VideoTest, KeyframesMoveTheSettingsBetweenThem) {
  struct Case {
    const char* ease;
    int frame;
    std::vector<std::string> still;
  } cases[] = {
      {"linear", 5, {"--angle", "8", "--depth", "30", "--blur", "4", "--point", "125,75"}},
      {"ease-in-out", 5, {"--angle", "5", "--depth", "26", "--blur", "3", "--point", "116,66"}},
      {"linear", 0, {"--angle", "0", "--depth", "20", "--blur", "2", "--point", "100,50"}},
      {"linear", 22, {"--angle", "30", "--depth", "60", "--blur", "10", "--point", "200,150"}},
  };
  for (const Case& c : cases) {
    std::ofstream(Path("r.json")) << R"({"ease": ")" << c.ease << R"(", "keyframes": [
        {"frame": 0, "angle": 0, "depth": 20, "blur": 2, "point": [100, 50]},
        {"frame": 20, "angle": 30, "depth": 60, "blur": 10, "point": [200, 150]}]})";
    const CliRun r = Cli({"video", Clip("clip.mkv"), "-o", Path("k_%d.png"), "--recipe", Path("r.json"),
                          "--frames", std::to_string(c.frame) + "-" + std::to_string(c.frame)});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(Load(Numbered(Path("k_%d.png"), c.frame)) == StillResult(c.frame, c.still))
        << c.ease << " frame " << c.frame;
  }
  // The same recipe drives a folder of stills, frame number = place in the
  // sorted list (given here out of order).
  std::ofstream(Path("r.json")) << R"({"keyframes": [
      {"frame": 0, "angle": 0, "depth": 20, "blur": 2, "point": [100, 50]},
      {"frame": 20, "angle": 30, "depth": 60, "blur": 10, "point": [200, 150]}]})";
  const CliRun r =
      Cli({"miniature", "--recipe", Path("r.json"), SourceFrame(6), SourceFrame(5), SourceFrame(0),
           SourceFrame(1), SourceFrame(2), SourceFrame(3), SourceFrame(4), "--out-dir", Path("out")});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(Load(Path("out/f005.png")) == StillResult(5, cases[0].still));
}

// The lens look's keys move too: halfway, half the bokeh and the aspect.
TEST_F(VideoTest, LensKeyframesMoveTheirBokehAndAspect) {
  std::ofstream(Path("lens.json")) << R"({"keyframes": [
      {"frame": 0, "look": "lens", "shape": "ellipse", "bokeh": 0, "aspect": 1, "blur": 12},
      {"frame": 20, "look": "lens", "shape": "ellipse", "bokeh": 100, "aspect": 3, "blur": 12}]})";
  const CliRun r = Cli({"video", Clip("clip.mkv"), "-o", Path("l_%d.png"), "--recipe", Path("lens.json"),
                        "--frames", "10-10"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(Load(Numbered(Path("l_%d.png"), 10)) ==
              StillResult(10, {"--look", "lens", "--shape", "ellipse", "--bokeh", "50", "--aspect", "2",
                               "--blur", "12"}));
}

// Audio is copied when the timing stays and dropped, with a note, when not.
TEST_F(VideoTest, AudioIsCopiedOnlyWhenTheTimingStays) {
  struct Case {
    std::string in, out;
    std::vector<std::string> options;
    std::string streams;
  } cases[] = {
      {"clip.mkv", "a.mkv", {}, "video\naudio\n"},
      {"clip.mp4", "a.mp4", {"--every", "3"}, "video\naudio\n"},
      {"clip.mkv", "b.mkv", {"--speed", "2"}, "video\n"},
      {"clip.mp4", "c.webm", {}, "video\n"},  // AAC cannot go into WebM
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"video",  Clip(c.in), "-o",       Path(c.out),
                                     "--blur", "1",        "--preset", "ultrafast"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CliRun r = Cli(args);
    ASSERT_EQ(r.code, kExitOk) << c.out << r.err;
    EXPECT_EQ(Streams(Path(c.out)), c.streams) << c.out;
    EXPECT_EQ(r.err.find("audio is dropped") != std::string::npos, c.streams == "video\n") << c.out << r.err;
  }
  // The copied audio is the source's, packet for packet.
  const std::string packets = "ffprobe -v error -select_streams a -show_entries packet=size -of csv=p=0 ";
  EXPECT_EQ(ShellOutput(packets + Path("a.mkv")), ShellOutput(packets + Clip("clip.mkv")));
}

// Bad inputs end with a message naming the file, exit 1, and nothing written.
TEST_F(VideoTest, BadInputsFailCleanly) {
  const std::string clip = ReadBytes(Clip("clip.mkv"));
  std::ofstream(Path("text.mp4")) << "not a video";
  std::ofstream(Path("cut.mkv"), std::ios::binary) << clip.substr(0, clip.size() * 2 / 3);
  ASSERT_TRUE(Shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=320x180 -frames:v 0 -c:v ffv1 " +
                    Path("zero.mkv")));
  // A frame size beyond the limits, declared by a stream's header alone.
  std::ofstream(Path("wide.y4m"), std::ios::binary) << "YUV4MPEG2 W70000 H2 F25:1 Ip A1:1 C444\nFRAME\n"
                                                    << std::string(70000 * 2 * 3, '\x80');
  // An AVI whose video is tagged with a codec nobody knows.
  ASSERT_TRUE(Shell("ffmpeg -v error -y -i " + Clip("clip.mkv") + " -an -c:v copy " + Path("known.avi")));
  std::string avi = ReadBytes(Path("known.avi"));
  for (std::size_t at = avi.find("FFV1"); at != std::string::npos; at = avi.find("FFV1", at))
    avi.replace(at, 4, "QQQQ");
  std::ofstream(Path("unknown.avi"), std::ios::binary) << avi;
  struct Case {
    std::string in, says;
  } cases[] = {
      {"text.mp4", "cannot be read"}, {"cut.mkv", "truncated"},   {"zero.mkv", "no video frames"},
      {"wide.y4m", "size limits"},    {"unknown.avi", "decoder"}, {"missing.mkv", "cannot be read"},
  };
  for (const Case& c : cases)
    for (const std::string out : {"o.mp4", "o_%d.png"}) {
      const CliRun r = Cli({"video", Path(c.in), "-o", Path(out)});
      EXPECT_EQ(r.code, kExitFailed) << c.in;
      EXPECT_NE(r.err.find(Path(c.in)), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
      for (const std::string& name : FilesIn(dir_))
        EXPECT_TRUE(name.find(".part") == std::string::npos && name.rfind("o", 0) != 0)
            << c.in << ": " << name;
    }
}

// A bad command line or recipe is refused before any work, naming the key.
TEST_F(VideoTest, BadOptionsAndRecipesExitWithTwo) {
  struct Case {
    std::string recipe, says;
  } recipes[] = {
      {R"({"keyframes": [{"frame": 0, "angle": 120}]})", "keyframes[0].angle"},
      {R"({"keyframes": [{"frame": 0, "blur": 2.5}]})", "keyframes[0].blur"},
      {R"({"keyframes": [{"frame": 0}, {"frame": 10, "tilt": 3}]})", "keyframes[1].tilt"},
      {R"({"keyframes": [{"frame": 5}, {"frame": 5}]})", "keyframes[1]"},
      {R"({"keyframes": [{"frame": 0}, {"time": 1.0}]})", "keyframes[1].time"},
      {R"({"keyframes": [{"frame": 0}, {"frame": 9, "point": [1, 2]}]})", "keyframes[0].point"},
      {R"({"keyframes": [{"frame": 0, "point": [1]}]})", "keyframes[0].point"},
      {R"({"ease": "bounce", "keyframes": [{"frame": 0}]})", "ease"},
      {R"({"keyframes": []})", "keyframes"},
      {R"({"keyframes": [{"frame": 0, "slope": "steep"}]})", "keyframes[0].slope"},
      {R"({"keyframes": [)", "not valid JSON"},
  };
  for (const Case& c : recipes) {
    std::ofstream(Path("r.json")) << c.recipe;
    for (const std::string sub : {"video", "miniature"}) {
      const CliRun r = Cli({sub, Clip("clip.mkv"), "-o", Path("o.mkv"), "--recipe", Path("r.json")});
      EXPECT_EQ(r.code, kExitUsage) << c.recipe;
      EXPECT_NE(r.err.find(c.says), std::string::npos) << c.recipe << " -> " << r.err;
    }
  }
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--frames", "9-3"},
                                             {"--frames", "x"},
                                             {"--speed", "0.5"},
                                             {"--every", "0"},
                                             {"--angle", "91"},
                                             {"--start", "2", "--end", "1"},
                                             {"--preset", "sluggish"},
                                             {"--point", "1"}}) {
    std::vector<std::string> args = {"video", Clip("clip.mkv"), "-o", Path("o.mkv")};
    args.insert(args.end(), bad.begin(), bad.end());
    EXPECT_EQ(Cli(args).code, kExitUsage) << bad[0] << " " << bad[1];
  }
  EXPECT_FALSE(fs::exists(Path("o.mkv")));
}
