#include "engine/miniature_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "imaging/blur.h"
#include "support/fast_paths.h"
#include "support/pictures.h"
#include "support/random_pictures.h"

namespace {

MiniatureEngine Loaded(const TBitmap& picture) {
  MiniatureEngine e;
  e.LoadPicture(picture);
  return e;
}

TPoint Centre(const TBitmap& picture) {
  return {picture.Width() / 2, picture.Height() / 2};
}

FocusSettings FocusFor(const TBitmap& picture, int angle = 0) {
  return FocusSettings{picture.Width(), picture.Height(), angle, DefaultDepth, BlurSlope::Medium};
}

}  // namespace

TEST(Engine, LoadFillsTheChainAndClearsFlags) {
  const TBitmap pic = RandomPicture(12, 9, 1);
  MiniatureEngine e = Loaded(pic);
  e.ApplyTone(10, 10, 10);
  e.LoadPicture(pic);
  EXPECT_EQ(e.ResizedBMP(), pic);
  EXPECT_EQ(e.ModifiedBMP(), pic);
  EXPECT_EQ(e.TargetBMP(), pic);
  EXPECT_FALSE(e.Modified());
  EXPECT_FALSE(e.Effect().Applied);
  EXPECT_EQ(e.Effect().Saturation, 10);  // settings stay recorded
}

TEST(Engine, ToneSettingsOfZeroCopyExactly) {
  const TBitmap pic = RandomPicture(20, 10, 2);
  MiniatureEngine e = Loaded(pic);
  e.ApplyTone(0, 0, 0);
  EXPECT_EQ(e.ModifiedBMP(), pic);
  EXPECT_EQ(e.TargetBMP(), pic);
  EXPECT_TRUE(e.Effect().Applied);
  EXPECT_TRUE(e.Modified());
}

TEST(Engine, ToneNeverAccumulates) {
  const TBitmap pic = RandomPicture(20, 10, 3);
  MiniatureEngine e = Loaded(pic);
  e.ApplyTone(DefaultSaturation, DefaultContrast, DefaultBrightness);
  const TBitmap once = e.TargetBMP();
  EXPECT_NE(once, pic);
  e.ApplyTone(DefaultSaturation, DefaultContrast, DefaultBrightness);
  EXPECT_EQ(e.TargetBMP(), once);
  EXPECT_EQ(e.ResizedBMP(), pic);
}

TEST(Engine, NothingHappensWithoutAPicture) {
  MiniatureEngine e;
  e.ApplyTone(40, 10, -5);
  e.ApplyMiniature({50, 50}, FocusSettings{100, 100}, 7);
  EXPECT_FALSE(e.Modified());
  EXPECT_FALSE(e.Effect().Applied);
  EXPECT_EQ(e.TargetBMP().Width(), 0);
}

TEST(Engine, BlurZeroLeavesTheToneResult) {
  const TBitmap pic = RandomPicture(30, 20, 4);
  MiniatureEngine e = Loaded(pic);
  e.ApplyMiniature(Centre(pic), FocusFor(pic), 0);
  EXPECT_EQ(e.TargetBMP(), pic);
  EXPECT_TRUE(e.Modified());
  e.ApplyTone(40, 10, -5);
  e.ApplyMiniature(Centre(pic), FocusFor(pic), 0);
  EXPECT_EQ(e.TargetBMP(), e.ModifiedBMP());
}

TEST(Engine, CompositionIsSharpInTheBandAndBlurredBeyond) {
  const TBitmap pic = RandomPicture(120, 90, 5);
  MiniatureEngine e = Loaded(pic);
  e.ApplyMiniature(Centre(pic), FocusFor(pic), 3);
  TBitmap blurred = pic;
  GaussianBlur(blurred, 3);
  for (int x = 0; x < 120; ++x) {
    EXPECT_EQ(PixelAt(e.TargetBMP(), x, 45), PixelAt(pic, x, 45));      // band
    EXPECT_EQ(PixelAt(e.TargetBMP(), x, 0), PixelAt(blurred, x, 0));    // beyond the upper ramp
    EXPECT_EQ(PixelAt(e.TargetBMP(), x, 89), PixelAt(blurred, x, 89));  // beyond the lower ramp
  }
  EXPECT_EQ(e.MaskDepth(), 8);  // Round(50 / 600 * 90), in picture pixels
}

TEST(Engine, CompositionTwiceEqualsOnceAndToneRemovesIt) {
  const TBitmap pic = RandomPicture(64, 48, 6);
  MiniatureEngine e = Loaded(pic);
  e.ApplyTone(40, 10, -5);
  const TBitmap toned = e.TargetBMP();
  e.ApplyMiniature(Centre(pic), FocusFor(pic, 30), 5);
  const TBitmap once = e.TargetBMP();
  EXPECT_NE(once, toned);
  e.ApplyMiniature(Centre(pic), FocusFor(pic, 30), 5);
  EXPECT_EQ(e.TargetBMP(), once);
  e.ApplyTone(40, 10, -5);
  EXPECT_EQ(e.TargetBMP(), toned);
}

TEST(Engine, ZeroSizedViewChangesNothing) {
  const TBitmap pic = RandomPicture(16, 16, 7);
  MiniatureEngine e = Loaded(pic);
  EXPECT_THROW(e.ApplyMiniature(Centre(pic), FocusSettings{0, 16}, 7), MaskError);
  EXPECT_EQ(e.TargetBMP(), pic);
  EXPECT_FALSE(e.Modified());
}

TEST(Engine, SinglePixelPictureComesBack) {
  const TBitmap pic = SolidPicture(1, 1, {12, 200, 99});
  MiniatureEngine e = Loaded(pic);
  e.ApplyMiniature({0, 0}, FocusSettings{1, 1}, 7);
  EXPECT_EQ(e.TargetBMP(), pic);
  EXPECT_TRUE(e.Modified());
}

// The composition's fast form (the mask where it lands, the blur blended
// straight into TargetBMP) against the plain steps. Catches a fused blend
// that differs from blurring a copy and overlaying it.
TEST(MiniatureEngineFast, ComposeMatchesThePlainSteps) {
  std::mt19937 rng(606);
  const int count = CaseCount(150);
  for (int i = 0; i < count; ++i) {
    const int w = RandomSide(rng, 200), h = RandomSide(rng, 150);
    MiniatureEngine engine;
    engine.LoadPicture(RandomKindPicture(w, h, rng));
    engine.ApplyTone(int(rng() % 101), int(rng() % 51), int(rng() % 101) - 50);
    const TPoint point{int(rng() % std::uint32_t(w)), int(rng() % std::uint32_t(h))};
    const FocusSettings focus{w, h, int(rng() % 181) - 90, 1 + int(rng() % 200), BlurSlope(rng() % 3)};
    const int blur = int(rng() % 21);
    const bool wasPlain = PlainPaths();
    SetPlainPaths(true);
    MiniatureEngine plain = engine;
    plain.ApplyMiniature(point, focus, blur);
    SetPlainPaths(false);
    std::string failed;
    const bool same = SameUnderEveryVariant(
        plain.TargetBMP(),
        [&] {
          MiniatureEngine fast = engine;
          // Every other case composes twice: the second time the mask and
          // TargetBMP have pixels of their own and are written over in place.
          if (i % 2) fast.ApplyMiniature(point, FocusSettings{w, h, 45, 20, BlurSlope::Wide}, 3);
          fast.ApplyMiniature(point, focus, blur);
          return fast.TargetBMP();
        },
        failed, i);
    SetPlainPaths(wasPlain);
    ASSERT_TRUE(same) << w << "x" << h << " blur " << blur << " angle " << focus.angle << " on " << failed;
  }
}

// A run of pictures through RenderLook with one mask cache and one
// reused target, each step changing one thing, against the chain's
// TargetBMP for that picture. Catches a mask kept after a change its cache
// does not compare (any of size, point and the five focus fields), a
// reused target not wholly written over, and the tone step taken when
// switched off or not taken in place.
TEST(Engine, ComposedRunMatchesTheChainAtEveryStep) {
  struct Step {
    int w, h;
    TPoint point;
    FocusSettings focus;
    int blur;
    bool tone;
  };
  const FocusSettings base{96, 64, 10, 40, BlurSlope::Medium};
  const auto with = [&](auto change) {
    FocusSettings f = base;
    change(f);
    return f;
  };
  const Step steps[] = {
      {96, 64, {40, 30}, base, 3, true},
      {96, 64, {40, 30}, base, 5, true},  // blur only: the mask is kept
      {96, 64, {40, 31}, base, 5, true},
      {96, 64, {40, 31}, with([](FocusSettings& f) { f.angle = -25; }), 5, true},
      {96, 64, {40, 31}, with([](FocusSettings& f) { f.depthSetting = 90; }), 5, true},
      {96, 64, {40, 31}, with([](FocusSettings& f) { f.slope = BlurSlope::Narrow; }), 5, false},
      {96, 64, {40, 31}, with([](FocusSettings& f) { f.viewWidth = 48; }), 5, true},
      {96, 64, {40, 31}, with([](FocusSettings& f) { f.viewHeight = 200; }), 5, true},
      {64, 96, {40, 31}, base, 5, true},
      {64, 96, {40, 31}, base, 0, true},
      {64, 96, {40, 31}, base, 2, false},
  };
  const RECEFFECT tone{true, 60, 20, -10};
  TFocusMaskCache masks;
  TBitmap target;
  std::uint32_t seed = 90;
  for (const Step& s : steps) {
    const TBitmap picture = RandomPicture(s.w, s.h, seed++);
    MiniatureEngine chain = Loaded(picture);
    if (s.tone) chain.ApplyTone(tone.Saturation, tone.Contrast, tone.Brightness);
    chain.ApplyMiniature(s.point, s.focus, s.blur);
    Look look;
    look.tone = s.tone;
    std::tie(look.saturation, look.contrast, look.brightness) =
        std::tuple(tone.Saturation, tone.Contrast, tone.Brightness);
    std::tie(look.angle, look.depth, look.slope, look.blur) =
        std::tuple(s.focus.angle, s.focus.depthSetting, s.focus.slope, s.blur);
    look.point = s.point;
    look.view = {s.focus.viewWidth, s.focus.viewHeight};
    TBitmap frame = picture;
    MiniatureEngine::RenderLook(frame, look, masks, target);
    EXPECT_TRUE(target == chain.TargetBMP())
        << &s - steps << ": " << s.w << "x" << s.h << " angle " << s.focus.angle << " blur " << s.blur;
  }
}
