#include "cli/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/arguments.h"
#include "cli_test_support.h"
#include "codecs/picture_io.h"
#include "engine/miniature_engine.h"
#include "imaging/rotation.h"
#include "support/pictures.h"

namespace fs = std::filesystem;

namespace {

using CliTest = CliFolderTest;

}  // namespace

TEST(CliArguments, ParsesCompoundValues) {
  EXPECT_EQ(ParseSize("640x480")->width, 640);
  EXPECT_EQ(ParseSize("640X480")->height, 480);
  for (const char* bad : {"", "640", "0x480", "640x0", "-1x5", "x5", "5x", "5x5x5", "65536x1", "axb", "5 x5"})
    EXPECT_FALSE(ParseSize(bad)) << bad;
  EXPECT_EQ(*ParsePoint("-10,+20"), (TPoint{-10, 20}));
  for (const char* bad : {"", "1", "1,", ",1", "1;2", "1,2,3", "2000000,0"})
    EXPECT_FALSE(ParsePoint(bad)) << bad;
  EXPECT_EQ(*ParseHexColor("ff8000"), RGBColor(255, 128, 0));
  EXPECT_EQ(*ParseHexColor("#0000FF"), RGBColor(0, 0, 255));
  for (const char* bad : {"", "fff", "gg0000", "ff80001"}) EXPECT_FALSE(ParseHexColor(bad)) << bad;
  EXPECT_EQ(*ParseResizeMode("lanczos"), rmLanczos);
  EXPECT_FALSE(ParseResizeMode("cubic"));
  EXPECT_EQ(FindLookSetting("slope")->ChoiceOf("wide"), int(BlurSlope::Wide));
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  const std::string in = Save("in.png", RandomPicture(8, 8, 1));
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"sharpen", in, Path("o.png")},
      {"miniature", in},
      {"miniature", in, in, "-o", Path("o.png")},
      {"miniature", in, "-o", Path("o.png"), "--out-dir", Path("d")},
      {"miniature", in, "-o", Path("o.png"), "--angle", "91"},
      {"miniature", in, "-o", Path("o.png"), "--depth", "0"},
      {"miniature", in, "-o", Path("o.png"), "--slope", "steep"},
      {"miniature", in, "-o", Path("o.png"), "--point", "here"},
      {"miniature", in, "-o", Path("o.png"), "--view", "0x10"},
      {"miniature", in, "-o", Path("o.png"), "--look", "tilted"},
      {"miniature", in, "-o", Path("o.png"), "--look", "lens", "--aspect", "6"},
      {"miniature", in, "-o", Path("o.png"), "--look", "lens", "--protect", Path("none.png")},
      {"rotate", in, Path("o.png")},
      {"rotate", in, Path("o.png"), "--quarter", "up"},
      {"rotate", in, Path("o.png"), "--quarter", "left", "--angle", "3"},
      {"rotate", in, Path("o.png"), "--angle", "3", "--background", "red"},
      {"resize", in, Path("o.png"), "--size", "0x4"},
      {"resize", in, Path("o.png"), "--size", "4x4", "--method", "cubic"},
      {"blur", in, Path("o.png")},
      {"blur", in, Path("o.png"), "--zone", "0"},
      {"blur", in, Path("o.png"), "--zone", "31"},
      {"tone", in, Path("o.png"), "--contrast", "101"},
      {"guides"},
      {"mask", Path("o.png")},
  };
  for (const auto& args : cases) {
    const CliRun r = Cli(args);
    EXPECT_EQ(r.code, kExitUsage) << (args.empty() ? "(none)" : args[0]) << " " << r.err;
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_FALSE(fs::exists(Path("o.png")));
}

TEST_F(CliTest, EverySubcommandHasHelp) {
  for (const char* sub : {"miniature", "tone", "blur", "rotate", "resize", "overlay", "mask", "guides"}) {
    const CliRun r = Cli({sub, "--help"});
    EXPECT_EQ(r.code, kExitOk) << sub;
    EXPECT_NE(r.out.find("Usage"), std::string::npos) << sub;
  }
  EXPECT_EQ(Cli({"--help"}).code, kExitOk);
}

TEST_F(CliTest, MiniatureMatchesTheEngineExactly) {
  const TBitmap pic = RandomPicture(60, 40, 2);
  const std::string in = Save("in.png", pic);
  const CliRun r =
      Cli({"miniature", in, "-o", Path("out.png"), "--angle", "20", "--blur", "3", "--slope", "wide"});
  ASSERT_EQ(r.code, kExitOk) << r.err;

  MiniatureEngine e;
  e.LoadPicture(pic);
  e.ApplyTone(DefaultSaturation, DefaultContrast, DefaultBrightness);
  e.ApplyMiniature({30, 20}, FocusSettings{60, 40, 20, DefaultDepth, BlurSlope::Wide}, 3);
  EXPECT_EQ(Load(Path("out.png")), e.TargetBMP());

  // The lens look, its pictures and a one-keyframe recipe of it: the engine's bytes.
  const TBitmap wide = RandomPicture(240, 160, 5);
  const std::string lensIn = Save("lens_in.png", wide);
  const std::string protect = Save("protect.png", MakePicture(30, 20, [](int x, int) {
                                     return x < 12 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
                                   }));
  std::ofstream(Path("lens.json")) << R"({"keyframes": [{"frame": 0, "look": "lens", "shape": "ellipse",
      "aspect": 2.5, "bokeh": 70, "blur": 20}]})";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--look", "lens", "--shape", "ellipse", "--aspect", "2.5", "--bokeh", "70", "--blur", "20"},
           {"--recipe", Path("lens.json")}}) {
    std::vector<std::string> all = {"miniature", lensIn, "-o", Path("lens.png"), "--protect", protect};
    all.insert(all.end(), args.begin(), args.end());
    ASSERT_EQ(Cli(all).code, kExitOk) << args[0];
    Look look;
    look.type = LookType::Lens, look.shape = LensShape::Ellipse, look.aspect = 2.5, look.bokeh = 70,
    look.blur = 20;
    e.LoadPicture(wide);
    e.SetProtection(Load(protect));
    e.ApplyLook(look);
    EXPECT_EQ(Load(Path("lens.png")), e.TargetBMP()) << args[0];
  }
  EXPECT_NE(e.TargetBMP(), e.ModifiedBMP());

  // --no-tone with blur 0 gives the picture back.
  ASSERT_EQ(Cli({"miniature", in, "-o", Path("plain.png"), "--no-tone", "--blur", "0"}).code, kExitOk);
  EXPECT_EQ(Load(Path("plain.png")), pic);
}

TEST_F(CliTest, BatchGoesOnPastAFailedFile) {
  const std::string a = Save("a.png", RandomPicture(20, 10, 3));
  const std::string b = Save("b.bmp", RandomPicture(10, 20, 4));
  const CliRun r = Cli({"miniature", a, Path("missing.png"), b, "--out-dir", Path("out")});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("missing.png"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(Path("out/a.png")));
  EXPECT_TRUE(fs::exists(Path("out/b.bmp")));
  EXPECT_FALSE(fs::exists(Path("out/missing.png")));
}

TEST_F(CliTest, RefusedOperationsWriteNothing) {
  const std::string in = Save("in.png", RandomPicture(8, 8, 5));
  const std::vector<std::vector<std::string>> cases = {
      {"tone", Path("nothing.png"), Path("o.png")},
      {"tone", in, Path("o.psd")},
      {"miniature", in, "-o", Path("o.psd")},
      {"rotate", in, Path("o"), "--quarter", "left"},
  };
  for (const auto& args : cases) {
    const CliRun r = Cli(args);
    EXPECT_EQ(r.code, kExitFailed) << args[0] << " " << args.back();
    EXPECT_FALSE(r.err.empty());
    EXPECT_FALSE(fs::exists(Path("o.png")));
  }
}

TEST_F(CliTest, ToolkitSubcommands) {
  const TBitmap pic = RandomPicture(6, 4, 6);
  const std::string in = Save("in.png", pic);

  ASSERT_EQ(Cli({"tone", in, Path("tone.png")}).code, kExitOk);
  EXPECT_EQ(Load(Path("tone.png")), pic);  // defaults of 0 change nothing

  ASSERT_EQ(Cli({"rotate", in, Path("right.png"), "--quarter", "right"}).code, kExitOk);
  TBitmap turned = pic;
  Rotate90(turned, true);
  EXPECT_EQ(Load(Path("right.png")), turned);

  ASSERT_EQ(Cli({"rotate", in, Path("tilt.png"), "--angle", "30", "--background", "ff0000"}).code, kExitOk);
  const TBitmap tilted = Load(Path("tilt.png"));
  EXPECT_EQ(PixelAt(tilted, 0, 0), (Rgb{255, 0, 0}));

  ASSERT_EQ(Cli({"resize", in, Path("big.png"), "--size", "12x8", "--method", "nearest"}).code, kExitOk);
  const TBitmap big = Load(Path("big.png"));
  EXPECT_EQ(big.Width(), 12);
  EXPECT_EQ(PixelAt(big, 0, 0), PixelAt(pic, 0, 0));

  ASSERT_EQ(Cli({"blur", in, Path("blur.png"), "--zone", "1"}).code, kExitOk);
  EXPECT_NE(Load(Path("blur.png")), pic);
}

TEST_F(CliTest, OverlayThroughAGreyMask) {
  const TBitmap dst = SolidPicture(6, 4, {0, 0, 0});
  const TBitmap src = SolidPicture(4, 4, {200, 100, 50});
  const TBitmap mask = MakePicture(4, 4, [](int x, int) {
    return x < 2 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
  });
  const std::string d = Save("d.png", dst), s = Save("s.png", src), m = Save("m.png", mask);
  ASSERT_EQ(Cli({"overlay", d, s, m, Path("o.png"), "--offset", "1,0"}).code, kExitOk);
  const TBitmap out = Load(Path("o.png"));
  EXPECT_EQ(PixelAt(out, 0, 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(PixelAt(out, 1, 0), (Rgb{200, 100, 50}));
  EXPECT_EQ(PixelAt(out, 2, 3), (Rgb{200, 100, 50}));
  EXPECT_EQ(PixelAt(out, 3, 0), (Rgb{0, 0, 0}));
  // A mask smaller than the source is refused.
  const std::string small = Save("small.png", SolidPicture(3, 4, {255, 255, 255}));
  EXPECT_EQ(Cli({"overlay", d, s, small, Path("o2.png")}).code, kExitFailed);
  EXPECT_FALSE(fs::exists(Path("o2.png")));
}

TEST_F(CliTest, MaskAndGuides) {
  ASSERT_EQ(Cli({"mask", Path("mask.png"), "--picture", "400x300"}).code, kExitOk);
  TBitmap want;
  CreateMaskBMP(want, 400, 300, {200, 150}, FocusSettings{400, 300, 0, 50, BlurSlope::Medium});
  const TBitmap got = Load(Path("mask.png"));
  ASSERT_EQ(got.Width(), 400);
  for (int y = 0; y < 300; y += 7) EXPECT_EQ(PixelAt(got, 5, y).g, want.ScanLine(y)[5]) << y;

  const CliRun r = Cli({"guides", "--view", "700x500", "--angle", "45"});
  ASSERT_EQ(r.code, kExitOk);
  EXPECT_EQ(r.out,
            "{\"depth\": 42, \"red\": [0, -100, 700, 600], \"yellowB\": [0, -158, 700, 542], "
            "\"yellowC\": [0, -42, 700, 658]}\n");
}

// Camera data and colour profile go with every output unless --strip; the
// JPEG quality is the one asked for.
TEST_F(CliTest, MetadataIsKeptUnlessStripped) {
  const char* root = std::getenv("TESSARIN_SOURCE_DIR");
  const std::string camera = std::string(root ? root : ".") + "/tests/codecs/fixtures/metadata/camera.jpg";
  TPictureMetadata source;
  TBitmap picture;
  std::string error;
  ASSERT_TRUE(ReadPicture(camera, picture, &source, error, nullptr)) << error;
  ASSERT_FALSE(source.icc.empty());
  const std::vector<std::vector<std::string>> commands = {
      {"miniature", camera, "-o", Path("m.jpg")},
      {"tone", camera, Path("t.png"), "--saturation", "20"},
      {"blur", camera, Path("b.jpg"), "--zone", "2"},
      {"rotate", camera, Path("r.jpg"), "--quarter", "left"},
      {"resize", camera, Path("s.png"), "--size", "32x24"},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    for (bool strip : {false, true}) {
      std::vector<std::string> line = args;
      if (strip) line.push_back("--strip");
      const CliRun run = Cli(line);
      ASSERT_EQ(run.code, 0) << run.err;
      const std::string& out = args[0] == "miniature" ? args[3] : args[2];
      TPictureMetadata written;
      TBitmap result;
      ASSERT_TRUE(ReadPicture(out, result, &written, error, nullptr)) << error;
      if (strip) {
        EXPECT_TRUE(written.Empty());
      } else {
        EXPECT_EQ(written.icc, source.icc);
        EXPECT_EQ(written.xmp, source.xmp);
        EXPECT_FALSE(written.exif.empty());
      }
    }
  }
}

TEST_F(CliTest, JpegQualityIsTheOneAskedFor) {
  const std::string in = Save("in.png", RandomPicture(64, 48, 9));
  std::uintmax_t previous = 0;
  for (const char* q : {"20", "60", "95"}) {
    ASSERT_EQ(Cli({"tone", in, Path(std::string("q") + q + ".jpg"), "--quality", q}).code, 0);
    const std::uintmax_t size = fs::file_size(Path(std::string("q") + q + ".jpg"));
    EXPECT_GT(size, previous) << q;
    previous = size;
  }
  // The default is the window's: quality 90, the same bytes as asked for.
  ASSERT_EQ(Cli({"tone", in, Path("default.jpg")}).code, 0);
  ASSERT_EQ(Cli({"tone", in, Path("q90.jpg"), "--quality", "90"}).code, 0);
  EXPECT_EQ(fs::file_size(Path("default.jpg")), fs::file_size(Path("q90.jpg")));
  for (const char* bad : {"0", "101", "high"}) {
    const CliRun run = Cli({"tone", in, Path("bad.jpg"), "--quality", bad});
    EXPECT_EQ(run.code, 2) << bad;
    EXPECT_FALSE(fs::exists(Path("bad.jpg")));
  }
}
