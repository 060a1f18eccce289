// TIFF files through libtiff.
//
// Reads: the first page, through libtiff's RGBA image reader: 1- to 8- and
// 16-bit grey, RGB, palette, CMYK and YCbCr, striped or tiled, with any
// compression libtiff decodes. 16-bit channels are rounded to 8 bits,
// (v + 128) / 257: libtiff's own table does so for colour, and 16-bit grey
// (which libtiff cuts to its high byte) goes through a routine of ours. The
// rows come in the order they are stored: the orientation tag is applied
// after the decode, with the EXIF orientation of the other formats (TIFF
// keeps both in the same tag). Alpha, which libtiff hands over multiplied
// in, is composited over white (p + 255 - a).
//
// Memory: the size is checked against the picture limits and the decode
// against the budget before libtiff reads any pixel data: our rows and
// libtiff's RGBA raster (4 bytes a pixel); what is left of the budget
// bounds any single block libtiff allocates (a strip or a tile).
//
// Writes: 8-bit RGB, striped, deflate with the horizontal predictor. The
// colour profile and XMP go into their own tags; EXIF is added by exiv2
// (WriteTiffExif) as the EXIF IFD it belongs in. IPTC is left out with a
// warning.
//
// libtiff reports errors through the per-file handler set at open, which
// keeps the first message for ours.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "codecs/codec.h"

namespace codecs {
namespace {

constexpr char kFormat[] = "TIFF";

// The bytes libtiff reads from or writes to, and the first error it gave.
struct MemoryFile {
  const std::uint8_t* input = nullptr;  // reading
  std::size_t inputSize = 0;
  Bytes* output = nullptr;  // writing
  std::uint64_t position = 0;
  std::string error;
};

std::size_t FileSize(const MemoryFile* f) {
  return f->output != nullptr ? f->output->size() : f->inputSize;
}

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  MemoryFile* f = static_cast<MemoryFile*>(handle);
  const std::size_t total = FileSize(f);
  if (size < 0 || f->position >= total) return 0;
  const std::size_t count = std::min<std::uint64_t>(std::uint64_t(size), total - f->position);
  const std::uint8_t* from = f->output != nullptr ? f->output->data() : f->input;
  std::memcpy(buffer, from + f->position, count);
  f->position += count;
  return tmsize_t(count);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
  MemoryFile* f = static_cast<MemoryFile*>(handle);
  if (f->output == nullptr || size < 0) return -1;
  try {
    const std::uint64_t end = f->position + std::uint64_t(size);
    if (end > f->output->size()) f->output->resize(std::size_t(end));
    std::memcpy(f->output->data() + f->position, buffer, std::size_t(size));
    f->position = end;
    return size;
  } catch (...) {
    return -1;
  }
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  MemoryFile* f = static_cast<MemoryFile*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = f->position;
  if (whence == SEEK_END) base = FileSize(f);
  const std::uint64_t target = base + offset;
  if (target > (std::uint64_t(1) << 40)) return toff_t(-1);
  f->position = target;
  return target;
}

int CloseProc(thandle_t) {
  return 0;
}

toff_t SizeProc(thandle_t handle) {
  return FileSize(static_cast<MemoryFile*>(handle));
}

// A file being read is "mapped" as the bytes it is: libtiff then reads
// strips and tiles in place.
int MapProc(thandle_t handle, void** base, toff_t* size) {
  MemoryFile* f = static_cast<MemoryFile*>(handle);
  if (f->input == nullptr) return 0;
  *base = const_cast<std::uint8_t*>(f->input);
  *size = f->inputSize;
  return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
  MemoryFile* f = static_cast<MemoryFile*>(user);
  if (f->error.empty()) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    try {
      f->error = text;
    } catch (...) {
    }
  }
  return 1;  // handled: nothing goes to the error stream
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

struct TiffDeleter {
  void operator()(TIFF* t) const { TIFFClose(t); }
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

std::unique_ptr<TIFF, TiffDeleter> Open(MemoryFile& file, const char* mode, std::uint64_t maxAlloc) {
  std::unique_ptr<TIFFOpenOptions, TiffDeleter> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &file);
  TIFFOpenOptionsSetMaxSingleMemAlloc(
      options.get(), tmsize_t(std::min<std::uint64_t>(maxAlloc, std::numeric_limits<tmsize_t>::max())));
  return std::unique_ptr<TIFF, TiffDeleter>(TIFFClientOpenExt("memory", mode, &file, ReadProc, WriteProc,
                                                              SeekProc, CloseProc, SizeProc, MapProc,
                                                              UnmapProc, options.get()));
}

// libtiff's routine for a block of 16-bit grey pixels, rounding instead
// of taking the high byte. `pp` holds `w` x `h` pixels of
// samplesperpixel 16-bit samples (the first is the grey level; an alpha
// sample is ignored, as libtiff does), each row followed by `fromskew`
// pixels not to be shown; `cp` gets ABGR values, `toskew` skipped after each
// row.
void PutGrey16(TIFFRGBAImage* img, std::uint32_t* cp, std::uint32_t, std::uint32_t, std::uint32_t w,
               std::uint32_t h, std::int32_t fromskew, std::int32_t toskew, unsigned char* pp) {
  const std::size_t samples = img->samplesperpixel;
  const bool inverted = img->photometric == PHOTOMETRIC_MINISWHITE;
  for (; h > 0; --h) {
    for (std::uint32_t i = 0; i < w; ++i, pp += 2 * samples) {
      std::uint16_t v;
      std::memcpy(&v, pp, 2);
      if (inverted) v = std::uint16_t(65535 - v);
      const std::uint32_t g = (std::uint32_t(v) + 128) / 257;
      *cp++ = 0xFF000000u | g << 16 | g << 8 | g;
    }
    cp += toskew;
    pp += std::ptrdiff_t(fromskew) * std::ptrdiff_t(2 * samples);
  }
}

struct RgbaImageOwner {
  TIFFRGBAImage image{};
  bool begun = false;
  ~RgbaImageOwner() {
    if (begun) TIFFRGBAImageEnd(&image);
  }
};

std::string Reason(const MemoryFile& file, const char* fallback) {
  return file.error.empty() ? fallback : file.error;
}

}  // namespace

bool DecodeTiff(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error) {
  const std::string& path = context.path;
  if (data.size() < 8 || !((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M'))) {
    error = FormatError(kFormat, "not a TIFF file (bad signature)", path);
    return false;
  }
  MemoryFile file;
  file.input = data.data();
  file.inputSize = data.size();
  // Reading the directory takes little; the limit is tightened below.
  auto tif = Open(file, "r", std::min<std::uint64_t>(context.budget, std::uint64_t(64) << 20));
  if (!tif) {
    error = FormatError(kFormat, Reason(file, "the file cannot be read"), path);
    return false;
  }
  std::uint32_t width = 0, height = 0;
  if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height)) {
    error = FormatError(kFormat, "the picture size is missing", path);
    return false;
  }
  if (!CheckDeclaredSize(kFormat, width, height, path, error)) return false;
  const std::uint64_t raster = std::uint64_t(width) * height * 4;
  const std::uint64_t ours = RowStore::Cost(width, height) + raster;
  if (!CheckMemory(kFormat, ours, context, error)) return false;
  char message[1024] = "";
  if (!TIFFRGBAImageOK(tif.get(), message)) {
    error = FormatError(kFormat, std::string("unsupported picture (") + message + ")", path);
    return false;
  }
  RgbaImageOwner image;
  if (!TIFFRGBAImageBegin(&image.image, tif.get(), 1, message)) {
    error = FormatError(kFormat, std::string("unsupported picture (") + message + ")", path);
    return false;
  }
  image.begun = true;
  // Rows as stored: the orientation is applied later, with the EXIF one.
  image.image.req_orientation = image.image.orientation;
  const TIFFRGBAImage& info = image.image;
  if (info.bitspersample == 16 && info.isContig &&
      (info.photometric == PHOTOMETRIC_MINISBLACK || info.photometric == PHOTOMETRIC_MINISWHITE))
    image.image.put.contig = PutGrey16;
  std::unique_ptr<std::uint32_t[]> pixels(new (std::nothrow) std::uint32_t[std::size_t(width) * height]);
  if (!pixels) {
    error = FormatError(kFormat, "out of memory", path);
    return false;
  }
  if (!TIFFRGBAImageGet(&image.image, pixels.get(), width, height)) {
    error = FormatError(kFormat, Reason(file, "damaged image data"), path);
    return false;
  }
  RowStore rows(int(width), int(height), TRGBTriple{0, 0, 0});
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* dst = rows.Row(int(y), false);
    if (dst == nullptr) {
      error = FormatError(kFormat, "out of memory", path);
      return false;
    }
    const std::uint32_t* src = pixels.get() + std::size_t(y) * width;
    for (std::uint32_t x = 0; x < width; ++x, dst += 3) {
      const std::uint32_t p = src[x];
      const unsigned white = 255 - TIFFGetA(p);
      dst[0] = std::uint8_t(std::min(255u, TIFFGetB(p) + white));
      dst[1] = std::uint8_t(std::min(255u, TIFFGetG(p) + white));
      dst[2] = std::uint8_t(std::min(255u, TIFFGetR(p) + white));
    }
  }
  picture = rows.Take();
  return true;
}

bool EncodeTiff(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error) {
  const std::string& path = context.path;
  Bytes out;
  MemoryFile file;
  file.output = &out;
  {
    auto tif = Open(file, "w", std::uint64_t(1) << 40);
    if (!tif) {
      error = FormatError(kFormat, Reason(file, "out of memory"), path);
      return false;
    }
    const std::uint32_t width = std::uint32_t(picture.Width()), height = std::uint32_t(picture.Height());
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    const TSaveMetadata* meta = context.metadata;
    if (meta != nullptr) {
      if (!meta->icc.empty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, std::uint32_t(meta->icc.size()), meta->icc.data());
      if (!meta->xmp.empty())
        TIFFSetField(t, TIFFTAG_XMLPACKET, std::uint32_t(meta->xmp.size()), meta->xmp.data());
      if (!meta->iptc.empty())
        context.Warn(FormatError(kFormat, "IPTC data is not written to TIFF files; left out", path));
    }
    std::unique_ptr<std::uint8_t[]> row(new std::uint8_t[std::size_t(width) * 3]);
    for (std::uint32_t y = 0; y < height; ++y) {
      const std::uint8_t* src = picture.ScanLine(int(y));
      for (std::uint32_t x = 0; x < width; ++x)
        row[3 * x] = src[3 * x + 2], row[3 * x + 1] = src[3 * x + 1], row[3 * x + 2] = src[3 * x];
      if (TIFFWriteScanline(t, row.get(), y, 0) < 0) {
        error = FormatError(kFormat, Reason(file, "the picture cannot be written"), path);
        return false;
      }
    }
    if (!TIFFWriteDirectory(t)) {
      error = FormatError(kFormat, Reason(file, "the picture cannot be written"), path);
      return false;
    }
  }  // closing flushes
  if (!file.error.empty()) {
    error = FormatError(kFormat, file.error, path);
    return false;
  }
  if (context.metadata != nullptr && !context.metadata->exif.empty()) {
    std::string problem;
    if (!WriteTiffExif(out, context.metadata->exif, problem))
      context.Warn(FormatError(kFormat, "the EXIF data cannot be kept (" + problem + "); left out", path));
  }
  data = std::move(out);
  return true;
}

}  // namespace codecs
