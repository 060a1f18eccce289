// The mask computed where each pixel lands, plain and fast, against the
// square-and-turn it replaces (support/reference_mask.h).
#include <gtest/gtest.h>

#include <random>

#include "engine/focus_mask.h"
#include "support/fast_paths.h"
#include "support/random_pictures.h"
#include "support/reference_mask.h"

namespace {

struct MaskCase {
  int width, height;
  TPoint point;
  FocusSettings focus;
};

// Random pictures, views (the picture's own size, or larger and of another
// shape, so the picture is letterboxed), focus points inside and far
// outside the view, every angle, depth and slope.
MaskCase RandomCase(std::mt19937& rng) {
  MaskCase c;
  c.width = RandomSide(rng, 300);
  c.height = RandomSide(rng, 200);
  int vw = c.width, vh = c.height;
  if (rng() % 2) {
    vw = 1 + int(rng() % 700);
    vh = 1 + int(rng() % 500);
  }
  c.focus = FocusSettings{vw, vh, int(rng() % 181) - 90, 1 + int(rng() % 200), BlurSlope(rng() % 3)};
  switch (rng() % 3) {
    case 0:
      c.point = {vw / 2, vh / 2};
      break;
    case 1:
      c.point = {int(rng() % std::uint32_t(vw)), int(rng() % std::uint32_t(vh))};
      break;
    default:
      c.point = {int(rng() % std::uint32_t(5 * vw)) - 2 * vw, int(rng() % std::uint32_t(5 * vh)) - 2 * vh};
      break;
  }
  return c;
}

std::string Describe(const MaskCase& c) {
  return std::to_string(c.width) + "x" + std::to_string(c.height) + " view " +
         std::to_string(c.focus.viewWidth) + "x" + std::to_string(c.focus.viewHeight) + " point " +
         std::to_string(c.point.X) + "," + std::to_string(c.point.Y) + " angle " +
         std::to_string(c.focus.angle) + " depth " + std::to_string(c.focus.depthSetting);
}

}  // namespace

// Catches: the clip offsets rounded the wrong way, the one-pixel stretch
// of an odd size difference taken from the wrong end, the frame's blend
// toward black left out, the turn's inverse mapping or its float roundings
// changed, the grey conversion's truncation, and in the fast form a flat
// shortcut taken across a change of band value or a doubtful lane kept.
TEST(DirectMask, MatchesTheSquareAndTurn) {
  std::mt19937 rng(1234);
  const int count = CaseCount(2000);
  for (int i = 0; i < count; ++i) {
    const MaskCase c = RandomCase(rng);
    TBitmap want, plain;
    const MaskGeometry wantGeometry = SquareAndTurnMask(want, c.width, c.height, c.point, c.focus);
    const MaskGeometry g = CreateMaskBMPPlain(plain, c.width, c.height, c.point, c.focus);
    EXPECT_EQ(g.depth, wantGeometry.depth);
    ASSERT_TRUE(plain == want) << "plain " << Describe(c);
    std::string failed;
    ASSERT_TRUE(SameUnderEveryVariant(
        want,
        [&] {
          // Every other case writes over a mask of the same size. Its own
          // generator, so the cases drawn after do not depend on how many
          // variants this CPU runs.
          std::mt19937 maskRng{std::uint32_t(i)};
          TBitmap fast = i % 2 ? RandomMask(c.width, c.height, maskRng) : TBitmap();
          CreateMaskBMPFast(fast, c.width, c.height, c.point, c.focus);
          return fast;
        },
        failed, i))
        << Describe(c) << " on " << failed;
  }
}

TEST(DirectMask, EmptyPicturesGiveEmptyMasks) {
  for (const auto& [w, h] : {std::pair{0, 0}, {0, 5}, {7, 0}}) {
    TBitmap want, plain, fast;
    SquareAndTurnMask(want, w, h, {1, 1}, FocusSettings{10, 10, 30, 50, BlurSlope::Medium});
    CreateMaskBMPPlain(plain, w, h, {1, 1}, FocusSettings{10, 10, 30, 50, BlurSlope::Medium});
    CreateMaskBMPFast(fast, w, h, {1, 1}, FocusSettings{10, 10, 30, 50, BlurSlope::Medium});
    EXPECT_EQ(plain.Width(), w);
    EXPECT_EQ(plain.Height(), h);
    EXPECT_TRUE(plain == want);
    EXPECT_TRUE(fast == want);
  }
}

// A 40000 x 100 panorama: its diagonal square (40001 x 40001) would exceed
// the largest bitmap, but the mask needs only its own size. The band at
// angle 0 through the centre is level, sharp on the middle rows.
TEST(DirectMask, PanoramaGetsAMask) {
  const FocusSettings focus{40000, 100, 0, 50, BlurSlope::Medium};
  TBitmap fast, plain;
  const MaskGeometry g = CreateMaskBMPFast(fast, 40000, 100, {20000, 50}, focus);
  ASSERT_EQ(fast.Width(), 40000);
  ASSERT_EQ(fast.Height(), 100);
  EXPECT_EQ(g.diagonal, 40001);
  EXPECT_EQ(fast.ScanLine(50)[0], 0);
  EXPECT_EQ(fast.ScanLine(50)[39999], 0);
  CreateMaskBMPPlain(plain, 40000, 100, {20000, 50}, focus);
  EXPECT_TRUE(fast == plain);
  // Tilted, the band crosses the strip: sharp at the focus point, blurred
  // far along the strip where the band has left it.
  const FocusSettings tilted{40000, 100, 10, 50, BlurSlope::Medium};
  CreateMaskBMPFast(fast, 40000, 100, {20000, 50}, tilted);
  CreateMaskBMPPlain(plain, 40000, 100, {20000, 50}, tilted);
  EXPECT_TRUE(fast == plain);
  EXPECT_EQ(fast.ScanLine(50)[20000], 0);
  EXPECT_EQ(fast.ScanLine(50)[0], 255);
}
