// Small controls the windows are built from.
#pragma once

#include <QFont>
#include <QLabel>
#include <QStringList>
#include <QWidget>
#include <functional>

// A caption label that reports a click (press and release of the left
// button over it).
class QAction;
class QMenu;

class TCaptionLabel : public QLabel {
  Q_OBJECT

 public:
  TCaptionLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

// A frame: a rectangle drawn with a one-pixel pen, no fill. Clicks go
// through it to what lies beneath.
class TShape : public QWidget {
 public:
  TShape(const QColor& pen, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor pen_;
};

// A widget whose children all fill it (the tab pages: the picture view,
// and on the Modified tab the overlay above it).
class TFillPage : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

// The desktop's own interface font at the largest size, no larger than its
// own, for which `fits` holds (in half-point steps down to 6 points). The
// windows' layouts are fixed in pixels and were laid out for a font 11
// pixels high, so a larger desktop font may not fit them.
// A menu item under its object name.
QAction* MakeAction(QMenu* menu, const char* name, const QString& caption, bool checkable = false,
                    bool checked = false);

QFont FittedFont(const QFont& desktop, const std::function<bool(const QFont&)>& fits);
