// Decode and encode times of a 6000 x 4000 picture as JPEG, PNG and BMP
// through ReadPicture/WritePicture, with libjpeg-turbo's own cjpeg and djpeg
// run on the same files in the same run for comparison. Each figure is the
// median of several runs. The picture is made here (smooth shading with
// fixed noise, like a photo) and the files go to a temporary folder.
//
// WritePicture includes making the temporary file, fsync and the rename;
// the cjpeg and djpeg figures include starting the process and writing
// their output file. Usage: bench_codecs [runs, default 3]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "codecs/picture_io.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

TBitmap MakePhoto() {
  TBitmap picture(kWidth, kHeight, pf24bit);
  std::mt19937 rng(1);
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < kWidth; ++x) {
      const int noise = int(rng() % 9) - 4;
      row[3 * x + 0] = std::uint8_t(std::clamp(64 + 128 * y / kHeight + noise, 0, 255));
      row[3 * x + 1] = std::uint8_t(std::clamp(255 * x / kWidth + noise, 0, 255));
      row[3 * x + 2] = std::uint8_t(std::clamp(255 - 200 * (x + y) / (kWidth + kHeight) + noise, 0, 255));
    }
  }
  return picture;
}

double MedianSeconds(int runs, const std::function<bool()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!work()) return -1;
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

bool Run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

void Print(const char* what, double seconds, const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (seconds < 0) {
    std::printf("  %-34s failed\n", what);
    return;
  }
  std::printf("  %-34s %8.1f ms   (%6.1f MB file)\n", what, seconds * 1000, ec ? 0.0 : double(size) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char folder[] = "/tmp/tessarin-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string dir = folder;
  const TBitmap picture = MakePhoto();
  std::printf("%d x %d picture, median of %d runs\n", kWidth, kHeight, runs);

  for (const char* ext : {".jpg", ".png", ".bmp"}) {
    const std::string path = dir + "/picture" + ext;
    std::string error;
    std::printf("%s\n", ext);
    Print("WritePicture", MedianSeconds(runs, [&] { return WritePicture(path, picture, error); }), path);
    TBitmap back;
    Print("ReadPicture", MedianSeconds(runs, [&] { return ReadPicture(path, back, error); }), path);
    if (!error.empty()) std::printf("  error: %s\n", error.c_str());
  }

  // The reference: libjpeg-turbo's command-line programs on the same data.
  const std::string bmp = dir + "/picture.bmp", cjpeg = dir + "/cjpeg.jpg", ours = dir + "/picture.jpg";
  std::printf(".jpg by libjpeg-turbo's programs\n");
  Print("cjpeg -quality 90 (from the .bmp)",
        MedianSeconds(runs, [&] { return Run("cjpeg -quality 90 -outfile '" + cjpeg + "' '" + bmp + "'"); }),
        cjpeg);
  Print(
      "djpeg -bmp (WritePicture's .jpg)",
      MedianSeconds(runs, [&] { return Run("djpeg -bmp -outfile '" + dir + "/djpeg.bmp' '" + ours + "'"); }),
      dir + "/djpeg.bmp");

  std::filesystem::remove_all(dir);
  return 0;
}
