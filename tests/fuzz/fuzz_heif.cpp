// Fuzz target: the HEIF and AVIF decoder, and the reader of a HEIF's depth image.
#include "codecs/codec.h"
#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TBitmap depth;
  if (codecs::DecodeHeifDepth({data, size}, depth) && depth.PixelFormat() != pf8bit) std::abort();
  return FuzzDecode(data, size, "fuzz.heic");
}
