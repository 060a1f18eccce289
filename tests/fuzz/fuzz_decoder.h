// One decoder fuzz target: the bytes go to the decoder without a copy,
// under the fuzzers' memory budget; a picture that comes back must be
// 24-bit and within the picture limits.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "codecs/picture_io.h"

// The decode budget inside the fuzzers: an eighth of the memory the fuzz
// runs allow a process (-rss_limit_mb=512), leaving room for the
// sanitizers' shadow memory and quarantine and for libFuzzer itself.
inline constexpr std::uint64_t kFuzzDecodeBudget = std::uint64_t(64) << 20;

inline int FuzzDecode(const std::uint8_t* data, std::size_t size, const char* name) {
  static const bool budgetSet = (SetDecodeMemoryBudget(kFuzzDecodeBudget), true);
  (void)budgetSet;
  TBitmap picture;
  std::string error;
  std::vector<std::string> warnings;
  if (DecodePicture(std::span<const std::uint8_t>(data, size), name, picture, error, &warnings)) {
    if (picture.PixelFormat() != pf24bit || !PictureSizeAllowed(picture.Width(), picture.Height()))
      std::abort();
  } else if (error.find(name) == std::string::npos) {
    std::abort();  // every message names the file
  }
  return 0;
}
