// PNG files through libpng (zlib underneath).
//
// Reads: every colour type and bit depth. libpng's transforms bring each
// to 8-bit blue, green, red: palettes and grey below 8 bits are expanded,
// 16-bit channels are cut to their high byte (libpng's strip), grey is
// spread to three channels, Adam7 interlacing is undone, and a transparent
// colour (tRNS) becomes an alpha channel. Alpha is composited over white
// here, in the stored values (c * a + 255 * (255 - a)) / 255 rounded half
// up, as a viewer without colour management shows it; libpng's background
// transform would blend in linear light whenever the file carries a gAMA
// chunk, which lightens every half-transparent pixel. The gAMA, cHRM,
// sRGB and iCCP chunks are otherwise ignored. The file must run to its IEND chunk;
// libpng refuses bad CRCs of critical chunks and damaged zlib data. Sizes
// are checked after the header and before any pixel memory is taken.
//
// Writes: 8-bit RGB, not interlaced, with libpng's default filters and zlib
// level.
//
// libpng reports errors by longjmp into the routine that armed it
// (PngReadHeader, PngReadPixels, PngWriteAll): these are plain C-style code
// with no object that has a destructor in their frames. The C++ owners
// around them free libpng's structures on every path.
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/codec.h"

namespace codecs {
namespace {

constexpr char kFormat[] = "PNG";

struct PngTrap {
  std::jmp_buf jump;
  char message[256];
};

struct PngReader {
  png_structp png;
  png_infop info;
  PngTrap trap;
  const unsigned char* data;
  std::size_t size;
  std::size_t position;
};

struct PngWriter {
  png_structp png;
  png_infop info;
  PngTrap trap;
  Bytes* out;
};

void OnPngError(png_structp png, png_const_charp message) {
  PngTrap* trap = static_cast<PngTrap*>(png_get_error_ptr(png));
  std::strncpy(trap->message, message, sizeof trap->message - 1);
  trap->message[sizeof trap->message - 1] = '\0';
  std::longjmp(trap->jump, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
  PngReader* r = static_cast<PngReader*>(png_get_io_ptr(png));
  if (count > r->size - r->position) png_error(png, "image data truncated");
  std::memcpy(out, r->data + r->position, count);
  r->position += count;
}

// Appends to the writer's bytes; a failed allocation becomes a libpng error
// once the exception is fully handled.
void WriteToMemory(png_structp png, png_bytep data, png_size_t count) {
  PngWriter* w = static_cast<PngWriter*>(png_get_io_ptr(png));
  bool ok = true;
  try {
    w->out->insert(w->out->end(), data, data + count);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "out of memory");
}

void FlushMemory(png_structp) {}

// --- setjmp shims: plain data only. ---

bool PngReadHeader(PngReader* r, png_uint_32* width, png_uint_32* height) {
  if (setjmp(r->trap.jump)) return false;
  png_set_read_fn(r->png, r, ReadFromMemory);
  // The size limit is ours (checked by the caller with its own message).
  png_set_user_limits(r->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_read_info(r->png, r->info);
  *width = png_get_image_width(r->png, r->info);
  *height = png_get_image_height(r->png, r->info);
  return true;
}

// Whether the picture has an alpha channel or a transparent colour.
bool HasTransparency(const PngReader* r) {
  return (png_get_color_type(r->png, r->info) & PNG_COLOR_MASK_ALPHA) != 0 ||
         png_get_valid(r->png, r->info, PNG_INFO_tRNS) != 0;
}

// Sets up the transforms to 8-bit blue, green, red (and alpha when the
// picture has transparency) and reads every row into `rows`.
bool PngReadPixels(PngReader* r, unsigned char* const* rows, std::size_t rowBytes) {
  if (setjmp(r->trap.jump)) return false;
  png_structp png = r->png;
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, r->info);
  if (png_get_rowbytes(png, r->info) != rowBytes) png_error(png, "unexpected row layout after conversion");
  png_read_image(png, const_cast<png_bytepp>(rows));
  png_read_end(png, nullptr);
  return true;
}

bool PngWriteAll(PngWriter* w, const unsigned char* const* rows, png_uint_32 width, png_uint_32 height) {
  if (setjmp(w->trap.jump)) return false;
  png_set_write_fn(w->png, w, WriteToMemory, FlushMemory);
  png_set_IHDR(w->png, w->info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(w->png, w->info);
  png_set_bgr(w->png);
  png_write_image(w->png, const_cast<png_bytepp>(rows));
  png_write_end(w->png, nullptr);
  return true;
}

// Alpha over white in the stored values: (c * a + 255 * (255 - a)) / 255,
// rounded half up.
void CompositeOverWhite(unsigned char* const* rows, TBitmap& picture) {
  for (int y = 0; y < picture.Height(); ++y) {
    const unsigned char* src = rows[y];
    std::uint8_t* dst = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x, src += 4, dst += 3) {
      const unsigned a = src[3];
      for (int c = 0; c < 3; ++c) dst[c] = std::uint8_t((src[c] * a + 255 * (255 - a) + 127) / 255);
    }
  }
}

// --- C++ owners. ---

class ReaderOwner {
 public:
  ReaderOwner(const Bytes& data) : r_{} {
    r_.data = data.data();
    r_.size = data.size();
    r_.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r_.trap, OnPngError, OnPngWarning);
    if (r_.png) r_.info = png_create_info_struct(r_.png);
  }
  ~ReaderOwner() {
    if (r_.png) png_destroy_read_struct(&r_.png, r_.info ? &r_.info : nullptr, nullptr);
  }
  ReaderOwner(const ReaderOwner&) = delete;
  ReaderOwner& operator=(const ReaderOwner&) = delete;
  PngReader* get() { return r_.png && r_.info ? &r_ : nullptr; }

 private:
  PngReader r_;
};

class WriterOwner {
 public:
  explicit WriterOwner(Bytes& out) : w_{} {
    w_.out = &out;
    w_.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w_.trap, OnPngError, OnPngWarning);
    if (w_.png) w_.info = png_create_info_struct(w_.png);
  }
  ~WriterOwner() {
    if (w_.png) png_destroy_write_struct(&w_.png, w_.info ? &w_.info : nullptr);
  }
  WriterOwner(const WriterOwner&) = delete;
  WriterOwner& operator=(const WriterOwner&) = delete;
  PngWriter* get() { return w_.png && w_.info ? &w_ : nullptr; }

 private:
  PngWriter w_;
};

}  // namespace

bool DecodePng(const Bytes& data, const std::string& path, TBitmap& picture, std::string& error) {
  if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) {
    error = FormatError(kFormat, "not a PNG file (bad signature)", path);
    return false;
  }
  ReaderOwner owner(data);
  PngReader* r = owner.get();
  if (!r) {
    error = FormatError(kFormat, "out of memory", path);
    return false;
  }
  png_uint_32 width = 0, height = 0;
  if (!PngReadHeader(r, &width, &height)) {
    error = FormatError(kFormat, r->trap.message, path);
    return false;
  }
  if (!CheckDeclaredSize(kFormat, width, height, path, error)) return false;
  TBitmap decoded(int(width), int(height), pf24bit);
  const bool transparent = HasTransparency(r);
  const std::size_t channels = transparent ? 4 : 3;
  std::vector<unsigned char> withAlpha(transparent ? std::size_t(width) * height * 4 : 0);
  std::vector<unsigned char*> rows(height);
  for (png_uint_32 y = 0; y < height; ++y)
    rows[y] = transparent ? withAlpha.data() + std::size_t(y) * width * 4 : decoded.ScanLine(int(y));
  if (!PngReadPixels(r, rows.data(), std::size_t(width) * channels)) {
    error = FormatError(kFormat, r->trap.message, path);
    return false;
  }
  if (transparent) CompositeOverWhite(rows.data(), decoded);
  picture = std::move(decoded);
  return true;
}

bool EncodePng(const TBitmap& picture, const std::string& path, Bytes& data, std::string& error) {
  Bytes out;
  WriterOwner owner(out);
  PngWriter* w = owner.get();
  if (!w) {
    error = FormatError(kFormat, "out of memory", path);
    return false;
  }
  std::vector<const unsigned char*> rows(std::size_t(picture.Height()));
  for (int y = 0; y < picture.Height(); ++y) rows[std::size_t(y)] = picture.ScanLine(y);
  if (!PngWriteAll(w, rows.data(), png_uint_32(picture.Width()), png_uint_32(picture.Height()))) {
    error = FormatError(kFormat, w->trap.message, path);
    return false;
  }
  data = std::move(out);
  return true;
}

}  // namespace codecs
