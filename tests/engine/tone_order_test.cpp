// The tone "Apply" runs saturation, then contrast, then brightness, each
// on the result of the one before. The expected pictures are made here by
// calling the three toolkit routines (whose values tone_test pins by hand)
// in that order; the test first makes sure the chosen pictures tell every
// other order apart, so it cannot pass with two steps swapped.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "engine/miniature_engine.h"
#include "imaging/tone.h"
#include "support/pictures.h"

namespace {

enum Step { kSaturation, kContrast, kBrightness };

TBitmap InOrder(TBitmap picture, const std::array<Step, 3>& order, int saturation, int contrast,
                int brightness) {
  for (Step s : order) {
    if (s == kSaturation) Saturation(picture, saturation);
    if (s == kContrast) Contrast(picture, contrast);
    if (s == kBrightness) Brightness(picture, brightness);
  }
  return picture;
}

}  // namespace

TEST(ToneOrder, SaturationThenContrastThenBrightness) {
  const TBitmap picture = RandomPicture(24, 16, 11);
  const struct {
    int saturation, contrast, brightness;
  } settings[] = {{DefaultSaturation, DefaultContrast, DefaultBrightness}, {80, 40, 30}, {-60, 25, -20}};
  for (const auto& t : settings) {
    const std::array<Step, 3> documented = {kSaturation, kContrast, kBrightness};
    const TBitmap want = InOrder(picture, documented, t.saturation, t.contrast, t.brightness);
    std::array<Step, 3> other = documented;
    while (std::next_permutation(other.begin(), other.end()))
      ASSERT_NE(InOrder(picture, other, t.saturation, t.contrast, t.brightness), want)
          << "picture cannot tell";
    MiniatureEngine e;
    e.LoadPicture(picture);
    e.ApplyTone(t.saturation, t.contrast, t.brightness);
    EXPECT_EQ(e.ModifiedBMP(), want) << t.saturation << " " << t.contrast << " " << t.brightness;
    EXPECT_EQ(e.TargetBMP(), want);
  }
}

TEST(ToneOrder, OnePixelByHand) {
  // (200, 100, 50): saturation 40 gives (229, 89, 19) (tone_test); contrast
  // 10 (factor 1.1 squared as a float, 1.21) maps 229 to 250, 89 to 81 and
  // 19 to 0; brightness -5 takes Trunc(-12.75) = 12 off: (238, 69, 0).
  MiniatureEngine e;
  e.LoadPicture(SolidPicture(1, 1, {200, 100, 50}));
  e.ApplyTone(40, 10, -5);
  EXPECT_EQ(PixelAt(e.TargetBMP(), 0, 0), (Rgb{238, 69, 0}));
}
