// Fuzz target: Rotation by any float angle (NaN and infinities included)
// and Rotate90 on small pictures of any size from 0 x 0, and pictures that
// are not 24-bit. A turned picture must have the size the turned corners
// give, within a pixel.
#include <cmath>
#include <cstdlib>

#include "fuzz_input.h"
#include "imaging/rotation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int w = int(in.Int(0, 48)), h = int(in.Int(0, 48));
  const TPixelFormat format = in.Int(0, 15) == 0 ? pf8bit : pf24bit;
  float angle = in.Float();
  if (in.Int(0, 1)) angle = float(in.Int(-900, 900)) / 10;  // the angles people use, often
  const TColor background = in.U32() & 0xFFFFFF;
  const bool quarter = in.Int(0, 3) == 0, plus = in.Int(0, 1) == 1;
  TBitmap bmp = in.Picture(w, h, format);
  if (quarter) {
    const bool done = Rotate90(bmp, plus);
    if (done != (format == pf24bit) || (done && (bmp.Width() != h || bmp.Height() != w))) std::abort();
    return 0;
  }
  const bool done = Rotation(bmp, angle, background);
  if (done != (format == pf24bit && std::isfinite(angle))) std::abort();
  // (Far beyond a turn the extended-precision sine drifts from the double one.)
  if (done && std::fabs(angle) <= 1e6f) {
    const double rad = std::fabs(std::fmod(double(angle), 180.0)) * 3.14159265358979323846 / 180;
    const double ww = w * std::fabs(std::cos(rad)) + h * std::sin(rad) + 1;
    const double hh = w * std::sin(rad) + h * std::fabs(std::cos(rad)) + 1;
    if (std::fabs(bmp.Width() - ww) > 1.5 || std::fabs(bmp.Height() - hh) > 1.5) std::abort();
  }
  return 0;
}
