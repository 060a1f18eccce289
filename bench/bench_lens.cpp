// The lens look beside the classic miniature, in one run on a 6000 x 4000
// picture made from the sample photo: the render at Blur 7 and 20 (median
// of three) and the process's peak memory; then the fast form against the
// plain one (mean absolute difference and 99.9th percentile, in levels per
// channel) on a crop of the photo and on hard synthetic pictures.
//
//   bench_lens [--sample PATH] [--quick]     --quick: the differences only
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "codecs/picture_io.h"
#include "engine/lens.h"
#include "engine/miniature_engine.h"
#include "engine/preview.h"
#include "imaging/lens_blur.h"
#include "imaging/resample.h"

namespace {

double Median3(const std::function<void()>& body) {
  std::vector<double> t;
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return t[1];
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

void Differences(const char* name, const TBitmap& picture, const Look& look,
                 const TBitmap* protect = nullptr) {
  LensMaps maps;
  maps.protect = protect;
  const LensRadius radius(picture.Width(), picture.Height(), look);
  TLensBlurInput input;
  input.radius = [&](int y, float* out) { radius.Row(y, out); };
  input.maxRadius = radius.Full();
  input.protect = protect;
  input.bokeh = look.bokeh;
  TBitmap plain, fast;
  LensBlurPlain(picture, input, plain);
  LensBlurFast(picture, input, fast);
  std::vector<int> diffs;
  double sum = 0;
  for (int y = 0; y < picture.Height(); ++y)
    for (int i = 0; i < 3 * picture.Width(); ++i) {
      const int d = std::abs(int(plain.ScanLine(y)[i]) - int(fast.ScanLine(y)[i]));
      diffs.push_back(d);
      sum += d;
    }
  std::sort(diffs.begin(), diffs.end());
  std::printf("%-46s %5d x %-5d radius %5.1f  mean %.3f  p99.9 %d  max %d\n", name, picture.Width(),
              picture.Height(), radius.Full(), sum / double(diffs.size()),
              diffs[std::size_t(double(diffs.size() - 1) * 0.999)], diffs.back());
}

TBitmap Filled(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  TBitmap p(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* d = p.ScanLine(y) + 3 * x;
      d[0] = b, d[1] = g, d[2] = r;
    }
  return p;
}

void Square(TBitmap& p, int x0, int y0, int side, std::uint8_t v) {
  for (int y = y0; y < y0 + side; ++y)
    for (int x = x0; x < x0 + side; ++x) std::memset(p.ScanLine(y) + 3 * x, v, 3);
}

}  // namespace

int main(int argc, char** argv) {
  std::string sample = "samples/evening-glow.jpg";
  bool quick = false, speed = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sample") == 0 && i + 1 < argc) sample = argv[++i];
    if (std::strcmp(argv[i], "--quick") == 0) quick = true;
    if (std::strcmp(argv[i], "--speed") == 0) speed = true;
  }
  TBitmap photo;
  std::string error;
  if (!ReadPicture(sample, photo, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (!quick) {
    TBitmap big = photo;
    BmpResize(big, 6000, 4000, rmBicubic);
    std::printf("6000 x 4000, picture loaded: peak %.0f MB\n", PeakMegabytes());
    TFocusMaskCache masks;
    for (const int blur : {7, 20}) {
      Look look;
      look.blur = blur;
      look.type = LookType::Lens;
      TBitmap out;
      const double lens = Median3([&] {
        TBitmap work = big;
        MiniatureEngine::RenderLook(work, look, masks, out);
      });
      std::printf("lens    blur %2d (radius %.0f px): median %.3f s  peak %.0f MB\n", blur,
                  LensFullRadius(6000, 4000, blur), lens, PeakMegabytes());
      look.type = LookType::Classic;
      const double classic = Median3([&] {
        TBitmap work = big;
        MiniatureEngine::RenderLook(work, look, masks, out);
      });
      std::printf("classic blur %2d: median %.3f s\n", blur, classic);
    }
  }
  {
    // A video frame: the miniature alone, the picture toned in place as the frames are.
    TBitmap frame = photo;
    BmpResize(frame, 1920, 1080, rmBicubic);
    Look look;
    look.type = LookType::Lens;
    TFocusMaskCache masks;
    TBitmap out;
    std::vector<double> t;
    for (int i = 0; i < 15; ++i) {
      TBitmap work = frame;
      const auto start = std::chrono::steady_clock::now();
      MiniatureEngine::RenderLook(work, look, masks, out);
      t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(t.begin(), t.end());
    std::printf("lens    1920 x 1080 frame, blur 7: median %.1f ms (%.0f frames a second)\n", t[7] * 1e3,
                1 / t[7]);
    t.clear();
    for (int i = 0; i < 15; ++i) {
      const auto start = std::chrono::steady_clock::now();
      LensMiniature(frame, look, {}, out);
      t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(t.begin(), t.end());
    std::printf("        the same without the tone step: median %.1f ms (%.0f frames a second)\n", t[7] * 1e3,
                1 / t[7]);
  }
  {
    // The live preview's frame at a device pixel ratio of 2: the angle moving.
    MiniaturePreview preview;
    preview.SetPicture(photo, 1096, 730);
    Look look;
    look.type = LookType::Lens;
    std::vector<double> t;
    for (int i = 0; i < 40; ++i) {
      look.angle = i % 2 ? 5 : -5;
      const auto start = std::chrono::steady_clock::now();
      preview.Render(look);
      t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(t.begin(), t.end());
    std::printf("lens    preview frame 1096 x 730 (band moving): median %.1f ms, p90 %.1f ms\n", t[20] * 1e3,
                t[36] * 1e3);
  }
  if (speed) return 0;
  std::printf("\nfast against plain (levels per channel)\n");
  Look look;
  look.type = LookType::Lens;
  TBitmap crop(1800, 1200, pf24bit);
  crop.CopyRect({0, 0, 1800, 1200}, photo, {380, 200, 2180, 1400});
  for (const int blur : {7, 20}) {
    look.blur = blur;
    Differences(blur == 7 ? "photo crop, blur 7" : "photo crop, blur 20 (pyramid)", crop, look);
  }
  // 1800 x 1200 at Blur 20: a full radius of 32 px, summed on the pyramid.
  TBitmap lights = Filled(1800, 1200, 20, 10, 10);
  for (int i = 0; i < 36; ++i) Square(lights, 30 + 47 * i, i % 2 ? 40 : 1100, 1 + i % 3, 255);
  look.blur = 20;
  look.bokeh = 100;
  Differences("points of light, blur 20, bokeh 100 (pyramid)", lights, look);
  TBitmap lines = Filled(1800, 1200, 40, 40, 40);
  for (int x = 20; x < 1800; x += 37) lines.FillRect({x, 0, x + 1, 1200}, 0xffffff);
  look.bokeh = 40;
  Differences("thin lines, blur 20 (pyramid)", lines, look);
  TBitmap field = Filled(1200, 800, 0, 200, 0);
  field.FillRect({560, 40, 640, 120}, 0x0000ff);
  TBitmap protect(1200, 800, pf8bit);
  protect.FillRect({560, 40, 640, 120}, 0xffffff);
  Differences("protected red square, blur 20", field, look, &protect);
  return 0;
}
