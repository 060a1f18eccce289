// A malloc that can be told to fail, for the allocation-failure tests.
// Linked into a test program, it takes the place of the C library's
// malloc, calloc, realloc, free and the aligned forms for the whole process
// (libjpeg, libpng, giflib, libimagequant and operator new alike) and hands
// every call on to glibc's own allocator. While a watch is open it counts
// the allocations, can make the n-th one fail, and remembers which blocks
// are still live, so a test can see leaks and frees of a block twice.
// Not for sanitizer builds, whose allocator it would displace.
#pragma once

#include <cstddef>

namespace failing_malloc {

// Starts watching: counts from 0, the allocation with number `failAt`
// (0-based) returns null, -1 for none.
void Watch(long failAt);

struct Report {
  long allocations = 0;     // allocation calls while watching (the failed one included)
  bool failed = false;      // whether the chosen allocation came and failed
  std::size_t leaked = 0;   // blocks allocated while watching and not freed
  long doubleFrees = 0;     // frees of a block already freed while watching
  std::size_t largest = 0;  // the largest single block asked for while watching
};

// Stops watching and reports.
Report Stop();

}  // namespace failing_malloc
