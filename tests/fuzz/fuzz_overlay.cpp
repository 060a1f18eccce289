// Fuzz target: MaskedOverlay with any sizes, any offsets (the whole int
// range), masks smaller than the source and wrong formats. Weight 0 must
// leave a destination pixel alone and nothing outside the blended area may
// change.
#include <cstdlib>

#include "fuzz_input.h"
#include "imaging/overlay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int dw = int(in.Int(0, 32)), dh = int(in.Int(0, 32));
  const int sw = int(in.Int(0, 32)), sh = int(in.Int(0, 32));
  const int mw = int(in.Int(0, 34)), mh = int(in.Int(0, 34));
  const bool wide = in.Int(0, 1) == 1;
  const int dx = wide ? int(std::int32_t(in.U32())) : int(in.Int(-40, 40));
  const int dy = wide ? int(std::int32_t(in.U32())) : int(in.Int(-40, 40));
  const TPixelFormat maskFormat = in.Int(0, 15) == 0 ? pf24bit : pf8bit;
  TBitmap dst = in.Picture(dw, dh, pf24bit);
  const TBitmap src = in.Picture(sw, sh, pf24bit);
  const TBitmap mask = in.Picture(mw, mh, maskFormat);
  const TBitmap before = dst;
  MaskedOverlay(dst, src, mask, dx, dy);
  // Every destination pixel that no source pixel with a weight above 0
  // lands on keeps its bytes.
  for (int y = 0; y < dh; ++y) {
    for (int x = 0; x < dw; ++x) {
      const std::int64_t sx = std::int64_t(x) - dx, sy = std::int64_t(y) - dy;
      const bool covered = maskFormat == pf8bit && mw >= sw && mh >= sh && sx >= 0 && sx < sw && sy >= 0 &&
                           sy < sh && mask.ScanLine(int(sy))[sx] != 0;
      if (!covered && std::memcmp(dst.ScanLine(y) + 3 * x, before.ScanLine(y) + 3 * x, 3) != 0) std::abort();
    }
  }
  return 0;
}
