// PNG files through libpng (zlib underneath).
//
// Reads: every colour type and bit depth. libpng's transforms bring each
// to 8-bit blue, green, red: palettes and grey below 8 bits are expanded,
// 16-bit channels are rounded to 8 bits, v * 255 / 65535 to the nearest
// (libpng's scale; before, they were cut to their high byte), grey is
// spread to three channels, Adam7 interlacing is undone, and a transparent
// colour (tRNS) becomes an alpha channel. Alpha is composited over white
// here, in the stored values (c * a + 255 * (255 - a)) / 255 rounded half
// up, as a viewer without colour management shows it; libpng's background
// transform would blend in linear light whenever the file carries a gAMA
// chunk, which lightens every half-transparent pixel. The gAMA, cHRM,
// sRGB and iCCP chunks are otherwise ignored. The file must run to its IEND chunk;
// libpng refuses bad CRCs of critical chunks and damaged zlib data.
//
// Memory: the declared size is checked from the IHDR chunk before libpng
// is started, and the image data must be long enough for it: deflate
// expands at most 1032-fold, so IDAT chunks too short for the declared rows
// are refused as truncated before any pixel memory is taken. The picture's
// memory is then taken as rows are decoded into it (an interlaced picture
// needs a buffer of all of its rows at once). libpng's own limits hold the side to ours and any one chunk's
// memory (a compressed profile or text) to kMaxChunkBytes. libpng only warns
// when a chunk is longer than that limit and then allocates it all the
// same, so its allocator here refuses any single block over the limit
// (libpng's largest own buffer, a row of 65535 16-bit RGBA pixels, is
// 512 KB); the chunk is then skipped with a warning.
//
// Writes: 8-bit RGB, not interlaced, every row Paeth-filtered and deflated
// as runs (zlib's Z_RLE strategy). On 24-megapixel photographs this writes
// five to eight times faster than libpng's defaults (all filters tried per
// row, zlib level 6) for files at most about 6% larger; on smooth or
// blurred pictures the difference in size is smaller still.
//
// libpng reports errors by longjmp into the routine that armed it
// (PngReadHeader, PngReadPixels, PngWriteAll): these are plain C-style code
// with no object that has a destructor in their frames. The C++ owners
// around them free libpng's structures on every path.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
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

// Largest memory libpng may take for one ancillary chunk (and for any one
// block), and the most ancillary chunks it keeps.
constexpr png_alloc_size_t kMaxChunkBytes = 8 << 20;
constexpr png_uint_32 kMaxCachedChunks = 1000;

struct PngWriter {
  png_structp png;
  png_infop info;
  PngTrap trap;
  Bytes* out;
  // Metadata chunks, as present: eXIf, iCCP and the text chunks (XMP, IPTC).
  const unsigned char* exif;
  png_uint_32 exifSize;
  const unsigned char* icc;
  png_uint_32 iccSize;
  png_text* texts;
  int textCount;
  bool iccRefused;  // set when libpng would not take the profile
};

void OnPngError(png_structp png, png_const_charp message) {
  PngTrap* trap = static_cast<PngTrap*>(png_get_error_ptr(png));
  std::strncpy(trap->message, message, sizeof trap->message - 1);
  trap->message[sizeof trap->message - 1] = '\0';
  std::longjmp(trap->jump, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

png_voidp LimitedMalloc(png_structp, png_alloc_size_t size) {
  return size > kMaxChunkBytes ? nullptr : std::malloc(size);
}

void LimitedFree(png_structp, png_voidp p) {
  std::free(p);
}

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

std::uint32_t U32Be(ByteView d, std::size_t at) {
  return std::uint32_t(d[at]) << 24 | std::uint32_t(d[at + 1]) << 16 | std::uint32_t(d[at + 2]) << 8 |
         d[at + 3];
}

struct Header {
  std::uint32_t width = 0, height = 0;
};

// The size in the IHDR chunk, which must come first; false when it does not.
bool ReadIhdr(ByteView d, Header& header) {
  if (d.size() < 8 + 8 + 13 || U32Be(d, 8) != 13 || std::memcmp(d.data() + 12, "IHDR", 4) != 0) return false;
  header.width = U32Be(d, 16);
  header.height = U32Be(d, 20);
  return true;
}

// Whether the IDAT chunks hold enough bytes for the declared rows, at the
// best ratio deflate allows (1032 to 1, plus a little for headers). Each
// row of each interlace pass carries a filter byte and its packed pixels.
bool ImageDataCanHold(ByteView d, const PngReader* r) {
  constexpr std::uint64_t kBestRatio = 1032, kSlack = 1024;
  std::uint64_t idat = 0;
  for (std::size_t at = 8; at + 8 <= d.size();) {
    const std::uint64_t length = U32Be(d, at);
    if (std::memcmp(d.data() + at + 4, "IDAT", 4) == 0)
      idat += std::min<std::uint64_t>(length, d.size() - at - 8);
    at += std::size_t(std::min<std::uint64_t>(length + 12, d.size() - at));
  }
  const std::uint64_t width = png_get_image_width(r->png, r->info);
  const std::uint64_t height = png_get_image_height(r->png, r->info);
  const std::uint64_t bits =
      std::uint64_t(png_get_bit_depth(r->png, r->info)) * png_get_channels(r->png, r->info);
  auto passBytes = [&](std::uint64_t w, std::uint64_t h) {
    return w == 0 ? 0 : h * (1 + (w * bits + 7) / 8);
  };
  std::uint64_t raw = 0;
  if (png_get_interlace_type(r->png, r->info) == PNG_INTERLACE_NONE) {
    raw = passBytes(width, height);
  } else {
    // Adam7: first column and row of each pass, and the steps between.
    static const int kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kDx[7] = {8, 8, 4, 4, 2, 2, 1};
    static const int kY0[7] = {0, 0, 4, 0, 2, 0, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
    for (int p = 0; p < 7; ++p) {
      const std::uint64_t w = width > std::uint64_t(kX0[p]) ? (width - kX0[p] + kDx[p] - 1) / kDx[p] : 0;
      const std::uint64_t h = height > std::uint64_t(kY0[p]) ? (height - kY0[p] + kDy[p] - 1) / kDy[p] : 0;
      raw += passBytes(w, h);
    }
  }
  return raw <= idat * kBestRatio + kSlack;
}

// --- setjmp shims: plain data only. ---

bool PngReadHeader(PngReader* r, png_uint_32* width, png_uint_32* height) {
  if (setjmp(r->trap.jump)) return false;
  png_set_read_fn(r->png, r, ReadFromMemory);
  // The caller has checked IHDR against the same limit, with its message.
  png_set_user_limits(r->png, png_uint_32(kMaxPictureSide), png_uint_32(kMaxPictureSide));
  png_set_chunk_malloc_max(r->png, kMaxChunkBytes);
  png_set_chunk_cache_max(r->png, kMaxCachedChunks);
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

// Alpha over white in the stored values.
void CompositeRow(const unsigned char* src, unsigned char* dst, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x, src += 4, dst += 3) {
    const unsigned a = src[3];
    for (int c = 0; c < 3; ++c) dst[c] = OverWhite(src[c], a);
  }
}

// Sets up the transforms to 8-bit blue, green, red (and alpha when the
// picture has transparency) and decodes every row into `rows` (the
// picture's rows, top first). An opaque picture without interlacing is
// decoded straight into them; a transparent one goes row by row through
// `scratch` (one row) and is composited; an interlaced one is read whole
// into `whole` (every row, top first), since each pass adds to every row.
bool PngReadPixels(PngReader* r, unsigned char* const* rows, unsigned char* scratch, unsigned char* whole,
                   std::size_t rowBytes, bool transparent) {
  if (setjmp(r->trap.jump)) return false;
  png_structp png = r->png;
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, r->info);
  if (png_get_rowbytes(png, r->info) != rowBytes) png_error(png, "unexpected row layout after conversion");
  const png_uint_32 width = png_get_image_width(png, r->info), height = png_get_image_height(png, r->info);
  if (passes > 1) {
    for (int pass = 0; pass < passes; ++pass)
      for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, whole + std::size_t(y) * rowBytes, nullptr);
  }
  for (png_uint_32 y = 0; y < height; ++y) {
    if (!whole && !transparent) {
      png_read_row(png, rows[y], nullptr);
      continue;
    }
    unsigned char* src = whole ? whole + std::size_t(y) * rowBytes : scratch;
    if (!whole) png_read_row(png, src, nullptr);
    if (transparent) {
      CompositeRow(src, rows[y], width);
    } else {
      std::memcpy(rows[y], src, rowBytes);
    }
  }
  png_read_end(png, nullptr);
  return true;
}

bool PngWriteAll(PngWriter* w, const unsigned char* const* rows, png_uint_32 width, png_uint_32 height) {
  if (setjmp(w->trap.jump)) return false;
  png_set_write_fn(w->png, w, WriteToMemory, FlushMemory);
  png_set_filter(w->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
  png_set_compression_strategy(w->png, Z_RLE);
  png_set_compression_level(w->png, 1);
  png_set_IHDR(w->png, w->info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (w->exifSize > 0) png_set_eXIf_1(w->png, w->info, w->exifSize, const_cast<png_bytep>(w->exif));
  if (w->iccSize > 0) {
    png_set_iCCP(w->png, w->info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, w->icc, w->iccSize);
    w->iccRefused = png_get_valid(w->png, w->info, PNG_INFO_iCCP) == 0;
  }
  if (w->textCount > 0) png_set_text(w->png, w->info, w->texts, w->textCount);
  png_write_info(w->png, w->info);
  png_set_bgr(w->png);
  png_write_image(w->png, const_cast<png_bytepp>(rows));
  png_write_end(w->png, nullptr);
  return true;
}

// --- C++ owners. ---

class ReaderOwner {
 public:
  explicit ReaderOwner(ByteView data) : r_{} {
    r_.data = data.data();
    r_.size = data.size();
    r_.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &r_.trap, OnPngError, OnPngWarning, nullptr,
                                      LimitedMalloc, LimitedFree);
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

bool DecodePng(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error) {
  const std::string& path = context.path;
  if (data.size() < 8 || png_sig_cmp(data.data(), 0, 8) != 0) {
    error = FormatError(kFormat, "not a PNG file (bad signature)", path);
    return false;
  }
  Header header;
  if (ReadIhdr(data, header) && !CheckDeclaredSize(kFormat, header.width, header.height, path, error))
    return false;
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
  if (!ImageDataCanHold(data, r)) {
    error = FormatError(kFormat, "image data truncated (too short for the declared size)", path);
    return false;
  }
  const bool transparent = HasTransparency(r);
  const bool interlaced = png_get_interlace_type(r->png, r->info) != PNG_INTERLACE_NONE;
  const std::size_t rowBytes = std::size_t(width) * (transparent ? 4 : 3);
  const std::uint64_t buffers = interlaced ? std::uint64_t(rowBytes) * height : rowBytes;
  if (!CheckMemory(kFormat, RowStore::Cost(width, height) + buffers, context, error)) return false;
  // Rows are written into the picture as they are decoded; memory is taken
  // only for the rows the data reaches.
  TBitmap decoded = TBitmap::ForDecode(int(width), int(height), pf24bit);
  std::vector<unsigned char*> rows(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = decoded.ScanLine(int(y));
  std::vector<unsigned char> scratch(interlaced || !transparent ? 0 : rowBytes);
  std::vector<unsigned char> whole(interlaced ? rowBytes * height : 0);
  if (!PngReadPixels(r, rows.data(), scratch.data(), interlaced ? whole.data() : nullptr, rowBytes,
                     transparent)) {
    error = FormatError(kFormat, r->trap.message, path);
    return false;
  }
  picture = std::move(decoded);
  return true;
}

bool EncodePng(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error) {
  const std::string& path = context.path;
  Bytes out;
  WriterOwner owner(out);
  PngWriter* w = owner.get();
  if (!w) {
    error = FormatError(kFormat, "out of memory", path);
    return false;
  }
  // XMP goes in an uncompressed iTXt chunk under the key readers look for;
  // IPTC in a zTXt chunk as the raw profile ImageMagick and exiv2 write.
  std::string iptc;
  std::vector<png_text> texts;
  if (const TSaveMetadata* meta = context.metadata) {
    w->exif = meta->exif.data();
    w->exifSize = png_uint_32(meta->exif.size());
    w->icc = meta->icc.data();
    w->iccSize = png_uint_32(meta->icc.size());
    if (!meta->xmp.empty()) {
      png_text xmp{};
      xmp.compression = PNG_ITXT_COMPRESSION_NONE;
      xmp.key = const_cast<png_charp>("XML:com.adobe.xmp");
      xmp.text = const_cast<png_charp>(meta->xmp.c_str());
      xmp.itxt_length = meta->xmp.size();
      xmp.lang = const_cast<png_charp>("");
      xmp.lang_key = const_cast<png_charp>("");
      texts.push_back(xmp);
    }
    if (!meta->iptc.empty()) {
      iptc = IptcRawProfile(meta->iptc);
      png_text raw{};
      raw.compression = PNG_TEXT_COMPRESSION_zTXt;
      raw.key = const_cast<png_charp>("Raw profile type iptc");
      raw.text = iptc.data();
      raw.text_length = iptc.size();
      texts.push_back(raw);
    }
    w->texts = texts.data();
    w->textCount = int(texts.size());
  }
  std::vector<const unsigned char*> rows(std::size_t(picture.Height()));
  for (int y = 0; y < picture.Height(); ++y) rows[std::size_t(y)] = picture.ScanLine(y);
  if (!PngWriteAll(w, rows.data(), png_uint_32(picture.Width()), png_uint_32(picture.Height()))) {
    error = FormatError(kFormat, w->trap.message, path);
    return false;
  }
  if (w->iccRefused)
    context.Warn(FormatError(kFormat, "the colour profile is not valid ICC data; left out", path));
  data = std::move(out);
  return true;
}

}  // namespace codecs
