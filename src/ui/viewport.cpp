#include "ui/viewport.h"

#include <QString>
#include <algorithm>
#include <cmath>

#include "engine/focus_mask.h"
#include "ui/view_geometry.h"

namespace {

// The zoom steps (device pixels per picture pixel).
constexpr double kSteps[] = {1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3,
                             1,        1.5,      2,       3,       4,       6,       8};
constexpr double kSame = 1e-9;  // zooms closer than this are the same step

}  // namespace

void TViewport::SetPicture(QSize picture) {
  if (picture == picture_) return;
  picture_ = picture;
  fit_ = true;
}

void TViewport::SetView(QSize view, double devicePixelRatio) {
  if (fit_ || view_.isEmpty()) {
    view_ = view;
    dpr_ = devicePixelRatio;
    if (!fit_) Clamp();
    return;
  }
  // The picture point at the centre stays there, at the same device zoom.
  const QPointF centre = ToPicture(QPointF(view_.width(), view_.height()) / 2);
  view_ = view;
  dpr_ = devicePixelRatio;
  origin_ = QPointF(view_.width(), view_.height()) / 2 - centre * Scale();
  Clamp();
}

double TViewport::FitRatio() const {
  if (picture_.isEmpty() || view_.isEmpty()) return 1;
  return ::FitRatio(view_.width(), view_.height(), picture_.width(), picture_.height());
}

QPointF TViewport::FitOrigin() const {
  const double r = FitRatio();
  return {view_.width() / 2.0 - picture_.width() / 2.0 * r,
          view_.height() / 2.0 - picture_.height() / 2.0 * r};
}

double TViewport::Zoom() const {
  return fit_ ? FitRatio() * dpr_ : zoom_;
}

double TViewport::Scale() const {
  return fit_ ? FitRatio() : zoom_ / dpr_;
}

QString TViewport::Caption() const {
  const long percent = std::lround(Zoom() * 100);
  return fit_ ? QString("Fit (%1 %)").arg(percent) : QString("%1 %").arg(percent);
}

void TViewport::SetFit() {
  fit_ = true;
}

void TViewport::ZoomTo(double zoom) {
  ZoomTo(zoom, QPointF(view_.width(), view_.height()) / 2);
}

void TViewport::ZoomTo(double zoom, QPointF at) {
  if (picture_.isEmpty() || view_.isEmpty()) return;
  const QPointF p = ToPicture(at);
  fit_ = false;
  zoom_ = std::clamp(zoom, kSteps[0], kMaxZoom);
  origin_ = at - p * Scale();
  Clamp();
}

void TViewport::Step(int steps, QPointF at) {
  if (picture_.isEmpty() || view_.isEmpty()) return;
  const double fit = FitRatio() * dpr_;
  const double lowest = std::min(fit, 1.0);
  double zoom = Zoom();
  for (; steps > 0; --steps) {
    const auto next =
        std::find_if(std::begin(kSteps), std::end(kSteps), [&](double s) { return s > zoom * (1 + kSame); });
    zoom = next == std::end(kSteps) ? kMaxZoom : *next;
  }
  for (; steps < 0; ++steps) {
    double lower = 0;
    for (double s : kSteps)
      if (s < zoom * (1 - kSame)) lower = s;
    zoom = std::max(lower, lowest);
  }
  if (zoom <= fit * (1 + kSame) && fit <= 1) {
    SetFit();
    return;
  }
  ZoomTo(zoom, at);
}

void TViewport::Pan(QPointF delta) {
  if (fit_) return;
  origin_ += delta;
  Clamp();
}

void TViewport::ScrollTo(double x, double y) {
  if (fit_) return;
  origin_ = -QPointF(x, y) * Scale();
  Clamp();
}

void TViewport::Clamp() {
  const double s = Scale();
  const auto axis = [&](double origin, int picture, int view) {
    const double content = picture * s;
    origin = content <= view ? (view - content) / 2 : std::clamp(origin, view - content, 0.0);
    // On whole device pixels, so that at 100 % a picture pixel is a screen pixel.
    return std::round(origin * dpr_) / dpr_;
  };
  origin_ = {axis(origin_.x(), picture_.width(), view_.width()),
             axis(origin_.y(), picture_.height(), view_.height())};
}

QRectF TViewport::PictureRect() const {
  if (fit_) {
    const TRect r = DisplayRect(picture_.width(), picture_.height(), view_.width(), view_.height());
    return QRectF(r.Left, r.Top, r.Width(), r.Height());
  }
  return QRectF(origin_, QSizeF(picture_) * Scale());
}

QRectF TViewport::Visible() const {
  return QRectF(ToPicture({0, 0}), ToPicture(QPointF(view_.width(), view_.height())))
      .intersected(QRectF(QPointF(0, 0), QSizeF(picture_)));
}

QPointF TViewport::ToPicture(QPointF view) const {
  return (view - (fit_ ? FitOrigin() : origin_)) / Scale();
}

QPointF TViewport::ToView(QPointF picture) const {
  return (fit_ ? FitOrigin() : origin_) + picture * Scale();
}

QPointF TViewport::FitToPicture(QPointF fit) const {
  return (fit - FitOrigin()) / FitRatio();
}

QPointF TViewport::PictureToFit(QPointF picture) const {
  return FitOrigin() + picture * FitRatio();
}

QTransform TViewport::FitToWidget() const {
  if (fit_) return {};
  const double k = Scale() / FitRatio();
  const QPointF d = origin_ - FitOrigin() * k;
  return QTransform(k, 0, 0, k, d.x(), d.y());
}
