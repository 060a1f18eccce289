// A picture view: shows a copy of the picture it was given, taken at that
// moment, fitted into the control by DisplayRect.
//
// Painting never scales a large picture: the view keeps a pyramid of
// halvings made once when the picture is set, and a scaled copy of the
// exact size on screen made from the nearest larger level when the picture
// or the view's size changes. A repaint is then one blit. The full-size
// level of a large picture is copied only when something needs it (a view
// larger than the first halving, or Picture()).
//
// While the window is being resized the copy is first made quickly by
// sampling the level, and remade with averaging once the size has stayed
// put for a moment, so that every step of a resize fits in a frame even on
// a high-density screen.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <vector>

#include "imaging/bitmap.h"

class QPainter;

class TImageView : public QWidget {
 public:
  explicit TImageView(QWidget* parent = nullptr);

  // Shows a copy of `picture` (pf24bit; any other format shows nothing).
  // The picture the view already shows (the same pixels, shared) is not
  // copied again, and one that `other` shows is taken from it.
  void SetPicture(const TBitmap& picture, const TImageView* other = nullptr);

  // A picture made ready to show: its halvings (and, for a small picture,
  // its copy). Prepare is safe
  // on any thread, so that the work of a large picture can be done beside
  // the command that made it; Show then only takes it.
  struct TPrepared {
    TBitmap source;
    std::vector<QImage> levels;
  };
  static TPrepared Prepare(const TBitmap& picture);
  void Show(TPrepared prepared);
  // Whether the view shows these very pixels.
  bool Shows(const TBitmap& picture) const;
  // Whether two pictures share their pixels (copies of one picture do).
  static bool SamePixels(const TBitmap& a, const TBitmap& b);
  // Shows `frame` (24-bit; a preview, usually smaller than the picture) in
  // the picture's place, fitted to the same rectangle, until the next
  // picture or ClearPreview.
  // `at`: the rectangle of the view the frame covers (a part of the
  // picture, zoomed), when not the whole picture.
  void ShowPreview(const TBitmap& frame, std::optional<QRectF> at = std::nullopt);
  void ClearPreview();
  bool ShowsPreview() const { return !preview_.isNull(); }
  const QImage& Preview() const { return preview_; }
  // Gives the view a picture of `size` (by default its own) in one colour,
  // as drawing on an image control without a picture does.
  void FillClient(const QColor& color, QSize size = {});

  // The copy shown, at full size (blue, green, red bytes per pixel; made
  // when first asked for).
  const QImage& Picture() const { return levels_.empty() ? empty_ : FullLevel(); }
  // Where the picture is drawn, in the view's coordinates: fitted, or where
  // SetPlacement puts it.
  QRect PictureRect() const;
  // Where the picture is fitted (what PictureRect is without a placement).
  QRect FitRect() const;
  // Draws the whole picture into `rect` (view pixels; beyond the view when
  // zoomed in), or fitted when none is given. Only the visible part is
  // drawn, from the smallest halving still as large as it is on screen:
  // smoothly when shrinking, as crisp squares when enlarging, and at one
  // device pixel per picture pixel as the picture's own pixels.
  void SetPlacement(std::optional<QRectF> rect);
  const std::optional<QRectF>& Placement() const { return placement_; }
  // The copy a repaint draws (made on demand for the current size).
  const QImage& ScaledCopy();
  // False while the copy is the quick one of a resize.
  bool ScaledCopyIsFinal() const { return !refine_.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void MakeScaledCopy(bool quick);
  void PaintPlaced(QPainter& painter);
  const QImage& FullLevel() const;
  QSize FullSize() const;

  QImage empty_;
  // Full size (null until asked for, for a large picture), then halvings
  // down to a small size.
  mutable std::vector<QImage> levels_;
  // The picture shown, held so that its pixels (and so their address,
  // by which a picture is known again) stay while it is shown.
  TBitmap shown_;
  QImage scaled_;
  QImage preview_;
  bool scaledValid_ = false;
  QSize scaledFor_;  // the view's size when scaled_ was made
  QTimer refine_;    // remakes a quick copy once the size settles
  std::optional<QRectF> placement_;
  std::optional<QRectF> previewAt_;
};
