// Damaged and deceptive files that decode (or once decoded) to a wrong
// picture rather than failing: JPEG data that ends early, JPEGs that are far
// too short for their declared size or have endless scans, BMP alpha, a GIF
// frame that runs past its screen, PNGs too short for their size, and the
// memory budget of every decoder.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "codec_test_support.h"

namespace {

Bytes Encoded(const ScratchDir& dir, const std::string& name, const TBitmap& picture) {
  std::string error;
  EXPECT_TRUE(WritePicture(dir.Path(name), picture, error)) << error;
  return LoadBytes(dir.Path(name));
}

bool Decodes(const Bytes& data, const std::string& name, TBitmap& picture, std::string& error,
             std::vector<std::string>* warnings = nullptr) {
  return DecodePicture(data, "/pictures/" + name, picture, error, warnings);
}

// Positions of the markers FF xx (not stuffed bytes or fill) in a JPEG.
std::vector<std::size_t> Markers(const Bytes& d, std::uint8_t code) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i + 1 < d.size(); ++i)
    if (d[i] == 0xFF && d[i + 1] == code) at.push_back(i);
  return at;
}

}  // namespace

// libjpeg fills the rows after a premature end of the data segment with
// grey and only warns; the picture must be refused like a truncated file.
TEST(DamagedJpeg, DataThatEndsEarlyIsRefused) {
  ScratchDir dir;
  const Bytes good = Encoded(dir, "good.jpg", RandomPicture(64, 48, 1));
  const std::vector<std::size_t> scans = Markers(good, 0xDA);
  ASSERT_EQ(scans.size(), 1u);
  for (double share : {0.1, 0.5, 0.9}) {
    const std::size_t cut = scans[0] + std::size_t(double(good.size() - scans[0]) * share);
    Bytes damaged(good.begin(), good.begin() + std::ptrdiff_t(cut));
    damaged.push_back(0xFF), damaged.push_back(0xD9);  // the end marker right after the cut
    TBitmap picture;
    std::string error;
    EXPECT_FALSE(Decodes(damaged, "cut.jpg", picture, error)) << share;
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    EXPECT_NE(error.find("/pictures/cut.jpg"), std::string::npos) << error;
  }
}

// A small file that declares a huge picture: refused at once as too short,
// before libjpeg takes its whole-picture buffers (progressive) or rows.
TEST(DamagedJpeg, FileFarTooShortForItsDeclaredSizeIsRefusedAtOnce) {
  ScratchDir dir;
  BudgetScope budget(kDefaultDecodeMemoryBudget);
  std::vector<Bytes> files = {Encoded(dir, "small.jpg", RandomPicture(16, 16, 2)),
                              LoadBytes(FixturePath("jpeg_progressive.jpg")),
                              LoadBytes(FixturePath("jpeg_grey.jpg"))};
  for (Bytes& d : files) {
    std::size_t sof = 0;
    for (std::uint8_t code : {0xC0, 0xC1, 0xC2})
      if (!Markers(d, code).empty()) sof = Markers(d, code).front();
    ASSERT_NE(sof, 0u);
    Put16Be(d, sof + 5, 16384), Put16Be(d, sof + 7, 16384);  // height, width
    TBitmap picture;
    std::string error;
    EXPECT_FALSE(Decodes(d, "bomb.jpg", picture, error));
    EXPECT_NE(error.find("too short for its declared size"), std::string::npos) << error;
  }
}

TEST(DamagedJpeg, OtherWarningsLeaveThePictureReadableAndAreReported) {
  ScratchDir dir;
  const TBitmap original = RandomPicture(32, 24, 3);
  const Bytes good = Encoded(dir, "good.jpg", original);
  TBitmap clean;
  std::string error;
  ASSERT_TRUE(Decodes(good, "good.jpg", clean, error)) << error;
  Bytes damaged = good;
  damaged.insert(damaged.begin() + 2, {0x01, 0x02, 0x03, 0x04});  // junk between two markers
  TBitmap picture;
  std::vector<std::string> warnings;
  ASSERT_TRUE(Decodes(damaged, "junk.jpg", picture, error, &warnings)) << error;
  EXPECT_TRUE(picture == clean);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("4 extraneous bytes"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("/pictures/junk.jpg"), std::string::npos) << warnings[0];
  // The warning-free file says nothing.
  warnings.clear();
  ASSERT_TRUE(Decodes(good, "good.jpg", picture, error, &warnings));
  EXPECT_TRUE(warnings.empty());
}

// One scan of a progressive file repeated until the file holds more scans
// than any real one: refused instead of decoded scan after scan.
TEST(DamagedJpeg, EndlessProgressiveScansAreRefused) {
  const Bytes good = LoadBytes(FixturePath("jpeg_progressive.jpg"));
  const std::vector<std::size_t> scans = Markers(good, 0xDA);
  ASSERT_GT(scans.size(), 2u);
  const std::size_t end = Markers(good, 0xD9).back();
  // The second scan, from its marker to the next marker (not a stuffed byte
  // or a restart marker).
  std::size_t next = scans[1] + 2;
  while (!(good[next] == 0xFF && good[next + 1] != 0 && (good[next + 1] < 0xD0 || good[next + 1] > 0xD7)))
    ++next;
  const Bytes scan(good.begin() + std::ptrdiff_t(scans[1]), good.begin() + std::ptrdiff_t(next));
  auto repeated = [&](int times) {
    Bytes d(good.begin(), good.begin() + std::ptrdiff_t(end));
    for (int i = 0; i < times; ++i) d.insert(d.end(), scan.begin(), scan.end());
    d.push_back(0xFF), d.push_back(0xD9);
    return d;
  };
  TBitmap picture;
  std::string error;
  // A few repeats are within the limit (libjpeg only warns about them).
  EXPECT_TRUE(Decodes(repeated(5), "some.jpg", picture, error)) << error;
  EXPECT_FALSE(Decodes(repeated(600), "many.jpg", picture, error));
  EXPECT_NE(error.find("too many scans"), std::string::npos) << error;
}

namespace {

// A 2 x 2 BMP of 32 bits per pixel with a 124-byte header; alpha mask
// 0xFF000000 unless `declareAlpha` is false. Pixels bottom row first as
// blue, green, red, alpha.
Bytes Bmp32(bool declareAlpha, const std::vector<std::uint8_t>& pixels) {
  Bytes d(14 + 124, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
  };
  d[0] = 'B', d[1] = 'M';
  put32(2, std::uint32_t(d.size() + pixels.size()));
  put32(10, 14 + 124);
  put32(14, 124);
  put32(18, 2), put32(22, 2);
  d[26] = 1, d[28] = 32;
  put32(30, 3);  // bit fields
  put32(54, 0xFF0000), put32(58, 0xFF00), put32(62, 0xFF), put32(66, declareAlpha ? 0xFF000000u : 0);
  d.insert(d.end(), pixels.begin(), pixels.end());
  return d;
}

}  // namespace

TEST(BmpAlpha, DeclaredAlphaIsCompositedOverWhiteUnlessAllZero) {
  // Bottom row: opaque red, half-transparent blue; top row: transparent
  // green, quarter-opaque grey 100.
  const std::vector<std::uint8_t> pixels = {0, 0, 255, 255, 255, 0, 0, 128, 0, 255, 0, 0, 100, 100, 100, 64};
  TBitmap picture;
  std::string error;
  ASSERT_TRUE(Decodes(Bmp32(true, pixels), "alpha.bmp", picture, error)) << error;
  // (c * a + 255 * (255 - a)) / 255 rounded: 255 * 127 / 255 = 127, and
  // (100 * 64 + 255 * 191) / 255 = 216.1.
  EXPECT_EQ(PixelAt(picture, 0, 1), (Rgb{255, 0, 0}));
  EXPECT_EQ(PixelAt(picture, 1, 1), (Rgb{127, 127, 255}));
  EXPECT_EQ(PixelAt(picture, 0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(picture, 1, 0), (Rgb{216, 216, 216}));

  // Every alpha byte 0: a writer that leaves the byte unused; the colours
  // stand as stored. Without an alpha mask the byte means nothing either.
  std::vector<std::uint8_t> noAlpha = pixels;
  for (std::size_t i = 3; i < noAlpha.size(); i += 4) noAlpha[i] = 0;
  for (const Bytes& d : {Bmp32(true, noAlpha), Bmp32(false, pixels)}) {
    ASSERT_TRUE(Decodes(d, "opaque.bmp", picture, error)) << error;
    EXPECT_EQ(PixelAt(picture, 0, 1), (Rgb{255, 0, 0}));
    EXPECT_EQ(PixelAt(picture, 1, 1), (Rgb{0, 0, 255}));
    EXPECT_EQ(PixelAt(picture, 0, 0), (Rgb{0, 255, 0}));
    EXPECT_EQ(PixelAt(picture, 1, 0), (Rgb{100, 100, 100}));
  }
}

namespace {

int AppendToBytes(GifFileType* gif, const GifByteType* data, int count) {
  Bytes* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + count);
  return count;
}

// A GIF made with giflib: a screen of screenW x screenH and one frame of
// frameW x frameH at (left, top) whose pixel (x, y) has index (x + y) % 4.
Bytes GifWithFrame(int screenW, int screenH, int left, int top, int frameW, int frameH) {
  Bytes out;
  int code = 0;
  GifFileType* gif = EGifOpen(&out, AppendToBytes, &code);
  GifColorType colors[4] = {{10, 20, 30}, {200, 0, 0}, {0, 200, 0}, {0, 0, 200}};
  ColorMapObject* map = GifMakeMapObject(4, colors);
  EXPECT_EQ(EGifPutScreenDesc(gif, screenW, screenH, 2, 0, map), GIF_OK);
  EXPECT_EQ(EGifPutImageDesc(gif, left, top, frameW, frameH, false, nullptr), GIF_OK);
  std::vector<GifPixelType> row(static_cast<std::size_t>(frameW));
  for (int y = 0; y < frameH; ++y) {
    for (int x = 0; x < frameW; ++x) row[std::size_t(x)] = GifPixelType((x + y) % 4);
    EXPECT_EQ(EGifPutLine(gif, row.data(), frameW), GIF_OK);
  }
  EXPECT_EQ(EGifCloseFile(gif, &code), GIF_OK);
  GifFreeMapObject(map);
  return out;
}

}  // namespace

// The picture grows to hold a frame that runs past the declared screen;
// what the frame does not cover is white.
TEST(GifCanvas, FrameRunningPastTheScreenGrowsThePicture) {
  const Rgb kColors[4] = {{10, 20, 30}, {200, 0, 0}, {0, 200, 0}, {0, 0, 200}};
  const struct {
    int screenW, screenH, left, top, frameW, frameH, wantW, wantH;
  } cases[] = {
      {4, 3, 2, 1, 4, 3, 6, 4},  // past the right and bottom edges
      {2, 2, 0, 0, 5, 1, 5, 2},  // wider than the screen
      {8, 8, 1, 1, 3, 3, 8, 8},  // inside: the screen's size
  };
  for (const auto& c : cases) {
    TBitmap picture;
    std::string error;
    ASSERT_TRUE(Decodes(GifWithFrame(c.screenW, c.screenH, c.left, c.top, c.frameW, c.frameH), "frame.gif",
                        picture, error))
        << error;
    ASSERT_EQ(picture.Width(), c.wantW);
    ASSERT_EQ(picture.Height(), c.wantH);
    for (int y = 0; y < c.wantH; ++y) {
      for (int x = 0; x < c.wantW; ++x) {
        const int fx = x - c.left, fy = y - c.top;
        const bool inFrame = fx >= 0 && fx < c.frameW && fy >= 0 && fy < c.frameH;
        const Rgb want = inFrame ? kColors[(fx + fy) % 4] : Rgb{255, 255, 255};
        ASSERT_EQ(PixelAt(picture, x, y), want) << "at " << x << "," << y;
      }
    }
  }
}

namespace {}  // namespace

// A PNG of a few KB that declares 16384 x 16384: its image data cannot hold
// that many rows at deflate's best ratio, so it is refused before libpng is
// given any row (it once took 800 MB first).
TEST(PngSize, ImageDataTooShortForTheDeclaredRowsIsRefusedFirst) {
  ScratchDir dir;
  const Bytes good = Encoded(dir, "good.png", RandomPicture(37, 23, 4));
  for (const auto& [w, h] : {std::pair{16384u, 16384u}, {65535u, 4096u}, {37u, 65535u}}) {
    TBitmap picture;
    std::string error;
    EXPECT_FALSE(Decodes(PngWithSize(good, w, h), "bomb.png", picture, error));
    EXPECT_NE(error.find("too short for the declared size"), std::string::npos)
        << w << "x" << h << ": " << error;
  }
  // A flat picture compresses about 1000 to 1 and still reads.
  const TBitmap flat = SolidPicture(2000, 1000, {9, 9, 9});
  TBitmap picture;
  std::string error;
  ASSERT_TRUE(Decodes(Encoded(dir, "flat.png", flat), "flat.png", picture, error)) << error;
  EXPECT_TRUE(picture == flat);
}

TEST(MemoryBudget, EveryDecoderRefusesADecodeBeyondTheBudget) {
  ScratchDir dir;
  const TBitmap original = RandomPicture(64, 48, 5);
  for (const char* name : {"b.bmp", "j.jpg", "p.png", "g.gif"}) {
    const Bytes data = Encoded(dir, name, original);
    TBitmap picture;
    std::string error;
    {
      BudgetScope budget(4096);  // less than the picture's rows
      EXPECT_FALSE(Decodes(data, name, picture, error)) << name;
      EXPECT_NE(error.find("of memory, more than the"), std::string::npos) << error;
      EXPECT_EQ(picture.Width(), 0);
    }
    EXPECT_TRUE(Decodes(data, name, picture, error)) << error;
  }
  // The default is enough for the largest picture there is.
  EXPECT_GE(kDefaultDecodeMemoryBudget, std::uint64_t(kMaxPicturePixels) * 12);
}

// Run-length data may legally be tiny for a large picture (the rest takes
// colour 0); the budget decides, and only rows the data reaches are taken.
TEST(MemoryBudget, TinyRunLengthBmpOfALargePictureFollowsTheBudget) {
  Bytes d = LoadBytes(FixturePath("bmp8_rle.bmp"));
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
  };
  put32(18, 4000), put32(22, 4000);
  TBitmap picture;
  std::string error;
  {
    BudgetScope budget(64 << 20);
    EXPECT_FALSE(Decodes(d, "big.bmp", picture, error));
    EXPECT_NE(error.find("memory"), std::string::npos) << error;
  }
  BudgetScope budget(1ull << 30);
  ASSERT_TRUE(Decodes(d, "big.bmp", picture, error)) << error;
  EXPECT_EQ(picture.Width(), 4000);
}
