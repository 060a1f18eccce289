// What the fast blur's band scheduling (blur_simd.cpp) and its vector
// kernels (blur_simd_kernels.cpp) share: the sizes of the buffers, the plan
// of one blur, where the column pass puts its rows, and the kernels' entry
// points (each chooses the instruction set once per process).
#pragma once

#include <cstddef>
#include <cstdint>

namespace blur_simd {

// Slack beyond every buffer row, in elements; more than any target's
// widest block (8 vectors of 16 floats).
constexpr int kPad = 256;
// Output rows the column pass makes at once from one load of each row.
constexpr int kRowsAtOnce = 8;
// The ring stores its rows in blocks of this many bytes, the blocks of all
// rows for one stretch of columns side by side, so that the column pass
// reads memory in order.
constexpr int kBlock = 64;

// What every row of one blur shares.
struct Plan {
  int width = 0;  // pixels
  int height = 0;
  int n = 0;                      // bytes (channel values) per row, 3 * width
  int range = 0;                  // 3 * zone
  const float* gfFull = nullptr;  // weights of taps -range .. range
  const float* cntX = nullptr;    // per pixel of a row: the row pass's count
  const float* rcpX = nullptr;    // and its reciprocal
  const float* cntY = nullptr;    // per row: the column pass's count
  const float* rcpY = nullptr;
};

// In BlurredOverlay only pixels whose mask is not 0 need their blurred
// value, so the row pass may leave out stretches of a row that no such
// pixel within `range` rows reads. The need is kept per group of
// kNeedGroup pixels: need[g] != 0 when group g of the row is needed.
constexpr int kNeedGroup = 8;

// Where the column pass puts its rows: straight into `out`, or blended
// with `sharp` through the per-channel mask `mask3`.
struct Output {
  std::uint8_t* out[kRowsAtOnce];
  const std::uint8_t* sharp[kRowsAtOnce];  // null: plain blur
  const std::uint8_t* mask3[kRowsAtOnce];
  int rows;
};

// Scratch sizes of one channel plane of the row pass: floats with range
// zeros on each side and room for whole blocks of vectors; bytes likewise.
inline std::size_t PlaneFloats(const Plan& plan) {
  return std::size_t(plan.width) + 2 * plan.range + 2 * kPad;
}
inline std::size_t PlaneBytes(const Plan& plan) {
  return std::size_t(plan.width) + 2 * kPad;
}

// Row pass of one row: `src` holds plan.n bytes, `out` receives as many
// (and slack). `planes` is scratch of 3 * PlaneFloats(plan) floats and
// `bytes` of 3 * PlaneBytes(plan). `need`, when given, marks the groups of
// pixels that must be computed; the others may hold anything.
void RowPass(const Plan& plan, const std::uint8_t* src, float* planes, std::uint8_t* bytes, std::uint8_t* out,
             const std::uint8_t* need);

// Column pass for o.rows (1 .. kRowsAtOnce) output rows starting at row y.
// The row-passed rows live in the ring in blocks of kBlock bytes: block b
// of the row in slot s starts at ring + b * ringStride + s * kBlock.
// offsets[i] is s * kBlock for the row y - range + i (a zero row outside
// the picture), i = 0 .. 2 * range + o.rows - 1. `tail` is scratch of kPad
// bytes.
void ColumnPass(const Plan& plan, int y, const std::uint8_t* ring, std::size_t ringStride, const int* offsets,
                const Output& o, std::uint8_t* tail);

// The mask row, each byte three times (one per channel).
void SpreadMask(const std::uint8_t* mask, int width, std::uint8_t* out);

}  // namespace blur_simd
