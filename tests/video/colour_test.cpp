// Colour range and matrix: YUV clips that ffmpeg makes from known colours,
// tagged BT.601 or BT.709, limited or full range, come back as those
// colours; and an H.264 output says in its tags how it was made, so that
// ffmpeg decodes it back to the same colours. Reading the range or matrix
// wrongly moves saturated colours by 10 or more.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "video/video_internal.h"
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

// A decoded YUV frame is, to the byte, libswscale's accurate full-chroma
// conversion straight to packed BGR, done here on the frame's own planes
// (the reader takes another route to it): catches planes swapped or left
// out, a wrong row stride, a range or matrix not passed on. Random samples
// reach every clipping path; odd sizes the chroma edges.
TEST_F(ColourTest, YuvFramesAreTheAccuratePackedConversion) {
  struct Case {
    AVPixelFormat format;
    int width, height;
    const char *codec, *tag, *range;
    int matrix, full;
  } cases[] = {
      {AV_PIX_FMT_YUV420P, 321, 181, "rawvideo", "bt709", "tv", SWS_CS_ITU709, 0},
      {AV_PIX_FMT_YUV422P10LE, 64, 36, "ffv1", "smpte170m", "pc", SWS_CS_ITU601, 1},
      {AV_PIX_FMT_NV12, 96, 54, "rawvideo", "bt2020nc", "tv", SWS_CS_BT2020, 0},
      {AV_PIX_FMT_YUV444P, 33, 17, "ffv1", "bt709", "pc", SWS_CS_ITU709, 1},
  };
  std::mt19937 random(7);
  for (const Case& c : cases) {
    const char* name = av_get_pix_fmt_name(c.format);
    const int size = av_image_get_buffer_size(c.format, c.width, c.height, 1);
    std::vector<std::uint8_t> raw(std::size_t(size) + 64);
    for (auto& v : raw) v = std::uint8_t(random());
    if (av_pix_fmt_desc_get(c.format)->comp[0].depth > 8)
      for (int i = 1; i < size; i += 2) raw[i] &= 3;  // 10-bit samples, little-endian
    const std::string rawPath = Path("frame.yuv"), clip = Path("frame.mkv");
    std::ofstream(rawPath, std::ios::binary).write(reinterpret_cast<const char*>(raw.data()), size);
    ASSERT_TRUE(Shell("ffmpeg -v error -y -f rawvideo -pix_fmt " + std::string(name) + " -s " +
                      std::to_string(c.width) + "x" + std::to_string(c.height) + " -i " + rawPath + " -c:v " +
                      c.codec + " -colorspace " + c.tag + " -color_range " + c.range + " " + clip))
        << name;

    TBitmap decoded;
    video_internal::OpenVideoSource(clip, 1)->Run(
        [&](std::int64_t, double, std::int64_t, const std::function<void(TBitmap&)>& picture) {
          picture(decoded);
          return false;
        },
        [](video_internal::PacketPtr, double) {});
    ASSERT_EQ(decoded.Width(), c.width) << name;

    std::uint8_t* planes[4];
    int strides[4];
    av_image_fill_arrays(planes, strides, raw.data(), c.format, c.width, c.height, 1);
    video_internal::SwsPtr sws(
        sws_getContext(c.width, c.height, c.format, c.width, c.height, AV_PIX_FMT_BGR24,
                       SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
    sws_setColorspaceDetails(sws.get(), sws_getCoefficients(c.matrix), c.full,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    std::vector<std::uint8_t> expected(std::size_t(c.width) * 3 * c.height + 64);
    std::uint8_t* out[4] = {expected.data(), nullptr, nullptr, nullptr};
    const int outStrides[4] = {c.width * 3, 0, 0, 0};
    sws_scale(sws.get(), planes, strides, 0, c.height, out, outStrides);
    int differing = 0;
    for (int y = 0; y < c.height; ++y)
      differing += std::memcmp(decoded.ScanLine(y), expected.data() + std::size_t(y) * c.width * 3,
                               std::size_t(c.width) * 3) != 0;
    EXPECT_EQ(differing, 0) << name << ": rows that differ";
  }
}
