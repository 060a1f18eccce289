// Every allocation of every encoder and decoder made to fail in turn, one
// run per allocation (past the first 200, every 61st): each failure must end in a clean error that names
// the file (or, where a library copes, in a sound result), with nothing
// leaked, no block freed twice, and an existing target file untouched with
// no temporary file beside it. The failing allocator (support/
// failing_malloc) stands in for malloc in this program only.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "codec_test_support.h"
#include "support/failing_malloc.h"

namespace {

struct Outcome {
  bool ok = false;
  char message[512] = {};
  failing_malloc::Report report;
};

// Runs `operation` with allocation number `failAt` failing (-1: none). Every
// object the operation makes lives and dies inside the watch.
Outcome RunWatched(long failAt, const std::function<bool(std::string&)>& operation) {
  Outcome out;
  failing_malloc::Watch(failAt);
  {
    std::string error;
    out.ok = operation(error);
    std::snprintf(out.message, sizeof out.message, "%s", error.c_str());
  }
  out.report = failing_malloc::Stop();
  return out;
}

// Sweeps `operation` over all its allocations; `prepare` runs before each
// run, `check` sees each outcome.
void Sweep(const std::string& what, const std::function<bool(std::string&)>& operation,
           const std::function<void()>& prepare, const std::function<void(const Outcome&)>& check) {
  prepare();
  RunWatched(-1, operation);  // first use: one-time set-up in the libraries
  prepare();
  const Outcome clean = RunWatched(-1, operation);
  ASSERT_TRUE(clean.ok) << what << ": " << clean.message;
  ASSERT_EQ(clean.report.leaked, 0u) << what;
  const long count = clean.report.allocations;
  ASSERT_GT(count, 0) << what;
  std::printf("%s: %ld allocations\n", what.c_str(), count);
  // Every allocation of the first 200, then every 61st: the GIF writer's
  // quantiser makes thousands, all alike (they fall back to its reserve).
  for (long k = 0; k < count; k += k < 200 ? 1 : 61) {
    prepare();
    const Outcome o = RunWatched(k, operation);
    ASSERT_EQ(o.report.doubleFrees, 0) << what << ": allocation " << k << " of " << count;
    ASSERT_EQ(o.report.leaked, 0u) << what << ": allocation " << k << " of " << count;
    check(o);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

const char* const kExtensions[] = {".bmp", ".jpg", ".png", ".gif"};

}  // namespace

TEST(AllocationFailure, EveryEncoderFailsCleanlyAndLeavesTheTarget) {
  ScratchDir dir;
  const Bytes old = {'o', 'l', 'd'};
  for (std::size_t i = 0; i < std::size(kExtensions); ++i) {
    const char* ext = kExtensions[i];
    // 128 x 128 of noise makes a JPEG of about 30 KB, which outgrows the
    // writer's first buffer several times (libjpeg's memory destination once
    // freed a grown buffer twice when a later growth failed). The GIF
    // writer's quantiser is slow, so its picture is small, but with 576
    // colours still more than a palette holds.
    const int side = std::string(ext) == ".gif" ? 24 : 128;
    const TBitmap picture = RandomPicture(side, side, 1);
    const std::string path = dir.Path(std::string("out") + ext);
    SaveBytes(path, old);
    Sweep(
        std::string("write ") + ext, [&](std::string& error) { return WritePicture(path, picture, error); },
        [&] { SaveBytes(path, old); },
        [&](const Outcome& o) {
          const std::vector<std::string> entries = dir.Entries();
          if (o.ok) {
            TBitmap back;
            std::string error;
            ASSERT_TRUE(ReadPicture(path, back, error)) << error;
            ASSERT_EQ(back.Width(), side);
          } else {
            ASSERT_NE(std::string(o.message).find(path), std::string::npos) << o.message;
            ASSERT_EQ(LoadBytes(path), old) << ext << ": " << o.message;
          }
          ASSERT_EQ(entries.size(), i + 1) << "a temporary file was left";
        });
  }
}

TEST(AllocationFailure, EveryDecoderFailsCleanly) {
  ScratchDir dir;
  const TBitmap picture = RandomPicture(40, 30, 2);
  std::vector<std::string> files;
  for (const char* ext : kExtensions) files.push_back(dir.Path(std::string("in") + ext));
  // Decoder paths the written files do not reach.
  for (const char* name : {"bmp8_rle.bmp", "png_interlaced.png", "png_palette_trns.png",
                           "jpeg_progressive.jpg", "jpeg_cmyk.jpg", "gif_interlaced.gif"})
    files.push_back(FixturePath(name));
  for (std::size_t i = 0; i < std::size(kExtensions); ++i) {
    std::string error;
    ASSERT_TRUE(WritePicture(files[i], picture, error)) << error;
  }
  for (const std::string& path : files) {
    Sweep(
        "read " + path,
        [&](std::string& error) {
          TBitmap out;
          return ReadPicture(path, out, error);
        },
        [] {},
        [&](const Outcome& o) {
          if (!o.ok) {
            ASSERT_NE(std::string(o.message).find(path), std::string::npos) << o.message;
          }
        });
  }
}

// Small files that declare a huge picture, and inputs the fuzzers found
// that made a decoder ask for far more memory than the file could justify:
// each is refused or read with no block larger than libpng's chunk limit
// (8 MiB). (A decoder once took the whole picture, 768 MiB, before it read
// a pixel.)
TEST(AllocationFailure, SmallFilesThatDeclareLargePicturesTakeNoHugeBlock) {
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(WritePicture(dir.Path("p.png"), RandomPicture(40, 30, 3), error)) << error;
  const Bytes png = PngWithSize(LoadBytes(dir.Path("p.png")), 16384, 16384);
  SaveBytes(dir.Path("bomb.png"), png);
  Bytes jpg = LoadBytes(FixturePath("jpeg_progressive.jpg"));
  for (std::size_t i = 2; i + 9 < jpg.size(); ++i)
    if (jpg[i] == 0xFF && jpg[i + 1] == 0xC2) {
      jpg[i + 5] = jpg[i + 7] = 0x40, jpg[i + 6] = jpg[i + 8] = 0;  // 16384 x 16384
      break;
    }
  SaveBytes(dir.Path("bomb.jpg"), jpg);
  const char* root = std::getenv("TESSARIN_SOURCE_DIR");
  const std::string regressions = std::string(root ? root : ".") + "/tests/fuzz/regressions/";
  for (const std::string& path :
       {dir.Path("bomb.png"), dir.Path("bomb.jpg"), regressions + "png/text-chunk-of-1.7GB.png"}) {
    const Outcome o = RunWatched(-1, [&](std::string& message) {
      TBitmap out;
      return ReadPicture(path, out, message);
    });
    EXPECT_EQ(o.report.leaked, 0u) << path;
    EXPECT_LE(o.report.largest, std::size_t(8) << 20) << path << ": " << o.message;
  }
}
