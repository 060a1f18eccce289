// Three planes of bytes, blue, green and red, woven into a row of BGR
// pixels (as a decoder's planar output becomes a picture's row).
#pragma once

#include <cstdint>

// out[3 x] = b[x], out[3 x + 1] = g[x], out[3 x + 2] = r[x] for x < count.
void InterleaveBgrPlain(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r,
                        std::uint8_t* out, int count);
// The same through vectors, unless PlainPaths().
void InterleaveBgr(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r, std::uint8_t* out,
                   int count);
