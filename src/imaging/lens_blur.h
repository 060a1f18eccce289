// The lens blur: every pixel becomes the average of a disc around it whose
// radius is that pixel's own, as a lens blurs what lies off its plane of
// focus. The average is taken in linear light (sRGB decoded, the result
// encoded back and rounded to nearest), so lights keep their strength.
//
// For a pixel p of radius r > 0, each pixel q of the picture at dx columns
// and dy rows from it takes part with the weight
//   clamp(r + 1/2 - |dy|, 0, 1) * clamp(e + 1/2 - |dx|, 0, 1)
//                                    with e = sqrt(max(r^2 - dy^2, 0)):
//                                    the disc, its rim anti-aliased
//   * (255 - protect(q)) / 255       protected pixels lend nothing
//   * (1 + bokeh / 100 * kLensBokehGain * t^2)
// where t = clamp((m - kLensBokehThreshold) / (1 - kLensBokehThreshold), 0, 1)
// for the largest linear channel m of q: bright pixels count for more, so
// that a small light spreads into a bright disc instead of a dull smudge.
// Pixels beyond the picture's edges do not take part. A pixel of radius 0
// keeps its bytes, and a pixel's own protection scales its radius
// (255: radius 0).
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/bitmap.h"

inline constexpr double kLensBokehThreshold = 0.8;  // linear light
inline constexpr double kLensBokehGain = 20;

// Writes the blur radii of row y (`width` values, picture pixels, >= 0)
// into `out`. Called from several threads at once.
using TRadiusRow = std::function<void(int y, float* out)>;

struct TLensBlurInput {
  TRadiusRow radius;
  float maxRadius = 0;               // no radius is larger (the fast form's pyramid)
  const TBitmap* protect = nullptr;  // pf8bit of the picture's size, or none
  int bokeh = 0;                     // 0 .. 100
};

// The fast form sums discs up to one and a half "level radii" of at most
// this many pixels at the picture's resolution, and larger ones on the
// level of a pyramid of halvings where they are 3/4 to 2 level radii wide,
// blending two levels over the first half of that (1 .. 32).
inline constexpr float kLensFullRadius = 32;

// `dst` becomes the lens blur of `src` (pf24bit, any size; dst gets its
// size). Throws std::invalid_argument for another format or a protect
// mask of another size or format.
void LensBlur(const TBitmap& src, const TLensBlurInput& input, TBitmap& dst);
// The checks LensBlur makes.
void CheckLensInput(const TBitmap& src, const TLensBlurInput& input);

// The fast form's fixed-point rows of a picture, kept from one call to the
// next for a picture that changes less often than its radii (the live
// preview's frames): made again when the picture's pixels, its protect
// mask, the bokeh or the levels differ. Forget() them when the picture's
// pixels change in place. The bytes are the same as without.
class TLensRows {
 public:
  TLensRows();
  ~TLensRows();
  TLensRows(TLensRows&&) noexcept;
  TLensRows& operator=(TLensRows&&) noexcept;
  void Forget();

 private:
  friend void LensBlurFast(const TBitmap&, const TLensBlurInput&, TBitmap&, float, TLensRows*);
  struct TData;
  std::unique_ptr<TData> data_;
};

// The literal form (every disc summed pixel by pixel, in double), and the
// fast form: fixed-point sums along rows, the disc as full spans plus its
// rim, large discs on the pyramid. The fast form comes within half a level
// of the plain one on average; its bytes do not depend on the thread
// count or the instruction set. A smaller `fullRadius` trades detail in
// large discs for speed (the live preview).
void LensBlurPlain(const TBitmap& src, const TLensBlurInput& input, TBitmap& dst);
void LensBlurFast(const TBitmap& src, const TLensBlurInput& input, TBitmap& dst,
                  float fullRadius = kLensFullRadius, TLensRows* rows = nullptr);

// Row dy of the disc of radius r: its pixels |dx| <= full weigh `row`,
// those at |dx| = full + 1 weigh row * end (full is -1 when only the
// middle pixel takes part, with row * end).
struct LensDiscRow {
  int full;
  double row, end;
};
LensDiscRow LensDiscRowOf(double r, int dy);

// sRGB decoding of each byte into linear light, and the 255 thresholds of
// the encoding: a linear value v encodes to the number of thresholds <= v
// (threshold k - 1 is the linear value of the code k - 1/2).
const std::array<double, 256>& LinearOfByte();
const std::array<double, 255>& ByteThresholds();
int ByteOfLinear(double v);
