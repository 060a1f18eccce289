// JPEG XL files through libjxl.
//
// Reads: the first frame (of an animation, as libjxl composes it), with the
// codestream's orientation applied by libjxl, so the EXIF orientation is
// not applied again after it. libjxl converts every bit depth to 8 bits
// itself (rounding); a lossy (XYB) picture comes out in the colour space
// the file was made from. Alpha is composited over white as for PNG.
//
// Memory: the size from the codestream's header is checked against the
// picture limits, and the decode against the budget, before libjxl
// decodes any pixels: our rows, the 8-bit output picture and libjxl's
// floating-point planes (three channels, plus alpha, of 4 bytes each) with
// room for one copy.
//
// Writes: 8-bit RGB in sRGB, coded in XYB; a picture with a colour profile
// is coded in its own colours with the profile stored beside them (one
// libjxl cannot read is left out with a warning). The
// 1 to 100 quality maps to libjxl's distance as cjxl maps its -q: 100 is
// lossless, 30 to 99 give 0.1 + (100 - q) * 0.09 (90 gives 1.0, cjxl's
// default), lower ones 6.4 + 2.5^((30 - q) / 5) / 6.25. EXIF and XMP go
// into "Exif" and "xml " boxes of the container; IPTC is left out with a
// warning.
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/resizable_parallel_runner.h>
#include <jxl/thread_parallel_runner.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "codecs/codec.h"

namespace codecs {
namespace {

constexpr char kFormat[] = "JPEG XL";

// Pictures smaller than this are decoded and encoded on the calling thread.
constexpr std::uint64_t kThreadedPixels = 1 << 20;

// The largest metadata box kept.
constexpr std::size_t kMaxBoxBytes = 16 << 20;

struct JxlDeleter {
  void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
  void operator()(JxlEncoder* e) const { JxlEncoderDestroy(e); }
};

struct Runner {
  void* runner = nullptr;
  explicit Runner(std::uint64_t pixels) {
    if (pixels >= kThreadedPixels)
      runner = JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
  }
  ~Runner() {
    if (runner != nullptr) JxlThreadParallelRunnerDestroy(runner);
  }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;
};

// The JPEG XL signatures: a bare codestream or the container.
bool HasSignature(ByteView data) {
  const JxlSignature s = JxlSignatureCheck(data.data(), data.size());
  return s == JXL_SIG_CODESTREAM || s == JXL_SIG_CONTAINER;
}

// The decoder's runner, set before the decode starts; it runs on the
// calling thread until it is given threads.
struct ResizableRunner {
  void* runner = JxlResizableParallelRunnerCreate(nullptr);
  ~ResizableRunner() {
    if (runner != nullptr) JxlResizableParallelRunnerDestroy(runner);
  }
};

bool ReadFirstFrame(JxlDecoder* dec, ByteView data, const DecodeContext& context, TBitmap& picture,
                    std::string& error) {
  const std::string& path = context.path;
  ResizableRunner runner;
  if (runner.runner == nullptr ||
      JxlDecoderSetParallelRunner(dec, JxlResizableParallelRunner, runner.runner) != JXL_DEC_SUCCESS) {
    error = FormatError(kFormat, "the decoder cannot be started", path);
    return false;
  }
  std::unique_ptr<std::uint8_t[]> buffer;
  int width = 0, height = 0;
  bool alpha = false;
  JxlDecoderSetInput(dec, data.data(), data.size());
  JxlDecoderCloseInput(dec);
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
    if (status == JXL_DEC_ERROR) {
      error = FormatError(kFormat, "damaged image data", path);
      return false;
    }
    if (status == JXL_DEC_NEED_MORE_INPUT) {
      error = FormatError(kFormat, "image data truncated", path);
      return false;
    }
    if (status == JXL_DEC_SUCCESS) {
      error = FormatError(kFormat, "the file holds no picture", path);
      return false;
    }
    if (status == JXL_DEC_BASIC_INFO) {
      JxlBasicInfo info;
      if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS) {
        error = FormatError(kFormat, "damaged header", path);
        return false;
      }
      const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
      const std::uint64_t w = turned ? info.ysize : info.xsize, h = turned ? info.xsize : info.ysize;
      if (!CheckDeclaredSize(kFormat, std::int64_t(w), std::int64_t(h), path, error)) return false;
      width = int(w), height = int(h);
      alpha = info.alpha_bits > 0;
      const std::uint64_t pixels = w * h;
      const std::uint64_t theirs = pixels * ((alpha ? 4 : 3) * (1 + 4 * 2));
      if (!CheckMemory(kFormat, RowStore::Cost(width, height) + theirs, context, error)) return false;
      if (pixels >= kThreadedPixels)
        JxlResizableParallelRunnerSetThreads(runner.runner, JxlResizableParallelRunnerSuggestThreads(w, h));
    } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
      const JxlPixelFormat format{alpha ? 4u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
      std::size_t size = 0;
      if (width == 0 || JxlDecoderImageOutBufferSize(dec, &format, &size) != JXL_DEC_SUCCESS ||
          size != std::size_t(width) * std::size_t(height) * format.num_channels) {
        error = FormatError(kFormat, "damaged header", path);
        return false;
      }
      buffer.reset(new (std::nothrow) std::uint8_t[size]);
      if (!buffer || JxlDecoderSetImageOutBuffer(dec, &format, buffer.get(), size) != JXL_DEC_SUCCESS) {
        error = FormatError(kFormat, "out of memory", path);
        return false;
      }
    } else if (status == JXL_DEC_FULL_IMAGE) {
      break;  // the first frame is all we take
    }
  }
  if (!buffer) {
    error = FormatError(kFormat, "the file holds no picture", path);
    return false;
  }
  RowStore rows(width, height, TRGBTriple{0, 0, 0});
  const std::size_t channels = alpha ? 4 : 3;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* dst = rows.Row(y, false);
    if (dst == nullptr) {
      error = FormatError(kFormat, "out of memory", path);
      return false;
    }
    const std::uint8_t* src = buffer.get() + std::size_t(y) * std::size_t(width) * channels;
    for (int x = 0; x < width; ++x, src += channels, dst += 3) {
      const unsigned a = alpha ? src[3] : 255;
      dst[0] = OverWhite(src[2], a), dst[1] = OverWhite(src[1], a), dst[2] = OverWhite(src[0], a);
    }
  }
  picture = rows.Take();
  return true;
}

// libjxl's distance for a quality of 1 to 100, as cjxl maps -q; 0 is
// lossless.
float DistanceFor(int quality) {
  if (quality >= 100) return 0.0f;
  if (quality >= 30) return float(0.1 + (100 - quality) * 0.09);
  return float(6.4 + std::pow(2.5, (30 - quality) / 5.0) / 6.25);
}

bool IsSrgb(const JxlColorEncoding& c) {
  return c.color_space == JXL_COLOR_SPACE_RGB && c.white_point == JXL_WHITE_POINT_D65 &&
         c.primaries == JXL_PRIMARIES_SRGB && c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

}  // namespace

bool DecodeJxl(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error) {
  if (!HasSignature(data)) {
    error = FormatError(kFormat, "not a JPEG XL file (bad signature)", context.path);
    return false;
  }
  std::unique_ptr<JxlDecoder, JxlDeleter> dec(JxlDecoderCreate(nullptr));
  if (!dec ||
      JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS) {
    error = FormatError(kFormat, "out of memory", context.path);
    return false;
  }
  return ReadFirstFrame(dec.get(), data, context, picture, error);
}

bool ReadJxlMetadata(ByteView data, TPictureMetadata& meta, std::string& problem) {
  if (!HasSignature(data)) {
    problem = "not a JPEG XL file";
    return false;
  }
  std::unique_ptr<JxlDecoder, JxlDeleter> dec(JxlDecoderCreate(nullptr));
  if (!dec || JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_COLOR_ENCODING | JXL_DEC_BOX) != JXL_DEC_SUCCESS ||
      JxlDecoderSetDecompressBoxes(dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS) {
    problem = "out of memory";
    return false;
  }
  JxlDecoderSetInput(dec.get(), data.data(), data.size());
  JxlDecoderCloseInput(dec.get());
  Bytes box;                // the contents of the box being read
  Bytes* target = nullptr;  // where they go: meta.exif or a buffer for XMP
  Bytes xmp;
  std::size_t filled = 0;
  const auto finishBox = [&] {
    if (target == nullptr) return;
    const std::size_t left = JxlDecoderReleaseBoxBuffer(dec.get());
    box.resize(box.size() - left);
    *target = std::move(box);
    box.clear();
    target = nullptr;
    filled = 0;
  };
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
    if (status == JXL_DEC_ERROR || status == JXL_DEC_NEED_MORE_INPUT) {
      problem = "damaged file";
      return false;
    }
    if (status == JXL_DEC_SUCCESS) {
      finishBox();
      break;
    }
    if (status == JXL_DEC_COLOR_ENCODING) {
      JxlColorEncoding encoding;
      if (JxlDecoderGetColorAsEncodedProfile(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                             &encoding) == JXL_DEC_SUCCESS &&
          IsSrgb(encoding))
        continue;  // plain sRGB, said by name: no profile to carry
      std::size_t size = 0;
      if (JxlDecoderGetICCProfileSize(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &size) ==
              JXL_DEC_SUCCESS &&
          size > 0 && size <= kMaxBoxBytes) {
        meta.icc.resize(size);
        if (JxlDecoderGetColorAsICCProfile(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                           meta.icc.data(), size) != JXL_DEC_SUCCESS)
          meta.icc.clear();
      }
    } else if (status == JXL_DEC_BOX) {
      finishBox();
      JxlBoxType type;
      if (JxlDecoderGetBoxType(dec.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS) continue;
      if (std::memcmp(type, "Exif", 4) == 0) {
        target = &meta.exif;
      } else if (std::memcmp(type, "xml ", 4) == 0) {
        target = &xmp;
      } else {
        continue;
      }
      box.resize(1 << 16);
      JxlDecoderSetBoxBuffer(dec.get(), box.data(), box.size());
    } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT) {
      const std::size_t left = JxlDecoderReleaseBoxBuffer(dec.get());
      filled = box.size() - left;
      if (box.size() >= kMaxBoxBytes) {
        problem = "metadata box too large";
        return false;
      }
      box.resize(box.size() * 2);
      JxlDecoderSetBoxBuffer(dec.get(), box.data() + filled, box.size() - filled);
    }
  }
  // The EXIF box starts with the offset of the TIFF header after it.
  if (!meta.exif.empty()) {
    if (meta.exif.size() < 4) {
      problem = "EXIF box too short";
      return false;
    }
    const std::uint64_t offset = std::uint64_t(meta.exif[0]) << 24 | std::uint64_t(meta.exif[1]) << 16 |
                                 std::uint64_t(meta.exif[2]) << 8 | meta.exif[3];
    if (offset > meta.exif.size() - 4) {
      problem = "EXIF box has a bad header offset";
      return false;
    }
    meta.exif.erase(meta.exif.begin(), meta.exif.begin() + std::ptrdiff_t(4 + offset));
  }
  meta.xmp.assign(xmp.begin(), xmp.end());
  return true;
}

bool EncodeJxl(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error) {
  const std::string& path = context.path;
  const auto fail = [&](const char* what) {
    error = FormatError(kFormat, what, path);
    return false;
  };
  std::unique_ptr<JxlEncoder, JxlDeleter> enc(JxlEncoderCreate(nullptr));
  if (!enc) return fail("out of memory");
  const int width = picture.Width(), height = picture.Height();
  Runner runner(std::uint64_t(width) * std::uint64_t(height));
  if (runner.runner != nullptr &&
      JxlEncoderSetParallelRunner(enc.get(), JxlThreadParallelRunner, runner.runner) != JXL_ENC_SUCCESS)
    return fail("the encoder cannot be started");
  const float distance = DistanceFor(context.quality);
  const bool lossless = distance == 0.0f;
  const TSaveMetadata* meta = context.metadata;
  const bool boxes = meta != nullptr && (!meta->exif.empty() || !meta->xmp.empty());
  if (boxes && JxlEncoderUseBoxes(enc.get()) != JXL_ENC_SUCCESS) return fail("the encoder cannot be started");
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = std::uint32_t(width);
  info.ysize = std::uint32_t(height);
  info.bits_per_sample = 8;
  info.num_color_channels = 3;
  // A picture with a colour profile is coded in its own colours (libjxl
  // would otherwise need to convert them through the profile, which a
  // profile it cannot read defeats); one without is coded in XYB.
  const bool icc = meta != nullptr && !meta->icc.empty();
  info.uses_original_profile = lossless || icc ? JXL_TRUE : JXL_FALSE;
  if (JxlEncoderSetBasicInfo(enc.get(), &info) != JXL_ENC_SUCCESS)
    return fail("the encoder cannot be started");
  bool named = !icc;
  if (icc && JxlEncoderSetICCProfile(enc.get(), meta->icc.data(), meta->icc.size()) != JXL_ENC_SUCCESS) {
    // libjxl reads the profile's colours and refuses one it cannot use:
    // the picture goes without it, in its values as they are.
    context.Warn(FormatError(kFormat, "the colour profile cannot be used in JPEG XL; left out", path));
    named = true;
  }
  if (named) {
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
    if (JxlEncoderSetColorEncoding(enc.get(), &srgb) != JXL_ENC_SUCCESS)
      return fail("the encoder cannot be started");
  }
  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc.get(), nullptr);
  if (settings == nullptr) return fail("out of memory");
  if ((lossless ? JxlEncoderSetFrameLossless(settings, JXL_TRUE)
                : JxlEncoderSetFrameDistance(settings, distance)) != JXL_ENC_SUCCESS)
    return fail("the encoder cannot be started");
  if (boxes) {
    if (!meta->exif.empty()) {
      Bytes exif(4, 0);  // the TIFF header follows at once
      exif.insert(exif.end(), meta->exif.begin(), meta->exif.end());
      if (JxlEncoderAddBox(enc.get(), "Exif", exif.data(), exif.size(), JXL_FALSE) != JXL_ENC_SUCCESS)
        return fail("the EXIF data cannot be written");
    }
    if (!meta->xmp.empty() &&
        JxlEncoderAddBox(enc.get(), "xml ", reinterpret_cast<const std::uint8_t*>(meta->xmp.data()),
                         meta->xmp.size(), JXL_FALSE) != JXL_ENC_SUCCESS)
      return fail("the XMP packet cannot be written");
  }
  if (meta != nullptr && !meta->iptc.empty())
    context.Warn(FormatError(kFormat, "IPTC data has no place in the file; left out", path));
  Bytes rgb(std::size_t(width) * std::size_t(height) * 3);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = picture.ScanLine(y);
    std::uint8_t* dst = rgb.data() + std::size_t(y) * std::size_t(width) * 3;
    for (int x = 0; x < width; ++x, src += 3, dst += 3) dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
  }
  const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  if (JxlEncoderAddImageFrame(settings, &format, rgb.data(), rgb.size()) != JXL_ENC_SUCCESS)
    return fail("the picture cannot be encoded");
  JxlEncoderCloseInput(enc.get());
  Bytes out(1 << 16);
  std::uint8_t* next = out.data();
  std::size_t avail = out.size();
  for (;;) {
    const JxlEncoderStatus status = JxlEncoderProcessOutput(enc.get(), &next, &avail);
    if (status == JXL_ENC_SUCCESS) break;
    if (status != JXL_ENC_NEED_MORE_OUTPUT) return fail("the picture cannot be encoded");
    const std::size_t used = std::size_t(next - out.data());
    out.resize(out.size() * 2);
    next = out.data() + used;
    avail = out.size() - used;
  }
  out.resize(std::size_t(next - out.data()));
  data = std::move(out);
  return true;
}

}  // namespace codecs
