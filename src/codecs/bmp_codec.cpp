// Windows bitmap files, read and written by hand (the format is a header
// and rows of pixels; no library is needed).
//
// Reads: the OS/2 core header (12 bytes) and the Windows info headers (40,
// 52, 56, 64, 108 and 124 bytes); 1, 4 and 8 bits per pixel through the
// colour table, RLE8 and RLE4; 16 and 32 bits with the default 5-5-5 and
// 8-8-8 layouts or with bit-field masks; 24 bits; bottom-up and top-down
// rows. A mask channel is scaled to 0..255 as value * 255 / maximum,
// rounded half up in integers. Alpha counts where the header declares an
// alpha mask (the 56-byte and larger headers, or alpha bit fields) and some
// pixel's alpha is not zero (many writers leave the byte 0 for opaque
// pictures): each pixel is then composited over white in the stored values,
// (c * a + 255 * (255 - a)) / 255 rounded half up, as PNG and GIF are.
// An index past the
// colour table gives black; pixels that RLE data skips take colour 0. The
// colour table holds at most the entries that fit before the pixels.
// Refuses: a missing "BM" signature, other header sizes, JPEG/PNG/Huffman
// compression, bit counts the compression does not allow, top-down RLE,
// sizes over the limit, decodes that need more memory than the budget, and
// data that ends before the pixels do. Run-length data is expanded row by
// row into a row store, so a short file that declares a large picture takes
// memory only for the rows its data reaches.
//
// Writes: 24 bits per pixel, a 40-byte info header, bottom-up rows padded
// to four bytes, no colour table.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/codec.h"

namespace codecs {
namespace {

constexpr char kFormat[] = "BMP";

enum : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

std::uint32_t U16(ByteView d, std::size_t at) {
  return std::uint32_t(d[at]) | std::uint32_t(d[at + 1]) << 8;
}
std::uint32_t U32(ByteView d, std::size_t at) {
  return U16(d, at) | U16(d, at + 2) << 16;
}
std::int32_t I32(ByteView d, std::size_t at) {
  return std::int32_t(U32(d, at));
}

struct BmpHeader {
  std::uint32_t headerSize = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;  // positive after parsing
  bool topDown = false;
  std::uint32_t bitCount = 0;
  std::uint32_t compression = kRgb;
  std::uint32_t colorsUsed = 0;
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue
  std::uint32_t alphaMask = 0;         // 0: no alpha declared
  std::size_t paletteOffset = 0;
  std::size_t paletteEntrySize = 4;
  std::size_t pixelOffset = 0;
};

// One channel of a bit-field mask: where it sits and its largest value.
struct Channel {
  int shift = 0;
  std::uint32_t max = 0;
  std::uint8_t Scale(std::uint32_t pixel, std::uint32_t mask) const {
    if (max == 0) return 0;
    const std::uint64_t v = (pixel & mask) >> shift;
    return std::uint8_t((v * 255 + max / 2) / max);
  }
};

Channel MakeChannel(std::uint32_t mask) {
  Channel c;
  if (mask == 0) return c;
  while (((mask >> c.shift) & 1u) == 0) ++c.shift;
  c.max = mask >> c.shift;
  return c;
}

bool ParseHeader(ByteView d, const std::string& path, BmpHeader& h, std::string& error) {
  if (d.size() < 2 || d[0] != 'B' || d[1] != 'M') {
    error = FormatError(kFormat, "not a BMP file (no \"BM\" signature)", path);
    return false;
  }
  if (d.size() < 18) {
    error = FormatError(kFormat, "file header truncated", path);
    return false;
  }
  h.pixelOffset = U32(d, 10);
  h.headerSize = U32(d, 14);
  const std::uint32_t hs = h.headerSize;
  if (hs != 12 && hs != 40 && hs != 52 && hs != 56 && hs != 64 && hs != 108 && hs != 124) {
    error = FormatError(kFormat, "unsupported header size " + std::to_string(hs), path);
    return false;
  }
  if (d.size() < 14 + std::size_t(hs)) {
    error = FormatError(kFormat, "info header truncated", path);
    return false;
  }
  std::int64_t height = 0;
  if (hs == 12) {
    h.width = U16(d, 18);
    height = U16(d, 20);
    h.bitCount = U16(d, 24);
    h.paletteEntrySize = 3;
  } else {
    h.width = I32(d, 18);
    height = I32(d, 22);
    h.bitCount = U16(d, 28);
    h.compression = U32(d, 30);
    h.colorsUsed = U32(d, 46);
  }
  h.topDown = height < 0;
  h.height = h.topDown ? -height : height;
  h.paletteOffset = 14 + std::size_t(hs);

  const bool bitFields = h.compression == kBitFields || h.compression == kAlphaBitFields;
  if (hs == 64 && h.compression > kRle4) {  // OS/2 2.x: 3 is Huffman, 4 is RLE24
    error = FormatError(kFormat, "unsupported OS/2 compression " + std::to_string(h.compression), path);
    return false;
  }
  if (bitFields) {
    // The masks follow a 40-byte header; the larger headers hold them.
    const std::size_t maskBytes = h.compression == kAlphaBitFields ? 16 : 12;
    if (d.size() < 54 + maskBytes) {
      error = FormatError(kFormat, "bit-field masks truncated", path);
      return false;
    }
    for (int i = 0; i < 3; ++i) h.masks[i] = U32(d, 54 + 4 * std::size_t(i));
    if (hs == 40) h.paletteOffset += maskBytes;
  }
  // The alpha mask: the fourth mask of alpha bit fields, or the field the
  // 56-byte and larger headers carry.
  if ((h.compression == kAlphaBitFields || hs >= 56) && (h.bitCount == 16 || h.bitCount == 32) && hs != 64 &&
      d.size() >= 70)
    h.alphaMask = U32(d, 66);

  bool allowed = false;
  switch (h.compression) {
    case kRgb:
      allowed = h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 16 ||
                h.bitCount == 24 || h.bitCount == 32;
      break;
    case kRle8:
      allowed = h.bitCount == 8;
      break;
    case kRle4:
      allowed = h.bitCount == 4;
      break;
    case kBitFields:
    case kAlphaBitFields:
      allowed = h.bitCount == 16 || h.bitCount == 32;
      break;
    default:
      error = FormatError(kFormat, "unsupported compression " + std::to_string(h.compression), path);
      return false;
  }
  if (!allowed) {
    error = FormatError(kFormat,
                        std::to_string(h.bitCount) + " bits per pixel do not go with compression " +
                            std::to_string(h.compression),
                        path);
    return false;
  }
  if (h.topDown && (h.compression == kRle8 || h.compression == kRle4)) {
    error = FormatError(kFormat, "top-down rows cannot be run-length encoded", path);
    return false;
  }
  if (!bitFields) {
    if (h.bitCount == 16) h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
    if (h.bitCount == 32) h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
  }
  if (!CheckDeclaredSize(kFormat, h.width, h.height, path, error)) return false;
  if (h.pixelOffset >= d.size()) {
    error = FormatError(kFormat, "pixel data missing", path);
    return false;
  }
  return true;
}

bool ReadPalette(ByteView d, const BmpHeader& h, const std::string& path, std::vector<TRGBTriple>& palette,
                 std::string& error) {
  palette.assign(256, TRGBTriple{0, 0, 0});
  if (h.bitCount > 8) return true;
  std::size_t count = std::size_t(1) << h.bitCount;
  if (h.colorsUsed != 0 && h.colorsUsed < count) count = h.colorsUsed;
  // Writers that store fewer entries (OS/2 files, above all) say so only by
  // where the pixels start.
  if (h.pixelOffset > h.paletteOffset)
    count = std::min(count, (h.pixelOffset - h.paletteOffset) / h.paletteEntrySize);
  if (h.paletteOffset + count * h.paletteEntrySize > d.size()) {
    error = FormatError(kFormat, "colour table truncated", path);
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = h.paletteOffset + i * h.paletteEntrySize;
    palette[i] = TRGBTriple{d[at], d[at + 1], d[at + 2]};
  }
  return true;
}

std::size_t StoredStride(const BmpHeader& h) {
  return (std::size_t(h.width) * h.bitCount + 31) / 32 * 4;
}

// The 16- or 32-bit value of pixel x in a stored row.
std::uint32_t PackedPixel(const std::uint8_t* row, int x, std::uint32_t bitCount) {
  const std::uint8_t* p = row + std::size_t(x) * (bitCount / 8);
  if (bitCount == 16) return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// Whether the declared alpha mask holds anything but 0 in some pixel.
bool AlphaInUse(ByteView d, const BmpHeader& h) {
  if (h.alphaMask == 0) return false;
  const std::size_t stride = StoredStride(h);
  for (std::int64_t r = 0; r < h.height; ++r) {
    const std::uint8_t* src = d.data() + h.pixelOffset + std::size_t(r) * stride;
    for (int x = 0; x < int(h.width); ++x)
      if ((PackedPixel(src, x, h.bitCount) & h.alphaMask) != 0) return true;
  }
  return false;
}

void ReadUncompressed(ByteView d, const BmpHeader& h, const std::vector<TRGBTriple>& palette,
                      TBitmap& picture) {
  const int width = int(h.width);
  const int height = int(h.height);
  const std::size_t stride = StoredStride(h);
  const Channel red = MakeChannel(h.masks[0]), green = MakeChannel(h.masks[1]),
                blue = MakeChannel(h.masks[2]);
  const bool alpha = AlphaInUse(d, h);
  const Channel opacity = MakeChannel(alpha ? h.alphaMask : 0);
  for (int r = 0; r < height; ++r) {
    const std::uint8_t* src = d.data() + h.pixelOffset + std::size_t(r) * stride;
    TRGBTriple* dst = reinterpret_cast<TRGBTriple*>(picture.ScanLine(h.topDown ? r : height - 1 - r));
    if (h.bitCount == 24) {  // stored as the picture holds it
      std::memcpy(dst, src, std::size_t(width) * 3);
      continue;
    }
    for (int x = 0; x < width; ++x) {
      switch (h.bitCount) {
        case 1:
          dst[x] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
          break;
        case 4:
          dst[x] = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
          break;
        case 8:
          dst[x] = palette[src[x]];
          break;
        case 24:
          dst[x] = TRGBTriple{src[3 * x], src[3 * x + 1], src[3 * x + 2]};
          break;
        default: {
          const std::uint32_t v = PackedPixel(src, x, h.bitCount);
          dst[x] =
              TRGBTriple{blue.Scale(v, h.masks[2]), green.Scale(v, h.masks[1]), red.Scale(v, h.masks[0])};
          if (alpha) {
            const unsigned a = opacity.Scale(v, h.alphaMask);
            dst[x] = TRGBTriple{OverWhite(dst[x].rgbtBlue, a), OverWhite(dst[x].rgbtGreen, a),
                                OverWhite(dst[x].rgbtRed, a)};
          }
        }
      }
    }
  }
}

// Run-length data into the rows of `rows` (stored row 0 is the bottom one);
// pixels the data skips keep colour 0.
bool ExpandRle(ByteView d, const BmpHeader& h, const std::vector<TRGBTriple>& palette,
               const std::string& path, RowStore& rows, std::string& error) {
  const std::int64_t width = h.width, height = h.height;
  const bool four = h.compression == kRle4;
  std::size_t at = h.pixelOffset;
  std::int64_t x = 0, y = 0;
  std::uint8_t* row = nullptr;  // the picture row of stored row y, once taken
  bool outOfMemory = false;
  auto put = [&](std::uint8_t index) {
    if (x < width && y < height) {
      if (row == nullptr) row = rows.Row(int(height - 1 - y));
      if (row == nullptr) {
        outOfMemory = true;
      } else {
        reinterpret_cast<TRGBTriple*>(row)[x] = palette[index];
      }
    }
    ++x;
  };
  auto truncated = [&]() {
    error = FormatError(kFormat, "run-length data truncated", path);
    return false;
  };
  // Runs past the last row are ignored, but the data must still reach its
  // end-of-picture marker.
  for (;;) {
    if (outOfMemory) {
      error = FormatError(kFormat, "out of memory", path);
      return false;
    }
    if (at + 2 > d.size()) return truncated();
    const std::uint8_t count = d[at], value = d[at + 1];
    at += 2;
    if (count > 0) {  // a run of one index (RLE4: two alternating)
      for (int i = 0; i < count; ++i) put(four ? std::uint8_t((i & 1) ? value & 15 : value >> 4) : value);
    } else if (value == 0) {  // end of line
      x = 0, ++y, row = nullptr;
    } else if (value == 1) {  // end of picture
      break;
    } else if (value == 2) {  // move right and up
      if (at + 2 > d.size()) return truncated();
      x += d[at], y += d[at + 1];
      if (d[at + 1] != 0) row = nullptr;
      at += 2;
    } else {  // `value` literal indices, padded to a 16-bit boundary
      const std::size_t bytes = four ? (value + 1u) / 2 : value;
      if (at + bytes > d.size()) return truncated();
      for (int i = 0; i < value; ++i)
        put(four ? std::uint8_t((i & 1) ? d[at + i / 2] & 15 : d[at + i / 2] >> 4) : d[at + i]);
      at += bytes + (bytes & 1);
    }
  }
  return true;
}

}  // namespace

bool DecodeBmp(ByteView data, const DecodeContext& context, TBitmap& picture, std::string& error) {
  const std::string& path = context.path;
  BmpHeader h;
  if (!ParseHeader(data, path, h, error)) return false;
  std::vector<TRGBTriple> palette;
  if (!ReadPalette(data, h, path, palette, error)) return false;

  if (h.compression == kRle8 || h.compression == kRle4) {
    if (!CheckMemory(kFormat, RowStore::Cost(h.width, h.height), context, error)) return false;
    RowStore rows(int(h.width), int(h.height), palette[0]);
    if (!ExpandRle(data, h, palette, path, rows, error)) return false;
    picture = rows.Take();
    return true;
  }

  const std::size_t stride = StoredStride(h);
  if (stride * std::size_t(h.height) > data.size() - h.pixelOffset) {
    error = FormatError(kFormat, "pixel data truncated", path);
    return false;
  }
  // The pixels are all in the file, so the picture is taken whole.
  const std::uint64_t bytes =
      std::uint64_t(h.height) * ((std::uint64_t(h.width) * 3 + 3) & ~std::uint64_t(3));
  if (!CheckMemory(kFormat, bytes, context, error)) return false;
  picture = TBitmap::ForDecode(int(h.width), int(h.height), pf24bit);  // every pixel is read below
  ReadUncompressed(data, h, palette, picture);
  return true;
}

bool EncodeBmp(const TBitmap& picture, const EncodeContext&, Bytes& data, std::string&) {
  const std::uint32_t width = std::uint32_t(picture.Width()), height = std::uint32_t(picture.Height());
  const std::uint32_t stride = (width * 3 + 3) / 4 * 4;
  const std::uint32_t imageSize = stride * height;
  const std::uint32_t offset = 14 + 40;
  data.clear();
  ReserveOutput(data, offset + std::size_t(imageSize));
  data.resize(offset, 0);
  auto put16 = [&](std::size_t at, std::uint32_t v) {
    data[at] = std::uint8_t(v), data[at + 1] = std::uint8_t(v >> 8);
  };
  auto put32 = [&](std::size_t at, std::uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
  data[0] = 'B', data[1] = 'M';
  put32(2, offset + imageSize);
  put32(10, offset);
  put32(14, 40);
  put32(18, width);
  put32(22, height);  // positive: bottom-up
  put16(26, 1);       // planes
  put16(28, 24);      // bits per pixel
  put32(30, kRgb);
  put32(34, imageSize);
  // Each row and its padding appended in turn: no byte is written twice.
  const std::uint8_t padding[3] = {0, 0, 0};
  for (std::uint32_t r = 0; r < height; ++r) {
    const std::uint8_t* src = picture.ScanLine(int(height - 1 - r));
    data.insert(data.end(), src, src + std::size_t(width) * 3);
    data.insert(data.end(), padding, padding + (stride - width * 3));
  }
  return true;
}

}  // namespace codecs
