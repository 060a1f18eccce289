// Reads fuzzer bytes as the parameters of one call: whole numbers in a
// range, floats, and pictures filled from what is left. Running out of
// bytes gives zeros, so every input is a valid call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/bitmap.h"

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint32_t U32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return v;
  }

  // A whole number in lo .. hi (both included).
  std::int64_t Int(std::int64_t lo, std::int64_t hi) {
    const std::uint64_t span = std::uint64_t(hi - lo) + 1;
    const std::uint64_t v = (std::uint64_t(U32()) << 32 | U32()) % (span == 0 ? 1 : span);
    return lo + std::int64_t(v);
  }

  // Any 32-bit float, infinities and NaNs included.
  float Float() {
    const std::uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }

  // A picture of the format whose pixels are the next bytes.
  TBitmap Picture(int width, int height, TPixelFormat format) {
    TBitmap bmp(width, height, format);
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = bmp.ScanLine(y);
      for (std::size_t i = 0; i < bmp.RowBytes(); ++i) row[i] = Byte();
    }
    return bmp;
  }

 private:
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};
