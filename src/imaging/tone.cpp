// Brightness, contrast and saturation. All real arithmetic is in extended
// precision, evaluated in the order written; the contrast factor is the one
// value held as a 32-bit float. Results go through AdjustByte (clamp, then
// round half to even).
#include "imaging/tone.h"

#include <algorithm>
#include <cstdint>

bool Brightness(TBitmap& bmp, int percent) {
  if (bmp.PixelFormat() != pf24bit) return false;
  // A 64-bit product keeps huge percentages from overflowing; past +-255
  // every channel clamps the same way whatever the offset.
  const std::int64_t offset = std::int64_t(percent) * 255 / 100;
  const int rr = int(std::clamp<std::int64_t>(offset, -256, 256));
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

namespace {

std::uint8_t ContrastChannel(std::uint8_t c, float value) {
  return AdjustByte(((Extended(c) / 255 - 0.5L) * Extended(value) + 0.5L) * 255);
}

}  // namespace

bool Contrast(TBitmap& bmp, int nContrast) {
  if (bmp.PixelFormat() != pf24bit) return false;
  if (nContrast > 100 || nContrast < -100) return false;
  float value = static_cast<float>(Extended(nContrast + 100) / 100);
  value = static_cast<float>(Extended(value) * Extended(value));
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

bool Saturation(TBitmap& bmp, Extended percent) {
  if (bmp.PixelFormat() != pf24bit) return false;
  const Extended level = percent / 100 + 1;
  const Extended satComp = 1 - level;
  const Extended satCompR = 0.3086L * satComp;
  const Extended satCompG = 0.6094L * satComp;
  const Extended satCompB = 0.082L * satComp;
  const int w = bmp.Width(), h = bmp.Height();
  TBmpData24 data(bmp);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      TRGBTriple* p = data.GetData(x, y);
      const Extended r = p->rgbtRed, g = p->rgbtGreen, b = p->rgbtBlue;
      p->rgbtRed = AdjustByte((satCompR + level) * r + satCompG * g + satCompB * b);
      p->rgbtGreen = AdjustByte(satCompR * r + (satCompG + level) * g + satCompB * b);
      p->rgbtBlue = AdjustByte(satCompR * r + satCompG * g + (satCompB + level) * b);
    }
  }
  return true;
}
