// Writing and reading back: BMP and PNG are lossless, JPEG is written at
// quality 90 with libjpeg's standard tables and 4:2:0 sampling, GIF keeps
// at most 256 colours close to the original. Saving is all or nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <string>

// jpeglib.h needs size_t and FILE first.
#include <jpeglib.h>

#include "codec_test_support.h"

namespace {

TBitmap RoundTrip(const TBitmap& picture, const std::string& path) {
  std::string error;
  EXPECT_TRUE(WritePicture(path, picture, error)) << error;
  TBitmap back;
  EXPECT_TRUE(ReadPicture(path, back, error)) << error;
  return back;
}

// A photo-like picture: smooth shading plus a little fixed noise.
TBitmap PhotoLike(int w, int h) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> noise(-6, 6);
  return MakePicture(w, h, [&](int x, int y) {
    auto c = [&](int v) { return std::clamp(v + noise(rng), 0, 255); };
    return Rgb{c(255 * x / w), c(255 * y / h), c(128 + 100 * (x - y) / (w + h))};
  });
}

// The tables of the JPEG standard (Annex K), natural order.
const unsigned kLuminance[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                 14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                 18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const unsigned kChrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                   24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                   99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                   99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Quality 90 scales the tables by 200 - 2 * 90 = 20 percent.
unsigned Scaled90(unsigned base) {
  return std::clamp((base * 20 + 50) / 100, 1u, 255u);
}

}  // namespace

TEST(RoundTrip, BmpAndPngAreLossless) {
  ScratchDir dir;
  const int sizes[][2] = {{1, 1}, {2, 3}, {3, 2}, {17, 5}, {33, 31}, {64, 1}};
  for (const char* ext : {".bmp", ".png", ".BMP", ".Png"}) {
    for (const auto& s : sizes) {
      const TBitmap picture = RandomPicture(s[0], s[1], std::uint32_t(s[0] * 100 + s[1]));
      const TBitmap back = RoundTrip(picture, dir.Path(std::string("p") + ext));
      EXPECT_TRUE(back == picture) << ext << " " << s[0] << "x" << s[1];
    }
  }
}

TEST(RoundTrip, JpegUsesQuality90BaselineAnd420) {
  ScratchDir dir;
  const TBitmap picture = PhotoLike(96, 64);
  const std::string path = dir.Path("q.JPEG");
  const TBitmap back = RoundTrip(picture, path);
  const Difference d = Compare(back, picture);
  EXPECT_LE(d.mean, 4.0);
  EXPECT_LE(d.max, 40);

  const Bytes data = LoadBytes(path);
  jpeg_decompress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  ASSERT_EQ(jpeg_read_header(&info, TRUE), JPEG_HEADER_OK);
  EXPECT_FALSE(info.progressive_mode);
  EXPECT_EQ(info.jpeg_color_space, JCS_YCbCr);
  ASSERT_EQ(info.num_components, 3);
  EXPECT_EQ(info.comp_info[0].h_samp_factor, 2);
  EXPECT_EQ(info.comp_info[0].v_samp_factor, 2);
  for (int c = 1; c < 3; ++c) {
    EXPECT_EQ(info.comp_info[c].h_samp_factor, 1);
    EXPECT_EQ(info.comp_info[c].v_samp_factor, 1);
  }
  ASSERT_NE(info.quant_tbl_ptrs[0], nullptr);
  ASSERT_NE(info.quant_tbl_ptrs[1], nullptr);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(info.quant_tbl_ptrs[0]->quantval[i], Scaled90(kLuminance[i])) << i;
    EXPECT_EQ(info.quant_tbl_ptrs[1]->quantval[i], Scaled90(kChrominance[i])) << i;
  }
  jpeg_destroy_decompress(&info);
}

// Bounds for libimagequant's palette with dithering: on a photo-like
// picture spanning the whole red-green plane the mean channel error stays
// at most 6; a picture of few colours keeps them exactly.
TEST(RoundTrip, GifKeepsAtMost256ColoursCloseToOriginal) {
  ScratchDir dir;
  const TBitmap picture = PhotoLike(120, 80);
  const TBitmap back = RoundTrip(picture, dir.Path("g.gif"));
  std::set<std::uint32_t> colours;
  for (int y = 0; y < back.Height(); ++y)
    for (int x = 0; x < back.Width(); ++x) {
      const Rgb p = PixelAt(back, x, y);
      colours.insert(std::uint32_t(p.r << 16 | p.g << 8 | p.b));
    }
  EXPECT_LE(colours.size(), 256u);
  const Difference d = Compare(back, picture);
  EXPECT_LE(d.mean, 6.0) << d.mean;

  const TBitmap few = MakePicture(9, 7, [](int x, int y) { return x < 4 ? Rgb{10, 200, 30} : Rgb{x * 20, y, 255}; });
  const Difference f = Compare(RoundTrip(few, dir.Path("few.gif")), few);
  EXPECT_EQ(f.max, 0);
}

TEST(Saving, UnsupportedExtensionWritesNothing) {
  ScratchDir dir;
  const TBitmap picture = SolidPicture(4, 4, {1, 2, 3});
  for (const char* name : {"photo.psd", "photo", "my.png/"}) {
    std::string error;
    EXPECT_FALSE(WritePicture(dir.Path(name), picture, error)) << name;
    EXPECT_NE(error.find(".bmp, .jpg, .jpeg, .gif, .png, .heic"), std::string::npos) << error;
  }
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(Saving, FailedSaveLeavesExistingFileAndNoTemporary) {
  ScratchDir dir;
  struct Case {
    const char* name;
    TBitmap picture;
  };
  // libjpeg refuses sides over 65500, GIF sides over 65535; 8-bit and empty
  // pictures are refused before encoding.
  const Case cases[] = {
      {"wide.jpg", TBitmap(65501, 1, pf24bit)},
      {"wide.gif", TBitmap(70000, 1, pf24bit)},
      {"grey.png", TBitmap(4, 4, pf8bit)},
      {"empty.bmp", TBitmap(0, 0, pf24bit)},
  };
  for (const Case& c : cases) {
    const std::string path = dir.Path(c.name);
    SaveBytes(path, Bytes{'o', 'l', 'd'});
    std::string error;
    EXPECT_FALSE(WritePicture(path, c.picture, error)) << c.name;
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(LoadBytes(path), (Bytes{'o', 'l', 'd'})) << c.name;
  }
  EXPECT_EQ(dir.Entries().size(), std::size(cases));

  std::string error;
  EXPECT_FALSE(WritePicture(dir.Path("missing/x.png"), SolidPicture(2, 2, {0, 0, 0}), error));
  EXPECT_NE(error.find("missing/x.png"), std::string::npos) << error;
}

TEST(Saving, ReplacesExistingFileKeepingItsPermissions) {
  ScratchDir dir;
  const std::string path = dir.Path("keep.bmp");
  SaveBytes(path, Bytes{'o', 'l', 'd'});
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const TBitmap picture = RandomPicture(5, 4, 3);
  std::string error;
  ASSERT_TRUE(WritePicture(path, picture, error)) << error;
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.bmp"});
  TBitmap back;
  ASSERT_TRUE(ReadPicture(path, back, error)) << error;
  EXPECT_TRUE(back == picture);
}

TEST(Reading, FailuresNameTheFileAndKeepThePicture) {
  ScratchDir dir;
  SaveBytes(dir.Path("empty.png"), Bytes{});
  std::filesystem::create_directories(dir.Path("folder.jpg"));
  SaveBytes(dir.Path("photo.psd"), Bytes{'8', 'B', 'P', 'S'});
  struct Case {
    std::string path;
    const char* says;
  };
  const Case cases[] = {
      {dir.Path("missing.png"), "cannot open file"},
      {dir.Path("empty.png"), "file is empty"},
      {dir.Path("folder.jpg"), "not a regular file"},
      {dir.Path("photo.psd"), "supported: .bmp, .jpg, .jpeg, .gif, .png, .heic"},
      {dir.Path("photo"), "no extension"},
  };
  for (const Case& c : cases) {
    TBitmap picture = SolidPicture(2, 2, {9, 8, 7});
    const TBitmap before = picture;
    std::string error;
    EXPECT_FALSE(ReadPicture(c.path, picture, error)) << c.path;
    EXPECT_TRUE(picture == before) << c.path;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_NE(error.find(c.path), std::string::npos) << error;
  }
}

// CMYK and YCCK files made here with libjpeg: with an Adobe marker the
// values are stored inverted (Adobe's way), without one as plain ink.
TEST(Reading, CmykAndYcckJpegsComeBackAsRgb) {
  ScratchDir dir;
  const TBitmap picture = PhotoLike(48, 32);
  struct Case {
    const char* name;
    J_COLOR_SPACE space;
    bool adobe;
  };
  for (const Case& c : {Case{"ycck.jpg", JCS_YCCK, true}, Case{"cmyk_adobe.jpg", JCS_CMYK, true},
                        Case{"cmyk_plain.jpg", JCS_CMYK, false}}) {
    std::vector<unsigned char> cmyk(std::size_t(picture.Width()) * 4);
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(picture.Width());
    info.image_height = JDIMENSION(picture.Height());
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, c.space);
    info.write_Adobe_marker = c.adobe;
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < picture.Height(); ++y) {
      for (int x = 0; x < picture.Width(); ++x) {
        const Rgb p = PixelAt(picture, x, y);
        // No black ink; inverted storage keeps the RGB values themselves.
        const unsigned char v[4] = {std::uint8_t(p.r), std::uint8_t(p.g), std::uint8_t(p.b), 255};
        for (int k = 0; k < 4; ++k) cmyk[std::size_t(x) * 4 + k] = c.adobe ? v[k] : std::uint8_t(255 - v[k]);
      }
      JSAMPROW row = cmyk.data();
      jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    SaveBytes(dir.Path(c.name), Bytes(buffer, buffer + size));
    jpeg_destroy_compress(&info);
    std::free(buffer);

    TBitmap back;
    std::string error;
    ASSERT_TRUE(ReadPicture(dir.Path(c.name), back, error)) << error;
    const Difference d = Compare(back, picture);
    EXPECT_LE(d.mean, 3.0) << c.name;
    EXPECT_LE(d.max, 30) << c.name;
  }
}
