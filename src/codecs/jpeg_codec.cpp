// JPEG files through libjpeg(-turbo).
//
// Reads: baseline and progressive; grey (spread to three equal channels),
// YCbCr and RGB (decoded straight to blue, green, red), CMYK and YCCK
// (libjpeg gives CMYK; with an Adobe marker the values are stored inverted,
// as Adobe writes them). CMYK to RGB is channel * black / 255 rounded half
// up in integers. A file that ends before its image data does is refused
// ("image data truncated"); other libjpeg warnings about damaged data still
// give the picture libjpeg recovers. Sizes are checked after the header and
// before any pixel memory is taken.
//
// Writes: libjpeg's defaults (baseline, YCbCr with 4:2:0 sampling, Huffman
// tables of the standard) at quality 90.
//
// libjpeg reports errors by longjmp. The routines that call libjpeg with a
// setjmp armed (JpegStart, JpegReadPixels, JpegWriteAll) are plain C-style
// code: no object with a destructor lives in their frames, so a jump out of
// libjpeg skips nothing. The C++ owners around them free libjpeg's state on
// every path.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "codecs/codec.h"

namespace codecs {
namespace {

constexpr char kFormat[] = "JPEG";

// libjpeg's error manager, extended with the jump target and the message of
// the error that ended the work.
struct JpegErrorTrap {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool truncated;
};

void OnJpegError(j_common_ptr cinfo) {
  JpegErrorTrap* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, trap->message);
  std::longjmp(trap->jump, 1);
}

// Trace messages are dropped; a premature end of the data is fatal; other
// warnings are counted and the decode goes on.
void OnJpegMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  JpegErrorTrap* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) {
    trap->truncated = true;
    std::strcpy(trap->message, "image data truncated");
    std::longjmp(trap->jump, 1);
  }
  ++cinfo->err->num_warnings;
}

void ArmTrap(JpegErrorTrap& trap) {
  jpeg_std_error(&trap.pub);
  trap.pub.error_exit = OnJpegError;
  trap.pub.emit_message = OnJpegMessage;
  trap.message[0] = '\0';
  trap.truncated = false;
}

struct JpegReader {
  jpeg_decompress_struct info;
  JpegErrorTrap trap;
};

struct JpegWriter {
  jpeg_compress_struct info;
  JpegErrorTrap trap;
  unsigned char* buffer;
  unsigned long size;
};

// --- setjmp shims: plain data only below this line until the owners. ---

bool JpegStart(JpegReader* r, const unsigned char* data, unsigned long size) {
  if (setjmp(r->trap.jump)) return false;
  jpeg_create_decompress(&r->info);
  jpeg_mem_src(&r->info, data, size);
  jpeg_read_header(&r->info, TRUE);
  return true;
}

void ConvertRow(const unsigned char* src, unsigned char* dst, JDIMENSION width, int components,
                bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, dst += 3) {
    if (components == 1) {
      dst[0] = dst[1] = dst[2] = src[x];
      continue;
    }
    const unsigned char* p = src + 4 * std::size_t(x);
    unsigned c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    dst[0] = (unsigned char)((y * k + 127) / 255);
    dst[1] = (unsigned char)((m * k + 127) / 255);
    dst[2] = (unsigned char)((c * k + 127) / 255);
  }
}

// `rows` are the picture's rows (blue, green, red), top first; `scratch`
// holds one decoded row of grey or CMYK before conversion.
bool JpegReadPixels(JpegReader* r, unsigned char* const* rows, unsigned char* scratch) {
  if (setjmp(r->trap.jump)) return false;
  jpeg_start_decompress(&r->info);
  const bool direct = r->info.out_color_space == JCS_EXT_BGR;
  const bool inverted = r->info.saw_Adobe_marker;
  while (r->info.output_scanline < r->info.output_height) {
    const JDIMENSION y = r->info.output_scanline;
    JSAMPROW line = direct ? rows[y] : scratch;
    jpeg_read_scanlines(&r->info, &line, 1);
    if (!direct) ConvertRow(scratch, rows[y], r->info.output_width, r->info.output_components, inverted);
  }
  jpeg_finish_decompress(&r->info);
  return true;
}

bool JpegWriteAll(JpegWriter* w, const unsigned char* const* rows, JDIMENSION width, JDIMENSION height) {
  if (setjmp(w->trap.jump)) return false;
  jpeg_create_compress(&w->info);
  jpeg_mem_dest(&w->info, &w->buffer, &w->size);
  w->info.image_width = width;
  w->info.image_height = height;
  w->info.input_components = 3;
  w->info.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&w->info);
  jpeg_set_quality(&w->info, 90, TRUE);
  jpeg_start_compress(&w->info, TRUE);
  while (w->info.next_scanline < height) {
    JSAMPROW line = const_cast<JSAMPROW>(rows[w->info.next_scanline]);
    jpeg_write_scanlines(&w->info, &line, 1);
  }
  jpeg_finish_compress(&w->info);
  return true;
}

// --- C++ owners. ---

class ReaderOwner {
 public:
  ReaderOwner() : r_{} { ArmTrap(r_.trap), r_.info.err = &r_.trap.pub; }
  ~ReaderOwner() { jpeg_destroy_decompress(&r_.info); }  // safe before create: no memory yet
  ReaderOwner(const ReaderOwner&) = delete;
  ReaderOwner& operator=(const ReaderOwner&) = delete;
  JpegReader* get() { return &r_; }

 private:
  JpegReader r_;
};

class WriterOwner {
 public:
  WriterOwner() : w_{} { ArmTrap(w_.trap), w_.info.err = &w_.trap.pub; }
  ~WriterOwner() {
    jpeg_destroy_compress(&w_.info);
    std::free(w_.buffer);
  }
  WriterOwner(const WriterOwner&) = delete;
  WriterOwner& operator=(const WriterOwner&) = delete;
  JpegWriter* get() { return &w_; }

 private:
  JpegWriter w_;
};

}  // namespace

bool DecodeJpeg(const Bytes& data, const std::string& path, TBitmap& picture, std::string& error) {
  ReaderOwner owner;
  JpegReader* r = owner.get();
  if (!JpegStart(r, data.data(), static_cast<unsigned long>(data.size()))) {
    error = FormatError(kFormat, r->trap.message, path);
    return false;
  }
  if (!CheckDeclaredSize(kFormat, r->info.image_width, r->info.image_height, path, error)) return false;
  switch (r->info.jpeg_color_space) {
    case JCS_GRAYSCALE:
      r->info.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      r->info.out_color_space = JCS_CMYK;
      break;
    default:
      r->info.out_color_space = JCS_EXT_BGR;
      break;
  }
  const int width = int(r->info.image_width), height = int(r->info.image_height);
  TBitmap decoded(width, height, pf24bit);
  std::vector<unsigned char*> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) rows[std::size_t(y)] = decoded.ScanLine(y);
  std::vector<unsigned char> scratch(std::size_t(width) * 4);
  if (!JpegReadPixels(r, rows.data(), scratch.data())) {
    error = FormatError(kFormat, r->trap.message, path);
    return false;
  }
  picture = std::move(decoded);
  return true;
}

bool EncodeJpeg(const TBitmap& picture, const std::string& path, Bytes& data, std::string& error) {
  WriterOwner owner;
  JpegWriter* w = owner.get();
  std::vector<const unsigned char*> rows(std::size_t(picture.Height()));
  for (int y = 0; y < picture.Height(); ++y) rows[std::size_t(y)] = picture.ScanLine(y);
  if (!JpegWriteAll(w, rows.data(), JDIMENSION(picture.Width()), JDIMENSION(picture.Height()))) {
    error = FormatError(kFormat, w->trap.message, path);
    return false;
  }
  data.assign(w->buffer, w->buffer + w->size);
  return true;
}

}  // namespace codecs
