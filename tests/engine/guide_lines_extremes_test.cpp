// Guide lines for focus points far outside the view: the end points
// saturate at the int range instead of wrapping around to the other side.
#include <gtest/gtest.h>

#include <climits>

#include "engine/guide_lines.h"

TEST(PutLineExtremes, EndPointsSaturateInsteadOfWrapping) {
  // At 45 degrees the line through (x, 0) meets the left edge at y = -x
  // and the right edge at y = 700 - x (tan 45 as a float is just below 1).
  GuideLines g = PutLine({INT_MIN, 0}, 700, 500, 45, 50);
  EXPECT_EQ(g.red.y1, INT_MAX);  // -x: beyond the range, so the largest int
  EXPECT_EQ(g.red.y2, INT_MAX);
  g = PutLine({INT_MAX, 0}, 700, 500, 45, 50);
  EXPECT_EQ(g.red.y1, -INT_MAX);  // -(x * 0.99999...) truncated
  EXPECT_LT(g.red.y2, -2000000000);
  // A steep line through a point far below the view still spans the
  // view's 500 rows over 500 / tan 80 = 88 columns.
  g = PutLine({350, INT_MAX}, 700, 500, 80, 50);
  EXPECT_LT(g.red.x1, -300000000);
  EXPECT_NEAR(g.red.x2 - g.red.x1, 88, 1);
  // Side points: depth Round(200 / 600 * 500) = 167 at 30 degrees puts them
  // Trunc(cos 120 * 167) = -83 columns and Trunc(sin 120 * 167) = 144 rows
  // from the point; past the range they stop at its ends.
  g = PutLine({INT_MAX, INT_MIN}, 700, 500, 30, 200);
  EXPECT_EQ(g.sideB, (TPoint{INT_MAX, INT_MIN}));
  EXPECT_EQ(g.sideC, (TPoint{INT_MAX - 83, INT_MIN + 144}));
}
