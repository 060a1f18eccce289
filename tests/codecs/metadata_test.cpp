// Photo metadata: reading what exiftool wrote, damaged blocks, the blocks
// brought up to date for a save, and turning pictures upright.
#include "codecs/metadata.h"

#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>
#include <random>

#include "codec_test_support.h"
#include "codecs/orientation.h"

namespace {

std::string MetaFixture(const std::string& name) {
  return FixturePath("metadata/" + name);
}

Exiv2::ExifData DecodeExif(const std::vector<std::uint8_t>& blob) {
  Exiv2::ExifData exif;
  if (!blob.empty()) Exiv2::ExifParser::decode(exif, blob.data(), uint32_t(blob.size()));
  return exif;
}

std::string ExifText(const Exiv2::ExifData& exif, const char* key) {
  const auto it = exif.findKey(Exiv2::ExifKey(key));
  return it == exif.end() ? "<none>" : it->toString();
}

TPictureMetadata Read(const std::string& name, int* orientation = nullptr) {
  const Bytes file = LoadBytes(MetaFixture(name));
  TPictureMetadata meta;
  int o = 0;
  std::string problem;
  EXPECT_TRUE(ReadMetadata(file, meta, o, problem)) << name << ": " << problem;
  if (orientation) *orientation = o;
  return meta;
}

// Pictures of letters, one pixel each, for the orientation table: the
// letter's code in all three channels.
TBitmap Letters(const std::vector<std::string>& rows) {
  TBitmap bmp(int(rows[0].size()), int(rows.size()), pf24bit);
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      const int c = rows[std::size_t(y)][std::size_t(x)];
      SetPixel(bmp, x, y, {c, c, c});
    }
  return bmp;
}

}  // namespace

TEST(Orientation, EveryValueStandsUpright) {
  // Upright: ABC over DEF. Each stored picture is written out from the EXIF
  // definition of its number: which side of the scene the stored first row
  // and first column lie on.
  const TBitmap upright = Letters({"ABC", "DEF"});
  const struct {
    int orientation;
    std::vector<std::string> stored;
  } cases[] = {
      {1, {"ABC", "DEF"}},      // row 0 top, column 0 left
      {2, {"CBA", "FED"}},      // row 0 top, column 0 right
      {3, {"FED", "CBA"}},      // row 0 bottom, column 0 right
      {4, {"DEF", "ABC"}},      // row 0 bottom, column 0 left
      {5, {"AD", "BE", "CF"}},  // row 0 left, column 0 top
      {6, {"CF", "BE", "AD"}},  // row 0 right, column 0 top
      {7, {"FC", "EB", "DA"}},  // row 0 right, column 0 bottom
      {8, {"DA", "EB", "FC"}},  // row 0 left, column 0 bottom
  };
  for (const auto& c : cases) {
    TBitmap picture = Letters(c.stored);
    ApplyOrientation(picture, c.orientation);
    EXPECT_EQ(picture, upright) << "orientation " << c.orientation;
  }
  TBitmap odd = Letters({"ABC", "DEF"});
  ApplyOrientation(odd, 9);
  EXPECT_EQ(odd, upright);
}

TEST(Metadata, ReadsWhatExiftoolWrote) {
  const Bytes icc = LoadBytes(MetaFixture("profile.icc"));
  for (const char* name : {"camera.jpg", "camera.png"}) {
    SCOPED_TRACE(name);
    int orientation = 0;
    const TPictureMetadata meta = Read(name, &orientation);
    EXPECT_EQ(orientation, 1);
    const Exiv2::ExifData exif = DecodeExif(meta.exif);
    EXPECT_EQ(ExifText(exif, "Exif.Image.Make"), "TestCam");
    EXPECT_EQ(ExifText(exif, "Exif.Image.Model"), "Tessarin Test Camera");
    EXPECT_EQ(ExifText(exif, "Exif.Photo.DateTimeOriginal"), "2024:05:01 10:20:30");
    EXPECT_EQ(ExifText(exif, "Exif.GPSInfo.GPSLatitudeRef"), "N");
    EXPECT_NE(ExifText(exif, "Exif.GPSInfo.GPSLatitude"), "<none>");
    EXPECT_NE(meta.xmp.find("Boats at dusk"), std::string::npos);
    Exiv2::IptcData iptc;
    ASSERT_EQ(Exiv2::IptcParser::decode(iptc, meta.iptc.data(), uint32_t(meta.iptc.size())), 0);
    EXPECT_EQ(iptc["Iptc.Application2.City"].toString(), "Keswick");
    EXPECT_EQ(meta.icc, icc);
  }
}

TEST(Metadata, OrientationOfEveryFixture) {
  for (int n = 1; n <= 8; ++n)
    for (const char* ext : {".jpg", ".png"}) {
      int orientation = 0;
      Read("orient" + std::to_string(n) + ext, &orientation);
      EXPECT_EQ(orientation, n) << n << ext;
    }
}

TEST(Metadata, AFileWithoutAnyIsNoProblem) {
  const Bytes file = LoadBytes(FixturePath("png_rgb.png"));
  TPictureMetadata meta;
  int orientation = 0;
  std::string problem;
  EXPECT_TRUE(ReadMetadata(file, meta, orientation, problem));
  EXPECT_TRUE(meta.Empty());
  EXPECT_EQ(orientation, 1);
}

TEST(Metadata, DamagedExifIsDroppedWhole) {
  for (const char* name : {"damaged-truncated.jpg", "damaged-loop.jpg", "damaged-count.jpg"}) {
    const Bytes file = LoadBytes(MetaFixture(name));
    TPictureMetadata meta;
    meta.xmp = "stale";
    int orientation = 0;
    std::string problem;
    EXPECT_FALSE(ReadMetadata(file, meta, orientation, problem)) << name;
    EXPECT_TRUE(meta.Empty()) << name;
    EXPECT_EQ(orientation, 1) << name;
    EXPECT_FALSE(problem.empty()) << name;
  }
}

TEST(Metadata, DamagedFilesNeverCrash) {
  // Bytes flipped all over a file with every kind of block: whatever comes
  // back, the reader returns (the sanitizer build checks the rest).
  const Bytes original = LoadBytes(MetaFixture("camera.jpg"));
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    Bytes file = original;
    const int flips = 1 + int(rng() % 8);
    for (int f = 0; f < flips; ++f) file[rng() % file.size()] ^= std::uint8_t(1 + rng() % 255);
    if (trial % 3 == 0) file.resize(rng() % file.size());
    TPictureMetadata meta;
    int orientation = 0;
    std::string problem;
    ReadMetadata(file, meta, orientation, problem);
    EXPECT_TRUE(orientation >= 1 && orientation <= 8);
  }
}

TEST(Metadata, PreparedForASaveOfTheNewSize) {
  const TPictureMetadata meta = Read("camera.jpg");
  ASSERT_NE(ExifText(DecodeExif(meta.exif), "Exif.Thumbnail.JPEGInterchangeFormat"), "<none>");
  std::string problem;
  const TSaveMetadata save = PrepareMetadata(meta, 320, 200, problem);
  EXPECT_EQ(problem, "");
  const Exiv2::ExifData exif = DecodeExif(save.exif);
  EXPECT_EQ(ExifText(exif, "Exif.Image.Orientation"), "1");
  EXPECT_EQ(ExifText(exif, "Exif.Image.Software"), "Tessarin");
  EXPECT_EQ(ExifText(exif, "Exif.Photo.PixelXDimension"), "320");
  EXPECT_EQ(ExifText(exif, "Exif.Photo.PixelYDimension"), "200");
  EXPECT_EQ(ExifText(exif, "Exif.Thumbnail.JPEGInterchangeFormat"), "<none>");
  EXPECT_EQ(ExifText(exif, "Exif.Image.Make"), "TestCam");
  EXPECT_EQ(ExifText(exif, "Exif.Photo.DateTimeOriginal"), "2024:05:01 10:20:30");
  EXPECT_EQ(ExifText(exif, "Exif.GPSInfo.GPSLongitudeRef"), "E");
  // Nothing in the XMP, the IPTC or the profile needs changing: byte for byte.
  EXPECT_EQ(save.xmp, meta.xmp);
  EXPECT_EQ(save.iptc, meta.iptc);
  EXPECT_EQ(save.icc, meta.icc);
}

TEST(Metadata, XmpThatStatesAnOrientationIsBroughtUpToDate) {
  TPictureMetadata meta;
  meta.xmp =
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
      "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
      "<rdf:Description rdf:about=\"\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" "
      "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" tiff:Orientation=\"6\" exif:PixelXDimension=\"4000\"/>"
      "</rdf:RDF></x:xmpmeta>";
  std::string problem;
  const TSaveMetadata save = PrepareMetadata(meta, 30, 40, problem);
  EXPECT_EQ(problem, "");
  Exiv2::XmpData xmp;
  ASSERT_EQ(Exiv2::XmpParser::decode(xmp, save.xmp), 0);
  EXPECT_EQ(xmp["Xmp.tiff.Orientation"].toString(), "1");
  EXPECT_EQ(xmp["Xmp.exif.PixelXDimension"].toString(), "30");
  EXPECT_TRUE(save.exif.empty());  // none was read, none is made up
}

TEST(Metadata, EveryBlockThatCannotBeKeptIsNamed) {
  TPictureMetadata meta;
  meta.exif = {'M', 'M', 0, 42, 0xFF, 0xFF, 0xFF, 0xF0};  // first directory far past the end
  meta.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF";  // cut short
  std::string problem;
  const TSaveMetadata save = PrepareMetadata(meta, 30, 40, problem);
  EXPECT_NE(problem.find("EXIF: "), std::string::npos) << problem;
  EXPECT_NE(problem.find("XMP: "), std::string::npos) << problem;
  EXPECT_TRUE(save.exif.empty());
  EXPECT_TRUE(save.xmp.empty());
}

TEST(Metadata, IptcBlocksForJpegAndPng) {
  const TPictureMetadata meta = Read("camera.jpg");
  const std::vector<std::uint8_t> block = IptcPhotoshopBlock(meta.iptc);
  ASSERT_GE(block.size(), 12u);
  EXPECT_EQ(std::string(block.begin(), block.begin() + 4), "8BIM");
  EXPECT_EQ(block[4] * 256 + block[5], 0x0404);  // the IPTC resource
  const std::string profile = IptcRawProfile({0x1c, 0x02, 0xab});
  EXPECT_EQ(profile, "\niptc\n       3\n1c02ab\n");
}
