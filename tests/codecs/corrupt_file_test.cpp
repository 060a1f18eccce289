// Damaged files: truncated, bit-flipped, all zeros, and with absurd
// declared sizes. Every case is refused with a message naming the file, or
// (for bit flips that still form a valid file) decodes cleanly; the
// caller's picture is never touched by a failed read. Run under the
// sanitizers too.
#include <gtest/gtest.h>

#include <string>

#include "codec_test_support.h"

namespace {

const TBitmap kPicture = RandomPicture(37, 23, 11);
const char* const kExtensions[] = {".bmp", ".jpg", ".png", ".gif"};

Bytes Encoded(const ScratchDir& dir, const std::string& ext) {
  std::string error;
  const std::string path = dir.Path("good" + ext);
  EXPECT_TRUE(WritePicture(path, kPicture, error)) << error;
  return LoadBytes(path);
}

// Reads `data` saved as `name`; returns whether it decoded, and checks the
// failure contract otherwise.
bool ReadsBack(const ScratchDir& dir, const std::string& name, const Bytes& data,
               std::string* message = nullptr) {
  const std::string path = dir.Path(name);
  SaveBytes(path, data);
  TBitmap picture = SolidPicture(2, 1, {1, 2, 3});
  const TBitmap before = picture;
  std::string error;
  if (ReadPicture(path, picture, error)) {
    EXPECT_EQ(picture.PixelFormat(), pf24bit);
    EXPECT_GT(picture.Width(), 0);
    return true;
  }
  EXPECT_TRUE(picture == before) << name;
  EXPECT_NE(error.find(path), std::string::npos) << error;
  if (message) *message = error;
  return false;
}

// Position of the first SOFn marker's frame header in a JPEG.
std::size_t JpegFrameHeader(const Bytes& d) {
  for (std::size_t i = 2; i + 9 < d.size(); ++i)
    if (d[i] == 0xFF && d[i + 1] >= 0xC0 && d[i + 1] <= 0xC2) return i + 4;
  return 0;
}

}  // namespace

TEST(CorruptFiles, TruncatedFilesAreRefused) {
  ScratchDir dir;
  for (const char* ext : kExtensions) {
    const Bytes good = Encoded(dir, ext);
    ASSERT_TRUE(ReadsBack(dir, std::string("whole") + ext, good)) << ext;
    // A GIF whose first frame is complete is read without its trailer byte.
    const std::size_t last = std::string(ext) == ".gif" ? good.size() - 2 : good.size() - 1;
    const std::size_t cuts[] = {1,
                                2,
                                5,
                                8,
                                13,
                                20,
                                33,
                                54,
                                100,
                                good.size() / 3,
                                good.size() / 2,
                                good.size() - 100,
                                good.size() - 20,
                                last};
    for (std::size_t cut : cuts) {
      if (cut == 0 || cut > last) continue;
      const Bytes part(good.begin(), good.begin() + std::ptrdiff_t(cut));
      EXPECT_FALSE(ReadsBack(dir, std::string("cut") + ext, part)) << ext << " cut at " << cut;
    }
  }
}

TEST(CorruptFiles, TruncationIsNamedAsSuch) {
  ScratchDir dir;
  for (const char* ext : kExtensions) {
    const Bytes good = Encoded(dir, ext);
    const Bytes part(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2));
    std::string message;
    EXPECT_FALSE(ReadsBack(dir, std::string("half") + ext, part, &message));
    EXPECT_NE(message.find("truncated"), std::string::npos) << message;
  }
}

TEST(CorruptFiles, BitFlipsNeverCrash) {
  ScratchDir dir;
  std::mt19937 rng(2024);
  for (const char* ext : kExtensions) {
    const Bytes good = Encoded(dir, ext);
    for (int trial = 0; trial < 150; ++trial) {
      Bytes bad = good;
      const int flips = 1 + trial % 4;
      // Half the trials aim at the headers, where sizes and tables live.
      const std::size_t span = trial % 2 ? good.size() : std::min<std::size_t>(good.size(), 64);
      for (int i = 0; i < flips; ++i) bad[rng() % span] ^= std::uint8_t(1u << (rng() % 8));
      ReadsBack(dir, std::string("flip") + ext, bad);
    }
  }
}

TEST(CorruptFiles, ZeroBytesAreRefused) {
  ScratchDir dir;
  for (const char* ext : kExtensions)
    for (std::size_t n : {1, 2, 20, 1000})
      EXPECT_FALSE(ReadsBack(dir, std::string("zeros") + ext, Bytes(n, 0))) << ext << " " << n;
}

TEST(CorruptFiles, AbsurdDeclaredSizesAreRefusedBeforeAllocating) {
  ScratchDir dir;
  const Bytes bmp = Encoded(dir, ".bmp"), png = Encoded(dir, ".png"), gif = Encoded(dir, ".gif"),
              jpg = Encoded(dir, ".jpg");
  struct Case {
    const char* name;
    Bytes data;
    const char* says;
  };
  std::vector<Case> cases;
  auto bmpSize = [&](std::uint32_t w, std::uint32_t h) {
    Bytes d = bmp;
    Put32Le(d, 18, w), Put32Le(d, 22, h);
    return d;
  };
  cases.push_back({"huge_width.bmp", bmpSize(0x7FFFFFFF, 1), "too large"});
  cases.push_back({"side_65536.bmp", bmpSize(65536, 1), "too large"});
  cases.push_back({"min_height.bmp", bmpSize(1, 0x80000000u), "too large"});
  cases.push_back({"square_65535.bmp", bmpSize(65535, 65535), "too large"});
  cases.push_back({"zero_width.bmp", bmpSize(0, 5), "no pixels"});
  cases.push_back({"huge_width.png", PngWithSize(png, 0x7FFFFFFF, 1), ""});  // libpng's own limit
  cases.push_back({"side_65536.png", PngWithSize(png, 65536, 2), "too large"});
  cases.push_back({"square_65535.png", PngWithSize(png, 65535, 65535), "too large"});
  {
    Bytes d = gif;  // logical screen size
    Put16Le(d, 6, 65535), Put16Le(d, 8, 65535);
    cases.push_back({"screen.gif", d, "too large"});
    // Frame size: the image descriptor follows the 256-entry global table.
    d = gif;
    ASSERT_EQ(d[13 + 3 * 256], 0x2C);
    Put16Le(d, 13 + 3 * 256 + 5, 65535), Put16Le(d, 13 + 3 * 256 + 7, 40000);
    cases.push_back({"frame.gif", d, "too large"});
  }
  {
    const std::size_t at = JpegFrameHeader(jpg);
    ASSERT_NE(at, 0u);
    Bytes d = jpg;
    Put16Be(d, at + 1, 60000), Put16Be(d, at + 3, 60000);
    cases.push_back({"square_60000.jpg", d, "too large"});
    d = jpg;
    Put16Be(d, at + 1, 65535), Put16Be(d, at + 3, 65535);
    cases.push_back({"square_65535.jpg", d, "dimension"});  // libjpeg's own limit, 65500
    d = jpg;
    Put16Be(d, at + 1, 0);
    cases.push_back({"zero_height.jpg", d, ""});
  }
  for (const Case& c : cases) {
    std::string message;
    EXPECT_FALSE(ReadsBack(dir, c.name, c.data, &message)) << c.name;
    EXPECT_NE(message.find(c.says), std::string::npos) << c.name << ": " << message;
  }
}

TEST(CorruptFiles, FixtureTruncationsAreRefused) {
  // Decoder paths the written files do not reach: RLE, interlacing,
  // progressive scans, palettes with transparency.
  ScratchDir dir;
  for (const char* name :
       {"bmp8_rle.bmp", "bmp4_rle.bmp", "bmp8_os2.bmp", "png_interlaced.png", "png_palette_trns.png",
        "gif_interlaced.gif", "jpeg_progressive.jpg", "jpeg_cmyk.jpg"}) {
    const Bytes good = LoadBytes(FixturePath(name));
    ASSERT_FALSE(good.empty()) << name;
    const std::string ext = FileExtension(name);
    const std::size_t last = ext == ".gif" ? good.size() - 2 : good.size() - 1;
    for (std::size_t cut : {std::size_t(10), good.size() / 2, good.size() - 5, last}) {
      const Bytes part(good.begin(), good.begin() + std::ptrdiff_t(cut));
      EXPECT_FALSE(ReadsBack(dir, "cut" + ext, part)) << name << " cut at " << cut;
    }
  }
}
