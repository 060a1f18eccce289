// A picture view: shows a copy of the picture it was given, taken at that
// moment, fitted into the control by DisplayRect.
//
// Painting never scales a large picture: the view keeps a pyramid of
// halvings made once when the picture is set, and a scaled copy of the
// exact size on screen made from the nearest larger level when the picture
// or the view's size changes. A repaint is then one blit.
#pragma once

#include <QImage>
#include <QWidget>
#include <vector>

#include "imaging/bitmap.h"

class TImageView : public QWidget {
 public:
  explicit TImageView(QWidget* parent = nullptr);

  // Shows a copy of `picture` (pf24bit; any other format shows nothing).
  void SetPicture(const TBitmap& picture);
  // Gives the view a picture of `size` (by default its own) in one colour,
  // as drawing on an image control without a picture does.
  void FillClient(const QColor& color, QSize size = {});

  // The copy shown, at full size (blue, green, red bytes per pixel).
  const QImage& Picture() const { return levels_.empty() ? empty_ : levels_.front(); }
  // Where the picture is drawn, in the view's coordinates.
  QRect PictureRect() const;
  // The copy a repaint draws (made on demand for the current size).
  const QImage& ScaledCopy();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void SetLevels(QImage full);
  void MakeScaledCopy();

  QImage empty_;
  std::vector<QImage> levels_;  // full size, then halvings down to a small size
  QImage scaled_;
  bool scaledValid_ = false;
  QSize scaledFor_;  // the view's size when scaled_ was made
};
