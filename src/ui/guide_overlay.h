// The see-through overlay over the picture view on which the guide lines
// are drawn and the focus point is clicked. Its picture is rebuilt from
// nothing at every SetLines: fully transparent, then the three lines, one
// pixel wide, clipped to the overlay by the drawing itself.
#pragma once

#include <QImage>
#include <QWidget>

#include "engine/guide_lines.h"

class TGuideOverlay : public QWidget {
  Q_OBJECT

 public:
  explicit TGuideOverlay(QWidget* parent = nullptr);

  // Draws the red middle line, then the two yellow side lines.
  void SetLines(const GuideLines& lines);
  const QImage& Picture() const { return picture_; }

 signals:
  // A mouse button was released over the overlay, at (x, y) in its pixels.
  void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
  // The overlay has a new size.
  void Resized();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage picture_;
};
