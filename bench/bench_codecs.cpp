// Read and write times of a 6000 x 4000 picture as JPEG, PNG and BMP
// through ReadPicture/WritePicture, each beside its library's own work on
// the same file in the same run:
//   JPEG  djpeg to /dev/null, cjpeg -quality 90 from a PPM, and
//         djpeg | cjpeg -quality 90 beside a ReadPicture + WritePicture;
//   PNG   libpng decoding the file into one buffer (its simplified API,
//         8-bit blue, green, red) and encoding one buffer with the
//         settings the PNG writer uses;
//   BMP   the file read whole with read(2), and written with write(2) and
//         fsync (no library: the floor is the system's own copying);
//   WebP, AVIF, HEIC, TIFF, JPEG XL   the libraries' own programs (cwebp
//         and dwebp, heif-enc, heif-convert and avifdec, tiffcp and
//         tiff2rgba, cjxl and djxl), which also start a process, read their
//         input and write an output file (a PPM where they can, else a PNG,
//         which costs them a deflate of the whole picture).
// Each figure is the median of several runs. The picture is the one at the
// path given (a photograph, say), or else made here (smooth shading with
// fixed noise); the files go to a temporary folder.
//
// WritePicture includes making the temporary file, fsync and the rename;
// the djpeg and cjpeg figures include starting the process.
// Usage: bench_codecs [runs, default 3] [picture]
#include <fcntl.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
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

// The file's bytes, read whole into a fresh buffer.
std::vector<std::uint8_t> FileBytes(const std::string& path) {
  const std::size_t size = std::filesystem::file_size(path);
  std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[size]);  // not zeroed
  const int fd = ::open(path.c_str(), O_RDONLY);
  std::size_t done = 0;
  while (fd >= 0 && done < size) {
    const ssize_t n = ::read(fd, data.get() + done, size - done);
    if (n <= 0) break;
    done += std::size_t(n);
  }
  if (fd >= 0) ::close(fd);
  return done == size ? std::vector<std::uint8_t>{data[0], data[size - 1]} : std::vector<std::uint8_t>{};
}

// libpng's own decode of a file into one buffer of blue, green, red.
bool LibpngRead(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_BGR;
  std::unique_ptr<png_byte[]> pixels(new png_byte[PNG_IMAGE_SIZE(image)]);
  const bool ok = png_image_finish_read(&image, nullptr, pixels.get(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

// libpng encoding `rows` (blue, green, red, top first) into memory with the
// PNG writer's settings: Paeth, zlib level 1, Z_RLE.
bool LibpngWrite(const std::vector<png_bytep>& rows, std::vector<std::uint8_t>& out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  out.clear();
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* v = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
        v->insert(v->end(), data, data + n);
      },
      nullptr);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
  png_set_compression_strategy(png, Z_RLE);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  png_write_image(png, const_cast<png_bytepp>(rows.data()));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool WriteAndSync(const std::string& path, const std::vector<std::uint8_t>& data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const bool ok = ::write(fd, data.data(), data.size()) == ssize_t(data.size()) && ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

// Prints and returns `seconds`.
double Print(const char* what, double seconds, const std::string& path = "") {
  if (seconds < 0) {
    std::printf("  %-40s failed\n", what);
    return seconds;
  }
  std::printf("  %-40s %8.1f ms", what, seconds * 1000);
  std::error_code ec;
  if (!path.empty()) std::printf("   (%6.1f MB file)", double(std::filesystem::file_size(path, ec)) / 1e6);
  std::printf("\n");
  return seconds;
}

void Goal(const char* what, double value, double limit, const char* unit) {
  std::printf("  %-48s %6.2f%s  (goal <= %.2f%s)  %s\n", what, value, unit, limit, unit,
              value >= 0 && value <= limit ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char folder[] = "/tmp/tessarin-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string dir = folder;
  TBitmap picture;
  std::string error;
  if (argc > 2) {
    if (!ReadPicture(argv[2], picture, error) || picture.Width() != kWidth || picture.Height() != kHeight) {
      std::fprintf(stderr, "%s: need a %d x %d picture (%s)\n", argv[2], kWidth, kHeight, error.c_str());
      return 1;
    }
  } else {
    picture = MakePhoto();
  }
  std::printf("%d x %d picture (%s), median of %d runs\n", kWidth, kHeight, argc > 2 ? argv[2] : "made here",
              runs);
  const std::string jpg = dir + "/picture.jpg", png = dir + "/picture.png", bmp = dir + "/picture.bmp";
  const std::string ppm = dir + "/picture.ppm", out = dir + "/out";
  TBitmap back;

  std::printf(".jpg\n");
  Print("WritePicture (quality 90)", MedianSeconds(runs, [&] { return WritePicture(jpg, picture, error); }),
        jpg);
  const double jpegRead =
      Print("ReadPicture", MedianSeconds(runs, [&] { return ReadPicture(jpg, back, error); }), jpg);
  const double jpegBoth =
      Print("ReadPicture + WritePicture", MedianSeconds(runs, [&] {
              return ReadPicture(jpg, back, error) && WritePicture(out + ".jpg", back, error);
            }));
  Run("djpeg -outfile '" + ppm + "' '" + jpg + "'");
  const double djpeg =
      Print("djpeg to /dev/null",
            MedianSeconds(runs, [&] { return Run("djpeg -outfile /dev/null '" + jpg + "'"); }));
  Print("cjpeg -quality 90 (from a PPM)", MedianSeconds(runs, [&] {
          return Run("cjpeg -quality 90 -outfile '" + out + "-c.jpg' '" + ppm + "'");
        }));
  const double djpegCjpeg =
      Print("djpeg | cjpeg -quality 90", MedianSeconds(runs, [&] {
              return Run("djpeg '" + jpg + "' | cjpeg -quality 90 -outfile '" + out + "-dc.jpg'");
            }));

  std::printf(".png\n");
  Print("WritePicture", MedianSeconds(runs, [&] { return WritePicture(png, picture, error); }), png);
  const double pngRead =
      Print("ReadPicture", MedianSeconds(runs, [&] { return ReadPicture(png, back, error); }), png);
  std::vector<png_bytep> rows(kHeight);
  for (int y = 0; y < kHeight; ++y)
    rows[std::size_t(y)] = const_cast<png_bytep>(std::as_const(picture).ScanLine(y));
  std::vector<std::uint8_t> encoded;
  Print("libpng encode (same settings, memory)",
        MedianSeconds(runs, [&] { return LibpngWrite(rows, encoded); }));
  const double libpng =
      Print("libpng decode (simplified API)", MedianSeconds(runs, [&] { return LibpngRead(png); }));

  std::printf(".bmp\n");
  Print("WritePicture", MedianSeconds(runs, [&] { return WritePicture(bmp, picture, error); }), bmp);
  const double bmpRead =
      Print("ReadPicture", MedianSeconds(runs, [&] { return ReadPicture(bmp, back, error); }), bmp);
  Print("read(2) of the file", MedianSeconds(runs, [&] { return !FileBytes(bmp).empty(); }));
  std::vector<std::uint8_t> bytes(std::filesystem::file_size(bmp), 1);
  Print("write(2) + fsync of as many bytes",
        MedianSeconds(runs, [&] { return WriteAndSync(out + ".bmp", bytes); }));
  if (!error.empty()) std::printf("error: %s\n", error.c_str());

  // The formats of phones and the web, beside their libraries' programs.
  struct Tool {
    const char* what;
    std::string command;
  };
  const std::string pngIn = "'" + png + "'";
  const auto in = [&](const char* ext) { return "'" + dir + "/picture" + ext + "'"; };
  const auto to = [&](const char* name) { return "'" + out + name + "'"; };
  double reads[5] = {};
  const char* formats[] = {".webp", ".avif", ".heic", ".tif", ".jxl"};
  for (int i = 0; i < 5; ++i) {
    const std::string path = dir + "/picture" + formats[i];
    std::printf("%s\n", formats[i]);
    Print("WritePicture (quality 90)",
          MedianSeconds(runs, [&] { return WritePicture(path, picture, error); }), path);
    reads[i] =
        Print("ReadPicture", MedianSeconds(runs, [&] { return ReadPicture(path, back, error); }), path);
  }
  const Tool tools[] = {
      {"cwebp -q 90 (from the .png)", "cwebp -quiet -q 90 " + pngIn + " -o " + to("c.webp")},
      {"dwebp -ppm", "dwebp -quiet " + in(".webp") + " -ppm -o " + to("d.ppm")},
      {"heif-enc -A -q 90 (from the .png)", "heif-enc -A -q 90 " + pngIn + " -o " + to("e.avif")},
      {"heif-convert (.avif to .png)", "heif-convert " + in(".avif") + " " + to("a.png")},
      {"avifdec (.avif to .png)", "avifdec " + in(".avif") + " " + to("ad.png")},
      {"heif-enc -q 90 (from the .png)", "heif-enc -q 90 " + pngIn + " -o " + to("e.heic")},
      {"heif-convert (.heic to .png)", "heif-convert " + in(".heic") + " " + to("h.png")},
      {"tiffcp -c zip:p2", "tiffcp -c zip:p2 " + in(".tif") + " " + to("c.tif")},
      {"tiff2rgba -c none", "tiff2rgba -c none " + in(".tif") + " " + to("r.tif")},
      {"cjxl -q 90 (from the .png)", "cjxl -q 90 " + pngIn + " " + to("c.jxl")},
      {"djxl (.jxl to .ppm)", "djxl " + in(".jxl") + " " + to("d.ppm")},
  };
  std::printf("the libraries' own programs\n");
  double toolTimes[std::size(tools)] = {};
  for (std::size_t i = 0; i < std::size(tools); ++i)
    toolTimes[i] = Print(tools[i].what,
                         MedianSeconds(runs, [&] { return Run(tools[i].command + " > /dev/null 2>&1"); }));

  std::printf("goals\n");
  Goal("JPEG ReadPicture / djpeg", jpegRead / djpeg, 1.3, "x");
  Goal("JPEG ReadPicture + WritePicture / djpeg | cjpeg", jpegBoth / djpegCjpeg, 1.5, "x");
  Goal("PNG ReadPicture / libpng decode", pngRead / libpng, 1.3, "x");
  Goal("BMP ReadPicture of 72 MB", bmpRead, 0.1, " s");
  Goal("WebP ReadPicture / dwebp", reads[0] / toolTimes[1], 1.3, "x");
  Goal("AVIF ReadPicture / avifdec", reads[1] / toolTimes[4], 1.3, "x");
  Goal("HEIC ReadPicture / heif-convert", reads[2] / toolTimes[6], 1.3, "x");

  std::filesystem::remove_all(dir);
  return 0;
}
