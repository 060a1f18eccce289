// GIF files through giflib.
//
// Reads: the first frame only, interlaced or not, through its local colour
// table or else the global one. The picture has the logical screen's size
// (grown to hold the frame if the screen is declared smaller); the area the
// frame does not cover and the frame's transparent index are white. An
// index past the colour table gives black. Refuses: no image, no colour
// table, sizes over the limit, decodes that need more memory than the
// budget, data that ends before the frame does. The frame is decoded row
// by row into a row store, so a short file that declares a large picture
// takes memory only for the rows its data reaches.
//
// Reading stops after the first frame, so what follows it (later frames,
// the trailer byte) is not looked at: a file cut right after a complete
// first frame still reads.
//
// Writes: one frame, not interlaced, with one global table of at most 256
// colours chosen by libimagequant, with Floyd-Steinberg dithering so that
// the smooth gradients of skies and blurred backgrounds do not band.
//
// giflib reports errors by return codes, so no jumps are involved; the
// handles are closed by owners on every path.
#include <gif_lib.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "codecs/codec.h"

extern "C" {
#include <libimagequant.h>
}

namespace codecs {
namespace {

constexpr char kFormat[] = "GIF";
constexpr TRGBTriple kWhite{255, 255, 255};

struct MemorySource {
  ByteView data;
  std::size_t position;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int count) {
  MemorySource* src = static_cast<MemorySource*>(gif->UserData);
  if (count <= 0) return 0;
  const std::size_t n = std::min<std::size_t>(std::size_t(count), src->data.size() - src->position);
  if (n > 0) std::memcpy(out, src->data.data() + src->position, n);
  src->position += n;
  return int(n);
}

// The encoder's output. giflib does not look at every write's result (the
// image separator, for one), so a failed write is remembered here and the
// whole encode fails afterwards.
struct MemorySink {
  Bytes bytes;
  bool failed = false;
};

int WriteToMemory(GifFileType* gif, const GifByteType* data, int count) {
  MemorySink* out = static_cast<MemorySink*>(gif->UserData);
  if (out->failed) return 0;
  try {
    out->bytes.insert(out->bytes.end(), data, data + count);
  } catch (...) {
    out->failed = true;
    return 0;
  }
  return count;
}

struct DecoderCloser {
  void operator()(GifFileType* gif) const {
    int ignored = 0;
    DGifCloseFile(gif, &ignored);
  }
};
struct EncoderCloser {
  void operator()(GifFileType* gif) const {
    int ignored = 0;
    EGifCloseFile(gif, &ignored);
  }
};
struct MapFreer {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using Decoder = std::unique_ptr<GifFileType, DecoderCloser>;
using Encoder = std::unique_ptr<GifFileType, EncoderCloser>;
using ColorMap = std::unique_ptr<ColorMapObject, MapFreer>;

// giflib's text for an error code; it has none for some codes.
std::string GifMessage(int code) {
  if (code == D_GIF_ERR_READ_FAILED || code == D_GIF_ERR_EOF_TOO_SOON) return "image data truncated";
  if (code == D_GIF_ERR_NOT_ENOUGH_MEM || code == E_GIF_ERR_NOT_ENOUGH_MEM) return "out of memory";
  const char* text = GifErrorString(code);
  return text ? text : "giflib error " + std::to_string(code);
}

// The transparent index of a graphic control block, or -1.
int TransparentIndex(GifFileType* gif, int code, GifByteType* block) {
  if (code != GRAPHICS_EXT_FUNC_CODE || block == nullptr || block[0] < 4) return -1;
  GraphicsControlBlock gcb;
  if (DGifExtensionToGCB(block[0], block + 1, &gcb) != GIF_OK) return -1;
  (void)gif;
  return gcb.TransparentColor;
}

// Decodes the frame row by row, undoing the four interlace passes, into
// the canvas rows of `canvas`; `line` holds one row of indices.
bool ReadFrame(GifFileType* gif, const ColorMapObject* map, int transparent, RowStore& canvas,
               std::vector<GifPixelType>& line, bool& outOfMemory) {
  const GifImageDesc& desc = gif->Image;
  auto row = [&](int y) {
    if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) return false;
    std::uint8_t* bytes = canvas.Row(desc.Top + y);
    if (bytes == nullptr) {
      outOfMemory = true;
      return false;
    }
    TRGBTriple* out = reinterpret_cast<TRGBTriple*>(bytes) + desc.Left;
    for (int x = 0; x < desc.Width; ++x) {
      const int index = line[std::size_t(x)];
      if (index == transparent) {
        out[x] = kWhite;
      } else if (index >= map->ColorCount) {
        out[x] = TRGBTriple{0, 0, 0};
      } else {
        const GifColorType& c = map->Colors[index];
        out[x] = TRGBTriple{c.Blue, c.Green, c.Red};
      }
    }
    return true;
  };
  if (!desc.Interlace) {
    for (int y = 0; y < desc.Height; ++y)
      if (!row(y)) return false;
    return true;
  }
  static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = kStart[pass]; y < desc.Height; y += kStep[pass])
      if (!row(y)) return false;
  return true;
}

}  // namespace

bool DecodeGif(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error) {
  const std::string& path = context.path;
  MemorySource source{data, 0};
  int code = 0;
  Decoder gif(DGifOpen(&source, ReadFromMemory, &code));
  if (!gif) {
    error = FormatError(kFormat, code == D_GIF_ERR_NOT_GIF_FILE ? "not a GIF file" : GifMessage(code), path);
    return false;
  }
  auto fail = [&]() {
    error = FormatError(kFormat, GifMessage(gif->Error), path);
    return false;
  };
  int transparent = -1;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif.get(), &record) != GIF_OK) return fail();
    if (record == TERMINATE_RECORD_TYPE) {
      error = FormatError(kFormat, "no image in file", path);
      return false;
    }
    if (record == EXTENSION_RECORD_TYPE) {
      int extCode = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &extCode, &block) != GIF_OK) return fail();
      const int index = TransparentIndex(gif.get(), extCode, block);
      if (extCode == GRAPHICS_EXT_FUNC_CODE) transparent = index;
      while (block != nullptr)
        if (DGifGetExtensionNext(gif.get(), &block) != GIF_OK) return fail();
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) continue;

    if (DGifGetImageDesc(gif.get()) != GIF_OK) return fail();
    const GifImageDesc& desc = gif->Image;
    // A frame that runs past the declared screen grows the picture.
    const std::int64_t canvasWidth =
        std::max<std::int64_t>(gif->SWidth, std::int64_t(desc.Left) + desc.Width);
    const std::int64_t canvasHeight =
        std::max<std::int64_t>(gif->SHeight, std::int64_t(desc.Top) + desc.Height);
    if (!CheckDeclaredSize(kFormat, desc.Width, desc.Height, path, error)) return false;
    if (!CheckDeclaredSize(kFormat, canvasWidth, canvasHeight, path, error)) return false;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (map == nullptr) {
      error = FormatError(kFormat, "no colour table", path);
      return false;
    }
    const std::uint64_t bytes = RowStore::Cost(canvasWidth, canvasHeight) + std::uint64_t(desc.Width);
    if (!CheckMemory(kFormat, bytes, context, error)) return false;
    RowStore canvas(int(canvasWidth), int(canvasHeight), kWhite);
    std::vector<GifPixelType> line(std::size_t(desc.Width));
    bool outOfMemory = false;
    if (!ReadFrame(gif.get(), map, transparent, canvas, line, outOfMemory)) {
      if (!outOfMemory) return fail();
      error = FormatError(kFormat, "out of memory", path);
      return false;
    }
    picture = canvas.Take();
    return true;
  }
}

// libimagequant 2.x goes on with the null pointer of a failed allocation and
// crashes. So its allocations go through LiqAllocate: malloc first, and
// where malloc fails, a reserve mapped before quantising begins (its pages
// are taken only when used). The reserve is as large as everything
// libimagequant allocates for the picture (measured: at most about 70 bytes
// a pixel and 750 KB, for noise), so a failing malloc never reaches the
// library. The callbacks carry no context, hence one quantisation at a
// time; libimagequant's threads may allocate at once, hence the atomic.
class LiqReserve {
 public:
  explicit LiqReserve(std::size_t pixels) : lock_(mutex_) {
    size_ = pixels * kBytesPerPixel + kFixedBytes;
    void* p =
        ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return;
    base_ = static_cast<std::uint8_t*>(p);
    used_.store(0);
  }
  ~LiqReserve() {
    if (base_) ::munmap(base_, size_);
    base_ = nullptr;
  }
  LiqReserve(const LiqReserve&) = delete;
  LiqReserve& operator=(const LiqReserve&) = delete;
  bool Ready() const { return base_ != nullptr; }

  static void* Allocate(std::size_t size) {
    if (void* p = std::malloc(size)) return p;
    const std::size_t rounded = (size + 15) & ~std::size_t(15);
    const std::size_t at = used_.fetch_add(rounded);
    if (base_ == nullptr || at + rounded > size_) std::abort();  // beyond what libimagequant ever takes
    return base_ + at;
  }
  static void Free(void* p) {
    const auto* b = static_cast<std::uint8_t*>(p);
    if (base_ != nullptr && b >= base_ && b < base_ + size_) return;  // the reserve goes as a whole
    std::free(p);
  }

 private:
  static constexpr std::size_t kBytesPerPixel = 96;
  static constexpr std::size_t kFixedBytes = 4 << 20;
  static inline std::mutex mutex_;
  static inline std::uint8_t* base_ = nullptr;
  static inline std::size_t size_ = 0;
  static inline std::atomic<std::size_t> used_{0};
  std::lock_guard<std::mutex> lock_;
};

// Frees the quantiser's handles on every path.
struct QuantizerHandles {
  liq_attr* attr = nullptr;
  liq_image* image = nullptr;
  liq_result* result = nullptr;
  ~QuantizerHandles() {
    if (result) liq_result_destroy(result);
    if (image) liq_image_destroy(image);
    if (attr) liq_attr_destroy(attr);
  }
};

// At most 256 colours for `picture`, and each pixel's index into them.
bool QuantizePicture(const TBitmap& picture, std::vector<GifByteType>& indices, GifColorType (&colors)[256],
                     int& colorCount) {
  const int width = picture.Width(), height = picture.Height();
  const std::size_t count = std::size_t(width) * std::size_t(height);
  std::vector<std::uint8_t> rgba(count * 4);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = picture.ScanLine(y);
    std::uint8_t* dst = rgba.data() + std::size_t(y) * width * 4;
    for (int x = 0; x < width; ++x, src += 3, dst += 4) {
      dst[0] = src[2], dst[1] = src[1], dst[2] = src[0], dst[3] = 255;
    }
  }
  LiqReserve reserve(count);
  if (!reserve.Ready()) return false;
  QuantizerHandles q;
  q.attr = liq_attr_create_with_allocator(LiqReserve::Allocate, LiqReserve::Free);
  if (!q.attr) return false;
  q.image = liq_image_create_rgba(q.attr, rgba.data(), width, height, 0);
  if (!q.image || liq_image_quantize(q.image, q.attr, &q.result) != LIQ_OK) return false;
  if (liq_set_dithering_level(q.result, 1.0f) != LIQ_OK) return false;
  indices.resize(count);
  if (liq_write_remapped_image(q.result, q.image, indices.data(), count) != LIQ_OK) return false;
  const liq_palette* palette = liq_get_palette(q.result);
  if (!palette || palette->count < 1 || palette->count > 256) return false;
  colorCount = int(palette->count);
  std::memset(colors, 0, sizeof colors);
  for (int i = 0; i < colorCount; ++i) {
    colors[i] = GifColorType{palette->entries[i].r, palette->entries[i].g, palette->entries[i].b};
  }
  return true;
}

bool EncodeGif(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error) {
  const std::string& path = context.path;
  const int width = picture.Width(), height = picture.Height();
  if (width > 65535 || height > 65535) {
    error = FormatError(kFormat, "picture too large for GIF (a side over 65535)", path);
    return false;
  }
  std::vector<GifByteType> indices;
  GifColorType colors[256];
  int colorCount = 0;
  if (!QuantizePicture(picture, indices, colors, colorCount)) {
    error = FormatError(kFormat, "colour quantisation failed", path);
    return false;
  }
  const int bits = GifBitSize(std::max(colorCount, 2));
  ColorMap map(GifMakeMapObject(1 << bits, colors));
  if (!map) {
    error = FormatError(kFormat, "out of memory", path);
    return false;
  }

  MemorySink out;
  int code = 0;
  Encoder gif(EGifOpen(&out, WriteToMemory, &code));
  if (!gif) {
    error = FormatError(kFormat, GifMessage(code), path);
    return false;
  }
  bool ok = EGifPutScreenDesc(gif.get(), width, height, bits, 0, map.get()) == GIF_OK &&
            EGifPutImageDesc(gif.get(), 0, 0, width, height, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < height; ++y)
    ok = EGifPutLine(gif.get(), indices.data() + std::size_t(y) * width, width) == GIF_OK;
  if (!ok) {
    error = FormatError(kFormat, GifMessage(gif->Error), path);
    return false;
  }
  // Closing writes the trailer; the handle is freed whatever it returns.
  if (EGifCloseFile(gif.release(), &code) != GIF_OK) {
    error = FormatError(kFormat, GifMessage(code), path);
    return false;
  }
  if (out.failed) {
    error = FormatError(kFormat, "out of memory", path);
    return false;
  }
  data = std::move(out.bytes);
  return true;
}

}  // namespace codecs
