// Fuzz target: GaussianBlur with zones inside and outside 1..30 on small
// pictures of any size, including ones narrower than the filter window. A
// flat picture must stay flat.
#include <cstdlib>

#include "fuzz_input.h"
#include "imaging/blur.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int w = int(in.Int(0, 40)), h = int(in.Int(0, 40));
  const int zone = int(in.Int(-2, 32));
  const bool flat = in.Int(0, 3) == 0;
  const TPixelFormat format = in.Int(0, 15) == 0 ? pf8bit : pf24bit;
  TBitmap bmp = in.Picture(w, h, format);
  if (flat) bmp.Fill(in.U32() & 0xFFFFFF);
  const TBitmap before = bmp;
  const bool done = GaussianBlur(bmp, zone);
  if (done != (format == pf24bit && zone >= 1 && zone <= 30)) std::abort();
  if ((!done || flat) && !(bmp == before)) std::abort();
  return 0;
}
