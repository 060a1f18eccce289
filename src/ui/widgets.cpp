#include "ui/widgets.h"

#include <QAction>
#include <QFontMetrics>
#include <QMenu>
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
  // Four one-pixel strips rather than a stroked rectangle: at a fractional
  // scale factor a stroke straddles the pixel edges and loses its left and
  // top sides; a filled strip always covers whole device pixels.
  QPainter painter(this);
  const int w = width(), h = height();
  painter.fillRect(0, 0, w, 1, pen_);
  painter.fillRect(0, h - 1, w, 1, pen_);
  painter.fillRect(0, 0, 1, h, pen_);
  painter.fillRect(w - 1, 0, 1, h, pen_);
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

QAction* MakeAction(QMenu* menu, const char* name, const QString& caption, bool checkable, bool checked) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  action->setCheckable(checkable);
  action->setChecked(checked);
  return action;
}
