// The see-through overlay over the picture view on which the guide lines
// are drawn and the focus point is placed. Its picture is rebuilt from
// nothing at every SetLines: fully transparent, then the three lines, one
// pixel wide, each with a thin dark outline so it stays readable on a busy
// photo, clipped to the overlay by the drawing itself; and a small handle
// on the red line for turning the band.
//
// The mouse: a click places the focus point (MouseUp on the release); a
// press and drag moves it, the lines following (PointDragged); a drag that
// starts on a yellow line sets the band's half-width (DepthDragged), one
// that starts on the handle its angle (AngleDragged); the wheel turns the
// band by a degree a notch (Turned). A press on a line or the handle that
// does not move is a click like any other.
//
// The lines, the point and the signals' positions are in "fit pixels", the
// overlay's pixels with the picture fitted (what the window's settings
// mean); SetTransform says where they are drawn when the view is zoomed.
// The handle and the distances at which a line is grabbed stay in screen
// pixels at every zoom.
//
// With the protect brush on, the buttons paint instead (Painted: the left
// one protects, the right one erases) and a circle of the brush's size
// follows the pointer; the tint (the protected area) is drawn under the
// lines.
#pragma once

#include <QImage>
#include <QPointF>
#include <QTransform>
#include <QWidget>

#include "engine/guide_lines.h"

class TGuideOverlay : public QWidget {
  Q_OBJECT

 public:
  explicit TGuideOverlay(QWidget* parent = nullptr);

  // Fit pixels to the overlay's own (the view's zoom and pan); the lines
  // are drawn again.
  void SetTransform(const QTransform& fitToWidget);
  const QTransform& Transform() const { return toWidget_; }

  // Draws the lines for the focus point `point` and the angle `angle`.
  void SetLines(const GuideLines& lines, TPoint point, int angle);
  const QImage& Picture() const { return picture_; }

  // The lens look's elliptic sharp area: the yellow lines become an
  // ellipse `aspect` times as wide as the band, around the point and turned
  // with it (0: the lines). Takes effect at the next SetLines.
  void SetEllipse(double aspect) { ellipse_ = aspect; }

  // The protect brush, its radius in the overlay's own pixels, and the tint
  // shown under the lines (in the overlay's own pixels; a null image for none).
  void SetBrush(bool on, double radius);
  bool Brush() const { return brush_; }
  void SetTint(QImage tint);

  // Where the angle handle sits, in the overlay's own pixels.
  QPointF HandlePosition() const;
  // The pointer's distance from a line counts as on it up to this.
  static constexpr double kGrabDistance = 4;
  // The handle's distance from the focus point along the red line.
  static constexpr double kHandleDistance = 48;

  // Half-width of the band (fit pixels) for a yellow line dragged to `p`
  // (fit pixels): its distance from the red line.
  double DistanceFromMiddle(QPointF p) const;
  // The angle of the red line through the focus point and `p`, in whole
  // degrees -90..90 (positive turns the band clockwise).
  static int AngleTowards(TPoint point, QPointF p);

 signals:
  // A mouse button was released over the overlay, at (x, y) in fit pixels.
  void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  void PointDragged(int x, int y);
  void DepthDragged(double halfWidth);
  void AngleDragged(int angle);
  // The brush pressed or dragged at `p` (fit pixels; `erase`: the right button);
  // `first` for the press.
  void Painted(QPointF p, bool erase, bool first);
  // The brush's button released: the stroke is over.
  void Stroked();
  // Notches of the wheel, positive away from the user.
  void Turned(int notches);
  // The overlay has a new size.
  void Resized();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  enum class TGrab { None, Point, Depth, Angle };
  TGrab GrabAt(QPointF p) const;  // `p` in the overlay's own pixels
  QPointF ToFit(QPointF p) const { return fromWidget_.map(p); }
  void UpdateCursor(TGrab grab);

  QImage picture_;
  QTransform toWidget_, fromWidget_;
  GuideLines lines_;
  TPoint point_;
  int angle_ = 0;
  TGrab grab_ = TGrab::None;  // what the pressed button drags
  QPointF pressedAt_;
  bool moved_ = false;  // the press has become a drag
  int wheel_ = 0;       // eighths of a degree not yet turned
  double ellipse_ = 0;
  bool brush_ = false;
  double brushRadius_ = 20;
  bool painting_ = false, erasing_ = false;
  QPointF pointer_{-1000, -1000};
  QImage tint_;
};
