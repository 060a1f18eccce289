// The toolkit's and the engine's hot routines, plain form beside fast form,
// in one run on a 6000 x 4000 picture made from the sample photo (resampled
// up from 2560 x 1600). Every fast result is compared byte for byte with
// the plain one ("same" column), so this also checks the fast forms at full
// size. Fast figures are the median of several runs; plain figures of one
// run unless the routine is quick.
//
// Then: the composition's growth with picture size and blur; a 40000 x 100
// panorama made into a miniature; PNG writing with the settings used now
// beside libpng's defaults (the settings used before).
//
// Lines starting with '@' carry the figures for bench/run_bench.py, which
// runs OpenCV's GaussianBlur and whole commands beside them.
//
//   bench_fast [--quick] [--only TEXT] [--sample PATH] [--keep DIR]
// --quick skips the slowest plain runs (the blur and the composition);
// --only runs just the rows whose name contains TEXT;
// --keep writes the 6000 x 4000 picture to DIR/sample.bmp and .jpg for the
// whole-command comparisons.
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "codecs/picture_io.h"
#include "engine/miniature_engine.h"
#include "imaging/blur.h"
#include "imaging/overlay.h"
#include "imaging/parallel.h"
#include "imaging/resample.h"
#include "imaging/rotation.h"
#include "imaging/simd.h"
#include "imaging/tone.h"
#include "support/reference_mask.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& body) {
  const auto start = Clock::now();
  body();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(int runs, const std::function<void()>& body) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(Seconds(body));
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

std::string Key(std::string name) {
  for (char& c : name)
    if (c == ' ' || c == ',' || c == '(' || c == ')' || c == '>') c = '_';
  return name;
}

// One table row: plain and fast time, their ratio and whether the bytes
// agree. plain < 0: not run.
void Row(const std::string& name, double plain, double fast, int same) {
  char plainText[32] = "-", ratio[32] = "";
  if (plain >= 0) {
    std::snprintf(plainText, sizeof plainText, "%.3f", plain);
    std::snprintf(ratio, sizeof ratio, "%.1fx", plain / fast);
  }
  std::printf("  %-40s %9s %9.3f %8s %6s\n", name.c_str(), plainText, fast, ratio,
              same < 0 ? "-"
              : same   ? "yes"
                       : "NO");
  std::printf("@ %s plain=%.4f fast=%.4f same=%d\n", Key(name).c_str(), plain, fast, same);
  std::fflush(stdout);
}

// Plain and fast form of one routine: `run(plain)` returns its result.
std::string onlyRows;  // --only

template <class Result>
void Compare(const std::string& name, int fastRuns, bool runPlain, const std::function<Result(bool)>& run) {
  if (name.find(onlyRows) == std::string::npos) return;
  Result plainResult{}, fastResult{};
  double plain = -1;
  if (runPlain) plain = Seconds([&] { plainResult = run(true); });
  const double fast = Median(fastRuns, [&] { fastResult = run(false); });
  Row(name, plain, fast, runPlain ? int(plainResult == fastResult) : -1);
}

TBitmap Resampled(const TBitmap& picture, int w, int h) {
  TBitmap b = picture;
  BmpResizeFast(b, w, h, rmBicubic);
  return b;
}

MiniatureEngine EngineFor(const TBitmap& picture) {
  MiniatureEngine e;
  e.LoadPicture(picture);
  return e;
}

// libpng's defaults (all filters per row, zlib level 6): how PNG files were
// written before.
std::size_t PngWithDefaults(const TBitmap& picture) {
  struct Sink {
    std::vector<unsigned char> bytes;
  } sink;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  png_set_write_fn(
      png, &sink,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* s = static_cast<Sink*>(png_get_io_ptr(p));
        s->bytes.insert(s->bytes.end(), data, data + n);
      },
      [](png_structp) {});
  png_set_IHDR(png, info, png_uint_32(picture.Width()), png_uint_32(picture.Height()), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  for (int y = 0; y < picture.Height(); ++y) png_write_row(png, const_cast<png_bytep>(picture.ScanLine(y)));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return sink.bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::string samplePath, keep;
  const char* source = std::getenv("TESSARIN_SOURCE_DIR");
  samplePath = std::string(source ? source : ".") + "/samples/evening-glow.jpg";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) quick = true;
    if (std::strcmp(argv[i], "--sample") == 0 && i + 1 < argc) samplePath = argv[++i];
    if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc) keep = argv[++i];
    if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) onlyRows = argv[++i];
  }
  TBitmap sample;
  std::string error;
  if (!ReadPicture(samplePath, sample, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const TBitmap picture = Resampled(sample, 6000, 4000);
  const int w = picture.Width(), h = picture.Height();
  if (!keep.empty()) {
    std::filesystem::create_directories(keep);
    if (!WritePicture(keep + "/sample.bmp", picture, error) ||
        !WritePicture(keep + "/sample.jpg", picture, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }

  std::string targets;
  for (std::int64_t t : RunnableSimdTargets()) targets += (targets.empty() ? "" : " ") + SimdTargetName(t);
  std::printf("Fast paths on %s (runnable here: %s), %d threads; picture %d x %d from %s\n",
              SimdTargetName().c_str(), targets.c_str(), ThreadCount(), w, h, samplePath.c_str());
  std::printf("@ target=%s threads=%d\n", SimdTargetName().c_str(), ThreadCount());
  std::printf("  %-40s %9s %9s %8s %6s\n", "routine", "plain s", "fast s", "speedup", "same");

  const auto blurOf = [&](int zone) {
    return [&, zone](bool plain) {
      TBitmap b = picture;
      b.ScanLine(0);  // its own pixels, as a blurred copy has in the composition
      plain ? GaussianBlurPlain(b, zone) : GaussianBlurFast(b, zone);
      return b;
    };
  };
  Compare<TBitmap>("GaussianBlur zone 7", 5, !quick, blurOf(7));
  Compare<TBitmap>("GaussianBlur zone 20", 5, !quick, blurOf(20));

  const auto maskAt = [&](int angle) {
    return [&, angle](bool plain) {
      TBitmap m;
      const FocusSettings focus{w, h, angle, 50, BlurSlope::Medium};
      plain ? CreateMaskBMPPlain(m, w, h, {w / 2, h / 2}, focus)
            : CreateMaskBMPFast(m, w, h, {w / 2, h / 2}, focus);
      return m;
    };
  };
  for (int angle : {0, 30, 60, 90})
    Compare<TBitmap>("mask angle " + std::to_string(angle), 5, angle == 30, maskAt(angle));
  if (std::string("mask angle 30, square-and-turn").find(onlyRows) != std::string::npos) {
    // The square-and-turn the mask replaced, against the fast direct mask.
    TBitmap reference, direct;
    const FocusSettings focus{w, h, 30, 50, BlurSlope::Medium};
    const double t = Seconds([&] { SquareAndTurnMask(reference, w, h, {w / 2, h / 2}, focus); });
    const double fast = Median(5, [&] { CreateMaskBMPFast(direct, w, h, {w / 2, h / 2}, focus); });
    Row("mask angle 30, square-and-turn", t, fast, int(reference == direct));
  }

  TBitmap mask;
  CreateMaskBMPFast(mask, w, h, {w / 2, h / 2}, FocusSettings{w, h, 30, 50, BlurSlope::Medium});
  TBitmap blurred = picture;
  GaussianBlurFast(blurred, 20);
  Compare<TBitmap>("MaskedOverlay", 5, true, [&](bool plain) {
    TBitmap t = picture;
    plain ? MaskedOverlayPlain(t, blurred, mask, 0, 0) : MaskedOverlayFast(t, blurred, mask, 0, 0);
    return t;
  });
  Compare<TBitmap>("tone (40, 10, -5)", 5, true, [&](bool plain) {
    TBitmap t = picture;
    if (plain) {
      SaturationPlain(t, 40), ContrastPlain(t, 10), BrightnessPlain(t, -5);
    } else {
      SaturationFast(t, 40), ContrastFast(t, 10), BrightnessFast(t, -5);
    }
    return t;
  });
  Compare<TBitmap>("Rotate90", 5, true, [&](bool plain) {
    TBitmap t = picture;
    plain ? Rotate90Plain(t, true) : Rotate90Fast(t, true);
    return t;
  });
  Compare<TBitmap>("Rotation 30", 3, true, [&](bool plain) {
    TBitmap t = picture;
    plain ? RotationPlain(t, 30, 0) : RotationFast(t, 30, 0);
    return t;
  });
  const char* names[] = {"Nearest",  "Bilinear", "Bicubic", "BSpline", "Hermite",
                         "Mitchell", "Bell",     "Lanczos", "Lagrange"};
  for (int m = 0; m <= 8; ++m) {
    Compare<TBitmap>(std::string("BmpResize to 3000x2000 ") + names[m], 5, true, [&, m](bool plain) {
      TBitmap t = picture;
      plain ? BmpResizePlain(t, 3000, 2000, TResizeMode(m)) : BmpResizeFast(t, 3000, 2000, TResizeMode(m));
      return t;
    });
  }
  Compare<TBitmap>("BmpResize to 9000x6000 Lanczos", 3, true, [&](bool plain) {
    TBitmap t = picture;
    plain ? BmpResizePlain(t, 9000, 6000, rmLanczos) : BmpResizeFast(t, 9000, 6000, rmLanczos);
    return t;
  });

  // The miniature Apply: mask, blur and blend (the tone step apart).
  const auto applyWith = [&](int blur) {
    return [&, blur](bool plain) {
      MiniatureEngine e = EngineFor(picture);
      SetPlainPaths(plain);
      e.ApplyMiniature({w / 2, h / 2}, FocusSettings{w, h, 30, 50, BlurSlope::Medium}, blur);
      SetPlainPaths(false);
      return e.TargetBMP();
    };
  };
  Compare<TBitmap>("Apply (mask+blur+blend) blur 7", 5, !quick, applyWith(7));
  Compare<TBitmap>("Apply (mask+blur+blend) blur 20", 5, !quick, applyWith(20));
  Compare<TBitmap>("tone Apply (ApplyTone 40 10 -5)", 5, true, [&](bool plain) {
    MiniatureEngine e = EngineFor(picture);
    SetPlainPaths(plain);
    e.ApplyTone(40, 10, -5);
    SetPlainPaths(false);
    return e.TargetBMP();
  });

  if (!onlyRows.empty()) return 0;  // the tables below belong to a whole run
  std::printf("\nApply (fast) growth, angle 30, depth 50, Medium: seconds\n  %-10s", "megapixels");
  for (int blur : {1, 5, 10, 20}) std::printf("   blur %-3d", blur);
  std::printf("\n");
  for (const auto& [gw, gh] : {std::pair{3000, 2000}, {4243, 2828}, {6000, 4000}, {8485, 5657}}) {
    const TBitmap p = Resampled(sample, gw, gh);
    std::string data;
    std::printf("  %-10.1f", gw * double(gh) / 1e6);
    for (int blur : {1, 5, 10, 20}) {
      const double t = Median(3, [&] {
        MiniatureEngine e = EngineFor(p);
        e.ApplyMiniature({gw / 2, gh / 2}, FocusSettings{gw, gh, 30, 50, BlurSlope::Medium}, blur);
      });
      std::printf("  %9.3f", t);
      char line[96];
      std::snprintf(line, sizeof line, "@ growth_%dx%d_blur%d fast=%.4f\n", gw, gh, blur, t);
      data += line;
    }
    std::printf("\n%s", data.c_str());
  }
  {
    const TBitmap panorama = Resampled(sample, 40000, 100);
    MiniatureEngine e = EngineFor(panorama);
    const double t = Median(3, [&] {
      e.ApplyMiniature({20000, 50}, FocusSettings{40000, 100, 10, 50, BlurSlope::Medium}, 7);
    });
    std::printf("Panorama 40000 x 100 miniature (angle 10, blur 7): %.3f s, result %d x %d\n", t,
                e.TargetBMP().Width(), e.TargetBMP().Height());
    std::printf("@ panorama fast=%.4f width=%d height=%d\n", t, e.TargetBMP().Width(),
                e.TargetBMP().Height());
  }
  {
    const auto dir = std::filesystem::temp_directory_path() / "tessarin-bench-fast";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "picture.png").string();
    const double now = Median(3, [&] { WritePicture(path, picture, error); });
    const auto size = std::filesystem::file_size(path);
    std::size_t before = 0;
    const double then = Seconds([&] { before = PngWithDefaults(picture); });
    std::printf(
        "PNG write 6000 x 4000: %.3f s, %.1f MB (libpng defaults, as before: %.3f s, %.1f MB in memory)\n",
        now, size / 1e6, then, before / 1e6);
    std::printf("@ png now=%.4f size=%zu before=%.4f beforesize=%zu\n", now, std::size_t(size), then, before);
    std::filesystem::remove_all(dir);
  }
  return 0;
}
