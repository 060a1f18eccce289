// Hostile files for every format, read under a 64 MiB decode budget:
// truncated, bit-flipped, empty, mislabelled and size bombs (PNG 100000 x
// 100000, GIF 65535 x 65535, the most a GIF can declare, JPEG 65000 x
// 65000, BMP 2^31 rows). Each one gives a clear error that names the file
// and says what is wrong, and none can take more than the budget. How long
// each takes and how much memory it uses is measured by
// bench/bench_hostile_files.
#include <gtest/gtest.h>

#include <string>

#include "codec_test_support.h"

namespace {

constexpr std::uint64_t kBudget = 64 << 20;

// The error a read of `data` as `name` gives ("" when it decoded).
std::string ErrorOf(const Bytes& data, const std::string& name) {
  TBitmap picture;
  std::string error;
  const bool ok = DecodePicture(data, "/hostile/" + name, picture, error);
  if (ok) {
    EXPECT_EQ(picture.PixelFormat(), pf24bit);
    EXPECT_TRUE(PictureSizeAllowed(picture.Width(), picture.Height()));
    return "";
  }
  // "FORMAT: what: /hostile/name", or a file-system message with the path.
  EXPECT_NE(error.find("/hostile/" + name), std::string::npos) << error;
  EXPECT_GT(error.size(), name.size() + 20) << "says nothing of what is wrong: " << error;
  return error;
}

}  // namespace

TEST(HostileFiles, SizeBombsAreRefusedByTheLimits) {
  ScratchDir dir;
  BudgetScope budget(kBudget);
  const TBitmap picture = RandomPicture(40, 30, 1);
  auto encoded = [&](const char* name) {
    std::string error;
    EXPECT_TRUE(WritePicture(dir.Path(name), picture, error)) << error;
    return LoadBytes(dir.Path(name));
  };
  Bytes png = encoded("p.png"), gif = encoded("g.gif"), jpg = encoded("j.jpg"), bmp = encoded("b.bmp");
  png = PngWithSize(png, 100000, 100000);
  Put16Le(gif, 6, 65535), Put16Le(gif, 8, 65535);
  std::size_t sof = 0;
  for (std::size_t i = 2; i + 9 < jpg.size() && sof == 0; ++i)
    if (jpg[i] == 0xFF && jpg[i + 1] == 0xC0) sof = i;
  ASSERT_NE(sof, 0u);
  Put16Be(jpg, sof + 5, 65000), Put16Be(jpg, sof + 7, 65000);
  Bytes bmpDown = bmp;
  Put32Le(bmp, 22, 0x80000000u);  // 2^31 rows, top-down
  Put32Le(bmpDown, 22, 0x7FFFFFFFu);
  const struct {
    const char* name;
    const Bytes& data;
  } bombs[] = {
      {"bomb.png", png}, {"bomb.gif", gif}, {"bomb.jpg", jpg}, {"bomb.bmp", bmp}, {"tall.bmp", bmpDown}};
  for (const auto& b : bombs) {
    const std::string error = ErrorOf(b.data, b.name);
    EXPECT_NE(error.find("too large"), std::string::npos) << b.name << ": " << error;
  }
}

TEST(HostileFiles, DamagedAndMislabelledFilesGiveClearErrors) {
  ScratchDir dir;
  BudgetScope budget(kBudget);
  const TBitmap picture = RandomPicture(61, 47, 2);
  const char* const exts[] = {".bmp", ".jpg", ".png", ".gif", ".webp", ".tif", ".heic", ".avif", ".jxl"};
  std::mt19937 rng(7);
  int refused = 0;
  for (const char* ext : exts) {
    std::string error;
    ASSERT_TRUE(WritePicture(dir.Path(std::string("good") + ext), picture, error)) << error;
    const Bytes good = LoadBytes(dir.Path(std::string("good") + ext));
    // Empty and truncated: always refused.
    EXPECT_NE(ErrorOf(Bytes{}, std::string("empty") + ext), "");
    for (std::size_t cut :
         {std::size_t(1), std::size_t(7), good.size() / 4, good.size() / 2, good.size() - 3}) {
      EXPECT_NE(ErrorOf(Bytes(good.begin(), good.begin() + std::ptrdiff_t(cut)), std::string("cut") + ext),
                "")
          << ext << " cut at " << cut;
    }
    // Bit flips: refused with a clear error, or decoded to a sound picture.
    for (int trial = 0; trial < 60; ++trial) {
      Bytes bad = good;
      const std::size_t span = trial % 2 ? good.size() : std::min<std::size_t>(good.size(), 80);
      for (int i = 0; i < 1 + trial % 5; ++i) bad[rng() % span] ^= std::uint8_t(1u << (rng() % 8));
      refused += ErrorOf(bad, std::string("flip") + ext) != "";
    }
    // Mislabelled: the bytes of every other format under this extension.
    for (const char* other : exts) {
      // One reader takes HEIF and AVIF alike (the file says which it is).
      if (other == ext || (std::string(ext) + other == ".heic.avif") ||
          (std::string(ext) + other == ".avif.heic"))
        continue;
      EXPECT_NE(ErrorOf(good, std::string("mislabelled") + other), "") << ext << " as " << other;
    }
  }
  EXPECT_GT(refused, 0);
}
