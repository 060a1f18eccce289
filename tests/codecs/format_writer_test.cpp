// The HEIF, AVIF, WebP, TIFF and JPEG XL writers: what they write reads
// back (through our readers and through the format's own decoder), the
// quality reaches the encoder, metadata goes along or is stripped, and a
// HEIF stored turned (irot) opens upright.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cstdlib>
#include <exiv2/exiv2.hpp>
#include <filesystem>

#include "codec_test_support.h"

namespace {

// Smooth shading, as most of a photograph is.
TBitmap Photo(int w, int h) {
  return MakePicture(w, h, [](int x, int y) {
    return Rgb{(3 * x + 2 * y) % 256, (5 * y) % 256, std::max(0, 255 - 3 * x - y)};
  });
}

bool Write(const std::string& path, const TBitmap& picture, int quality = 90,
           const TPictureMetadata* metadata = nullptr) {
  std::string error;
  std::vector<std::string> warnings;
  TWriteOptions options;
  options.jpegQuality = quality;
  options.metadata = metadata;
  const bool ok = WritePicture(path, picture, options, error, &warnings);
  EXPECT_TRUE(ok) << error;
  return ok;
}

TBitmap ReadBack(const std::string& path, TPictureMetadata* meta = nullptr) {
  TBitmap picture;
  std::string error;
  EXPECT_TRUE(ReadPicture(path, picture, meta, error, nullptr)) << error;
  return picture;
}

int RunQuietly(const std::string& command) {
  return std::system((command + " > /dev/null 2>&1").c_str());
}

std::string ExifText(const std::vector<std::uint8_t>& blob, const char* key) {
  Exiv2::ExifData exif;
  if (!blob.empty()) Exiv2::ExifParser::decode(exif, blob.data(), uint32_t(blob.size()));
  const auto it = exif.findKey(Exiv2::ExifKey(key));
  return it == exif.end() ? "<none>" : it->toString();
}

struct Writer {
  const char* ext;
  double meanBound;  // mean channel error at quality 90
  const char* tool;  // decodes "IN" to the PNG "OUT"
};
const Writer kWriters[] = {
    {".webp", 2.5, "dwebp IN -o OUT"},     {".avif", 2.5, "heif-convert IN OUT"},
    {".heic", 2.5, "heif-convert IN OUT"}, {".tif", 0, "tiff2rgba -c none IN OUT.tif && convert OUT.tif OUT"},
    {".jxl", 2.5, "djxl IN OUT"},
};

std::string Command(const char* tool, const std::string& in, const std::string& out) {
  std::string c = tool;
  for (const auto& [key, value] : {std::pair<std::string, std::string>{"IN", in}, {"OUT", out}})
    for (std::size_t at; (at = c.find(key)) != std::string::npos;)
      c.replace(at, key.size(), "'" + value + "'");
  return c;
}

}  // namespace

TEST(FormatWriters, RoundTripThroughOurReaderAndTheLibraryTool) {
  ScratchDir dir;
  const TBitmap picture = Photo(67, 45);  // odd sizes: chroma subsampling edges
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.ext);
    const std::string path = dir.Path(std::string("out") + w.ext), png = dir.Path("tool.png");
    ASSERT_TRUE(Write(path, picture));
    const TBitmap back = ReadBack(path);
    ASSERT_EQ(back.Width(), 67);
    ASSERT_EQ(back.Height(), 45);
    const Difference d = Compare(back, picture);
    EXPECT_LE(d.mean, w.meanBound);
    if (w.meanBound == 0) {
      EXPECT_EQ(d.max, 0);
    }
    // The format's own decoder reads the file to the same pixels.
    ASSERT_EQ(RunQuietly(Command(w.tool, path, png)), 0) << Command(w.tool, path, png);
    EXPECT_LE(Compare(ReadBack(png), back).max, w.meanBound == 0 ? 0 : 1);
  }
  // A picture large enough for the JPEG XL reader and writer to use threads.
  const TBitmap large = Photo(1200, 1000);
  ASSERT_TRUE(Write(dir.Path("large.jxl"), large));
  EXPECT_LE(Compare(ReadBack(dir.Path("large.jxl")), large).mean, 5.0);  // its shading wraps: sharp edges
  // JPEG XL at quality 100 is lossless.
  ASSERT_TRUE(Write(dir.Path("q100.jxl"), picture, 100));
  EXPECT_EQ(Compare(ReadBack(dir.Path("q100.jxl")), picture).max, 0);
}

TEST(FormatWriters, QualityReachesTheEncoder) {
  ScratchDir dir;
  const TBitmap picture = RandomPicture(64, 48, 3);
  for (const Writer& w : kWriters) {
    if (w.meanBound == 0) continue;  // TIFF is lossless
    SCOPED_TRACE(w.ext);
    const std::string low = dir.Path(std::string("low") + w.ext),
                      high = dir.Path(std::string("high") + w.ext);
    ASSERT_TRUE(Write(low, picture, 20));
    ASSERT_TRUE(Write(high, picture, 95));
    EXPECT_LT(std::filesystem::file_size(low), std::filesystem::file_size(high));
    EXPECT_LT(Compare(ReadBack(high), picture).mean, Compare(ReadBack(low), picture).mean);
  }
}

TEST(FormatWriters, MetadataIsKeptAndStripped) {
  ScratchDir dir;
  const std::string fixtures = TESSARIN_FORMAT_FIXTURES;
  const Bytes p3 = LoadBytes(fixtures + "/p3.icc");
  ASSERT_FALSE(p3.empty());
  // The phone's photo: a HEIC with camera.jpg's EXIF and a P3 profile; all
  // of it comes through to a JPEG.
  TPictureMetadata heicMeta;
  const TBitmap phone = ReadBack(fixtures + "/phone.heic", &heicMeta);
  EXPECT_EQ(ExifText(heicMeta.exif, "Exif.Image.Model"), "Tessarin Test Camera");
  EXPECT_EQ(heicMeta.icc, p3);
  ASSERT_TRUE(Write(dir.Path("phone.jpg"), phone, 90, &heicMeta));
  TPictureMetadata saved;
  ReadBack(dir.Path("phone.jpg"), &saved);
  EXPECT_EQ(ExifText(saved.exif, "Exif.Image.Model"), "Tessarin Test Camera");
  EXPECT_EQ(ExifText(saved.exif, "Exif.Photo.DateTimeOriginal"), "2024:05:01 10:20:30");
  EXPECT_NE(ExifText(saved.exif, "Exif.GPSInfo.GPSLatitude"), "<none>");
  EXPECT_EQ(saved.icc, p3);

  // Each new writer carries EXIF, XMP and the profile, or nothing when
  // the metadata is stripped.
  TPictureMetadata meta;
  ReadBack(FixturePath("metadata/camera.jpg"), &meta);
  meta.icc = p3;
  const TBitmap picture = Photo(32, 24);
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.ext);
    const std::string kept = dir.Path(std::string("kept") + w.ext),
                      bare = dir.Path(std::string("bare") + w.ext);
    ASSERT_TRUE(Write(kept, picture, 90, &meta));
    ASSERT_TRUE(Write(bare, picture, 90, nullptr));
    TPictureMetadata back, none;
    ReadBack(kept, &back);
    ReadBack(bare, &none);
    EXPECT_EQ(ExifText(back.exif, "Exif.Image.Model"), "Tessarin Test Camera");
    EXPECT_EQ(ExifText(back.exif, "Exif.Photo.PixelXDimension"), "32");
    EXPECT_NE(back.xmp.find("Boats at dusk"), std::string::npos);
    EXPECT_EQ(back.icc, p3);
    EXPECT_TRUE(none.Empty());
  }
}

// A portrait HEIF as a phone stores it: landscape pixels and an irot box
// that turns them a quarter clockwise. libheif writes the box here.
TEST(FormatWriters, RotatedHeifOpensUpright) {
  ScratchDir dir;
  // Upright 24 x 40: red top half, blue bottom half, a green top-left corner.
  const TBitmap upright = MakePicture(24, 40, [](int x, int y) {
    return x < 8 && y < 8 ? Rgb{0, 255, 0} : y < 20 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
  });
  // Stored turned a quarter counter-clockwise: 40 x 24.
  heif_context* ctx = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  ASSERT_EQ(heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code, heif_error_Ok);
  heif_encoder_set_lossy_quality(encoder, 95);
  heif_image* image = nullptr;
  heif_image_create(40, 24, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
  heif_image_add_plane(image, heif_channel_interleaved, 40, 24, 8);
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int sy = 0; sy < 24; ++sy)
    for (int sx = 0; sx < 40; ++sx) {
      const Rgb c = PixelAt(upright, 23 - sy, sx);  // stored (sx, sy) shows at (23 - sy, sx)
      std::uint8_t* p = plane + sy * stride + 3 * sx;
      p[0] = std::uint8_t(c.r), p[1] = std::uint8_t(c.g), p[2] = std::uint8_t(c.b);
    }
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = heif_orientation_rotate_90_cw;
  ASSERT_EQ(heif_context_encode_image(ctx, image, encoder, options, nullptr).code, heif_error_Ok);
  ASSERT_EQ(heif_context_write_to_file(ctx, dir.Path("portrait.heic").c_str()).code, heif_error_Ok);
  heif_encoding_options_free(options);
  heif_image_release(image);
  heif_encoder_release(encoder);
  heif_context_free(ctx);

  const TBitmap back = ReadBack(dir.Path("portrait.heic"));
  ASSERT_EQ(back.Width(), 24);
  ASSERT_EQ(back.Height(), 40);
  EXPECT_LT(Compare(back, upright).mean, 4.0);
}
