// The one interface every picture format sits behind (internal to the
// codecs library).
//
// A decoder takes the file's bytes (a view, not a copy) and fills a fresh
// pf24bit picture; on failure it returns false with `error` formed where
// the fault was found ("PNG: image data truncated: /path/x.png"), and the
// caller throws the picture away. Before it takes any pixel memory it
// checks the declared size against the picture limits and the memory the
// decode needs against the context's budget; pixel memory is then taken
// only as rows are decoded (a TBitmap::ForDecode picture the rows go
// straight into, or a RowStore where rows the data skips must come out in
// another colour), so a small file that lies about its size costs little.
// An encoder turns a pf24bit picture into the file's bytes; the caller
// alone touches the file system.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "codecs/metadata.h"
#include "codecs/picture_io.h"
#include "imaging/bitmap.h"
#include "imaging/size_limits.h"

namespace codecs {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// What a decoder is told besides the bytes.
struct DecodeContext {
  const std::string& path;                       // named in every message
  std::uint64_t budget;                          // bytes of memory the decode may take
  std::vector<std::string>* warnings = nullptr;  // damaged but readable: what was wrong
  // JPEG only: 2, 4 or 8 decodes at that fraction of the size with
  // libjpeg's DCT scaling, and the fast integer IDCT and plain upsampling,
  // for a quick look. 1 decodes the picture as it is.
  int reduction = 1;

  // Adds a warning (at most a few, each once); never throws.
  void Warn(const std::string& message) const noexcept;
};

// What an encoder is told besides the picture.
struct EncodeContext {
  const std::string& path;                       // named in every message
  int quality = kDefaultJpegQuality;             // 1 to 100, the JPEG scale; each lossy encoder maps it
  const TSaveMetadata* metadata = nullptr;       // written by the encoders of formats that carry it
  std::vector<std::string>* warnings = nullptr;  // written, but not everything: what was left out

  // Adds a warning (at most a few, each once); never throws.
  void Warn(const std::string& message) const noexcept;
};

// "<format>: <what>: <path>"
std::string FormatError(const char* format, const std::string& what, const std::string& path);

// Refuses a declared width or height below 1, or a size beyond the picture
// limits (imaging/size_limits.h).
bool CheckDeclaredSize(const char* format, std::int64_t width, std::int64_t height, const std::string& path,
                       std::string& error);

// Refuses a decode that needs more than the budget: `bytes` is everything
// the decode may hold at its peak (RowStore::Cost, the measure of every
// decoder's pixels, plus the decoder's own).
bool CheckMemory(const char* format, std::uint64_t bytes, const DecodeContext& context, std::string& error);

// A channel value `c` with alpha `a` (0 .. 255) over white:
// (c * a + 255 * (255 - a)) / 255, rounded half up. BMP and PNG pictures
// with alpha come out this way.
inline std::uint8_t OverWhite(unsigned c, unsigned a) {
  return std::uint8_t((c * a + 255 * (255 - a) + 127) / 255);
}

// Reserves room for `bytes` of an encoder's output in `data`; a large block
// is marked for large pages before anything is written to it (fewer page
// faults as it fills).
void ReserveOutput(Bytes& data, std::size_t bytes);

// Pixel rows of a picture being decoded, for decoders whose rows the data
// may leave out (GIF frames, run-length BMP). A row's memory is taken the
// first time it is asked for; rows never asked for come out in the fill
// colour.
class RowStore {
 public:
  RowStore(int width, int height, TRGBTriple fill);

  // The row's width * 3 bytes (blue, green, red), set to the fill colour
  // when first taken; nullptr when no memory is left (the decoder then
  // fails with "out of memory"). A decoder that writes every pixel of the
  // row passes `fill` false and gets it as it comes.
  std::uint8_t* Row(int y, bool fill = true) noexcept;

  // The finished picture. Each row is released as soon as it is copied.
  // Throws std::bad_alloc when the picture cannot be allocated.
  TBitmap Take();

  // Peak bytes of a decode into a RowStore: the rows, the finished picture
  // (both exist while it is copied) and the row table. Decoders that write
  // straight into the picture hold less, and are measured by it all the
  // same, so that every format meets the same budget.
  static std::uint64_t Cost(std::int64_t width, std::int64_t height);

 private:
  int width_;
  int height_;
  TRGBTriple fill_;
  std::vector<std::unique_ptr<std::uint8_t[]>> rows_;
};

// The width and height a JPEG file's frame header declares; false when
// the header cannot be read.
bool JpegDimensions(ByteView data, int& width, int& height);

bool DecodeBmp(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error);
bool DecodeJpeg(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error);
bool DecodePng(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error);
bool DecodeGif(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error);

bool EncodeBmp(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error);
bool EncodeJpeg(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error);
bool EncodePng(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error);
bool EncodeGif(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error);

// HEIF (HEVC) and AVIF (AV1) through libheif: either decoder reads both
// (the file says which it holds); they differ in the name in messages.
bool DecodeHeif(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error);
bool DecodeAvif(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error);
// The first depth image of the primary image, 8-bit grey; false when none.
bool DecodeHeifDepth(ByteView data, TBitmap& depth);
bool EncodeHeic(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error);
bool EncodeAvif(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error);
bool DecodeWebp(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error);
bool EncodeWebp(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error);
bool DecodeTiff(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error);
bool EncodeTiff(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error);
bool DecodeJxl(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error);
bool EncodeJxl(const TBitmap& picture, const EncodeContext& context, Bytes& data, std::string& error);

// The EXIF, XMP and colour profile of a HEIF/AVIF or JPEG XL file, for
// ReadMetadata (exiv2 reads the other formats). Their decoders already
// apply the file's own rotation and mirroring, so there is no orientation
// to apply after them. False, with `problem`, when the file cannot be
// parsed.
bool ReadHeifMetadata(ByteView data, TPictureMetadata& meta, std::string& problem);
bool ReadJxlMetadata(ByteView data, TPictureMetadata& meta, std::string& problem);

// Adds `exif` (a TIFF structure) to the TIFF file `tiff` as its EXIF IFD
// and IFD0 tags, with exiv2; the picture's own tags stay as written. On
// failure `tiff` is unchanged and `problem` says why.
bool WriteTiffExif(Bytes& tiff, const std::vector<std::uint8_t>& exif, std::string& problem);

}  // namespace codecs
