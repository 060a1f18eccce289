#include "ui/guide_overlay.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

namespace {

const QColor kMiddleLine(255, 0, 0);
const QColor kSideLine(255, 255, 0);
const QColor kOutline(0, 0, 0, 150);
constexpr double kHandleRadius = 4;
// A press must move this far (pixels, either way) to drag a line or the
// handle; less is a click.
constexpr int kDragStart = 3;

QPointF Direction(int angle) {
  const double a = angle * M_PI / 180;
  return {std::cos(a), std::sin(a)};
}

// Distance of `p` from the whole line through the segment, both carried
// by `t` first.
double DistanceFromLine(const GuideSegment& s, QPointF p, const QTransform& t) {
  const QLineF line = t.map(QLineF(s.x1, s.y1, s.x2, s.y2));
  const double dx = line.dx(), dy = line.dy(), length = std::hypot(dx, dy);
  if (length == 0) return std::hypot(p.x() - line.x1(), p.y() - line.y1());
  return std::abs(dx * (p.y() - line.y1()) - dy * (p.x() - line.x1())) / length;
}

}  // namespace

TGuideOverlay::TGuideOverlay(QWidget* parent) : QWidget(parent) {
  // Only the lines are opaque; the view beneath shows everywhere else.
  setAttribute(Qt::WA_TranslucentBackground);
  setAutoFillBackground(false);
  setMouseTracking(true);  // the pointer's shape says what a press would drag
  setCursor(Qt::CrossCursor);
}

void TGuideOverlay::SetTransform(const QTransform& fitToWidget) {
  if (fitToWidget == toWidget_) return;
  toWidget_ = fitToWidget;
  fromWidget_ = fitToWidget.inverted();
  SetLines(lines_, point_, angle_);
}

QPointF TGuideOverlay::HandlePosition() const {
  const QPointF centre = toWidget_.map(QPointF(point_.X, point_.Y)),
                along = Direction(angle_) * kHandleDistance;
  // On the side of the point that is on the overlay, the right (or lower) one when both are.
  const QRectF area(rect());
  return area.contains(centre + along) || !area.contains(centre - along) ? centre + along : centre - along;
}

double TGuideOverlay::DistanceFromMiddle(QPointF p) const {
  const QPointF d = Direction(angle_);
  return std::abs(d.x() * (p.y() - point_.Y) - d.y() * (p.x() - point_.X));
}

int TGuideOverlay::AngleTowards(TPoint point, QPointF p) {
  double a = std::atan2(p.y() - point.Y, p.x() - point.X) * 180 / M_PI;
  if (a > 90) a -= 180;
  if (a <= -90) a += 180;
  return std::clamp(int(std::lround(a)), -90, 90);
}

void TGuideOverlay::SetLines(const GuideLines& lines, TPoint point, int angle) {
  lines_ = lines;
  point_ = point;
  angle_ = angle;
  const qreal dpr = devicePixelRatioF();
  picture_ =
      QImage(QSize(std::max(1, width()), std::max(1, height())) * dpr, QImage::Format_ARGB32_Premultiplied);
  picture_.setDevicePixelRatio(dpr);
  picture_.fill(Qt::transparent);
  QPainter painter(&picture_);
  painter.setRenderHint(QPainter::Antialiasing, false);
  // The lines keep their widths at every zoom.
  const auto cosmetic = [](QPen pen) {
    pen.setCosmetic(true);
    return pen;
  };
  painter.setTransform(toWidget_);
  const auto draw = [&](const GuideSegment& s, const QPen& pen) {
    painter.setPen(cosmetic(pen));
    painter.drawLine(s.x1, s.y1, s.x2, s.y2);
  };
  // The outlines first, the handle over them, the lines themselves last
  // and whole.
  const auto ellipse = [&](const QPen& pen) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(cosmetic(pen));
    painter.setBrush(Qt::NoBrush);
    painter.translate(point.X, point.Y);
    painter.rotate(angle);
    painter.drawEllipse(QPointF(0, 0), lines.depth * ellipse_, double(lines.depth));
    painter.restore();
  };
  draw(lines.red, QPen(kOutline, 3));
  if (ellipse_ > 0) {
    ellipse(QPen(kOutline, 3));
  } else {
    for (const GuideSegment* s : {&lines.yellowB, &lines.yellowC}) draw(*s, QPen(kOutline, 3));
  }
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.resetTransform();
  painter.setPen(QPen(kOutline, 1.5));
  painter.setBrush(kMiddleLine);
  painter.drawEllipse(HandlePosition(), kHandleRadius, kHandleRadius);
  painter.setTransform(toWidget_);
  painter.setRenderHint(QPainter::Antialiasing, false);
  draw(lines.red, QPen(kMiddleLine, 1));
  if (ellipse_ > 0) {
    ellipse(QPen(kSideLine, 1));
  } else {
    draw(lines.yellowB, QPen(kSideLine, 1));
    draw(lines.yellowC, QPen(kSideLine, 1));
  }
  painter.end();
  update();
}

TGuideOverlay::TGrab TGuideOverlay::GrabAt(QPointF p) const {
  const QPointF h = HandlePosition();
  if (std::hypot(p.x() - h.x(), p.y() - h.y()) <= kHandleRadius + kGrabDistance) return TGrab::Angle;
  const double side = std::min(DistanceFromLine(lines_.yellowB, p, toWidget_),
                               DistanceFromLine(lines_.yellowC, p, toWidget_));
  if (ellipse_ == 0 && side <= kGrabDistance && side < DistanceFromLine(lines_.red, p, toWidget_))
    return TGrab::Depth;
  return TGrab::Point;
}

void TGuideOverlay::UpdateCursor(TGrab grab) {
  switch (grab) {
    case TGrab::Angle:
      setCursor(moved_ ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
      break;
    case TGrab::Depth:
      setCursor(std::abs(angle_) <= 45 ? Qt::SizeVerCursor : Qt::SizeHorCursor);
      break;
    default:
      setCursor(Qt::CrossCursor);
      break;
  }
}

void TGuideOverlay::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  emit Resized();
}

void TGuideOverlay::SetBrush(bool on, double radius) {
  brush_ = on;
  brushRadius_ = radius;
  setCursor(on ? Qt::BlankCursor : Qt::CrossCursor);
  update();
}

void TGuideOverlay::SetTint(QImage tint) {
  tint_ = std::move(tint);
  update();
}

void TGuideOverlay::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (brush_ && !tint_.isNull()) painter.drawImage(0, 0, tint_);
  if (!picture_.isNull()) painter.drawImage(0, 0, picture_);
  if (brush_) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    for (const auto& [colour, width] :
         {std::pair{QColor(0, 0, 0, 160), 3.0}, std::pair{QColor(Qt::white), 1.0}}) {
      painter.setPen(QPen(colour, width));
      painter.drawEllipse(pointer_, brushRadius_, brushRadius_);
    }
  }
}

void TGuideOverlay::mousePressEvent(QMouseEvent* event) {
  // Taking the press makes the release come here, whichever button it is.
  event->accept();
  if (brush_) {
    if (painting_ || (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)) return;
    painting_ = true;
    erasing_ = event->button() == Qt::RightButton;
    emit Painted(ToFit(event->position()), erasing_, true);
    return;
  }
  if (grab_ != TGrab::None) return;  // a second button during a drag
  pressedAt_ = event->position();
  grab_ = GrabAt(pressedAt_);
  moved_ = false;
}

void TGuideOverlay::mouseMoveEvent(QMouseEvent* event) {
  const QPointF p = event->position();
  if (brush_) {
    const QRectF old(pointer_ - QPointF(brushRadius_ + 3, brushRadius_ + 3),
                     QSizeF(2, 2) * (brushRadius_ + 3));
    pointer_ = p;
    update(old.toAlignedRect().united(old.translated(p - old.center()).toAlignedRect()));
    if (painting_) emit Painted(ToFit(p), erasing_, false);
    return;
  }
  if (grab_ == TGrab::None) {
    UpdateCursor(GrabAt(p));
    return;
  }
  if (!moved_ && (p - pressedAt_).manhattanLength() < kDragStart && grab_ != TGrab::Point) return;
  moved_ = true;
  UpdateCursor(grab_);
  const QPointF fit = ToFit(p);
  switch (grab_) {
    case TGrab::Point:
      emit PointDragged(fit.toPoint().x(), fit.toPoint().y());
      break;
    case TGrab::Depth:
      emit DepthDragged(DistanceFromMiddle(fit));
      break;
    case TGrab::Angle: {
      // Near the focus point the direction means little.
      const QPointF centre = toWidget_.map(QPointF(point_.X, point_.Y));
      if (std::hypot(p.x() - centre.x(), p.y() - centre.y()) >= kGrabDistance * 2)
        emit AngleDragged(AngleTowards(point_, fit));
      break;
    }
    case TGrab::None:
      break;
  }
}

void TGuideOverlay::mouseReleaseEvent(QMouseEvent* event) {
  if (brush_ || painting_) {
    if (painting_ && (event->button() == (erasing_ ? Qt::RightButton : Qt::LeftButton))) {
      painting_ = false;
      emit Stroked();
    }
    return;
  }
  const TGrab grab = grab_;
  grab_ = TGrab::None;
  const QPoint p = ToFit(event->position()).toPoint();
  UpdateCursor(GrabAt(event->position()));
  // A drag of a line or the handle ends where it is; anything else is the click.
  if ((grab == TGrab::Depth || grab == TGrab::Angle) && moved_) return;
  emit MouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void TGuideOverlay::wheelEvent(QWheelEvent* event) {
  event->accept();
  wheel_ += event->angleDelta().y();
  const int notches = wheel_ / 120;
  wheel_ -= notches * 120;
  if (notches != 0) emit Turned(notches);
}
