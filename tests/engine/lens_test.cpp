#include "engine/lens.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "engine/miniature_engine.h"
#include "engine/recipe.h"
#include "support/pictures.h"

namespace {

// A 600 x 400 picture with the band through its middle at angle 0: the
// band's half-width is round(50 / 600 * 400) = 33 rows, the ramps
// round(0.7 * 33 + 0.15 * 722) = 131 rows above and round(131 / 2) = 66
// below, and Blur 20 gives the full radius 0.015 * hypot(600, 400).
constexpr int kW = 600, kH = 400;
const double kFull = 0.015 * std::hypot(600.0, 400.0);

Look LensLook() {
  Look look;
  look.type = LookType::Lens;
  look.tone = false;
  look.blur = 20;
  look.bokeh = 0;
  return look;
}

float RadiusAt(const LensRadius& r, int x, int y) {
  std::vector<float> row(kW);
  r.Row(y, row.data());
  return row[std::size_t(x)];
}

TBitmap Render(TBitmap picture, const Look& look, const LensMaps& maps = {}) {
  TFocusMaskCache masks;
  TBitmap target;
  MiniatureEngine::RenderLook(picture, look, masks, target, maps);
  return target;
}

}  // namespace

TEST(LensRadius, FollowsTheBandTheEllipseAndTheDepthMap) {
  Look ellipse = LensLook();
  ellipse.shape = LensShape::Ellipse;
  const TBitmap depth = GreyMask(60, 40, [](int x, int) { return x < 30 ? 200 : 60; });
  Look byDepth = LensLook();
  byDepth.point = TPoint{100, 200};
  struct Case {
    const char* name;
    const Look& look;
    const TBitmap* depth;
    int x, y;
    double radius;
  } cases[] = {
      // Pixel centres lie half a row below their index: row y is y + 0.5 - 200 from the middle.
      {"in the band", LensLook(), nullptr, 10, 232, 0},
      {"lower ramp", LensLook(), nullptr, 10, 200 + 33 + 33, kFull * 33.5 / 66},
      {"upper ramp", LensLook(), nullptr, 10, 200 - 33 - 66, kFull * 65.5 / 131},
      {"beyond the lower ramp", LensLook(), nullptr, 10, 380, kFull},
      {"ellipse, inside along its width", ellipse, nullptr, 300 + 45, 200, 0},
      {"ellipse, 7 rows below it", ellipse, nullptr, 300, 200 + 39, kFull * 6.5 / 66},
      {"depth map, as deep as the point", byDepth, &depth, 20, 20, 0},
      {"depth map, far behind it", byDepth, &depth, 500, 300, kFull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LensRadius r(kW, kH, c.look, c.depth);
    EXPECT_NEAR(RadiusAt(r, c.x, c.y), c.radius, 0.02);
  }
}

// The sharp band is the classic mask's: at 30 degrees the pixels of radius
// 0 are those the mask leaves sharp, but for its edges.
TEST(LensRadius, KeepsSharpWhatTheClassicMaskKeepsSharp) {
  Look look = LensLook();
  look.angle = 30;
  look.point = TPoint{250, 230};
  TBitmap mask;
  CreateMaskBMP(mask, kW, kH, *look.point, look.FocusFor(kW, kH));
  const LensRadius r(kW, kH, look);
  std::vector<float> row(kW);
  int differ = 0, sharp = 0;
  for (int y = 0; y < kH; ++y) {
    r.Row(y, row.data());
    for (int x = 0; x < kW; ++x) {
      sharp += row[std::size_t(x)] == 0;
      differ += (row[std::size_t(x)] == 0) != (mask.ScanLine(y)[x] == 0);
    }
  }
  EXPECT_GT(sharp, 30000);
  EXPECT_LT(differ, kW * kH / 100);
}

// Single lights on black at growing distances below the band each become a
// disc whose radius is the law's (a cross-fade would give one size to all).
TEST(LensLook, LightsBecomeDiscsThatGrowWithTheDistance) {
  TBitmap picture = SolidPicture(kW, kH, {0, 0, 0});
  const struct {
    int x, y;
    double radius;
  } lights[] = {{100, 259, kFull * 26.5 / 66},
                {250, 279, kFull * 46.5 / 66},
                {400, 360, kFull},
                {520, 100, kFull * 65.5 / 131}};
  for (const auto& l : lights) SetPixel(picture, l.x, l.y, {255, 255, 255});
  const TBitmap out = Render(picture, LensLook());
  const auto& linear = LinearOfByte();
  for (const auto& l : lights) {
    SCOPED_TRACE(l.radius);
    // The disc: the pixels around the light with at least half of the light at its middle.
    const double middle = linear[std::size_t(PixelAt(out, l.x, l.y).g)];
    int area = 0;
    for (int y = l.y - 20; y <= l.y + 20; ++y)
      for (int x = l.x - 20; x <= l.x + 20; ++x)
        area += linear[std::size_t(PixelAt(out, x, y).g)] >= middle / 2;
    EXPECT_NEAR(std::sqrt(area / double(kPi)), l.radius, 0.15 * l.radius);
  }
}

// A protected red square in a blurred green field keeps its bytes and lends
// none of its red to the ring around it; unprotected, it would.
TEST(LensLook, ProtectedPixelsStaySharpAndLeaveNoHalo) {
  TBitmap picture = SolidPicture(kW, kH, {0, 200, 0});
  picture.FillRect({280, 320, 320, 360}, 0x0000ff);
  const TBitmap protect =
      GreyMask(kW, kH, [](int x, int y) { return x >= 280 && x < 320 && y >= 320 && y < 360 ? 255 : 0; });
  const auto ringRed = [](const TBitmap& out) {
    double red = 0;
    int n = 0;
    for (int y = 300; y < 380; ++y)
      for (int x = 260; x < 340; ++x)
        if (x < 279 || x > 320 || y < 319 || y > 360)
          red += LinearOfByte()[std::size_t(PixelAt(out, x, y).r)], ++n;
    return red / n;
  };
  LensMaps maps;
  maps.protect = &protect;
  const TBitmap kept = Render(picture, LensLook(), maps);
  EXPECT_LT(ringRed(kept), 0.01);
  for (int y = 320; y < 360; ++y) EXPECT_EQ(PixelAt(kept, 300, y), (Rgb{255, 0, 0}));
  EXPECT_GT(ringRed(Render(picture, LensLook())), 0.05);
}

TEST(LensLook, ApplyIsOneUndoableStepAndTheRenderPathsAgree) {
  const TBitmap picture = NoisyGradient(240, 160);
  Look look = LensLook();
  look.tone = true;
  look.blur = 12;
  look.bokeh = 60;
  MiniatureEngine e;
  e.LoadPicture(picture);
  e.ApplyLook(look);
  EXPECT_TRUE(e.TargetBMP() == Render(picture, look));
  EXPECT_FALSE(e.TargetBMP() == e.ModifiedBMP());
  e.Undo();  // toned, not yet blurred
  EXPECT_TRUE(e.TargetBMP() == e.ModifiedBMP());
  EXPECT_FALSE(e.TargetBMP() == picture);
  e.Undo();
  EXPECT_TRUE(e.TargetBMP() == picture);

  // A setting out of range changes nothing, the tone step included.
  MiniatureEngine f;
  f.LoadPicture(picture);
  look.aspect = 9;
  EXPECT_THROW(f.ApplyLook(look), std::out_of_range);
  EXPECT_FALSE(f.CanUndo());
}

// A look written as a recipe reads back as itself, whatever the base.
TEST(LookRecipe, WritesEverySetting) {
  Look lens = LensLook();
  lens.shape = LensShape::Ellipse, lens.aspect = 2.75, lens.bokeh = 90, lens.slope = BlurSlope::Wide;
  lens.point = TPoint{12, -40}, lens.view = {800, 600}, lens.angle = -33, lens.saturation = 80;
  Look base = lens;
  base.type = LookType::Classic, base.shape = LensShape::Band, base.aspect = 1, base.bokeh = 3,
  base.tone = true;
  base.blur = 2, base.depth = 9, base.angle = 4, base.contrast = 1, base.brightness = 9,
  base.slope = BlurSlope::Narrow;
  base.point.reset(), base.view = {};  // "none" is what a recipe leaves out
  for (const Look& look : {Look{}, lens}) {
    const Recipe r = ParseRecipe(LookRecipeText(look), "look.json", base);
    ASSERT_EQ(r.keyframes.size(), 1u);
    EXPECT_TRUE(r.keyframes[0].look == look) << LookRecipeText(look);
  }
}

TEST(LensLook, APortraitBringsItsOwnDepthMap) {
  const std::string dir = std::string(std::getenv("TESSARIN_SOURCE_DIR")) + "/tests/codecs/fixtures/";
  MiniatureEngine e;
  std::string error;
  ASSERT_TRUE(e.ReadFile(dir + "depth/pug.heic", error)) << error;
  EXPECT_TRUE(e.DepthFromPhoto());
  EXPECT_GT(e.DepthMap().Width() * e.DepthMap().Height(), 100000);
  // A HEIF of our own has none.
  const std::string plain = testing::TempDir() + "lens_plain.heic";
  e.LoadPicture(SolidPicture(64, 48, {90, 120, 150}));
  ASSERT_TRUE(e.WriteFile(plain, {}, error)) << error;
  ASSERT_TRUE(e.ReadFile(plain, error)) << error;
  EXPECT_FALSE(e.DepthFromPhoto());
  EXPECT_EQ(e.DepthMap().Width(), 0);
}
