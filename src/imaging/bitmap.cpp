#include "imaging/bitmap.h"

#include <sys/mman.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

void CheckSize(int width, int height) {
  if (width < 0 || height < 0) throw std::invalid_argument("bitmap size must not be negative");
  if (width > TBitmap::kMaxSide || height > TBitmap::kMaxSide ||
      std::int64_t(width) * height > TBitmap::kMaxPixels) {
    throw std::length_error("bitmap too large");
  }
}

std::uint8_t GreyOf(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  return static_cast<std::uint8_t>((r * 77 + g * 150 + b * 29 + 128) >> 8);
}

// Large blocks are aligned to the system's large pages (2 MiB on x86-64
// and most arm64 kernels) and marked for them: a picture written front to
// back then takes one page fault per 2 MiB instead of one per 4 KiB.
constexpr std::size_t kLargePage = std::size_t(2) << 20;
constexpr std::size_t kLargeBlock = std::size_t(1) << 20;

std::uintptr_t RoundUp(std::uintptr_t value, std::size_t step) {
  return (value + step - 1) / step * step;
}

// Asks for large pages over the whole large pages inside [p, p + bytes).
// Only a hint: where the kernel has them off, nothing changes.
void AdviseLargePages(void* p, std::size_t bytes) {
  const std::uintptr_t begin = RoundUp(reinterpret_cast<std::uintptr_t>(p), kLargePage);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + bytes) / kLargePage * kLargePage;
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Pixel memory through the plain operator new, as a std::vector takes it,
// so that allocation failures surface as std::bad_alloc the way every
// other allocation does (and tests that make large allocations fail reach
// it); zeroed unless the caller overwrites all of it at once.
std::shared_ptr<std::uint8_t[]> NewPixels(std::size_t bytes, bool zeroed = true) {
  if (bytes == 0) return nullptr;
  auto* memory = static_cast<std::uint8_t*>(::operator new(bytes));
  if (bytes >= kLargeBlock) AdviseLargePages(memory, bytes);
  if (zeroed) std::memset(memory, 0, bytes);
  return std::shared_ptr<std::uint8_t[]>(memory, [](std::uint8_t* p) { ::operator delete(p); });
}

}  // namespace

std::shared_ptr<std::uint8_t[]> NewLazyMemory(std::size_t bytes) {
  if (bytes < kLargeBlock) return NewPixels(bytes);
  const std::size_t length = RoundUp(bytes, kLargePage);
  // One large page more than needed, so that the block can start on a
  // large-page boundary; the ends outside it are given back at once.
  void* raw =
      ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t start = RoundUp(at, kLargePage);
  if (start > at) ::munmap(raw, start - at);
  if (start - at < kLargePage) ::munmap(reinterpret_cast<void*>(start + length), kLargePage - (start - at));
  auto* memory = reinterpret_cast<std::uint8_t*>(start);
  ::madvise(memory, length, MADV_HUGEPAGE);
  // (Should the control block not fit, shared_ptr unmaps the block itself.)
  return std::shared_ptr<std::uint8_t[]>(memory, [length](std::uint8_t* p) { ::munmap(p, length); });
}

TBitmap::TBitmap(int width, int height, TPixelFormat format) {
  CheckSize(width, height);
  Reallocate(width, height, format, false);
}

TBitmap::TBitmap(TBitmap&& other) noexcept
    : width_(other.width_),
      height_(other.height_),
      format_(other.format_),
      stride_(other.stride_),
      pixels_(std::move(other.pixels_)),
      palette_(other.palette_) {
  other.width_ = other.height_ = 0;
  other.stride_ = 0;
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
  if (this != &other) {
    width_ = other.width_;
    height_ = other.height_;
    format_ = other.format_;
    stride_ = other.stride_;
    pixels_ = std::move(other.pixels_);
    palette_ = other.palette_;
    other.width_ = other.height_ = 0;
    other.stride_ = 0;
  }
  return *this;
}

void TBitmap::Detach() {
  if (!SharesPixels()) return;
  auto own = NewPixels(stride_ * std::size_t(height_), false);
  std::memcpy(own.get(), pixels_.get(), stride_ * std::size_t(height_));
  pixels_ = std::move(own);
}

std::size_t TBitmap::BytesPerPixel(TPixelFormat format) {
  switch (format) {
    case pf8bit:
      return 1;
    case pf24bit:
      return 3;
    case pf32bit:
      return 4;
  }
  return 3;
}

std::size_t TBitmap::RowBytes() const {
  return std::size_t(width_) * BytesPerPixel(format_);
}

TBitmap TBitmap::ForOverwrite(int width, int height, TPixelFormat format) {
  CheckSize(width, height);
  TBitmap bmp;
  bmp.Reallocate(width, height, format, false, false);
  // The padding at the end of each row stays zero, as in every bitmap.
  const std::size_t used = bmp.RowBytes();
  if (used < bmp.stride_)
    for (int y = 0; y < height; ++y)
      std::memset(bmp.pixels_.get() + std::size_t(y) * bmp.stride_ + used, 0, bmp.stride_ - used);
  return bmp;
}

TBitmap TBitmap::ForDecode(int width, int height, TPixelFormat format) {
  CheckSize(width, height);
  TBitmap bmp;
  bmp.Reallocate(width, height, format, false, true, true);
  return bmp;
}

void TBitmap::Reallocate(int width, int height, TPixelFormat format, bool keepPixels, bool zeroed,
                         bool lazy) {
  const std::size_t bpp = BytesPerPixel(format);
  const std::size_t stride = (std::size_t(width) * bpp + 3) & ~std::size_t(3);
  const std::size_t bytes = stride * std::size_t(height);
  auto pixels = lazy ? NewLazyMemory(bytes) : NewPixels(bytes, zeroed || keepPixels);
  if (keepPixels && format == format_) {
    const int w = std::min(width, width_);
    const int h = std::min(height, height_);
    const TBitmap& self = *this;
    for (int y = 0; y < h && w > 0; ++y) {
      // Rows are stored bottom-up; copy by top-down index.
      std::memcpy(pixels.get() + std::size_t(height - 1 - y) * stride, self.ScanLine(y),
                  std::size_t(w) * bpp);
    }
  }
  width_ = width;
  height_ = height;
  format_ = format;
  stride_ = stride;
  pixels_ = std::move(pixels);
}

void TBitmap::SetWidth(int width) {
  SetSize(width, height_);
}
void TBitmap::SetHeight(int height) {
  SetSize(width_, height);
}

void TBitmap::SetSize(int width, int height) {
  CheckSize(width, height);
  if (width == width_ && height == height_) return;
  Reallocate(width, height, format_, true);
}

std::uint8_t* TBitmap::ScanLine(int y) {
  assert(y >= 0 && y < height_ && "ScanLine: row outside the bitmap");
  Detach();
  return pixels_.get() + std::size_t(height_ - 1 - y) * stride_;
}

const std::uint8_t* TBitmap::ScanLine(int y) const {
  assert(y >= 0 && y < height_ && "ScanLine: row outside the bitmap");
  return pixels_.get() + std::size_t(height_ - 1 - y) * stride_;
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == format_) return;
  TBitmap out(width_, height_, format);
  out.palette_ = palette_;
  const std::size_t inBpp = BytesPerPixel(format_);
  const std::size_t outBpp = BytesPerPixel(format);
  const TBitmap& self = *this;
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* s = self.ScanLine(y);
    std::uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < width_; ++x, s += inBpp, d += outBpp) {
      std::uint8_t b, g, r;
      if (format_ == pf8bit) {
        const TRGBQuad& q = palette_[*s];
        b = q.rgbBlue, g = q.rgbGreen, r = q.rgbRed;
      } else {
        b = s[0], g = s[1], r = s[2];
      }
      if (format == pf8bit) {
        d[0] = GreyOf(b, g, r);
      } else {
        d[0] = b, d[1] = g, d[2] = r;
        if (format == pf32bit) d[3] = 255;
      }
    }
  }
  if (format == pf8bit) {
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<std::uint8_t>(i);
      out.palette_[i] = {v, v, v, 0};
    }
  }
  *this = std::move(out);
}

void TBitmap::FillRect(const TRect& rect, TColor color) {
  const int left = std::max(rect.Left, 0), right = std::min(rect.Right, width_);
  const int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, height_);
  if (left >= right || top >= bottom) return;
  const std::uint8_t px[4] = {std::uint8_t(color >> 16), std::uint8_t(color >> 8), std::uint8_t(color), 255};
  const std::size_t bpp = BytesPerPixel(format_);
  for (int y = top; y < bottom; ++y) {
    std::uint8_t* d = ScanLine(y) + std::size_t(left) * bpp;
    for (int x = left; x < right; ++x, d += bpp) {
      if (format_ == pf8bit) {
        d[0] = px[2];
      } else {
        std::memcpy(d, px, bpp);
      }
    }
  }
}

void TBitmap::Draw(int x, int y, const TBitmap& src) {
  CopyRect({x, y, x + src.width_, y + src.height_}, src, {0, 0, src.width_, src.height_});
}

void TBitmap::CopyRect(const TRect& dstRect, const TBitmap& src, const TRect& srcRect) {
  if (src.format_ != format_) throw std::invalid_argument("CopyRect: pixel formats differ");
  const int dw = dstRect.Width(), dh = dstRect.Height();
  const int sw = srcRect.Width(), sh = srcRect.Height();
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  const std::size_t bpp = BytesPerPixel(format_);
  for (int j = 0; j < dh; ++j) {
    const int dy = dstRect.Top + j;
    const int sy = srcRect.Top + int(std::int64_t(j) * sh / dh);
    if (dy < 0 || dy >= height_ || sy < 0 || sy >= src.height_) continue;
    std::uint8_t* drow = ScanLine(dy);
    const std::uint8_t* srow = src.ScanLine(sy);
    for (int i = 0; i < dw; ++i) {
      const int dx = dstRect.Left + i;
      const int sx = srcRect.Left + int(std::int64_t(i) * sw / dw);
      if (dx < 0 || dx >= width_ || sx < 0 || sx >= src.width_) continue;
      std::memcpy(drow + std::size_t(dx) * bpp, srow + std::size_t(sx) * bpp, bpp);
    }
  }
}

bool TBitmap::operator==(const TBitmap& other) const {
  if (width_ != other.width_ || height_ != other.height_ || format_ != other.format_) return false;
  const std::size_t rowBytes = RowBytes();
  const bool samePixels = pixels_ == other.pixels_;
  for (int y = 0; y < height_ && rowBytes > 0 && !samePixels; ++y) {
    if (std::memcmp(ScanLine(y), other.ScanLine(y), rowBytes) != 0) return false;
  }
  return format_ != pf8bit || palette_ == other.palette_;
}

void TBitmap::CopyPixelsOf(const TBitmap& src) {
  if (!Fits(src.Width(), src.Height(), src.PixelFormat()))
    *this = ForOverwrite(src.Width(), src.Height(), src.PixelFormat());
  for (int y = 0; y < src.Height(); ++y) std::memcpy(ScanLine(y), src.ScanLine(y), src.RowBytes());
  palette_ = src.palette_;
}
