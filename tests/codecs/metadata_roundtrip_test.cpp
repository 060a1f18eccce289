// Metadata through whole files: what comes out of a save, read back by
// exiv2 on its own (not through our reader), after a read of what exiftool
// wrote; pictures stood upright as they are read; the coded pixels the same
// with or without metadata.
#include <gtest/gtest.h>

#include <cstring>
#include <exiv2/exiv2.hpp>

#include "codec_test_support.h"
#include "imaging/resample.h"

namespace {

std::string MetaFixture(const std::string& name) {
  return FixturePath("metadata/" + name);
}

// What a file carries, as exiv2 reads it.
struct FileMetadata {
  Exiv2::ExifData exif;
  std::string xmp;
  Exiv2::IptcData iptc;
  Bytes icc;

  std::string Exif(const char* key) const {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    return it == exif.end() ? "<none>" : it->toString();
  }
};

FileMetadata ReadWithExiv2(const std::string& path) {
  FileMetadata m;
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
  image->readMetadata();
  m.exif = image->exifData();
  m.xmp = image->xmpPacket();
  m.iptc = image->iptcData();
  if (image->iccProfileDefined())
    m.icc.assign(image->iccProfile()->pData_, image->iccProfile()->pData_ + image->iccProfile()->size_);
  return m;
}

TBitmap ReadWith(const std::string& path, TPictureMetadata& meta,
                 std::vector<std::string>* warnings = nullptr) {
  TBitmap picture;
  std::string error;
  EXPECT_TRUE(ReadPicture(path, picture, &meta, error, warnings)) << error;
  return picture;
}

void Write(const std::string& path, const TBitmap& picture, const TPictureMetadata* meta, int quality = 90,
           std::vector<std::string>* warnings = nullptr) {
  std::string error;
  ASSERT_TRUE(WritePicture(path, picture, TWriteOptions{quality, meta}, error, warnings)) << error;
}

// An ICC profile of about `size` bytes: profile.icc's header and tag, and a
// copyright tag of text that fills the rest.
Bytes LargeProfile(std::size_t size) {
  const Bytes small = LoadBytes(MetaFixture("profile.icc"));
  const std::size_t tableAt = 128, oldTags = 1;
  const std::size_t oldTableEnd = tableAt + 4 + 12 * oldTags;
  Bytes body(small.begin() + long(oldTableEnd), small.end());  // the desc tag
  Bytes text = {'t', 'e', 'x', 't', 0, 0, 0, 0};
  for (std::size_t i = 0; text.size() < size; ++i) text.push_back(std::uint8_t('a' + i % 26));
  text.push_back(0);
  while (text.size() % 4) text.push_back(0);
  const auto be32 = [](Bytes& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + std::size_t(k)] = std::uint8_t(v >> (24 - 8 * k));
  };
  Bytes profile(small.begin(), small.begin() + long(tableAt));
  const std::size_t tableEnd = tableAt + 4 + 12 * 2;
  profile.resize(tableEnd);
  be32(profile, tableAt, 2);
  const std::uint32_t descAt = std::uint32_t(tableEnd), textAt = std::uint32_t(tableEnd + body.size());
  const char* names[] = {"desc", "cprt"};
  const std::uint32_t offsets[] = {descAt, textAt},
                      sizes[] = {std::uint32_t(body.size()), std::uint32_t(text.size())};
  for (int t = 0; t < 2; ++t) {
    std::memcpy(profile.data() + tableAt + 4 + 12 * t, names[t], 4);
    be32(profile, tableAt + 8 + 12 * std::size_t(t), offsets[t]);
    be32(profile, tableAt + 12 + 12 * std::size_t(t), sizes[t]);
  }
  profile.insert(profile.end(), body.begin(), body.end());
  profile.insert(profile.end(), text.begin(), text.end());
  be32(profile, 0, std::uint32_t(profile.size()));
  return profile;
}

// The bytes of every chunk of one type in a PNG file, in order.
Bytes PngChunks(const Bytes& file, const char* type) {
  Bytes out;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::size_t length = std::size_t(file[at]) << 24 | std::size_t(file[at + 1]) << 16 |
                               std::size_t(file[at + 2]) << 8 | file[at + 3];
    if (std::memcmp(file.data() + at + 4, type, 4) == 0)
      out.insert(out.end(), file.begin() + long(at + 8), file.begin() + long(at + 8 + length));
    at += 12 + length;
  }
  return out;
}

// A JPEG file from its first quantisation table on: the coded picture.
Bytes JpegCodedPicture(const Bytes& file) {
  for (std::size_t at = 2; at + 4 <= file.size();) {
    if (file[at] == 0xFF && file[at + 1] == 0xDB) return Bytes(file.begin() + long(at), file.end());
    at += 2 + (std::size_t(file[at + 2]) << 8 | file[at + 3]);
  }
  return {};
}

}  // namespace

class MetadataThroughFiles : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(MetadataThroughFiles, KeptAndBroughtUpToDate) {
  const auto [from, to] = GetParam();
  ScratchDir dir;
  const FileMetadata source = ReadWithExiv2(MetaFixture(std::string("camera") + from));
  TPictureMetadata meta;
  TBitmap picture = ReadWith(MetaFixture(std::string("camera") + from), meta);
  ASSERT_FALSE(meta.Empty());
  // Made smaller on the way, as a resize would.
  ASSERT_TRUE(BmpResize(picture, 32, 24, rmBilinear));
  const std::string out = dir.Path(std::string("out") + to);
  std::vector<std::string> warnings;
  Write(out, picture, &meta, 90, &warnings);
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  const FileMetadata saved = ReadWithExiv2(out);
  for (const char* key :
       {"Exif.Image.Make", "Exif.Image.Model", "Exif.Image.Copyright", "Exif.Photo.DateTimeOriginal",
        "Exif.GPSInfo.GPSLatitude", "Exif.GPSInfo.GPSLatitudeRef", "Exif.GPSInfo.GPSLongitude",
        "Exif.GPSInfo.GPSLongitudeRef"}) {
    EXPECT_NE(source.Exif(key), "<none>") << key;
    EXPECT_EQ(saved.Exif(key), source.Exif(key)) << key;
  }
  EXPECT_EQ(saved.Exif("Exif.Image.Orientation"), "1");
  EXPECT_EQ(saved.Exif("Exif.Image.Software"), "Tessarin");
  EXPECT_EQ(saved.Exif("Exif.Photo.PixelXDimension"), "32");
  EXPECT_EQ(saved.Exif("Exif.Photo.PixelYDimension"), "24");
  EXPECT_EQ(saved.Exif("Exif.Thumbnail.JPEGInterchangeFormat"), "<none>");
  EXPECT_EQ(saved.xmp, source.xmp);
  EXPECT_EQ(saved.icc, source.icc);
  EXPECT_EQ(saved.icc, LoadBytes(MetaFixture("profile.icc")));
  const auto city = saved.iptc.findKey(Exiv2::IptcKey("Iptc.Application2.City"));
  ASSERT_NE(city, saved.iptc.end());
  EXPECT_EQ(city->toString(), "Keswick");
}

INSTANTIATE_TEST_SUITE_P(Formats, MetadataThroughFiles,
                         ::testing::Values(std::pair{".jpg", ".jpg"}, std::pair{".jpg", ".png"},
                                           std::pair{".png", ".png"}, std::pair{".png", ".jpg"}),
                         [](const auto& info) {
                           return std::string(info.param.first + 1) + "_to_" + (info.param.second + 1);
                         });

TEST(MetadataFiles, EveryOrientationIsReadUpright) {
  ScratchDir dir;
  // The corners of the upright picture, 48 x 32, each a 16 x 16 block.
  const struct {
    int x, y;
    Rgb colour;
  } corners[] = {{8, 8, {255, 0, 0}}, {40, 8, {0, 255, 0}}, {8, 24, {0, 0, 255}}, {40, 24, {255, 255, 255}}};
  for (int n = 1; n <= 8; ++n)
    for (const char* ext : {".png", ".jpg"}) {
      SCOPED_TRACE(std::to_string(n) + ext);
      TPictureMetadata meta;
      const TBitmap picture = ReadWith(MetaFixture("orient" + std::to_string(n) + ext), meta);
      ASSERT_EQ(picture.Width(), 48);
      ASSERT_EQ(picture.Height(), 32);
      for (const auto& c : corners) {
        const Rgb p = PixelAt(picture, c.x, c.y);
        EXPECT_LE(std::abs(p.r - c.colour.r) + std::abs(p.g - c.colour.g) + std::abs(p.b - c.colour.b), 12)
            << c.x << "," << c.y;
      }
      // Saved, it says orientation 1, and reading it again turns nothing.
      const std::string out = dir.Path("upright" + std::string(ext));
      Write(out, picture, &meta);
      EXPECT_EQ(ReadWithExiv2(out).Exif("Exif.Image.Orientation"), "1");
      TPictureMetadata again;
      const TBitmap reread = ReadWith(out, again);
      EXPECT_EQ(reread.Width(), 48);
      if (std::string(ext) == ".png") {
        EXPECT_EQ(reread, picture);
      }
    }
}

// The quick first look at a JPEG: upright, and reduced by the largest of
// 1/2, 1/4, 1/8 that still covers what the picture takes in the box. The
// sizes were worked out by hand for the upright 48 x 32 picture; the box
// 24 x 12 tells upright from stored for the turned files (stored 32 x 48,
// it would take 1/4).
TEST(MetadataFiles, ReducedFirstLookStandsUprightAndCoversTheBox) {
  const struct {
    int boxWidth, boxHeight, width, height;  // 0 x 0: no reduced picture
  } cases[] = {{24, 12, 24, 16}, {12, 8, 12, 8}, {6, 4, 6, 4},
               {3, 2, 6, 4},     {48, 32, 0, 0}, {100, 100, 0, 0}};
  const struct {
    int x, y;
    Rgb colour;
  } corners[] = {{8, 8, {255, 0, 0}}, {40, 8, {0, 255, 0}}, {8, 24, {0, 0, 255}}, {40, 24, {255, 255, 255}}};
  for (int n = 1; n <= 8; ++n)
    for (const auto& c : cases) {
      SCOPED_TRACE("orientation " + std::to_string(n) + ", box " + std::to_string(c.boxWidth) + " x " +
                   std::to_string(c.boxHeight));
      TBitmap reduced;
      const bool made = ReadReducedPicture(MetaFixture("orient" + std::to_string(n) + ".jpg"), c.boxWidth,
                                           c.boxHeight, reduced);
      ASSERT_EQ(made, c.width > 0);
      if (!made) continue;
      ASSERT_EQ(reduced.Width(), c.width);
      ASSERT_EQ(reduced.Height(), c.height);
      for (const auto& k : corners) {
        const Rgb p = PixelAt(reduced, k.x * c.width / 48, k.y * c.height / 32);
        EXPECT_LE(std::abs(p.r - k.colour.r) + std::abs(p.g - k.colour.g) + std::abs(p.b - k.colour.b), 30)
            << k.x << "," << k.y;
      }
    }
  TBitmap untouched;
  EXPECT_FALSE(ReadReducedPicture(MetaFixture("orient6.png"), 6, 4, untouched));
  EXPECT_EQ(untouched.Width(), 0);
}

TEST(MetadataFiles, PixelsAreTheSameWithAndWithoutMetadata) {
  ScratchDir dir;
  TPictureMetadata meta;
  const TBitmap picture = ReadWith(MetaFixture("camera.jpg"), meta);
  const TBitmap photo = RandomPicture(61, 37, 3);
  for (const char* ext : {".jpg", ".png"}) {
    const std::string with = dir.Path(std::string("with") + ext),
                      without = dir.Path(std::string("without") + ext);
    Write(with, photo, &meta);
    Write(without, photo, nullptr);
    const Bytes a = LoadBytes(with), b = LoadBytes(without);
    EXPECT_GT(a.size(), b.size()) << ext;
    if (std::string(ext) == ".jpg") {
      EXPECT_EQ(JpegCodedPicture(a), JpegCodedPicture(b));
    } else {
      EXPECT_EQ(PngChunks(a, "IDAT"), PngChunks(b, "IDAT"));
    }
    // Nothing at all without it.
    const FileMetadata none = ReadWithExiv2(without);
    EXPECT_TRUE(none.exif.empty() && none.xmp.empty() && none.iptc.empty() && none.icc.empty()) << ext;
  }
  (void)picture;
}

TEST(MetadataFiles, BmpAndGifCarryNone) {
  ScratchDir dir;
  TPictureMetadata meta;
  const TBitmap picture = ReadWith(MetaFixture("camera.jpg"), meta);
  for (const char* ext : {".bmp", ".gif"}) {
    const std::string path = dir.Path(std::string("out") + ext);
    Write(path, picture, &meta);
    TPictureMetadata back;
    ReadWith(path, back);
    EXPECT_TRUE(back.Empty()) << ext;
  }
}

TEST(MetadataFiles, LargeColourProfilesSurviveBothFormats) {
  ScratchDir dir;
  TPictureMetadata meta;
  meta.icc = LargeProfile(150000);  // three APP2 segments in a JPEG
  ASSERT_GT(meta.icc.size(), 2u * 65519);
  const TBitmap photo = RandomPicture(20, 10, 4);
  for (const char* ext : {".jpg", ".png"}) {
    const std::string path = dir.Path(std::string("p3") + ext);
    std::vector<std::string> warnings;
    Write(path, photo, &meta, 90, &warnings);
    EXPECT_TRUE(warnings.empty()) << ext;
    EXPECT_EQ(ReadWithExiv2(path).icc, meta.icc) << ext;
    TPictureMetadata back;
    ReadWith(path, back);
    EXPECT_EQ(back.icc, meta.icc) << ext;
  }
}

TEST(MetadataFiles, BlocksTooLargeForJpegAreLeftOutWithAWarning) {
  ScratchDir dir;
  TPictureMetadata meta;
  meta.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">" + std::string(70000, ' ') + "</x:xmpmeta>";
  meta.icc = LoadBytes(MetaFixture("profile.icc"));
  std::vector<std::string> warnings;
  Write(dir.Path("big.jpg"), RandomPicture(8, 8, 5), &meta, 90, &warnings);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("XMP"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("big.jpg"), std::string::npos) << warnings[0];
  const FileMetadata saved = ReadWithExiv2(dir.Path("big.jpg"));
  EXPECT_TRUE(saved.xmp.empty());
  EXPECT_EQ(saved.icc, meta.icc);  // the rest is still there
  // PNG has no such limit.
  warnings.clear();
  Write(dir.Path("big.png"), RandomPicture(8, 8, 5), &meta, 90, &warnings);
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(ReadWithExiv2(dir.Path("big.png")).xmp, meta.xmp);
}

TEST(MetadataFiles, DamagedExifOpensThePictureWithoutMetadata) {
  for (const char* name : {"damaged-truncated.jpg", "damaged-loop.jpg", "damaged-count.jpg"}) {
    SCOPED_TRACE(name);
    TPictureMetadata meta;
    std::vector<std::string> warnings;
    const TBitmap picture = ReadWith(MetaFixture(name), meta, &warnings);
    EXPECT_EQ(picture.Width(), 64);
    EXPECT_TRUE(meta.Empty());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("camera data"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find(name), std::string::npos) << warnings[0];
  }
}

TEST(MetadataFiles, QualityDecidesTheQuantisation) {
  ScratchDir dir;
  const TBitmap photo = RandomPicture(64, 64, 6);
  std::size_t previous = 0;
  for (int q : {10, 50, 90, 100}) {
    const std::string path = dir.Path("q" + std::to_string(q) + ".jpg");
    Write(path, photo, nullptr, q);
    const std::size_t size = LoadBytes(path).size();
    EXPECT_GT(size, previous) << q;
    previous = size;
  }
  std::string error;
  EXPECT_FALSE(WritePicture(dir.Path("q0.jpg"), photo, TWriteOptions{0, nullptr}, error));
  EXPECT_FALSE(WritePicture(dir.Path("q101.jpg"), photo, TWriteOptions{101, nullptr}, error));
}
