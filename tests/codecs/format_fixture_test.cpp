// The HEIF, AVIF, WebP, TIFF and JPEG XL readers against files made by
// Debian's own encoders (make_format_fixtures.sh), compared with what the
// format's own decoder (heif-convert, dwebp, tiff2rgba, djxl) made of the
// same file, or with the source picture where the file is lossless. 16-bit
// sources are compared with a rounding worked out here from the PNM files.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "codec_test_support.h"

namespace {

std::string Fixture(const std::string& name) {
  return std::string(TESSARIN_FORMAT_FIXTURES) + "/" + name;
}

TBitmap Read(const std::string& path) {
  TBitmap picture;
  std::string error;
  EXPECT_TRUE(ReadPicture(path, picture, error)) << error;
  return picture;
}

// A binary PPM or PGM (maxval 255 or 65535) brought to 8 bits by rounding
// v * 255 / maxval to the nearest: the reference for the 16-bit readers.
TBitmap ReadPnmRounded(const std::string& path) {
  const Bytes data = LoadBytes(path);
  std::istringstream head(
      std::string(data.begin(), data.begin() + std::ptrdiff_t(std::min<std::size_t>(data.size(), 64))));
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  head >> magic >> w >> h >> maxval;
  const std::size_t start = std::size_t(head.tellg()) + 1;
  const int channels = magic == "P6" ? 3 : 1, bytes = maxval > 255 ? 2 : 1;
  TBitmap picture(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int c[3];
      for (int k = 0; k < channels; ++k) {
        const std::size_t at = start + (std::size_t(y * w + x) * channels + k) * bytes;
        const unsigned v = bytes == 2 ? unsigned(data[at] << 8 | data[at + 1]) : data[at];
        c[k] = int((v * 255 + unsigned(maxval) / 2) / unsigned(maxval));
      }
      if (channels == 1) c[1] = c[2] = c[0];
      SetPixel(picture, x, y, Rgb{c[0], c[1], c[2]});
    }
  return picture;
}

}  // namespace

TEST(FormatFixtures, EachReaderGivesItsLibraryDecodersPixels) {
  struct Case {
    const char* file;
    const char* reference;  // a PNG read by the PNG reader
    int maxDiff;
  };
  const Case cases[] = {
      // Lossy files against the same library's decoder: exact.
      {"heic.heic", "heic.ref.png", 0},
      {"heic_alpha.heic", "heic_alpha.ref.png", 0},
      // Its alpha refers to two pictures, as phones' gain maps do.
      {"aux_refs.heic", "aux_refs.ref.png", 0},
      // Grids, decoded tile by tile: partial tiles, turns and mirrors.
      {"grid.heic", "grid.ref.png", 0},
      {"grid10.heic", "grid10.ref.png", 1},
      {"grid_r1.heic", "grid_r1.ref.png", 0},
      {"grid_r2m0.heic", "grid_r2m0.ref.png", 0},
      {"grid_r3m1.heic", "grid_r3m1.ref.png", 0},
      {"grid_m1.heic", "grid_m1.ref.png", 0},
      {"avif.avif", "avif.ref.png", 0},
      {"avifenc8.avif", "avifenc8.ref.png", 0},
      // 10 bits: ours rounds from 10 bits, the reference from heif-convert's 16.
      {"avifenc10.avif", "avifenc10.ref.png", 1},
      {"lossy.webp", "lossy.ref.png", 0},
      {"lossy_alpha.webp", "lossy_alpha.ref.png", 0},
      {"anim.webp", "anim.ref.png", 0},
      {"lossy.jxl", "lossy_jxl.ref.png", 0},
      {"palette.tif", "palette.ref.png", 0},
      {"cmyk.tif", "cmyk.ref.png", 0},
      // tiff2rgba multiplies alpha in; the PNG reference divides it out again.
      {"alpha.tif", "alpha.ref.png", 1},
      // Lossless files against their source.
      {"lossless.webp", "src.png", 0},
      {"alpha.webp", "alpha.png", 0},
      {"lossless.jxl", "src.png", 0},
      {"alpha.jxl", "alpha.png", 0},
      {"rgb8.tif", "src.png", 0},
      {"tiled.tif", "src.png", 0},
      {"grey8.tif", "grey.png", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const TBitmap ours = Read(Fixture(c.file)), theirs = Read(Fixture(c.reference));
    ASSERT_EQ(ours.Width(), theirs.Width());
    ASSERT_EQ(ours.Height(), theirs.Height());
    EXPECT_LE(Compare(ours, theirs).max, c.maxDiff);
  }
  // The animation's first frame is the source, not the negated second.
  EXPECT_EQ(Compare(Read(Fixture("anim.webp")), Read(Fixture("src.png"))).max, 0);
}

TEST(FormatFixtures, SixteenBitChannelsAreRoundedNotCut) {
  // deep.ppm holds 0x00FF (rounds to 1, its high byte is 0) and 0xFF00
  // (rounds to 254, its high byte is 255).
  const TBitmap expected = ReadPnmRounded(Fixture("deep.ppm"));
  ASSERT_EQ(PixelAt(expected, 0, 0).b, 254);
  ASSERT_EQ(PixelAt(expected, 1, 0).b, 1);
  for (const char* file : {"deep.png", "deep16.tif"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(Compare(Read(Fixture(file)), expected).max, 0);
  }
  const TBitmap grey = ReadPnmRounded(Fixture("grey16.pgm"));
  for (const char* file : {"grey16.tif", "grey16_tiled.tif"}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(Compare(Read(Fixture(file)), grey).max, 0);
  }
}

TEST(FormatFixtures, OrientationIsAppliedOnceAndOnlyOnce) {
  // A TIFF stored with orientation 6 (turn a quarter clockwise to view).
  const TBitmap src = Read(Fixture("src.png"));
  const TBitmap turned = Read(Fixture("orient6.tif"));
  ASSERT_EQ(turned.Width(), src.Height());
  ASSERT_EQ(turned.Height(), src.Width());
  bool same = true;
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x)
      same &= PixelAt(turned, src.Height() - 1 - y, x) == PixelAt(src, x, y);
  EXPECT_TRUE(same);
  // A HEIF turns by its own irot and imir boxes alone: heif-enc made
  // orient6.jpg's EXIF orientation 6 an irot box and kept the EXIF tag as
  // well, and the reader must show it as libheif does, not turned again.
  const TBitmap heic = Read(Fixture("orient6.heic"));
  EXPECT_EQ(Compare(heic, Read(Fixture("orient6.ref.png"))).max, 0);
  EXPECT_EQ(heic.Width(), 48);
}
