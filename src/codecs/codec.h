// The one interface every picture format sits behind (internal to the
// codecs library).
//
// A decoder takes the whole file's bytes and fills a fresh pf24bit picture;
// on failure it returns false with `error` formed where the fault was found
// ("PNG: image data truncated: /path/x.png"), and the caller throws the
// picture away. An encoder turns a pf24bit picture into the file's bytes;
// the caller alone touches the file system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bitmap.h"

namespace codecs {

using Bytes = std::vector<std::uint8_t>;

// Largest picture any decoder accepts: checked on the declared size before
// anything of that size is allocated.
constexpr std::int64_t kMaxSide = 65535;
constexpr std::int64_t kMaxPixels = std::int64_t(1) << 28;

// "<format>: <what>: <path>"
std::string FormatError(const char* format, const std::string& what, const std::string& path);

// Refuses a declared width or height below 1, a side over kMaxSide or more
// than kMaxPixels pixels.
bool CheckDeclaredSize(const char* format, std::int64_t width, std::int64_t height, const std::string& path,
                       std::string& error);

bool DecodeBmp(const Bytes& data, const std::string& path, TBitmap& picture, std::string& error);
bool DecodeJpeg(const Bytes& data, const std::string& path, TBitmap& picture, std::string& error);
bool DecodePng(const Bytes& data, const std::string& path, TBitmap& picture, std::string& error);
bool DecodeGif(const Bytes& data, const std::string& path, TBitmap& picture, std::string& error);

bool EncodeBmp(const TBitmap& picture, const std::string& path, Bytes& data, std::string& error);
bool EncodeJpeg(const TBitmap& picture, const std::string& path, Bytes& data, std::string& error);
bool EncodePng(const TBitmap& picture, const std::string& path, Bytes& data, std::string& error);
bool EncodeGif(const TBitmap& picture, const std::string& path, Bytes& data, std::string& error);

}  // namespace codecs
