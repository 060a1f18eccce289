// Planes woven into BGR rows, on every instruction set.
#include "imaging/interleave.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "support/fast_paths.h"

// Every count up to a few vectors, the planes' bytes all different: catches
// channels in the wrong order, a tail left out or written past the end.
TEST(InterleaveBgr, EveryCountWeavesTheThreePlanes) {
  std::mt19937 rng(5);
  for (int count = 0; count <= 200; ++count) {
    std::vector<std::uint8_t> planes(3 * std::size_t(count) + 1);
    for (auto& v : planes) v = std::uint8_t(rng());
    const std::uint8_t *b = planes.data(), *g = b + count, *r = g + count;
    std::vector<std::uint8_t> want(3 * std::size_t(count) + 8, 0xA5);
    for (int x = 0; x < count; ++x) {
      want[3 * std::size_t(x)] = b[x];
      want[3 * std::size_t(x) + 1] = g[x];
      want[3 * std::size_t(x) + 2] = r[x];
    }
    std::string failed;
    ASSERT_TRUE(SameUnderEveryVariant(
        want,
        [&] {
          std::vector<std::uint8_t> out(want.size(), 0xA5);
          InterleaveBgr(b, g, r, out.data(), count);
          return out;
        },
        failed, count))
        << count << " on " << failed;
  }
}
