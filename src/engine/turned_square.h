// The focus-band mask, sampled where it lands: the level band square, the
// turn that Rotation would give it and the cut back to the picture's size,
// for one output pixel at a time, without making the square or the turned
// square. Shared by the plain and the fast mask.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/focus_mask.h"
#include "imaging/turn_sampling.h"

struct TurnedSquare {
  int side = 0;                        // the square: side x side pixels, the diagonal
  std::vector<std::uint8_t> rowValue;  // the band's value on each row of the square
  TurnGeometry turn;                   // Rotation of the square (with its black frame)
  // ClipMaskBMP's stretching copy: the turned square's column (row) that
  // mask column (row) i comes from, or -1 where the copy leaves it 0.
  std::vector<int> colSource, rowSource;
  std::uint8_t grey[256];  // To8bit of the grey (v, v, v)

  TurnedSquare(const MaskGeometry& g, int width, int height, int angle);

  // Pixel (x, y) of the framed square: the band row's value inside, black
  // on the frame (x or y = -1 or side).
  std::uint8_t Framed(int x, int y) const {
    return (x >= 0 && x < side && y >= 0 && y < side) ? rowValue[std::size_t(y)] : 0;
  }

  // Pixel (ix, iy) of the turned square, the plain way (extended steps).
  std::uint8_t TurnedPlain(int ix, int iy) const;
  // The same through the double steps of turn_sampling.h, falling back to
  // the plain steps where those cannot decide.
  std::uint8_t TurnedFast(int ix, int iy) const;
};
