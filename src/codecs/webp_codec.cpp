// WebP files through libwebp (libwebpdemux for animations, libwebpmux for
// the metadata chunks).
//
// Reads: lossy and lossless, with or without alpha, and of an animation the
// first frame as libwebp's animation decoder renders it on the canvas (so a
// first frame smaller than the canvas shows the background around it).
// Alpha is composited over white as for PNG.
//
// Memory: the canvas size from the file's header is checked against the
// picture limits and the decode against the budget before anything is
// decoded: our rows, libwebp's output picture (and for an animation its
// two canvases) and its own row caches (a lossless picture keeps one ARGB
// value a pixel).
//
// Writes: lossy, at libwebp's quality, which takes the same 1 to 100 as
// --quality (as cwebp -q does), method 4 (libwebp's default). EXIF, XMP and
// the colour profile go into the EXIF, "XMP " and ICCP chunks of an
// extended file; IPTC has no chunk and is left out with a warning.
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "codecs/codec.h"

namespace codecs {
namespace {

constexpr char kFormat[] = "WebP";

// Composites `width` pixels of blue, green, red, alpha over white.
void CompositeRow(const std::uint8_t* src, std::uint8_t* dst, int width) {
  for (int x = 0; x < width; ++x, src += 4, dst += 3)
    for (int c = 0; c < 3; ++c) dst[c] = OverWhite(src[c], src[3]);
}

struct AnimDecoderDeleter {
  void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

struct MuxDeleter {
  void operator()(WebPMux* m) const { WebPMuxDelete(m); }
};

struct PictureOwner {
  WebPPicture picture;
  PictureOwner() { WebPPictureInit(&picture); }
  ~PictureOwner() { WebPPictureFree(&picture); }
  PictureOwner(const PictureOwner&) = delete;
  PictureOwner& operator=(const PictureOwner&) = delete;
};

const char* StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
      return "out of memory";
    case VP8_STATUS_NOT_ENOUGH_DATA:
      return "image data truncated";
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return "unsupported feature";
    default:
      return "damaged image data";
  }
}

bool DecodeFirstFrame(ByteView data, const DecodeContext& context, RowStore& rows, int width, int height,
                      std::string& error) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) {
    error = FormatError(kFormat, "libwebp version mismatch", context.path);
    return false;
  }
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData webp{data.data(), data.size()};
  std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(WebPAnimDecoderNew(&webp, &options));
  if (!decoder) {
    error = FormatError(kFormat, "damaged animation", context.path);
    return false;
  }
  WebPAnimInfo info;
  if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || int(info.canvas_width) != width ||
      int(info.canvas_height) != height) {
    error = FormatError(kFormat, "damaged animation", context.path);
    return false;
  }
  std::uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp)) {
    error = FormatError(kFormat, "damaged image data in the first frame", context.path);
    return false;
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* dst = rows.Row(y, false);
    if (dst == nullptr) {
      error = FormatError(kFormat, "out of memory", context.path);
      return false;
    }
    CompositeRow(canvas + std::size_t(y) * std::size_t(width) * 4, dst, width);
  }
  return true;
}

bool DecodeStill(ByteView data, const DecodeContext& context, RowStore& rows, int width, int height,
                 bool alpha, std::string& error) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) {
    error = FormatError(kFormat, "libwebp version mismatch", context.path);
    return false;
  }
  const std::size_t bpp = alpha ? 4 : 3;
  const std::size_t stride = std::size_t(width) * bpp, size = stride * std::size_t(height);
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[size]);
  if (!buffer) {
    error = FormatError(kFormat, "out of memory", context.path);
    return false;
  }
  config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = buffer.get();
  config.output.u.RGBA.stride = int(stride);
  config.output.u.RGBA.size = size;
  const VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
  WebPFreeDecBuffer(&config.output);  // frees nothing of ours: the memory is external
  if (status != VP8_STATUS_OK) {
    error = FormatError(kFormat, StatusText(status), context.path);
    return false;
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* dst = rows.Row(y, false);
    if (dst == nullptr) {
      error = FormatError(kFormat, "out of memory", context.path);
      return false;
    }
    const std::uint8_t* src = buffer.get() + std::size_t(y) * stride;
    if (alpha) {
      CompositeRow(src, dst, width);
    } else {
      std::memcpy(dst, src, stride);
    }
  }
  return true;
}

int AppendOutput(const std::uint8_t* data, size_t size, const WebPPicture* picture) {
  try {
    Bytes* out = static_cast<Bytes*>(picture->custom_ptr);
    out->insert(out->end(), data, data + size);
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // namespace

bool DecodeWebp(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error) {
  const std::string& path = context.path;
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features);
  if (status != VP8_STATUS_OK) {
    error = FormatError(kFormat,
                        status == VP8_STATUS_NOT_ENOUGH_DATA ? "not a WebP file, or truncated"
                                                             : "not a WebP file (bad header)",
                        path);
    return false;
  }
  const int width = features.width, height = features.height;
  if (!CheckDeclaredSize(kFormat, width, height, path, error)) return false;
  const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
  const std::uint64_t theirs = features.has_animation ? pixels * 4 * 3 : pixels * (4 + 4);
  if (!CheckMemory(kFormat, RowStore::Cost(width, height) + theirs, context, error)) return false;
  RowStore rows(width, height, TRGBTriple{255, 255, 255});
  const bool ok = features.has_animation
                      ? DecodeFirstFrame(data, context, rows, width, height, error)
                      : DecodeStill(data, context, rows, width, height, features.has_alpha != 0, error);
  if (!ok) return false;
  picture = rows.Take();
  return true;
}

bool EncodeWebp(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error) {
  const std::string& path = context.path;
  WebPConfig config;
  if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, float(context.quality)) ||
      !WebPValidateConfig(&config)) {
    error = FormatError(kFormat, "bad encoder settings", path);
    return false;
  }
  const int width = picture.Width(), height = picture.Height();
  PictureOwner owner;
  WebPPicture& pic = owner.picture;
  pic.width = width;
  pic.height = height;
  pic.use_argb = 1;
  if (!WebPPictureAlloc(&pic)) {
    error = FormatError(kFormat, "out of memory", path);
    return false;
  }
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = picture.ScanLine(y);
    std::uint32_t* dst = pic.argb + std::size_t(y) * std::size_t(pic.argb_stride);
    for (int x = 0; x < width; ++x, src += 3)
      dst[x] = 0xFF000000u | std::uint32_t(src[2]) << 16 | std::uint32_t(src[1]) << 8 | src[0];
  }
  Bytes coded;
  pic.writer = AppendOutput;
  pic.custom_ptr = &coded;
  if (!WebPEncode(&config, &pic)) {
    error = FormatError(
        kFormat, pic.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY ? "out of memory" : "encoding failed", path);
    return false;
  }
  const TSaveMetadata* meta = context.metadata;
  if (meta == nullptr || (meta->exif.empty() && meta->xmp.empty() && meta->icc.empty())) {
    if (meta != nullptr && !meta->iptc.empty())
      context.Warn(FormatError(kFormat, "IPTC data has no place in the file; left out", path));
    data = std::move(coded);
    return true;
  }
  // The metadata chunks: the coded picture wrapped in an extended file.
  const WebPData image{coded.data(), coded.size()};
  std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&image, 0));
  if (!mux) {
    error = FormatError(kFormat, "out of memory", path);
    return false;
  }
  const auto set = [&](const char* fourcc, const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return true;
    const WebPData chunk{bytes, size};
    return WebPMuxSetChunk(mux.get(), fourcc, &chunk, 0) == WEBP_MUX_OK;
  };
  if (!set("EXIF", meta->exif.data(), meta->exif.size()) ||
      !set("XMP ", reinterpret_cast<const std::uint8_t*>(meta->xmp.data()), meta->xmp.size()) ||
      !set("ICCP", meta->icc.data(), meta->icc.size())) {
    error = FormatError(kFormat, "the metadata cannot be added", path);
    return false;
  }
  if (!meta->iptc.empty())
    context.Warn(FormatError(kFormat, "IPTC data has no place in the file; left out", path));
  WebPData assembled{nullptr, 0};
  if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) {
    WebPDataClear(&assembled);
    error = FormatError(kFormat, "the file cannot be put together", path);
    return false;
  }
  try {
    data.assign(assembled.bytes, assembled.bytes + assembled.size);
  } catch (...) {
    WebPDataClear(&assembled);
    throw;
  }
  WebPDataClear(&assembled);
  return true;
}

}  // namespace codecs
