// The View menu's zoom and pan: the steps, where the picture is drawn, and
// the settings, which mean at every zoom what they mean at Fit.
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>

#include "ui/guide_overlay.h"
#include "ui/image_view.h"
#include "ui_test_support.h"

class TestZoom : public TWindowTest {
  Q_OBJECT

 private slots:
  void init() { w_ = std::make_unique<TShownWindows>(); }
  void cleanup() { w_.reset(); }

  void stepsFromFitToTheLargestAndBack() {
    struct Case {
      QSize picture;
      std::vector<double> in, out;  // the zooms stepped through; 0 is Fit
    };
    // A 6000 x 4000 photo fits a 750 x 540 view at 12.5 %; a 100 x 50
    // picture at 750 %, and zooming out stops at 100 %.
    const double third = 1.0 / 3;
    for (const Case& c : {Case{{6000, 4000},
                               {1.0 / 6, 0.25, third, 0.5, 2 * third, 1, 1.5, 2, 3, 4, 6, 8, 8},
                               {6, 4, 3, 2, 1.5, 1, 2 * third, 0.5, third, 0.25, 1.0 / 6, 0, 0}},
                          Case{{100, 50}, {8, 8}, {6, 4, 3, 2, 1.5, 1, 1}}}) {
      TViewport v;
      v.SetPicture(c.picture);
      v.SetView({750, 540}, 1);
      const QPointF centre(375, 270);
      for (double zoom : c.in) {
        v.Step(1, centre);
        QCOMPARE(v.Fit(), false);
        QVERIFY2(std::abs(v.Zoom() - zoom) < 1e-12, qPrintable(v.Caption()));
      }
      for (double zoom : c.out) {
        v.Step(-1, centre);
        QCOMPARE(v.Fit(), zoom == 0);
        if (zoom != 0) QVERIFY2(std::abs(v.Zoom() - zoom) < 1e-12, qPrintable(v.Caption()));
      }
    }
  }

  void zoomKeepsThePointUnderThePointerAndPanStopsAtTheEdges() {
    TViewport v;
    v.SetPicture({6000, 4000});
    v.SetView({750, 540}, 1);
    QCOMPARE(v.Caption(), QString("Fit (13 %)"));
    // Fitted: 750 x 500 from y = 20; (100, 120) shows picture point (800, 800).
    QCOMPARE(v.ToPicture({100, 120}), QPointF(800, 800));
    v.ZoomTo(1, {100, 120});
    QCOMPARE(v.Caption(), QString("100 %"));
    QCOMPARE(v.PictureRect(), QRectF(-700, -680, 6000, 4000));
    // The overlay's fit pixels follow the picture.
    QCOMPARE(v.FitToWidget().map(QPointF(100, 120)), QPointF(100, 120));
    QCOMPARE(v.FitToWidget().map(QPointF(101, 121)), QPointF(108, 128));
    v.Pan({1000, -50});
    QCOMPARE(v.PictureRect().topLeft(), QPointF(0, -730));
    v.Pan({-1e6, -1e6});
    QCOMPARE(v.PictureRect().bottomRight(), QPointF(750, 540));
    QCOMPARE(v.Visible(), QRectF(5250, 3460, 750, 540));
    // A new size keeps the picture point at the centre.
    const QPointF centre = v.ToPicture({375, 270});
    v.SetView({600, 400}, 1);
    QCOMPARE(v.ToPicture({300, 200}), centre);
  }

  void actualPixelsShowsThePicturesOwnPixels() {
    const TBitmap picture = RandomPicture(1500, 1000, 9);
    w_->Open(WriteTestPicture(dir_, "p.bmp", picture));
    form().MenuVA->trigger();
    QCOMPARE(form().Viewport().Zoom(), 1.0);
    QCOMPARE(form().ZoomLabel->text(), QString("100 %"));
    const QRect drawn = form().Image1->PictureRect();
    const QImage shown = form().Image1->grab().toImage().convertToFormat(QImage::Format_RGB888);
    QVERIFY(drawn.left() < 0 && drawn.top() < 0);
    TBitmap expected(shown.width(), shown.height(), pf24bit);
    expected.Draw(drawn.left(), drawn.top(), engine().TargetBMP());
    for (int y = 0; y < shown.height(); ++y) {
      const uchar* s = shown.constScanLine(y);
      const std::uint8_t* e = expected.ScanLine(y);
      for (int x = 0; x < shown.width(); ++x)
        QVERIFY2(s[3 * x] == e[3 * x + 2] && s[3 * x + 1] == e[3 * x + 1] && s[3 * x + 2] == e[3 * x],
                 qPrintable(QString("%1,%2").arg(x).arg(y)));
    }
  }

  void clicksAndDragsAtEveryZoomActAsAtFit_data() {
    QTest::addColumn<int>("steps");  // Ctrl+wheel notches from Fit; -1: Actual Pixels
    QTest::newRow("one notch") << 1;
    QTest::newRow("Actual Pixels") << -1;
    QTest::newRow("six notches") << 6;
  }
  void clicksAndDragsAtEveryZoomActAsAtFit() {
    QFETCH(int, steps);
    w_->Open(WriteTestPicture(dir_, "p.bmp", RandomPicture(1200, 800, 5)));
    const QPoint fit(260, 170);  // a place in fit pixels
    // Zoomed around it, clicked there, then dragged: the point is where the
    // same places are at Fit.
    const QTransform atFit = form().Image2->Transform();
    QCOMPARE(atFit, QTransform());
    if (steps < 0) {
      form().MenuVA->trigger();
    } else {
      for (int i = 0; i < steps; ++i) {
        QWheelEvent wheel(QPointF(fit), form().Image2->mapToGlobal(QPointF(fit)), {}, {0, 120}, Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(form().Image2, &wheel);
      }
    }
    QVERIFY(!form().Viewport().Fit());
    const QTransform t = form().Image2->Transform();
    const QPoint at = t.map(QPointF(fit)).toPoint();
    QVERIFY(form().Image2->rect().contains(at));
    QTest::mouseClick(form().Image2, Qt::LeftButton, {}, at);
    QCOMPARE(form().Point(), (TPoint{fit.x(), fit.y()}));
    // A drag 40 screen pixels right and 30 down ends at its fit pixel.
    const QPoint to = at + QPoint(40, 30);
    QTest::mousePress(form().Image2, Qt::LeftButton, {}, at);
    QTest::mouseMove(form().Image2, at + QPoint(20, 15));
    QTest::mouseMove(form().Image2, to);
    QTest::mouseRelease(form().Image2, Qt::LeftButton, {}, to);
    const QPoint end = t.inverted().map(QPointF(to)).toPoint();
    QCOMPARE(form().Point(), (TPoint{end.x(), end.y()}));
    form().BitBtnBlur->click();
    const TBitmap zoomed = engine().TargetBMP();
    // The same at Fit: the click on that pixel makes the same bytes.
    form().MenuEU->trigger();
    form().MenuVF->trigger();
    QVERIFY(form().Viewport().Fit());
    QTest::mouseClick(form().Image2, Qt::LeftButton, {}, end);
    form().BitBtnBlur->click();
    QVERIFY(engine().TargetBMP() == zoomed);
    QVERIFY(!(engine().TargetBMP() == engine().ModifiedBMP()));
  }

  void panningMovesBothTabsAlike() {
    w_->Open(WriteTestPicture(dir_, "p.bmp", RandomPicture(1600, 1000, 3)));
    form().MenuVA->trigger();
    const QRectF before = form().Viewport().PictureRect();
    // The middle button drags the picture; the overlay takes no click.
    const TPoint point = form().Point();
    QTest::mousePress(form().Image2, Qt::MiddleButton, {}, {300, 300});
    QMouseEvent move(QEvent::MouseMove, QPointF(250, 280), form().Image2->mapToGlobal(QPointF(250, 280)),
                     Qt::NoButton, Qt::MiddleButton, {});
    QApplication::sendEvent(form().Image2, &move);
    QTest::mouseRelease(form().Image2, Qt::MiddleButton, {}, {250, 280});
    QCOMPARE(form().Point(), point);
    QCOMPARE(form().Viewport().PictureRect(), before.translated(-50, -20));
    QCOMPARE(form().Image1->Placement(), std::optional(before.translated(-50, -20)));
    QCOMPARE(form().Image3->Placement(), form().Image1->Placement());
    // The scroll bars say where the view is, and move it.
    QVERIFY(form().ScrollH[1]->isVisible());
    QCOMPARE(form().ScrollH[1]->value(), int(50 - before.left()));
    form().ScrollV[1]->setValue(0);
    QCOMPARE(form().Viewport().PictureRect().top(), 0.0);
  }

  void thePreviewIsMadeOfWhatIsVisible() {
    w_->Open(WriteTestPicture(dir_, "p.bmp", RandomPicture(3000, 2000, 4)));
    form().MenuCP->trigger();
    form().MenuVA->trigger();
    form().TrackBarBlur->setValue(9);
    QVERIFY(form().Image1->ShowsPreview());
    // The view's pixels at 100 %, and a margin for the blur.
    QCOMPARE(form().Image1->Preview().size(), form().Image2->size() + QSize(96, 96));
  }
};

QTEST_MAIN(TestZoom)
#include "zoom_test.moc"
