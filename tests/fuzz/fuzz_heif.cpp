// Fuzz target: the HEIF and AVIF decoder.
#include "fuzz_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzDecode(data, size, "fuzz.heic");
}
