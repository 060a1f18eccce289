// The focus band where it must lie, checked against geometry worked out
// here independently of the mask code: tilted bands at positive and
// negative angles, the band's offset for negative angles, pictures
// letterboxed in their view, and the cut of the turned square.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/focus_mask.h"
#include "support/pictures.h"

namespace {

// The mask value a point of the picture should have: its signed distance d
// from the band's middle line along the normal n = (-sin a, cos a) (positive
// below the line at angle 0), 0 within `depth`, then a ramp of slope1
// pixels on the side against n and of slope2 pixels on the side of n.
struct Band {
  double angle;   // degrees, positive turns clockwise on the screen
  double offset;  // distance of the middle line from the picture's centre along n
  double depth, slope1, slope2;
  double cx, cy;  // the picture's centre

  double Distance(double x, double y) const {
    const double a = angle * M_PI / 180;
    return (x - cx) * -std::sin(a) + (y - cy) * std::cos(a) - offset;
  }
  // Expected value, and whether the point is far enough from every edge
  // of the band and ramps (`margin` pixels) to be checked exactly.
  double Value(double d) const {
    const double beyond = std::abs(d) - depth;
    if (beyond <= 0) return 0;
    const double ramp = d < 0 ? slope1 : slope2;
    return beyond >= ramp ? 255 : beyond * 255 / ramp;
  }
};

// Checks every fourth pixel of `mask` against `band`: 0 in the band and
// 255 beyond the ramps exactly, and within `tolerance` inside the ramps,
// leaving out points within `margin` of an edge.
void ExpectBand(const TBitmap& mask, const Band& band, double margin, int tolerance) {
  int checkedFlat = 0, checkedRamp = 0;
  for (int y = 0; y < mask.Height(); y += 4) {
    for (int x = 0; x < mask.Width(); x += 4) {
      const double d = band.Distance(x, y);
      const double beyond = std::abs(d) - band.depth;
      const double ramp = d < 0 ? band.slope1 : band.slope2;
      if (std::abs(beyond) < margin || std::abs(beyond - ramp) < margin) continue;
      const int got = mask.ScanLine(y)[x];
      const double want = band.Value(d);
      if (want == 0 || want == 255) {
        ASSERT_EQ(got, int(want)) << "angle " << band.angle << " at " << x << "," << y << " d " << d;
        ++checkedFlat;
      } else {
        ASSERT_NEAR(got, want, tolerance) << "angle " << band.angle << " at " << x << "," << y << " d " << d;
        ++checkedRamp;
      }
    }
  }
  EXPECT_GT(checkedFlat, 100);
  EXPECT_GT(checkedRamp, 50);
}

}  // namespace

TEST(FocusBand, TiltedBandsLieWhereTheGeometrySays) {
  // 300 x 200, view of the same size, focus point off the centre; depth
  // setting 30 gives a half-width of Round(30 / 600 * 200) = 10; Medium
  // gives slope1 = Round(10 * 0.7 + 361 * 0.15) = 61 (diagonal 361), and
  // slope2 = Round((|angle| / 180 + 0.5) * 61).
  const TPoint point{190, 80};
  for (int angle : {30, -30, 60, -60, 10, -75}) {
    FocusSettings focus{300, 200, angle, 30, BlurSlope::Medium};
    TBitmap mask;
    CreateMaskBMP(mask, 300, 200, point, focus);
    ASSERT_EQ(mask.Width(), 300);
    Band band;
    band.angle = angle;
    const double a = angle * M_PI / 180;
    // The focus point's distance from the view's centre along n.
    band.offset = (point.X - 150) * -std::sin(a) + (point.Y - 100) * std::cos(a);
    band.depth = 10;
    band.slope1 = 61;
    band.slope2 = std::nearbyint((std::abs(angle) / 180.0 + 0.5) * 61);
    band.cx = 150, band.cy = 100;
    ExpectBand(mask, band, 3.0, 14);
  }
}

TEST(FocusBand, OffsetForNegativeAnglesFollowsTheSideOfTheLine) {
  // View 700 x 500, centre (350, 250); the point dx right of and dy below
  // the centre. By hand: the line through the point with direction
  // (cos a, sin a) crosses the centre column k = Round(tan|a| * dx) rows
  // from the point (up for a > 0, down for a < 0), and the result is
  // Round(cos a * that row's offset from the centre). The geometric
  // distance -dx sin a + dy cos a, in brackets, agrees within rounding.
  const struct {
    int dx, dy, angle, want;
  } cases[] = {
      {10, 0, -45, 7},       // k 10, row +10, 0.707 * 10 = 7.07    (7.07)
      {10, 0, 45, -7},       // row -10                             (-7.07)
      {20, 5, -30, 15},      // k Round(11.55) = 12, row 17, 14.72   (14.33)
      {20, 5, 30, -6},       // row 5 - 12 = -7, -6.06              (-5.67)
      {-20, -13, -60, -24},  // k Round(-34.64) = -35, row -48, -24.0  (-23.82)
      {-20, -13, 60, 11},    // row -13 + 35 = 22, 11.0            (10.82)
      {0, 40, -30, 35},      // on the centre column: 0.866 * 40 = 34.6 (34.64)
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetPerpendicular({350 + c.dx, 250 + c.dy}, 700, 500, c.angle), c.want)
        << c.dx << "," << c.dy << " at " << c.angle;
}

// The view shows the picture fitted and centred: view pixels per picture
// pixel are the smaller of the two ratios, whichever side has the margins.
TEST(FocusBand, LetterboxedViewsUseTheSmallerRatio) {
  const struct {
    int w, h, viewW, viewH;
    double ratio;
    int pointBelowCentre, perpendicular;
  } cases[] = {
      {400, 100, 400, 400, 1.0, 40, 40},    // wide picture in a tall view: margins above and below
      {100, 400, 400, 400, 1.0, 40, 40},    // tall picture in a wide view: margins left and right
      {400, 100, 800, 600, 2.0, 60, 30},    // wide picture, ratios 2 and 6
      {100, 300, 900, 600, 2.0, -50, -25},  // tall picture, ratios 9 and 2
  };
  for (const auto& c : cases) {
    const FocusSettings focus{c.viewW, c.viewH, 0, 50, BlurSlope::Medium};
    const TPoint point{c.viewW / 2, c.viewH / 2 + c.pointBelowCentre};
    const MaskGeometry g = ComputeMaskGeometry(c.w, c.h, point, focus);
    EXPECT_EQ(g.ratio, c.ratio) << c.w << "x" << c.h << " in " << c.viewW << "x" << c.viewH;
    EXPECT_EQ(g.perpendicular, c.perpendicular) << c.w << "x" << c.h << " in " << c.viewW << "x" << c.viewH;
    // And the mask's band is where the point is, in picture rows.
    TBitmap mask;
    CreateMaskBMP(mask, c.w, c.h, point, focus);
    const int row = c.h / 2 + c.perpendicular;
    EXPECT_EQ(mask.ScanLine(row)[c.w / 2], 0) << c.w << "x" << c.h << " row " << row;
  }
}

// ClipMaskBMP cuts the middle out of the turned square: with an even size
// difference exactly, with an odd one by a nearest-neighbour stretch of
// the rectangle between Round(difference / 2) (ties to even) and the far
// edge less the same.
TEST(FocusBand, ClipTakesTheMiddleOfTheTurnedSquare) {
  const struct {
    int wMsk, hMsk, w, h;
    std::vector<int> columns, rows;  // source column of each result column, source row of each result row
  } cases[] = {
      {10, 8, 6, 4, {2, 3, 4, 5, 6, 7}, {2, 3, 4, 5}},    // differences 4 and 4: exact
      {11, 9, 6, 4, {2, 3, 4, 5, 6, 7}, {2, 3, 4, 5}},    // 5 and 5: 2.5 -> 2, 7 source pixels onto 6
      {13, 7, 6, 4, {4, 4, 5, 6, 7, 8}, {2, 2, 3, 4}},    // 7 -> 3.5 -> 4: 5 onto 6; 3 -> 1.5 -> 2: 3 onto 4
      {6, 5, 6, 5, {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4}},  // same size
  };
  for (const auto& c : cases) {
    TBitmap square = MakePicture(c.wMsk, c.hMsk, [](int x, int y) { return Rgb{x, y, 0}; });
    ClipMaskBMP(square, c.w, c.h);
    ASSERT_EQ(square.Width(), c.w);
    ASSERT_EQ(square.Height(), c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        ASSERT_EQ(PixelAt(square, x, y), (Rgb{c.columns[std::size_t(x)], c.rows[std::size_t(y)], 0}))
            << c.wMsk << "x" << c.hMsk << " at " << x << "," << y;
  }
}
