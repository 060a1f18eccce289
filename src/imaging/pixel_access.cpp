#include "imaging/pixel_access.h"

TBmpRows::TBmpRows(TBitmap& bmp) : FWidth(bmp.Width()), FHeight(bmp.Height()) {
  sl.resize(std::size_t(FHeight));
  for (int y = 0; y < FHeight; ++y) sl[std::size_t(y)] = bmp.ScanLine(y);
}

TBmpConstRows::TBmpConstRows(const TBitmap& bmp) : FWidth(bmp.Width()), FHeight(bmp.Height()) {
  sl.resize(std::size_t(FHeight));
  for (int y = 0; y < FHeight; ++y) sl[std::size_t(y)] = bmp.ScanLine(y);
}

TBitmap BmpClone(const TBitmap& bmp) {
  return bmp;
}

std::uint8_t AdjustByte(int value) {
  if (value < 0) return 0;
  if (value > 255) return 255;
  return static_cast<std::uint8_t>(value);
}

std::uint8_t AdjustByte(Extended value) {
  if (!(value >= 0)) return 0;
  if (value > 255.0L) return 255;
  // An integer 0 .. 255 by now. Through double (exact) the conversion needs
  // no switch of the x87 rounding mode, whose cost here swung threefold with
  // where the linker happened to place this function.
  return static_cast<std::uint8_t>(static_cast<double>(RoundHalfEven(value)));
}

void SetGrayPalette(TBitmap& bmp8) {
  auto& table = bmp8.ColorTable();
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    table[std::size_t(i)] = TRGBQuad{v, v, v, 0};
  }
}
