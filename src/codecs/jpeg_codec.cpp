// JPEG files through libjpeg(-turbo).
//
// Reads: baseline and progressive; grey (spread to three equal channels),
// YCbCr and RGB (decoded straight to blue, green, red), CMYK and YCCK
// (libjpeg gives CMYK; with an Adobe marker the values are stored inverted,
// as Adobe writes them). CMYK to RGB is channel * black / 255 rounded half
// up in integers.
//
// Damaged data: a file whose data ends before the picture does is refused
// as truncated, whether the file itself ends ("premature end of JPEG
// file") or its data segment runs into a marker ("premature end of data
// segment"); libjpeg would fill the rest with grey. libjpeg's other
// warnings (extraneous bytes, a bad restart marker, ...) leave the picture
// readable and are handed to the caller as warnings.
//
// Memory: sizes are checked after the header and before any pixel memory
// is taken. A Huffman-coded file must hold at least one bit per 8 x 8 block
// of every component (two for a sequential file), so a shorter one is
// refused as truncated at once, whatever size it declares. The decode must
// fit the budget: the picture's memory is taken as rows are decoded, and libjpeg's own
// whole-picture buffers (progressive files) are held to the rest of the
// budget with max_memory_to_use. More than kMaxScans scans are refused, so a
// small progressive file cannot keep the decoder busy for minutes.
//
// Writes: libjpeg's defaults (baseline, YCbCr with 4:2:0 sampling, Huffman
// tables of the standard) at the quality asked for (kDefaultJpegQuality unless said), through
// a destination manager of our own that appends to a byte vector; a failed
// allocation there ends the encode with libjpeg's out-of-memory error. The
// picture's metadata goes after the JFIF marker: EXIF and XMP in APP1, IPTC
// in APP13, the colour profile in APP2 segments; a block too large for a
// segment is left out with a warning. The metadata never changes the coded
// picture: the same pixels give the same data either way.
//
// libjpeg reports errors by longjmp. The routines that call libjpeg with a
// setjmp armed (JpegStart, JpegReadPixels, JpegWriteAll) are plain C-style
// code: no object with a destructor lives in their frames, so a jump out of
// libjpeg skips nothing. The C++ owners around them free libjpeg's state on
// every path, and the callbacks catch every exception before libjpeg's
// frames could see it.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "codecs/codec.h"

namespace codecs {
namespace {

constexpr char kFormat[] = "JPEG";

// What one marker segment can carry, and the largest ICC profile libjpeg can
// split over its 255 APP2 segments (each spends 14 bytes on its own name and
// numbering).
constexpr std::size_t kMaxMarkerPayload = 65533;
constexpr std::size_t kMaxIccBytes = 255 * (kMaxMarkerPayload - 14);

// More scans than any real progressive file has (a full successive-
// approximation progression of three components stays far below).
constexpr int kMaxScans = 500;

// libjpeg's error manager and progress monitor, extended with the jump
// target, the message of the error that ended the work and where warnings
// go.
struct JpegErrorTrap {
  jpeg_error_mgr pub;
  jpeg_progress_mgr progress;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  const DecodeContext* context;
};

[[noreturn]] void Fail(JpegErrorTrap* trap, const char* message) {
  std::snprintf(trap->message, sizeof trap->message, "%s", message);
  std::longjmp(trap->jump, 1);
}

void OnJpegError(j_common_ptr cinfo) {
  JpegErrorTrap* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
  if (cinfo->err->msg_code == JERR_NO_BACKING_STORE) {
    // libjpeg's whole-picture buffers did not fit max_memory_to_use.
    Fail(trap, "decoding needs more memory than allowed");
  }
  (*cinfo->err->format_message)(cinfo, trap->message);
  std::longjmp(trap->jump, 1);
}

// Trace messages are dropped; data that ends early is fatal; other
// warnings go to the caller.
void OnJpegMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  JpegErrorTrap* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
  const int code = cinfo->err->msg_code;
  if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) Fail(trap, "image data truncated");
  ++cinfo->err->num_warnings;
  if (trap->context == nullptr || trap->context->warnings == nullptr) return;
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  try {
    trap->context->Warn(FormatError(kFormat, text, trap->context->path));
  } catch (...) {
    // Out of memory for the message: the warning is dropped.
  }
}

void OnJpegProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    JpegErrorTrap* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
    std::snprintf(trap->message, sizeof trap->message, "too many scans (more than %d)", kMaxScans);
    std::longjmp(trap->jump, 1);
  }
}

void ArmTrap(JpegErrorTrap& trap, const DecodeContext* context) {
  jpeg_std_error(&trap.pub);
  trap.pub.error_exit = OnJpegError;
  trap.pub.emit_message = OnJpegMessage;
  trap.progress.progress_monitor = OnJpegProgress;
  trap.message[0] = '\0';
  trap.context = context;
}

struct JpegReader {
  jpeg_decompress_struct info;
  JpegErrorTrap trap;
};

// The encoder's output: a byte vector that doubles when libjpeg fills it.
struct VectorDestination {
  jpeg_destination_mgr pub;
  Bytes* out;
};

// A marker written after the frame's start: its code and payload.
struct JpegMarker {
  int code;
  const unsigned char* data;
  unsigned int size;
};

struct JpegWriter {
  jpeg_compress_struct info;
  JpegErrorTrap trap;
  VectorDestination destination;
  int quality;
  const JpegMarker* markers;  // APP1 EXIF, APP1 XMP, APP13 IPTC, as present
  int markerCount;
  const unsigned char* icc;  // the ICC profile, split into APP2 markers by libjpeg
  unsigned int iccSize;
};

// Resizes the output without letting an exception reach libjpeg.
bool ResizeOutput(Bytes& out, std::size_t size) {
  try {
    out.resize(size);
    return true;
  } catch (...) {
    return false;
  }
}

void InitDestination(j_compress_ptr cinfo) {
  VectorDestination* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  constexpr std::size_t kFirstSize = 1 << 16;
  if (!ResizeOutput(*d->out, kFirstSize)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
  d->pub.next_output_byte = d->out->data();
  d->pub.free_in_buffer = d->out->size();
}

// Called when the whole buffer is full.
boolean GrowDestination(j_compress_ptr cinfo) {
  VectorDestination* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  const std::size_t used = d->out->size();
  if (!ResizeOutput(*d->out, used * 2)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
  d->pub.next_output_byte = d->out->data() + used;
  d->pub.free_in_buffer = d->out->size() - used;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  VectorDestination* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  d->out->resize(d->out->size() - d->pub.free_in_buffer);  // shrinking never allocates
}

// Bits the entropy-coded data of a Huffman-coded file takes at least: every
// 8 x 8 block of every component needs a DC code, and in a sequential file
// an end-of-block code too.
std::uint64_t MinimumHuffmanBits(const jpeg_decompress_struct& info) {
  std::uint64_t blocks = 0;
  for (int c = 0; c < info.num_components; ++c)
    blocks += std::uint64_t(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks;
  return info.progressive_mode ? blocks : 2 * blocks;
}

// --- setjmp shims: plain data only below this line until the owners. ---

bool JpegStart(JpegReader* r, const unsigned char* data, unsigned long size) {
  if (setjmp(r->trap.jump)) return false;
  jpeg_create_decompress(&r->info);
  r->info.progress = &r->trap.progress;
  jpeg_mem_src(&r->info, data, size);
  jpeg_read_header(&r->info, TRUE);
  return true;
}

// Output at 1 / denominator of the size (DecodeContext::reduction).
bool JpegReduce(JpegReader* r, int denominator) {
  if (setjmp(r->trap.jump)) return false;
  r->info.scale_num = 1;
  r->info.scale_denom = unsigned(denominator);
  r->info.dct_method = JDCT_IFAST;
  r->info.do_fancy_upsampling = FALSE;
  jpeg_calc_output_dimensions(&r->info);
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

// Decodes every row into `rows` (the picture's rows, top first). Blue,
// green, red output goes straight into them, as many rows at a time as
// libjpeg gives; grey and CMYK come one row at a time through `scratch`
// and are converted.
bool JpegReadPixels(JpegReader* r, unsigned char* const* rows, unsigned char* scratch) {
  if (setjmp(r->trap.jump)) return false;
  jpeg_start_decompress(&r->info);
  const bool direct = r->info.out_color_space == JCS_EXT_BGR;
  const bool inverted = r->info.saw_Adobe_marker;
  const JDIMENSION height = r->info.output_height;
  while (r->info.output_scanline < height) {
    const JDIMENSION y = r->info.output_scanline;
    if (direct) {
      if (jpeg_read_scanlines(&r->info, const_cast<JSAMPARRAY>(rows + y), height - y) == 0)
        Fail(&r->trap, "image data truncated");
      continue;
    }
    JSAMPROW line = scratch;
    if (jpeg_read_scanlines(&r->info, &line, 1) != 1) Fail(&r->trap, "image data truncated");
    ConvertRow(scratch, rows[y], r->info.output_width, r->info.output_components, inverted);
  }
  jpeg_finish_decompress(&r->info);
  return true;
}

bool JpegWriteAll(JpegWriter* w, const unsigned char* const* rows, JDIMENSION width, JDIMENSION height) {
  if (setjmp(w->trap.jump)) return false;
  jpeg_create_compress(&w->info);
  w->destination.pub.init_destination = InitDestination;
  w->destination.pub.empty_output_buffer = GrowDestination;
  w->destination.pub.term_destination = TermDestination;
  w->info.dest = &w->destination.pub;
  w->info.image_width = width;
  w->info.image_height = height;
  w->info.input_components = 3;
  w->info.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&w->info);
  jpeg_set_quality(&w->info, w->quality, TRUE);
  jpeg_start_compress(&w->info, TRUE);
  for (int i = 0; i < w->markerCount; ++i)
    jpeg_write_marker(&w->info, w->markers[i].code, w->markers[i].data, w->markers[i].size);
  if (w->iccSize > 0) jpeg_write_icc_profile(&w->info, w->icc, w->iccSize);
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
  explicit ReaderOwner(const DecodeContext& context) : r_{} {
    ArmTrap(r_.trap, &context);
    r_.info.err = &r_.trap.pub;
  }
  ~ReaderOwner() { jpeg_destroy_decompress(&r_.info); }  // safe before create: no memory yet
  ReaderOwner(const ReaderOwner&) = delete;
  ReaderOwner& operator=(const ReaderOwner&) = delete;
  JpegReader* get() { return &r_; }

 private:
  JpegReader r_;
};

class WriterOwner {
 public:
  explicit WriterOwner(Bytes& out) : w_{} {
    ArmTrap(w_.trap, nullptr);
    w_.info.err = &w_.trap.pub;
    w_.destination.out = &out;
  }
  ~WriterOwner() { jpeg_destroy_compress(&w_.info); }  // the bytes belong to the caller
  WriterOwner(const WriterOwner&) = delete;
  WriterOwner& operator=(const WriterOwner&) = delete;
  JpegWriter* get() { return &w_; }

 private:
  JpegWriter w_;
};

}  // namespace

bool JpegDimensions(ByteView data, int& width, int& height) {
  const std::string path;
  const DecodeContext context{path, 0};
  ReaderOwner owner(context);
  JpegReader* r = owner.get();
  if (!JpegStart(r, data.data(), static_cast<unsigned long>(data.size()))) return false;
  width = int(r->info.image_width);
  height = int(r->info.image_height);
  return true;
}

bool DecodeJpeg(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error) {
  const std::string& path = context.path;
  ReaderOwner owner(context);
  JpegReader* r = owner.get();
  if (!JpegStart(r, data.data(), static_cast<unsigned long>(data.size()))) {
    error = FormatError(kFormat, r->trap.message, path);
    return false;
  }
  if (!CheckDeclaredSize(kFormat, r->info.image_width, r->info.image_height, path, error)) return false;
  if (!r->info.arith_code && std::uint64_t(data.size()) * 8 < MinimumHuffmanBits(r->info)) {
    error = FormatError(kFormat, "image data truncated (the file is too short for its declared size)", path);
    return false;
  }
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
  int width = int(r->info.image_width), height = int(r->info.image_height);
  if (context.reduction > 1) {
    if (!JpegReduce(r, context.reduction)) {
      error = FormatError(kFormat, r->trap.message, path);
      return false;
    }
    width = int(r->info.output_width);
    height = int(r->info.output_height);
  }
  const std::uint64_t ours = RowStore::Cost(width, height) + std::uint64_t(width) * 4;
  if (!CheckMemory(kFormat, ours, context, error)) return false;
  // What is left of the budget bounds libjpeg's whole-picture buffers.
  constexpr std::uint64_t kLongMax = std::uint64_t(std::numeric_limits<long>::max());
  // (0 would mean no limit at all.)
  r->info.mem->max_memory_to_use = long(std::clamp<std::uint64_t>(context.budget - ours, 1, kLongMax));
  // Rows are written into the picture as they are decoded; memory is taken
  // only for the rows the data reaches.
  TBitmap decoded = TBitmap::ForDecode(width, height, pf24bit);
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

bool EncodeJpeg(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error) {
  const std::string& path = context.path;
  // The metadata blocks, each the payload of one marker, made before
  // libjpeg starts (its error path must not leave objects behind).
  std::vector<std::pair<int, Bytes>> payloads;
  std::vector<JpegMarker> markers;
  const unsigned char* icc = nullptr;
  unsigned int iccSize = 0;
  if (const TSaveMetadata* meta = context.metadata) {
    const auto add = [&](int code, const char* name, std::string_view head, const std::uint8_t* body,
                         std::size_t size) {
      if (size == 0) return;
      if (head.size() + size > kMaxMarkerPayload) {
        context.Warn(FormatError(
            kFormat, std::string("the ") + name + " is larger than a JPEG file can hold; left out", path));
        return;
      }
      Bytes payload(head.begin(), head.end());
      payload.insert(payload.end(), body, body + size);
      payloads.emplace_back(code, std::move(payload));
    };
    add(JPEG_APP0 + 1, "EXIF data", std::string_view("Exif\0\0", 6), meta->exif.data(), meta->exif.size());
    add(JPEG_APP0 + 1, "XMP packet", std::string_view("http://ns.adobe.com/xap/1.0/\0", 29),
        reinterpret_cast<const std::uint8_t*>(meta->xmp.data()), meta->xmp.size());
    const Bytes iptc = meta->iptc.empty() ? Bytes() : IptcPhotoshopBlock(meta->iptc);
    add(JPEG_APP0 + 13, "IPTC data", std::string_view("Photoshop 3.0\0", 14), iptc.data(), iptc.size());
    for (const auto& [code, payload] : payloads)
      markers.push_back({code, payload.data(), unsigned(payload.size())});
    if (meta->icc.size() > kMaxIccBytes) {
      context.Warn(
          FormatError(kFormat, "the colour profile is larger than a JPEG file can hold; left out", path));
    } else if (!meta->icc.empty()) {
      icc = meta->icc.data();
      iccSize = unsigned(meta->icc.size());
    }
  }
  Bytes out;
  WriterOwner owner(out);
  JpegWriter* w = owner.get();
  w->quality = context.quality;
  w->markers = markers.data();
  w->markerCount = int(markers.size());
  w->icc = icc;
  w->iccSize = iccSize;
  std::vector<const unsigned char*> rows(std::size_t(picture.Height()));
  for (int y = 0; y < picture.Height(); ++y) rows[std::size_t(y)] = picture.ScanLine(y);
  if (!JpegWriteAll(w, rows.data(), JDIMENSION(picture.Width()), JDIMENSION(picture.Height()))) {
    error = FormatError(kFormat, w->trap.message, path);
    return false;
  }
  data = std::move(out);
  return true;
}

}  // namespace codecs
