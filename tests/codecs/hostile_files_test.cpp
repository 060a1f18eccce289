// Hostile files for every format, read under a 64 MiB decode budget:
// truncated, bit-flipped, empty, mislabelled and size bombs (PNG 100000 x
// 100000, GIF 65535 x 65535, the most a GIF can declare, JPEG 65000 x
// 65000, BMP 2^31 rows). Each one gives a clear error that names the file
// and says what is wrong, and none can take more than the budget. How long
// each takes and how much memory it uses is measured by
// bench/bench_hostile_files. A picture's memory is taken only as its rows
// are decoded, which a child process's peak memory shows.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A PNG that declares 16384 x 16384 (768 MiB of pixels) and carries enough
// image data for that, but whose data breaks down after 64 rows: reading it
// must cost memory for those rows only (a decoder that zeroes or fills the
// whole picture first takes all 768 MiB). Read in a child process, whose
// peak resident memory is compared before and after.
TEST(HostileFiles, MemoryIsTakenOnlyForTheRowsTheDataReaches) {
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(WritePicture(dir.Path("p.png"), RandomPicture(4, 4, 3), error)) << error;
  constexpr std::uint32_t kSide = 16384;
  Bytes png = PngWithSize(LoadBytes(dir.Path("p.png")), kSide, kSide);
  png.resize(33);  // signature and IHDR (8-bit RGB)
  // 64 rows of filter 0 and black pixels, flushed, then bytes that are no
  // deflate data (block type 3), as many as a picture this size needs.
  Bytes rows(64 * (1 + 3 * std::size_t(kSide)), 0), idat(rows.size());
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 9), Z_OK);
  z.next_in = rows.data(), z.avail_in = uInt(rows.size());
  z.next_out = idat.data(), z.avail_out = uInt(idat.size());
  ASSERT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
  idat.resize(z.total_out);
  deflateEnd(&z);
  idat.insert(idat.end(), 900 << 10, 0xFF);
  auto chunk = [&png](const char* type, const Bytes& body) {
    const std::size_t at = png.size();
    png.resize(at + 12 + body.size());
    Put32Be(png, at, std::uint32_t(body.size()));
    std::copy(type, type + 4, png.begin() + std::ptrdiff_t(at + 4));
    std::copy(body.begin(), body.end(), png.begin() + std::ptrdiff_t(at + 8));
    Put32Be(png, at + 8 + body.size(), std::uint32_t(crc32(0, png.data() + at + 4, uInt(body.size() + 4))));
  };
  chunk("IDAT", idat);
  chunk("IEND", {});

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    TBitmap picture;
    std::string message;
    const bool decoded = DecodePicture(png, "/hostile/lying.png", picture, message);
    getrusage(RUSAGE_SELF, &after);
    const bool refused = !decoded && message.find("PNG: ") == 0;
    _exit(refused && after.ru_maxrss - before.ru_maxrss < (64 << 10) ? 0 : 1);  // kB
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "refused, and with less than 64 MiB";
}
