// The part of the picture the views show and how large: fitted to the view
// (as the window always opens) or at a zoom, panned. Both tabs and the
// overlay take their placement from one viewport, so they show the same
// place at the same zoom.
//
// The band, the point and the brush keep their meaning at every zoom: they
// live in "fit pixels", the overlay's pixels with the picture fitted and
// centred, as they do at Fit, and FitToWidget carries them to wherever the
// picture is drawn now.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QTransform>

class TViewport {
 public:
  // The largest zoom (device pixels per picture pixel).
  static constexpr double kMaxZoom = 8;

  // A new picture, or the view's new size: a new picture is shown fitted;
  // a new size keeps the zoom and the picture point at the view's centre.
  void SetPicture(QSize picture);
  void SetView(QSize view, double devicePixelRatio);

  bool Fit() const { return fit_; }
  // Device pixels per picture pixel (the fitted one at Fit).
  double Zoom() const;
  // View pixels per picture pixel.
  double Scale() const;
  // "Fit (13 %)" or "400 %".
  QString Caption() const;

  void SetFit();
  // Zooms to `zoom`, keeping the picture point under `at` (view pixels)
  // where it is; the view's centre when none is given.
  void ZoomTo(double zoom, QPointF at);
  void ZoomTo(double zoom);
  // The next step up or down (Zoom In, Zoom Out, the wheel). Zooming out
  // stops at the smaller of Fit and 100 %; out to Fit it becomes Fit.
  void Step(int steps, QPointF at);
  // Moves the picture by `delta` view pixels, as far as it goes.
  void Pan(QPointF delta);
  // Puts the picture's point `x`, `y` (its pixels) at the view's top left
  // (the scroll bars), as far as it goes.
  void ScrollTo(double x, double y);

  // Where the whole picture is drawn, in view pixels (beyond the view when
  // zoomed in).
  QRectF PictureRect() const;
  // The visible part of the picture, in its pixels.
  QRectF Visible() const;
  QPointF ToPicture(QPointF view) const;
  QPointF ToView(QPointF picture) const;
  // Fit pixels to view pixels (the identity at Fit).
  QTransform FitToWidget() const;
  // Fit pixels to picture pixels and back.
  QPointF FitToPicture(QPointF fit) const;
  QPointF PictureToFit(QPointF picture) const;

  QSize Picture() const { return picture_; }
  QSize View() const { return view_; }

 private:
  double FitRatio() const;
  QPointF FitOrigin() const;
  void Clamp();

  QSize picture_, view_;
  double dpr_ = 1;
  bool fit_ = true;
  double zoom_ = 1;  // when not fitted
  QPointF origin_;   // the picture's top left in view pixels, when not fitted
};
