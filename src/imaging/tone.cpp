// Brightness, contrast and saturation. All real arithmetic is in extended
// precision, evaluated in the order written; the contrast factor is the one
// value held as a 32-bit float. Results go through AdjustByte (clamp, then
// round half to even).
//
// This file holds the plain, literal forms, which define the results, and
// the switch between them and the fast forms in tone_simd.cpp.
#include "imaging/tone.h"

#include <algorithm>
#include <cstdint>

#include "imaging/simd.h"

int BrightnessOffset(int percent) {
  // A 64-bit product keeps huge percentages from overflowing; past +-255
  // every channel clamps the same way whatever the offset.
  const std::int64_t offset = std::int64_t(percent) * 255 / 100;
  return int(std::clamp<std::int64_t>(offset, -256, 256));
}

bool BrightnessPlain(TBitmap& bmp, int percent) {
  if (bmp.PixelFormat() != pf24bit) return false;
  const int rr = BrightnessOffset(percent);
  const int w = bmp.Width(), h = bmp.Height();
  TBmpData24 data(bmp);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      TRGBTriple* p = data.GetData(x, y);
      p->rgbtRed = AdjustByte(p->rgbtRed + rr);
      p->rgbtGreen = AdjustByte(p->rgbtGreen + rr);
      p->rgbtBlue = AdjustByte(p->rgbtBlue + rr);
    }
  }
  return true;
}

float ContrastFactor(int nContrast) {
  float value = static_cast<float>(Extended(nContrast + 100) / 100);
  value = static_cast<float>(Extended(value) * Extended(value));
  return value;
}

std::uint8_t ContrastChannel(std::uint8_t c, float value) {
  return AdjustByte(((Extended(c) / 255 - 0.5L) * Extended(value) + 0.5L) * 255);
}

bool ContrastPlain(TBitmap& bmp, int nContrast) {
  if (bmp.PixelFormat() != pf24bit) return false;
  if (nContrast > kContrastLimit || nContrast < -kContrastLimit) return false;
  const float value = ContrastFactor(nContrast);
  const int w = bmp.Width(), h = bmp.Height();
  TBmpData24 data(bmp);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      TRGBTriple* p = data.GetData(x, y);
      p->rgbtRed = ContrastChannel(p->rgbtRed, value);
      p->rgbtGreen = ContrastChannel(p->rgbtGreen, value);
      p->rgbtBlue = ContrastChannel(p->rgbtBlue, value);
    }
  }
  return true;
}

SaturationFactors::SaturationFactors(Extended percent) {
  level = percent / 100 + 1;
  const Extended satComp = 1 - level;
  satCompR = 0.3086L * satComp;
  satCompG = 0.6094L * satComp;
  satCompB = 0.082L * satComp;
}

void SaturatePixel(TRGBTriple* p, const SaturationFactors& f) {
  const Extended r = p->rgbtRed, g = p->rgbtGreen, b = p->rgbtBlue;
  p->rgbtRed = AdjustByte((f.satCompR + f.level) * r + f.satCompG * g + f.satCompB * b);
  p->rgbtGreen = AdjustByte(f.satCompR * r + (f.satCompG + f.level) * g + f.satCompB * b);
  p->rgbtBlue = AdjustByte(f.satCompR * r + f.satCompG * g + (f.satCompB + f.level) * b);
}

bool SaturationPlain(TBitmap& bmp, Extended percent) {
  if (bmp.PixelFormat() != pf24bit) return false;
  const SaturationFactors f(percent);
  const int w = bmp.Width(), h = bmp.Height();
  TBmpData24 data(bmp);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) SaturatePixel(data.GetData(x, y), f);
  }
  return true;
}

bool Brightness(TBitmap& bmp, int percent) {
  return PlainPaths() ? BrightnessPlain(bmp, percent) : BrightnessFast(bmp, percent);
}

bool Contrast(TBitmap& bmp, int nContrast) {
  return PlainPaths() ? ContrastPlain(bmp, nContrast) : ContrastFast(bmp, nContrast);
}

bool Saturation(TBitmap& bmp, Extended percent) {
  return PlainPaths() ? SaturationPlain(bmp, percent) : SaturationFast(bmp, percent);
}

void AdjustTonePlain(TBitmap& bmp, int saturation, int contrast, int brightness) {
  if (saturation != 0) SaturationPlain(bmp, Extended(saturation));
  if (contrast != 0) ContrastPlain(bmp, contrast);
  if (brightness != 0) BrightnessPlain(bmp, brightness);
}

void AdjustTone(TBitmap& bmp, int saturation, int contrast, int brightness) {
  if (PlainPaths()) {
    AdjustTonePlain(bmp, saturation, contrast, brightness);
  } else {
    AdjustToneFast(bmp, saturation, contrast, brightness);
  }
}
