// Colour range and matrix: YUV clips that ffmpeg makes from known colours,
// tagged BT.601 or BT.709, limited or full range, come back as those
// colours; and an H.264 output says in its tags how it was made, so that
// ffmpeg decodes it back to the same colours. Reading the range or matrix
// wrongly moves saturated colours by 10 or more.
#include <gtest/gtest.h>

#include "video_test_support.h"

namespace {

const Rgb kPatches[] = {{200, 30, 40}, {40, 200, 60},   {30, 50, 210},  {230, 220, 40},
                        {30, 30, 30},  {230, 230, 230}, {40, 210, 220}, {210, 40, 200}};

TBitmap PatchPicture() {
  return MakePicture(320, 180, [](int x, int) { return kPatches[x / 40]; });
}

// Each patch's middle pixel within `tolerance` of its colour.
void ExpectPatches(const TBitmap& picture, int tolerance, const std::string& what) {
  for (int i = 0; i < 8; ++i) {
    const Rgb got = PixelAt(picture, 40 * i + 20, 90), want = kPatches[i];
    EXPECT_LE(std::abs(got.r - want.r), tolerance) << what << " patch " << i;
    EXPECT_LE(std::abs(got.g - want.g), tolerance) << what << " patch " << i;
    EXPECT_LE(std::abs(got.b - want.b), tolerance) << what << " patch " << i;
  }
}

}  // namespace

using ColourTest = CliFolderTest;

TEST_F(ColourTest, RangeAndMatrixAreReadAndWrittenAsTagged) {
  const std::string patches = Save("patches.png", PatchPicture());
  struct Case {
    const char *matrix, *tag, *range, *probed;
  } cases[] = {
      {"bt601", "smpte170m", "tv", "tv,smpte170m"},
      {"bt601", "smpte170m", "pc", "pc,smpte170m"},
      {"bt709", "bt709", "tv", "tv,bt709"},
      {"bt709", "bt709", "pc", "pc,bt709"},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.matrix) + " " + c.range;
    const std::string clip = Path("p.mkv");
    ASSERT_TRUE(Shell("ffmpeg -v error -y -loop 1 -i " + patches +
                      " -frames:v 2 -vf scale=out_color_matrix=" + c.matrix + ":out_range=" + c.range +
                      ",format=yuv444p -colorspace " + c.tag + " -color_range " + c.range + " -c:v ffv1 " +
                      clip));
    CliRun r = Cli({"video", clip, "-o", Path("d_%d.png"), "--no-tone", "--blur", "0"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    ExpectPatches(Load(Path("d_0.png")), 2, what + " read");

    r = Cli({"video", clip, "-o", Path("e.mp4"), "--no-tone", "--blur", "0", "--crf", "0", "--preset",
             "ultrafast"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const std::string tags = ShellOutput(
        "ffprobe -v error -show_entries stream=color_range,color_space -of csv=p=0 " + Path("e.mp4"));
    EXPECT_EQ(tags, std::string(c.probed) + "\n") << what;
    ASSERT_TRUE(Shell("ffmpeg -v error -y -i " + Path("e.mp4") + " -frames:v 1 " + Path("e.png")));
    ExpectPatches(Load(Path("e.png")), 3, what + " written");
  }
}
