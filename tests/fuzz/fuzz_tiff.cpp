// Fuzz target: the TIFF decoder.
#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzDecode(data, size, "fuzz.tif");
}
