// The main window's View menu: Fit, Actual Pixels, Zoom In and Out, and
// panning with the middle button, with Space held, or with the scroll bars.
// One viewport places the picture on both tabs and carries the overlay's
// fit pixels to where the picture is drawn; the settings never change with
// the zoom.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QWheelEvent>

#include "ui/form1.h"
#include "ui/guard.h"
#include "ui/guide_overlay.h"
#include "ui/image_view.h"
#include "ui/live_preview.h"
#include "ui/widgets.h"

namespace {

// Frame pixels around the visible part, so that the blur near the view's
// edges has the picture beside it.
constexpr double kPreviewMargin = 48;

}  // namespace

void TForm1::BuildViewMenu() {
  const auto slot = [this](auto handler) { return GuardedSlot(this, dialogs_, handler); };
  MenuV = menuBar()->addMenu("View (&V)");
  MenuV->setObjectName("MenuV");
  MenuVF = MakeAction(MenuV, "MenuVF", "Fit (&F)", true, true);
  MenuVA = MakeAction(MenuV, "MenuVA", "Actual Pixels (&A)");
  MenuVI = MakeAction(MenuV, "MenuVI", "Zoom In (&I)");
  MenuVO = MakeAction(MenuV, "MenuVO", "Zoom Out (&O)");
  MenuVF->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  MenuVA->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
  MenuVI->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::CTRL | Qt::Key_Plus)});
  MenuVO->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
  connect(MenuVF, &QAction::triggered, this, slot(&TForm1::MenuVFClick));
  connect(MenuVA, &QAction::triggered, this, slot(&TForm1::MenuVAClick));
  connect(MenuVI, &QAction::triggered, this, slot(&TForm1::MenuVIClick));
  connect(MenuVO, &QAction::triggered, this, slot(&TForm1::MenuVOClick));

  ZoomLabel = new QLabel(PageControl1);
  ZoomLabel->setObjectName("ZoomLabel");
  ZoomLabel->setContentsMargins(8, 0, 8, 0);
  PageControl1->setCornerWidget(ZoomLabel, Qt::BottomRightCorner);
  int i = 0;
  for (QWidget* page : {TabSheetOriginal, TabSheetModified}) {
    ScrollH[i] = new QScrollBar(Qt::Horizontal, page);
    ScrollV[i] = new QScrollBar(Qt::Vertical, page);
    ScrollCorner[i] = new QWidget(page);
    ScrollCorner[i]->setAutoFillBackground(true);
    ScrollCorner[i]->hide();
    for (QScrollBar* bar : {ScrollH[i], ScrollV[i]}) {
      bar->hide();
      connect(bar, &QScrollBar::valueChanged, this, [this, i] {
        if (scrolling_) return;
        viewport_.ScrollTo(ScrollH[i]->value() / viewport_.Scale(), ScrollV[i]->value() / viewport_.Scale());
        ApplyViewport();
      });
    }
    ++i;
  }
}

void TForm1::MenuVFClick() {
  viewport_.SetFit();
  ApplyViewport();
}

void TForm1::MenuVAClick() {
  viewport_.ZoomTo(1);
  ApplyViewport();
}

void TForm1::MenuVIClick() {
  viewport_.Step(1, QPointF(Image2->width(), Image2->height()) / 2);
  ApplyViewport();
}

void TForm1::MenuVOClick() {
  viewport_.Step(-1, QPointF(Image2->width(), Image2->height()) / 2);
  ApplyViewport();
}

void TForm1::ApplyViewport() {
  const TBitmap& picture = engine_.ModifiedBMP();
  viewport_.SetPicture(QSize(picture.Width(), picture.Height()));
  viewport_.SetView(Image2->size(), Image2->devicePixelRatioF());
  const bool zoomed = !viewport_.Fit() && engine_.PictureLoaded();
  const std::optional<QRectF> placement = zoomed ? std::optional(viewport_.PictureRect()) : std::nullopt;
  Image1->SetPlacement(placement);
  Image3->SetPlacement(placement);
  Image2->SetTransform(zoomed ? viewport_.FitToWidget() : QTransform());
  ZoomLabel->setText(engine_.PictureLoaded() ? viewport_.Caption() : QString());
  MenuVF->setChecked(viewport_.Fit());
  // The scroll bars, in view pixels, over the bottom and right edges.
  const QRectF drawn = viewport_.PictureRect();
  const QSize view = Image2->size();
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const bool across = zoomed && drawn.width() > view.width() + 0.5;
  const bool down = zoomed && drawn.height() > view.height() + 0.5;
  scrolling_ = true;
  for (int i = 0; i < 2; ++i) {
    ScrollH[i]->setVisible(across);
    ScrollV[i]->setVisible(down);
    ScrollH[i]->setGeometry(0, view.height() - extent, view.width() - (down ? extent : 0), extent);
    ScrollV[i]->setGeometry(view.width() - extent, 0, extent, view.height() - (across ? extent : 0));
    ScrollH[i]->setRange(0, std::max(0, int(std::lround(drawn.width() - view.width()))));
    ScrollV[i]->setRange(0, std::max(0, int(std::lround(drawn.height() - view.height()))));
    ScrollH[i]->setPageStep(view.width());
    ScrollV[i]->setPageStep(view.height());
    ScrollH[i]->setValue(int(std::lround(-drawn.left())));
    ScrollV[i]->setValue(int(std::lround(-drawn.top())));
    ScrollCorner[i]->setGeometry(view.width() - extent, view.height() - extent, extent, extent);
    ScrollCorner[i]->setVisible(across && down);
    for (QWidget* w : {static_cast<QWidget*>(ScrollH[i]), static_cast<QWidget*>(ScrollV[i]), ScrollCorner[i]})
      w->raise();
  }
  scrolling_ = false;
  UpdateTint();
  live_->SetWindow(zoomed ? std::optional(PreviewWindow()) : std::nullopt);
}

TLivePreview::TWindow TForm1::PreviewWindow() const {
  // What is visible and a margin for the blur, at the zoom (at most one
  // frame pixel per picture pixel) and within the preview's pixels.
  const double zoom = std::min(1.0, viewport_.Zoom());
  const double margin = kPreviewMargin / zoom;
  const QRectF visible = viewport_.Visible().adjusted(-margin, -margin, margin, margin);
  const QSize picture = viewport_.Picture();
  const TRect part{std::max(0, int(std::floor(visible.left()))), std::max(0, int(std::floor(visible.top()))),
                   std::min(picture.width(), int(std::ceil(visible.right()))),
                   std::min(picture.height(), int(std::ceil(visible.bottom())))};
  const double pixels = std::max(1.0, double(part.Width()) * part.Height());
  const double scale = std::min(zoom, std::sqrt(TLivePreview::kMaxFramePixels / pixels));
  return {part, scale,
          QRectF(viewport_.ToView(QPointF(part.Left, part.Top)),
                 viewport_.ToView(QPointF(part.Right, part.Bottom)))};
}

namespace {

// The cursor that says what a press would do while the view pans.
void SetPanCursor(bool panning, bool space) {
  const bool want = panning || space;
  const bool has = QApplication::overrideCursor() != nullptr;
  if (want && has) {
    QApplication::changeOverrideCursor(panning ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
  } else if (want) {
    QApplication::setOverrideCursor(panning ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
  } else if (has) {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace

bool TForm1::ViewEvent(QObject* watched, QEvent* event) {
  const bool onView = watched == Image1 || watched == Image2 || watched == Image3;
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      const auto* key = static_cast<const QKeyEvent*>(event);
      if (key->key() != Qt::Key_Space || !isActiveWindow() || QApplication::activeModalWidget() != nullptr)
        return false;
      const bool press = event->type() == QEvent::KeyPress;
      // Space pans only over the pictures; elsewhere it is the controls'.
      if (press && !spaceHeld_ && !PageControl1->rect().contains(PageControl1->mapFromGlobal(QCursor::pos())))
        return false;
      if (!press && !spaceHeld_) return false;
      if (!key->isAutoRepeat()) {
        spaceHeld_ = press;
        SetPanCursor(panning_, spaceHeld_);
      }
      return true;
    }
    case QEvent::MouseButtonPress: {
      const auto* mouse = static_cast<const QMouseEvent*>(event);
      if (!onView || panning_) return panning_ && onView;
      if (mouse->button() != Qt::MiddleButton && !(mouse->button() == Qt::LeftButton && spaceHeld_))
        return false;
      panning_ = true;
      panLast_ = mouse->globalPosition();
      SetPanCursor(panning_, spaceHeld_);
      return true;
    }
    case QEvent::MouseMove: {
      if (!onView || !panning_) return false;
      const auto* mouse = static_cast<const QMouseEvent*>(event);
      viewport_.Pan(mouse->globalPosition() - panLast_);
      panLast_ = mouse->globalPosition();
      ApplyViewport();
      return true;
    }
    case QEvent::MouseButtonRelease: {
      if (!onView || !panning_) return false;
      const auto* mouse = static_cast<const QMouseEvent*>(event);
      if (mouse->buttons() & (Qt::MiddleButton | Qt::LeftButton)) return true;
      panning_ = false;
      SetPanCursor(panning_, spaceHeld_);
      return true;
    }
    case QEvent::Wheel: {
      const auto* wheel = static_cast<const QWheelEvent*>(event);
      if (!onView || !(wheel->modifiers() & Qt::ControlModifier)) return false;
      zoomWheel_ += wheel->angleDelta().y();
      const int notches = zoomWheel_ / 120;
      zoomWheel_ -= notches * 120;
      if (notches != 0) {
        viewport_.Step(notches, wheel->position());
        ApplyViewport();
      }
      return true;
    }
    default:
      return false;
  }
}
