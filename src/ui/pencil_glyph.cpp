// The pencil is drawn by rule rather than stored: each pixel of the left
// half is classified by its place along the pencil's axis (s = x + y, from
// the eraser at the upper left to the lead at the lower right) and across
// it (t = x - y), and the greyed twin maps every colour to one of two greys.
#include "ui/pencil_glyph.h"

#include <QPixmap>
#include <cstdlib>

namespace {

enum : uchar { kClear, kBlack, kMaroon, kOlive, kGray, kSilver, kRed, kYellow, kWhite };

// The 16 standard colours; the pencil uses a few of them.
const QVector<QRgb> kPalette = {
    qRgba(0, 0, 0, 0),   qRgb(0, 0, 0),       qRgb(128, 0, 0), qRgb(128, 128, 0),
    qRgb(128, 128, 128), qRgb(192, 192, 192), qRgb(255, 0, 0), qRgb(255, 255, 0),
    qRgb(255, 255, 255), qRgb(0, 128, 0),     qRgb(0, 0, 128), qRgb(128, 0, 128),
    qRgb(0, 128, 128),   qRgb(0, 255, 0),     qRgb(0, 0, 255), qRgb(0, 255, 255),
};

uchar PencilPixel(int x, int y) {
  const int s = x + y, t = x - y;
  if (s < 3 || s > 28) return kClear;
  // Half-width of the pencil at this point: 2 along the body, narrowing
  // over the sharpened wood and the lead.
  const int half = s <= 22 ? 2 : s <= 24 ? 1 : 0;
  if (std::abs(t) > half + 1) return kClear;
  if (s >= 26) return kBlack;  // the lead
  const bool edge = std::abs(t) == half + 1;
  if (s >= 23) return edge ? kBlack : kWhite;  // sharpened wood
  if (edge) return kBlack;
  if (s <= 6) return kRed;           // eraser
  if (s <= 8) return kSilver;        // ferrule
  return t <= 0 ? kYellow : kOlive;  // body, shaded on one side
}

uchar GreyedPixel(uchar c) {
  switch (c) {
    case kClear:
      return kClear;
    case kBlack:
    case kMaroon:
    case kOlive:
      return kGray;
    default:
      return kSilver;
  }
}

}  // namespace

QImage PencilGlyphStrip() {
  QImage strip(32, 16, QImage::Format_Indexed8);
  strip.setColorTable(kPalette);
  for (int y = 0; y < 16; ++y) {
    uchar* row = strip.scanLine(y);
    for (int x = 0; x < 16; ++x) {
      row[x] = PencilPixel(x, y);
      row[16 + x] = GreyedPixel(row[x]);
    }
  }
  return strip;
}

QIcon PencilIcon() {
  const QImage strip = PencilGlyphStrip().convertToFormat(QImage::Format_ARGB32);
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(strip.copy(0, 0, 16, 16)), QIcon::Normal);
  icon.addPixmap(QPixmap::fromImage(strip.copy(16, 0, 16, 16)), QIcon::Disabled);
  return icon;
}
