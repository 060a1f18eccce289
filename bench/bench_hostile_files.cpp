// Time and memory of reading hostile files with the default decode budget:
// for every format truncated, bit-flipped, empty and mislabelled files, and
// size bombs (PNG 100000 x 100000, GIF 65535 x 65535, JPEG 65000 x 65000,
// BMP 2^31 rows, WebP 16383 x 16383, TIFF 100000 x 100000, HEIF and AVIF
// 100000 x 100000 in their ispe box), plus small files that declare a large picture within the
// limits (a few-KB PNG and a progressive JPEG of 16384 x 16384). Each file
// is read in a child process of its own, so the peak memory shown (the
// child's maximum resident set, less what it had before the read) is that
// one read's. The goal beside each figure: under a second and 64 MB.
// Usage: bench_hostile_files
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codecs/picture_io.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Measure {
  bool decoded;
  double milliseconds;
  long peakKb;
  char error[200];
};

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

Measure InChild(const Bytes& data, const std::string& name) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    Measure m{};
    const long before = PeakKb();
    const auto start = std::chrono::steady_clock::now();
    TBitmap picture;
    std::string error;
    m.decoded = DecodePicture(data, name, picture, error);
    m.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    m.peakKb = PeakKb() - before;
    std::snprintf(m.error, sizeof m.error, "%s", error.c_str());
    if (write(fds[1], &m, sizeof m) != ssize_t(sizeof m)) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  Measure m{};
  if (read(fds[0], &m, sizeof m) != ssize_t(sizeof m)) std::snprintf(m.error, sizeof m.error, "(child died)");
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return m;
}

Bytes Encoded(const TBitmap& picture, const std::string& ext) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("tessarin-bench-hostile" + ext)).string();
  std::string error;
  if (!WritePicture(path, picture, error)) std::abort();
  Bytes data;
  FILE* f = std::fopen(path.c_str(), "rb");
  for (int c; (c = std::fgetc(f)) != EOF;) data.push_back(std::uint8_t(c));
  std::fclose(f);
  std::filesystem::remove(path);
  return data;
}

void Put16(Bytes& d, std::size_t at, unsigned v, bool big) {
  d[at + (big ? 0 : 1)] = std::uint8_t(v >> 8), d[at + (big ? 1 : 0)] = std::uint8_t(v);
}
void Put32(Bytes& d, std::size_t at, std::uint32_t v, bool big) {
  Put16(d, at + (big ? 0 : 2), v >> 16, big), Put16(d, at + (big ? 2 : 0), v & 0xFFFF, big);
}

std::size_t FindMarker(const Bytes& d, std::uint8_t code) {
  for (std::size_t i = 2; i + 9 < d.size(); ++i)
    if (d[i] == 0xFF && d[i + 1] == code) return i;
  return 0;
}

}  // namespace

int main() {
  TBitmap picture(320, 240, pf24bit);
  std::mt19937 rng(3);
  for (int y = 0; y < 240; ++y)
    for (std::size_t i = 0; i < picture.RowBytes(); ++i)
      picture.ScanLine(y)[i] = std::uint8_t((i / 3 + y + rng() % 8) & 255);

  struct Case {
    std::string name;
    Bytes data;
  };
  std::vector<Case> cases;
  const char* const exts[] = {".bmp", ".jpg", ".png", ".gif", ".webp", ".tif", ".heic", ".avif", ".jxl"};
  constexpr std::size_t kFormats = std::size(exts);
  std::vector<Bytes> good;
  for (const char* ext : exts) good.push_back(Encoded(picture, ext));
  for (std::size_t i = 0; i < kFormats; ++i) {
    const std::string ext = exts[i];
    cases.push_back(
        {"truncated" + ext, Bytes(good[i].begin(), good[i].begin() + std::ptrdiff_t(good[i].size() / 2))});
    Bytes flipped = good[i];
    for (int k = 0; k < 8; ++k)
      flipped[rng() % std::min<std::size_t>(flipped.size(), 200)] ^= std::uint8_t(1u << (rng() % 8));
    cases.push_back({"bit-flipped" + ext, flipped});
    cases.push_back({"empty" + ext, Bytes{}});
    cases.push_back({"mislabelled" + ext, good[(i + 1) % kFormats]});
  }
  Bytes png = good[2];
  Put32(png, 16, 100000, true), Put32(png, 20, 100000, true);
  Put32(png, 29, std::uint32_t(crc32(0, png.data() + 12, 17)), true);
  cases.push_back({"bomb-100000x100000.png", png});
  Bytes gif = good[3];
  Put16(gif, 6, 65535, false), Put16(gif, 8, 65535, false);
  cases.push_back({"bomb-65535x65535.gif", gif});
  Bytes jpg = good[1];
  const std::size_t sof = FindMarker(jpg, 0xC0);
  Put16(jpg, sof + 5, 65000, true), Put16(jpg, sof + 7, 65000, true);
  cases.push_back({"bomb-65000x65000.jpg", jpg});
  Bytes bmp = good[0];
  Put32(bmp, 22, 0x80000000u, false);
  cases.push_back({"bomb-2^31-rows.bmp", bmp});
  Bytes webp = good[4];  // a lossy VP8 frame: its 14-bit sizes at 26 and 28
  Put16(webp, 26, 16383, false), Put16(webp, 28, 16383, false);
  cases.push_back({"bomb-16383x16383.webp", webp});
  Bytes tif = good[5];  // little-endian; ImageWidth and ImageLength as LONG
  const std::size_t ifd = std::size_t(tif[4] | tif[5] << 8 | tif[6] << 16 | tif[7] << 24);
  const std::size_t entries = std::size_t(tif[ifd] | tif[ifd + 1] << 8);
  for (std::size_t e = ifd + 2; e + 12 <= tif.size() && e < ifd + 2 + 12 * entries; e += 12) {
    const unsigned tag = unsigned(tif[e] | tif[e + 1] << 8);
    if (tag == 256 || tag == 257)
      Put16(tif, e + 2, 4, false), Put32(tif, e + 4, 1, false), Put32(tif, e + 8, 100000, false);
  }
  cases.push_back({"bomb-100000x100000.tif", tif});
  for (std::size_t k : {std::size_t(6), std::size_t(7)}) {
    Bytes heif = good[k];
    for (std::size_t at = 0; at + 16 <= heif.size(); ++at)
      if (std::memcmp(heif.data() + at, "ispe", 4) == 0)
        Put32(heif, at + 8, 100000, true), Put32(heif, at + 12, 100000, true);
    cases.push_back({std::string("bomb-100000x100000") + exts[k], heif});
  }
  Bytes lyingPng = good[2];
  Put32(lyingPng, 16, 16384, true), Put32(lyingPng, 20, 16384, true);
  Put32(lyingPng, 29, std::uint32_t(crc32(0, lyingPng.data() + 12, 17)), true);
  cases.push_back({"small-16384x16384.png", lyingPng});
  {
    // A progressive JPEG (made by hand-free means: the fixture) declaring
    // 16384 x 16384.
    const char* root = std::getenv("TESSARIN_SOURCE_DIR");
    const std::string path = std::string(root ? root : ".") + "/tests/codecs/fixtures/jpeg_progressive.jpg";
    Bytes prog;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      for (int c; (c = std::fgetc(f)) != EOF;) prog.push_back(std::uint8_t(c));
      std::fclose(f);
      const std::size_t at = FindMarker(prog, 0xC2);
      Put16(prog, at + 5, 16384, true), Put16(prog, at + 7, 16384, true);
      cases.push_back({"small-16384x16384-progressive.jpg", prog});
    }
  }

  std::printf("%-36s %9s %10s %10s  %s\n", "file", "bytes", "time ms", "peak MB",
              "result (goal: < 10 ms, < 16 MB)");
  for (const Case& c : cases) {
    const Measure m = InChild(c.data, "/hostile/" + c.name);
    std::printf("%-36s %9zu %10.2f %10.1f  %s\n", c.name.c_str(), c.data.size(), m.milliseconds,
                m.peakKb / 1024.0, m.decoded ? "decoded" : m.error);
  }
  return 0;
}
