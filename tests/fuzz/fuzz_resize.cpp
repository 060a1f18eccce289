// Fuzz target: BmpResize with every method (and values outside the
// enumeration), any source and destination size from 0, and pictures that
// are not 24-bit. A resampled picture must have the size asked for.
#include <cstdlib>

#include "fuzz_input.h"
#include "imaging/resample.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int w = int(in.Int(0, 40)), h = int(in.Int(0, 40));
  const int rw = int(in.Int(-2, 90)), rh = int(in.Int(-2, 90));
  const int mode = int(in.Int(0, 15));  // every value the enumeration can hold
  const TPixelFormat format = in.Int(0, 15) == 0 ? pf8bit : pf24bit;
  TBitmap bmp = in.Picture(w, h, format);
  const TBitmap before = bmp;
  const bool valid = format == pf24bit && w >= 1 && h >= 1 && rw >= 1 && rh >= 1 && mode <= 8;
  const bool done = BmpResize(bmp, rw, rh, TResizeMode(mode));
  if (done != valid) std::abort();
  if (done ? (bmp.Width() != rw || bmp.Height() != rh) : !(bmp == before)) std::abort();
  return 0;
}
