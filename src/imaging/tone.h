// Tone adjustments of a 24-bit picture, in place, pixel by pixel.
// Each returns false, changing nothing, for a bitmap that is not pf24bit.
#pragma once

#include "imaging/bitmap.h"
#include "imaging/pixel_access.h"

// Adds percent * 255 / 100 (integer division toward zero) to every channel,
// clamped to 0..255. Any percent is accepted.
bool Brightness(TBitmap& bmp, int percent);

// The contrast settings Contrast takes: -kContrastLimit .. kContrastLimit.
inline constexpr int kContrastLimit = 100;

// Stretches every channel away from mid grey by ((nContrast + 100) / 100)^2,
// the factor and its square each held as a 32-bit float. Refuses nContrast
// outside -kContrastLimit..kContrastLimit.
bool Contrast(TBitmap& bmp, int nContrast);

// Moves every channel away from the pixel's grey value
// (0.3086 R + 0.6094 G + 0.082 B) by the factor percent / 100 + 1.
// Any percent is accepted.
bool Saturation(TBitmap& bmp, Extended percent);

// The tone step of the working picture: Saturation, then Contrast, then
// Brightness, each only when its setting is not 0 (a refused setting
// leaves its step out). The fast form does all three in one pass over the
// picture, with the same bytes.
void AdjustTone(TBitmap& bmp, int saturation, int contrast, int brightness);
void AdjustTonePlain(TBitmap& bmp, int saturation, int contrast, int brightness);
void AdjustToneFast(TBitmap& bmp, int saturation, int contrast, int brightness);

// The two forms behind each routine (see imaging/simd.h): the plain loops
// that define the result, and the fast path that gives the same bytes.
bool BrightnessPlain(TBitmap& bmp, int percent);
bool BrightnessFast(TBitmap& bmp, int percent);
bool ContrastPlain(TBitmap& bmp, int nContrast);
bool ContrastFast(TBitmap& bmp, int nContrast);
bool SaturationPlain(TBitmap& bmp, Extended percent);
bool SaturationFast(TBitmap& bmp, Extended percent);

// Pieces both forms share.
int BrightnessOffset(int percent);    // percent * 255 div 100
float ContrastFactor(int nContrast);  // ((nContrast + 100) / 100)^2, as floats
std::uint8_t ContrastChannel(std::uint8_t c, float value);
struct SaturationFactors {
  explicit SaturationFactors(Extended percent);
  Extended level, satCompR, satCompG, satCompB;
};
void SaturatePixel(TRGBTriple* p, const SaturationFactors& f);
