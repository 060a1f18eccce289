#include "ui/widgets.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

void TCaptionLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void TCaptionLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  if (click) emit clicked();
}

TShape::TShape(const QColor& pen, QWidget* parent) : QWidget(parent), pen_(pen) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(QPen(pen_, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(0, 0, width() - 1, height() - 1);
}

void TFillPage::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  for (QObject* child : children())
    if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) w->setGeometry(rect());
}

QFont FittedFont(const QFont& desktop, const std::function<bool(const QFont&)>& fits) {
  QFont font = desktop;
  const qreal start = desktop.pointSizeF() > 0 ? desktop.pointSizeF() : 9;
  for (qreal size = start; size >= 6; size -= 0.5) {
    font.setPointSizeF(size);
    if (fits(font)) return font;
  }
  return font;
}
