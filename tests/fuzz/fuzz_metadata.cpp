// Fuzz target: photo metadata. Any bytes, read as a JPEG or PNG file's
// metadata; what is read is then brought up to date for a save and wrapped
// for both formats. Damaged metadata must only ever be dropped.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "codecs/metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TPictureMetadata meta;
  int orientation = 0;
  std::string problem;
  const bool ok = ReadMetadata(std::span<const std::uint8_t>(data, size), meta, orientation, problem);
  if (orientation < 1 || orientation > 8) std::abort();
  if (!ok && (!meta.Empty() || problem.empty())) std::abort();
  if (ok) {
    std::string saveProblem;
    const TSaveMetadata save = PrepareMetadata(meta, 1 + int(size % 5000), 1 + int(size % 3000), saveProblem);
    IptcPhotoshopBlock(save.iptc);
    IptcRawProfile(save.iptc);
  }
  return 0;
}
