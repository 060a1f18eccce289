// The working bitmap: a picture in memory that every toolkit routine works on.
//
// Formats: pf8bit (one byte per pixel, an index into a 256-entry colour
// table), pf24bit (blue, green, red per pixel), pf32bit (blue, green, red,
// alpha; only kept so that routines can be shown to refuse it).
//
// Rows are stored the way device-independent bitmaps store them: bottom row
// first, each row padded to a multiple of four bytes. Callers must ask for
// every row's address with ScanLine(y) and never compute one row's address
// from another's.
//
// Copies (copy construction, copy assignment, Assign) are independent:
// writing one never changes the other. They share their pixel memory until
// one of them is written (copy on write), so a chain of copies of a large
// picture costs one picture's memory. Every route to writable pixels (the
// non-const ScanLine, and everything built on it) first gives the bitmap
// its own copy when the memory is shared; the const ScanLine never copies.
// Reading one bitmap from several threads is safe; writing rows from
// several threads is safe once the bitmap has its own pixels (take every
// row's address on one thread first, as the accessors do).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

enum TPixelFormat { pf8bit, pf24bit, pf32bit };

struct TRGBTriple {
  std::uint8_t rgbtBlue;
  std::uint8_t rgbtGreen;
  std::uint8_t rgbtRed;
  bool operator==(const TRGBTriple&) const = default;
};
static_assert(sizeof(TRGBTriple) == 3, "a pixel record is three bytes");

struct TRGBQuad {
  std::uint8_t rgbBlue;
  std::uint8_t rgbGreen;
  std::uint8_t rgbRed;
  std::uint8_t rgbReserved;
  bool operator==(const TRGBQuad&) const = default;
};

// A colour value: red in the lowest byte, then green, then blue (black is 0).
using TColor = std::uint32_t;

inline constexpr TColor RGBColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}

// Integer rectangle; right and bottom are exclusive.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};

// Zeroed memory for a large buffer that is written once (a decoded
// picture, a file read whole): blocks of a MiB and more are mapped from
// the system in large pages where it can, and take real memory only as
// they are first written; smaller ones come from operator new. Throws
// std::bad_alloc when there is no memory.
std::shared_ptr<std::uint8_t[]> NewLazyMemory(std::size_t bytes);

class TBitmap {
 public:
  // Largest side and largest pixel count a bitmap may have; larger sizes
  // throw std::length_error before anything is allocated.
  static constexpr int kMaxSide = 1 << 20;
  static constexpr std::int64_t kMaxPixels = std::int64_t(1) << 30;

  TBitmap() = default;
  TBitmap(int width, int height, TPixelFormat format = pf24bit);
  // A bitmap whose pixels are left as the memory comes (not zeroed), for
  // routines that write every pixel before anything reads one.
  static TBitmap ForOverwrite(int width, int height, TPixelFormat format = pf24bit);
  // A bitmap for a decoder that writes its rows as they come: every byte
  // starts at zero (black), and the memory of a large picture is mapped
  // untouched (NewLazyMemory), so it takes real memory only as rows are
  // written: a file that declares more rows than it holds costs only the
  // rows it reaches.
  static TBitmap ForDecode(int width, int height, TPixelFormat format = pf24bit);
  TBitmap(const TBitmap&) = default;
  TBitmap& operator=(const TBitmap&) = default;
  // A moved-from bitmap is empty (0 x 0, same format).
  TBitmap(TBitmap&& other) noexcept;
  TBitmap& operator=(TBitmap&& other) noexcept;

  int Width() const { return width_; }
  int Height() const { return height_; }
  TPixelFormat PixelFormat() const { return format_; }

  // Changing the size keeps the pixels of the area the old and new size
  // share; new pixels are zero. Negative sizes throw std::invalid_argument.
  void SetWidth(int width);
  void SetHeight(int height);
  void SetSize(int width, int height);

  // Changing the format converts the pixels: 8-bit to 24- or 32-bit through
  // the colour table; 24- or 32-bit to 8-bit to the nearest grey level
  // (and the colour table becomes the grey ramp); 24 and 32 bit into each
  // other channel by channel, alpha 255.
  void SetPixelFormat(TPixelFormat format);

  // Writable row y (row 0 is the top row); gives the bitmap its own pixels
  // first when they are shared. Debug builds assert 0 <= y < Height.
  std::uint8_t* ScanLine(int y);
  const std::uint8_t* ScanLine(int y) const;
  // Bytes the pixels of one row take (without padding).
  std::size_t RowBytes() const;

  // Whether another bitmap currently shares these pixels (a write to
  // either would copy them first).
  bool SharesPixels() const { return pixels_ != nullptr && pixels_.use_count() > 1; }
  // What the pixels are known by: copies that share them have the same
  // one; a picture without pixels (a side of 0) has none (null).
  const void* PixelsId() const { return width_ > 0 && height_ > 0 ? pixels_.get() : nullptr; }
  // Whether these pixels are this bitmap's own and of that size and
  // format: a result may then be written over them in place.
  bool Fits(int width, int height, TPixelFormat format) const {
    return !SharesPixels() && width_ == width && height_ == height && format_ == format;
  }

  void Assign(const TBitmap& other) { *this = other; }
  // Makes this bitmap a copy of `src` with pixels of its own, writing into
  // the ones it has when they fit (no new memory from frame to frame).
  void CopyPixelsOf(const TBitmap& src);

  // Colour table of an 8-bit bitmap (kept, unused, for the other formats).
  // A new bitmap's table is all black.
  std::array<TRGBQuad, 256>& ColorTable() { return palette_; }
  const std::array<TRGBQuad, 256>& ColorTable() const { return palette_; }

  // Canvas: fill a rectangle (clipped) with a colour. For 8-bit bitmaps
  // the colour's red byte is written as the index.
  void FillRect(const TRect& rect, TColor color);
  void Fill(TColor color) { FillRect({0, 0, width_, height_}, color); }
  // Canvas: copy all of `src` with its top-left corner at (x, y), clipped.
  // Both bitmaps must have the same format.
  void Draw(int x, int y, const TBitmap& src);
  // Canvas: copy `srcRect` of `src` onto `dstRect` of this bitmap,
  // stretching by nearest neighbour when the sizes differ (exact when they
  // match). Both bitmaps must have the same format; pixels outside either
  // bitmap are skipped.
  void CopyRect(const TRect& dstRect, const TBitmap& src, const TRect& srcRect);

  bool operator==(const TBitmap& other) const;

  // The distance in bytes from a row's address to the next row's below it
  // (negative: rows are stored bottom first), for libraries that take a
  // picture as its top row's address and a step.
  std::ptrdiff_t RowStep() const { return -std::ptrdiff_t(stride_); }

 private:
  static std::size_t BytesPerPixel(TPixelFormat format);
  std::size_t Stride() const { return stride_; }
  void Reallocate(int width, int height, TPixelFormat format, bool keepPixels, bool zeroed = true,
                  bool lazy = false);
  // Gives this bitmap its own copy of the pixels when they are shared.
  void Detach();

  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = pf24bit;
  std::size_t stride_ = 0;
  // stride_ * height_ bytes, zeroed when made; null when that is 0.
  std::shared_ptr<std::uint8_t[]> pixels_;
  std::array<TRGBQuad, 256> palette_{};
};
