// Decode and encode times of a 6000 x 4000 picture as JPEG, PNG, BMP, WebP,
// AVIF, HEIC, TIFF and JPEG XL through ReadPicture/WritePicture, with each
// library's own command-line programs run on the same files in the same run
// for comparison (cjpeg/djpeg, cwebp/dwebp, heif-enc/heif-convert and
// avifdec, tiffcp/tiff2rgba, cjxl/djxl). Each figure is the median of
// several runs. The picture is made here (smooth shading with fixed noise,
// like a photo) and the files go to a temporary folder.
//
// WritePicture includes making the temporary file, fsync and the rename;
// the programs' figures include starting the process, reading their input
// (the .png for the encoders) and writing their output file (a PPM where
// the program can write one, else a PNG, which costs it a deflate of the
// whole picture). Usage: bench_codecs [runs, default 3] [width height,
// default 6000 4000]
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

int gWidth = 6000;  // set once from the command line
int gHeight = 4000;

TBitmap MakePhoto() {
  TBitmap picture(gWidth, gHeight, pf24bit);
  std::mt19937 rng(1);
  for (int y = 0; y < gHeight; ++y) {
    std::uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < gWidth; ++x) {
      const int noise = int(rng() % 9) - 4;
      row[3 * x + 0] = std::uint8_t(std::clamp(64 + 128 * y / gHeight + noise, 0, 255));
      row[3 * x + 1] = std::uint8_t(std::clamp(255 * x / gWidth + noise, 0, 255));
      row[3 * x + 2] = std::uint8_t(std::clamp(255 - 200 * (x + y) / (gWidth + gHeight) + noise, 0, 255));
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
  if (argc > 3)
    gWidth = std::clamp(std::atoi(argv[2]), 16, 16000), gHeight = std::clamp(std::atoi(argv[3]), 16, 16000);
  char folder[] = "/tmp/tessarin-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string dir = folder;
  const TBitmap picture = MakePhoto();
  std::printf("%d x %d picture, median of %d runs\n", gWidth, gHeight, runs);

  for (const char* ext : {".jpg", ".png", ".bmp", ".webp", ".avif", ".heic", ".tif", ".jxl"}) {
    const std::string path = dir + "/picture" + ext;
    std::string error;
    std::printf("%s\n", ext);
    Print("WritePicture", MedianSeconds(runs, [&] { return WritePicture(path, picture, error); }), path);
    TBitmap back;
    Print("ReadPicture", MedianSeconds(runs, [&] { return ReadPicture(path, back, error); }), path);
    if (!error.empty()) std::printf("  error: %s\n", error.c_str());
  }

  // The references: each library's command-line programs on the same data.
  struct Tool {
    const char* what;
    std::string command;
    std::string output;
  };
  const std::string png = "'" + dir + "/picture.png'";
  const auto in = [&](const char* ext) { return "'" + dir + "/picture" + ext + "'"; };
  const auto out = [&](const char* name) { return dir + "/" + name; };
  const Tool tools[] = {
      {"cjpeg -quality 90 (from the .bmp)",
       "cjpeg -quality 90 -outfile '" + out("cjpeg.jpg") + "' " + in(".bmp"), out("cjpeg.jpg")},
      {"djpeg -bmp", "djpeg -bmp -outfile '" + out("djpeg.bmp") + "' " + in(".jpg"), out("djpeg.bmp")},
      {"cwebp -q 90", "cwebp -quiet -q 90 " + png + " -o '" + out("cwebp.webp") + "'", out("cwebp.webp")},
      {"dwebp -ppm", "dwebp -quiet " + in(".webp") + " -ppm -o '" + out("dwebp.ppm") + "'", out("dwebp.ppm")},
      {"heif-enc -A -q 90", "heif-enc -A -q 90 " + png + " -o '" + out("enc.avif") + "'", out("enc.avif")},
      {"heif-convert (.avif to .png)", "heif-convert " + in(".avif") + " '" + out("avif.png") + "'",
       out("avif.png")},
      {"avifdec (.avif to .png)", "avifdec " + in(".avif") + " '" + out("avifdec.png") + "'",
       out("avifdec.png")},
      {"heif-enc -q 90", "heif-enc -q 90 " + png + " -o '" + out("enc.heic") + "'", out("enc.heic")},
      {"heif-convert (.heic to .png)", "heif-convert " + in(".heic") + " '" + out("heic.png") + "'",
       out("heic.png")},
      {"tiffcp -c zip:p2", "tiffcp -c zip:p2 " + in(".tif") + " '" + out("tiffcp.tif") + "'",
       out("tiffcp.tif")},
      {"tiff2rgba -c none", "tiff2rgba -c none " + in(".tif") + " '" + out("rgba.tif") + "'",
       out("rgba.tif")},
      {"cjxl -q 90", "cjxl -q 90 " + png + " '" + out("cjxl.jxl") + "'", out("cjxl.jxl")},
      {"djxl (.jxl to .ppm)", "djxl " + in(".jxl") + " '" + out("djxl.ppm") + "'", out("djxl.ppm")},
  };
  std::printf("the libraries' own programs\n");
  for (const Tool& t : tools)
    Print(t.what, MedianSeconds(runs, [&] { return Run(t.command + " > /dev/null 2>&1"); }), t.output);

  std::filesystem::remove_all(dir);
  return 0;
}
