#include "engine/guide_lines.h"

#include <gtest/gtest.h>

TEST(PutLine, DepthIsShareOfTheViewsSmallerSide) {
  EXPECT_EQ(PutLine({350, 250}, 700, 500, 0, 50).depth, 42);
  EXPECT_EQ(PutLine({0, 0}, 0, 500, 0, 50).depth, 0);
  EXPECT_EQ(PutLine({0, 0}, 600, 600, 0, 200).depth, 200);
}

TEST(PutLine, LinesOverA700By500View) {
  const struct {
    int angle;
    GuideSegment red, yellowB, yellowC;
  } cases[] = {
      // Level: the side lines lie 41, not 42, from the point.
      {0, {0, 250, 700, 250}, {0, 209, 700, 209}, {0, 291, 700, 291}},
      {90, {350, 0, 350, 500}, {391, 0, 391, 500}, {309, 0, 309, 500}},
      {-90, {350, 0, 350, 500}, {391, 0, 391, 500}, {309, 0, 309, 500}},
      {45, {0, -100, 700, 600}, {0, -158, 700, 542}, {0, -42, 700, 658}},
  };
  for (const auto& c : cases) {
    const GuideLines g = PutLine({350, 250}, 700, 500, c.angle, 50);
    EXPECT_EQ(g.red, c.red) << c.angle;
    EXPECT_EQ(g.yellowB, c.yellowB) << c.angle;
    EXPECT_EQ(g.yellowC, c.yellowC) << c.angle;
  }
}

TEST(PutLine, SidePointsAndSteepLines) {
  const struct { int angle; TPoint b, c; } sides[] = {
      {0, {350, 209}, {350, 291}}, {45, {379, 221}, {321, 279}}, {30, {371, 214}, {329, 286}},
      {90, {391, 250}, {309, 250}},
  };
  for (const auto& s : sides) {
    const GuideLines g = PutLine({350, 250}, 700, 500, s.angle, 50);
    EXPECT_EQ(g.sideB, s.b) << s.angle;
    EXPECT_EQ(g.sideC, s.c) << s.angle;
  }
  EXPECT_EQ(PutLine({350, 250}, 700, 500, 46, 50).red, (GuideSegment{109, 0, 591, 500}));
  EXPECT_EQ(PutLine({350, 250}, 700, 500, 30, 50).red, (GuideSegment{0, 48, 700, 452}));
}

TEST(PutLine, ZeroSizedViewMakesTheLinesCoincide) {
  const GuideLines g = PutLine({10, 10}, 0, 0, 20, 50);
  EXPECT_EQ(g.depth, 0);
  EXPECT_EQ(g.red, g.yellowB);
  EXPECT_EQ(g.red, g.yellowC);
}
