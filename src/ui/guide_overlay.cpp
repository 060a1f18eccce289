#include "ui/guide_overlay.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

const QColor kMiddleLine(255, 0, 0);
const QColor kSideLine(255, 255, 0);

}  // namespace

TGuideOverlay::TGuideOverlay(QWidget* parent) : QWidget(parent) {
  // Only the lines are opaque; the view beneath shows everywhere else.
  setAttribute(Qt::WA_TranslucentBackground);
  setAutoFillBackground(false);
}

void TGuideOverlay::SetLines(const GuideLines& lines) {
  const qreal dpr = devicePixelRatioF();
  picture_ =
      QImage(QSize(std::max(1, width()), std::max(1, height())) * dpr, QImage::Format_ARGB32_Premultiplied);
  picture_.setDevicePixelRatio(dpr);
  picture_.fill(Qt::transparent);
  QPainter painter(&picture_);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const auto draw = [&](const GuideSegment& s, const QColor& color) {
    painter.setPen(QPen(color, 1));
    painter.drawLine(s.x1, s.y1, s.x2, s.y2);
  };
  draw(lines.red, kMiddleLine);
  draw(lines.yellowB, kSideLine);
  draw(lines.yellowC, kSideLine);
  painter.end();
  update();
}

void TGuideOverlay::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  emit Resized();
}

void TGuideOverlay::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, picture_);
}

void TGuideOverlay::mousePressEvent(QMouseEvent* event) {
  // Taking the press makes the release come here, whichever button it is.
  event->accept();
}

void TGuideOverlay::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  emit MouseUp(event->button(), event->modifiers(), p.x(), p.y());
}
