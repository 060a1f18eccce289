// Helpers shared by the codec tests: fixture paths, a scratch folder, raw
// file bytes and picture comparison.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codecs/picture_io.h"
#include "support/pictures.h"

using Bytes = std::vector<std::uint8_t>;

inline std::string FixturePath(const std::string& name) {
  const char* root = std::getenv("TESSARIN_SOURCE_DIR");
  return std::string(root ? root : ".") + "/tests/codecs/fixtures/" + name;
}

inline Bytes LoadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Little- and big-endian integers written into a file's bytes.
inline void Put16Le(Bytes& d, std::size_t at, unsigned v) {
  d[at] = std::uint8_t(v), d[at + 1] = std::uint8_t(v >> 8);
}
inline void Put32Le(Bytes& d, std::size_t at, std::uint32_t v) {
  Put16Le(d, at, v & 0xFFFF), Put16Le(d, at + 2, v >> 16);
}
inline void Put16Be(Bytes& d, std::size_t at, unsigned v) {
  d[at] = std::uint8_t(v >> 8), d[at + 1] = std::uint8_t(v);
}
inline void Put32Be(Bytes& d, std::size_t at, std::uint32_t v) {
  Put16Be(d, at, v >> 16), Put16Be(d, at + 2, v & 0xFFFF);
}

// A PNG whose IHDR declares `w` x `h`, the chunk sealed with a fresh CRC.
inline Bytes PngWithSize(Bytes d, std::uint32_t w, std::uint32_t h) {
  Put32Be(d, 16, w), Put32Be(d, 20, h);
  Put32Be(d, 29, std::uint32_t(crc32(0, d.data() + 12, 17)));
  return d;
}

// Sets the decode memory budget for one scope and restores it after.
struct BudgetScope {
  explicit BudgetScope(std::uint64_t bytes) : saved(DecodeMemoryBudget()) { SetDecodeMemoryBudget(bytes); }
  ~BudgetScope() { SetDecodeMemoryBudget(saved); }
  std::uint64_t saved;
};

inline void SaveBytes(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// A fresh folder for one test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("tessarin-codecs-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    return names;
  }

 private:
  std::filesystem::path dir_;
};

// Mean and largest absolute channel difference of two same-sized pictures.
struct Difference {
  double mean = 0;
  int max = 0;
};

inline Difference Compare(const TBitmap& a, const TBitmap& b) {
  Difference d;
  long long sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (std::size_t i = 0; i < a.RowBytes(); ++i) {
      const int diff = std::abs(int(a.ScanLine(y)[i]) - int(b.ScanLine(y)[i]));
      sum += diff;
      if (diff > d.max) d.max = diff;
    }
  d.mean = double(sum) / (double(a.RowBytes()) * a.Height());
  return d;
}
