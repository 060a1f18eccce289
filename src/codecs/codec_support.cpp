// What every decoder shares: the message format, the size and memory
// checks made before any pixel memory is taken, and the row store that
// takes pixel memory only as rows are decoded; and the encoders' output
// reservation.
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "codecs/codec.h"

namespace codecs {

namespace {

// Bytes in MiB, one decimal ("12.5 MiB").
std::string Mebibytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / (1024.0 * 1024.0));
  return text;
}

void AddWarning(std::vector<std::string>* warnings, const std::string& message) noexcept {
  // A damaged file can repeat one complaint for every block; a few say it.
  constexpr std::size_t kMaxWarnings = 8;
  if (warnings == nullptr || warnings->size() >= kMaxWarnings) return;
  try {
    if (std::find(warnings->begin(), warnings->end(), message) == warnings->end())
      warnings->push_back(message);
  } catch (...) {
    // Out of memory: the warning is dropped, the picture is still good.
  }
}

}  // namespace

void DecodeContext::Warn(const std::string& message) const noexcept {
  AddWarning(warnings, message);
}
void EncodeContext::Warn(const std::string& message) const noexcept {
  AddWarning(warnings, message);
}

std::string FormatError(const char* format, const std::string& what, const std::string& path) {
  return std::string(format) + ": " + what + ": " + path;
}

bool CheckDeclaredSize(const char* format, std::int64_t width, std::int64_t height, const std::string& path,
                       std::string& error) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width < 1 || height < 1) {
    error = FormatError(format, "picture has no pixels (" + size + ")", path);
    return false;
  }
  if (!PictureSizeAllowed(width, height)) {
    error = FormatError(format,
                        "picture too large (" + size + "; the limit is " + std::to_string(kMaxPictureSide) +
                            " per side and " + std::to_string(kMaxPicturePixels) + " pixels)",
                        path);
    return false;
  }
  return true;
}

bool CheckMemory(const char* format, std::uint64_t bytes, const DecodeContext& context, std::string& error) {
  if (bytes <= context.budget) return true;
  error = FormatError(format,
                      "decoding needs " + Mebibytes(bytes) + " of memory, more than the " +
                          Mebibytes(context.budget) + " allowed",
                      context.path);
  return false;
}

void ReserveOutput(Bytes& data, std::size_t bytes) {
  data.reserve(bytes);
  // Only the whole large pages (2 MiB) inside the block; a hint the kernel
  // may ignore.
  constexpr std::uintptr_t kLargePage = std::uintptr_t(2) << 20;
  const auto at = reinterpret_cast<std::uintptr_t>(data.data());
  const std::uintptr_t begin = (at + kLargePage - 1) / kLargePage * kLargePage;
  const std::uintptr_t end = (at + data.capacity()) / kLargePage * kLargePage;
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

RowStore::RowStore(int width, int height, TRGBTriple fill)
    : width_(width), height_(height), fill_(fill), rows_(std::size_t(height)) {}

std::uint8_t* RowStore::Row(int y, bool fill) noexcept {
  std::unique_ptr<std::uint8_t[]>& row = rows_[std::size_t(y)];
  if (!row) {
    row.reset(new (std::nothrow) std::uint8_t[std::size_t(width_) * 3]);
    if (!row) return nullptr;
    TRGBTriple* p = reinterpret_cast<TRGBTriple*>(row.get());
    if (fill) std::fill(p, p + width_, fill_);
  }
  return row.get();
}

TBitmap RowStore::Take() {
  TBitmap picture = TBitmap::ForOverwrite(width_, height_, pf24bit);  // every row is written below
  for (int y = 0; y < height_; ++y) {
    std::uint8_t* dst = picture.ScanLine(y);
    std::unique_ptr<std::uint8_t[]>& row = rows_[std::size_t(y)];
    if (row) {
      std::memcpy(dst, row.get(), std::size_t(width_) * 3);
      row.reset();
    } else {
      TRGBTriple* p = reinterpret_cast<TRGBTriple*>(dst);
      std::fill(p, p + width_, fill_);
    }
  }
  return picture;
}

std::uint64_t RowStore::Cost(std::int64_t width, std::int64_t height) {
  const std::uint64_t stride = (std::uint64_t(width) * 3 + 3) & ~std::uint64_t(3);
  return std::uint64_t(height) * (stride + std::uint64_t(width) * 3 + sizeof(void*));
}

}  // namespace codecs
