// Times the miniature effect's steps on a generated photo-sized picture
// (default 6000 x 4000, 24 megapixels): tone, focus-band mask, Gaussian
// blur, masked overlay, and the whole composition. Prints the median of
// several runs, with ImageMagick's separable Gaussian blur of the same picture and
// sigma beside the blur when `convert` is installed.
//
//   bench_miniature [width height [runs]]
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
#include "engine/miniature_engine.h"
#include "imaging/blur.h"
#include "imaging/overlay.h"
#include "imaging/tone.h"

namespace {

using Clock = std::chrono::steady_clock;

double MedianSeconds(int runs, const std::function<void()>& body) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    body();
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Smooth gradients with a little noise: photo-like, so nothing is flat.
TBitmap PhotoLike(int w, int h) {
  TBitmap bmp(w, h, pf24bit);
  std::mt19937 rng(1);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const int noise = int(rng() % 16);
      row[3 * x] = std::uint8_t((x * 255 / w + noise) & 255);
      row[3 * x + 1] = std::uint8_t((y * 255 / h + noise) & 255);
      row[3 * x + 2] = std::uint8_t(((x + y) * 127 / (w + h) + noise) & 255);
    }
  }
  return bmp;
}

double ImageMagickBlurSeconds(const TBitmap& picture, int sigma, int runs) {
  if (std::system("command -v convert > /dev/null 2>&1") != 0) return -1;
  const auto dir = std::filesystem::temp_directory_path() / "tessarin-bench-miniature";
  std::filesystem::create_directories(dir);
  const std::string in = (dir / "in.bmp").string(), out = (dir / "out.bmp").string();
  std::string error;
  if (!WritePicture(in, picture, error)) return -1;
  const std::string cmd = "convert " + in + " -blur 0x" + std::to_string(sigma) + " " + out;
  const double t = MedianSeconds(runs, [&] { (void)std::system(cmd.c_str()); });
  std::filesystem::remove_all(dir);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const int w = argc > 2 ? std::atoi(argv[1]) : 6000;
  const int h = argc > 2 ? std::atoi(argv[2]) : 4000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  const TBitmap picture = PhotoLike(w, h);
  const FocusSettings focus{w, h, 15, DefaultDepth, BlurSlope::Medium};

  std::printf("miniature steps on %d x %d, median of %d runs\n", w, h, runs);
  const double tone = MedianSeconds(runs, [&] {
    TBitmap b = picture;
    Saturation(b, DefaultSaturation);
    Contrast(b, DefaultContrast);
    Brightness(b, DefaultBrightness);
  });
  std::printf("  tone (40, 10, -5)        %8.3f s\n", tone);
  TBitmap mask;
  const double maskTime = MedianSeconds(runs, [&] { CreateMaskBMP(mask, w, h, {w / 2, h / 2}, focus); });
  std::printf("  mask (angle 15)          %8.3f s\n", maskTime);
  TBitmap blurred = picture;
  const double blur = MedianSeconds(runs, [&] {
    blurred = picture;
    GaussianBlur(blurred, DefaultBlur);
  });
  const double magick = ImageMagickBlurSeconds(picture, DefaultBlur, runs);
  std::printf("  Gaussian blur (zone 7)   %8.3f s", blur);
  if (magick >= 0) std::printf("   [ImageMagick -blur 0x7, whole command: %.3f s]", magick);
  std::printf("\n");
  const double overlay = MedianSeconds(runs, [&] {
    TBitmap target = picture;
    MaskedOverlay(target, blurred, mask, 0, 0);
  });
  std::printf("  masked overlay           %8.3f s\n", overlay);
  const double whole = MedianSeconds(runs, [&] {
    MiniatureEngine engine;
    engine.LoadPicture(picture);
    engine.ApplyTone(DefaultSaturation, DefaultContrast, DefaultBrightness);
    engine.ApplyMiniature({w / 2, h / 2}, focus, DefaultBlur);
  });
  std::printf("  tone + miniature, whole  %8.3f s\n", whole);
  return 0;
}
