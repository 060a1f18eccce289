// Config > Live Preview and the band dragged on the view: the exact result
// shown is what the Apply buttons make, a drag ends as a click does, the
// side lines and the handle set the depth and the angle the geometry
// says, and a result made for settings since moved is never shown.
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QThreadPool>
#include <QWheelEvent>
#include <cmath>

#include "ui/guide_overlay.h"
#include "ui/image_view.h"
#include "ui/live_preview.h"
#include "ui_test_support.h"

using TState = TLivePreview::TState;

class TestPreview : public TWindowTest {
  Q_OBJECT

  void Load(const TBitmap& picture) {
    w_->Open(WriteTestPicture(dir_, "p.png", picture));
    form().Work().Wait();
  }
  TPoint Centre() { return {form().Image2->width() / 2, form().Image2->height() / 2}; }
  QPoint At(TPoint p, double angle, double along, double across) {
    const double a = angle * M_PI / 180;
    return QPoint(int(std::lround(p.X + along * std::cos(a) - across * std::sin(a))),
                  int(std::lround(p.Y + along * std::sin(a) + across * std::cos(a))));
  }
  void Drag(QPoint from, QPoint to) {
    QTest::mousePress(form().Image2, Qt::LeftButton, {}, from);
    QTest::mouseMove(form().Image2, (from + to) / 2);
    QTest::mouseMove(form().Image2, to);
    QTest::mouseRelease(form().Image2, Qt::LeftButton, {}, to);
  }
  // The two buttons' result, made by the engine alone.
  TBitmap Expected(const TBitmap& picture, bool tone, TPoint point, int blur) {
    MiniatureEngine e;
    e.LoadPicture(picture);
    if (tone) e.ApplyTone(DefaultSaturation, DefaultContrast, DefaultBrightness);
    e.ApplyMiniature(point,
                     {form().Image2->width(), form().Image2->height(), form().TrackBarAngle->value(),
                      form().TrackBarDepth->value(), BlurSlope::Medium},
                     blur);
    return e.TargetBMP();
  }

 private slots:
  void init() { w_ = std::make_unique<TShownWindows>(); }
  void cleanup() { w_.reset(); }

  void theExactResultIsWhatApplyMakes_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("offset");  // of the focus point from the view's centre
    QTest::addColumn<int>("angle");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("blur");
    QTest::addColumn<bool>("toneApplied");
    QTest::addColumn<bool>("originalTab");
    QTest::newRow("level, centre") << QSize(640, 480) << QPoint(0, 0) << 0 << 50 << 7 << true << false;
    QTest::newRow("tilted, off centre")
        << QSize(640, 480) << QPoint(60, -40) << 30 << 80 << 12 << true << false;
    QTest::newRow("upright, point in the margin")
        << QSize(300, 500) << QPoint(250, 20) << -45 << 20 << 5 << true << false;
    QTest::newRow("Original tab in front")
        << QSize(640, 480) << QPoint(-30, 50) << 75 << 120 << 9 << true << true;
    QTest::newRow("tone not applied") << QSize(640, 480) << QPoint(10, 10) << 10 << 50 << 7 << false << false;
  }
  void theExactResultIsWhatApplyMakes() {
    QFETCH(QSize, size);
    QFETCH(QPoint, offset);
    QFETCH(int, angle);
    QFETCH(int, depth);
    QFETCH(int, blur);
    QFETCH(bool, toneApplied);
    QFETCH(bool, originalTab);
    const TBitmap picture = RandomPicture(size.width(), size.height(), 3);
    Load(picture);
    QVERIFY(!form().MenuCP->isChecked());  // off at start
    if (toneApplied) form().BitBtnEffects->click();
    if (originalTab) form().PageControl1->setCurrentWidget(form().TabSheetOriginal);
    form().TrackBarAngle->setValue(angle);
    form().TrackBarDepth->setValue(depth);
    form().TrackBarBlur->setValue(blur);
    const TPoint point{Centre().X + offset.x(), Centre().Y + offset.y()};
    form().Image2MouseUp(Qt::LeftButton, {}, point.X, point.Y);
    form().MenuCP->trigger();
    QCOMPARE(form().LivePreview().State(), TState::Draft);
    form().LivePreview().StartExactNow();
    QCOMPARE(form().LivePreview().State(), TState::Exact);
    QVERIFY(form().PreviewMark->isVisibleTo(form().TabSheetModified));
    // The preview shows both buttons' result, the tone included.
    QVERIFY(ViewShows(form().Image1->Picture(), Expected(picture, true, point, blur)));
    form().BitBtnBlur->click();
    // The lower Apply makes what it always made: the preview's result when
    // the tone is applied, the miniature of the untoned picture otherwise.
    QCOMPARE(engine().TargetBMP(), Expected(picture, toneApplied, point, blur));
    QCOMPARE(form().LivePreview().State(), toneApplied ? TState::Applied : TState::Draft);
    QCOMPARE(form().PreviewMark->isVisibleTo(form().TabSheetModified), !toneApplied);
  }

  void aDragEndsAsAClickThere_data() {
    QTest::addColumn<int>("start");  // where the press is: 0 anywhere, 1 on a side line, 2 on the handle
    QTest::addColumn<QPoint>("move");
    QTest::newRow("drag the point") << 0 << QPoint(140, -90);
    QTest::newRow("press on a side line without moving") << 1 << QPoint(0, 0);
    QTest::newRow("press on the handle without moving") << 2 << QPoint(0, 0);
  }
  void aDragEndsAsAClickThere() {
    QFETCH(int, start);
    QFETCH(QPoint, move);
    Load(RandomPicture(400, 300, 5));
    form().TrackBarAngle->setValue(20);
    const TPoint c = Centre();
    const QPoint from = start == 0   ? At(c, 20, -80, 60)
                        : start == 1 ? At(c, 20, 100, form().GuideDepth())
                                     : form().Image2->HandlePosition().toPoint();
    Drag(from, from + move);
    QCOMPARE(form().Point(), (TPoint{from.x() + move.x(), from.y() + move.y()}));
    QCOMPARE(form().TrackBarAngle->value(), 20);
    QCOMPARE(form().TrackBarDepth->value(), DefaultDepth);
  }

  void aDraggedSideLineSetsTheDepth_data() {
    QTest::addColumn<int>("angle");
    QTest::addColumn<double>("distance");  // of the released side line from the middle one
    QTest::newRow("level, narrower") << 0 << 20.0;
    QTest::newRow("level, wider") << 0 << 130.0;
    QTest::newRow("tilted, upper line") << 30 << -60.0;
    QTest::newRow("upright") << 90 << 80.0;
    QTest::newRow("beyond the widest band") << -60 << 400.0;
  }
  void aDraggedSideLineSetsTheDepth() {
    QFETCH(int, angle);
    QFETCH(double, distance);
    Load(RandomPicture(400, 300, 5));
    form().TrackBarAngle->setValue(angle);
    const TPoint c = Centre();
    form().Image2MouseUp(Qt::LeftButton, {}, c.X, c.Y);
    const double side = distance < 0 ? -form().GuideDepth() : form().GuideDepth();
    Drag(At(c, angle, 30, side), At(c, angle, 30, distance));
    QCOMPARE(form().Point(), c);  // the band is where it was
    // The band as drawn is as wide as the drag says, to half a step of the
    // slider (one step is min(width, height) / 600 pixels).
    const int side600 = std::min(form().Image2->width(), form().Image2->height());
    if (std::abs(distance) > 200.0 * side600 / 600) {
      QCOMPARE(form().TrackBarDepth->value(), 200);
    } else {
      QVERIFY2(std::abs(form().GuideDepth() - std::abs(distance)) <= 0.5 * side600 / 600 + 0.5,
               qPrintable(QString("depth %1 for %2").arg(form().GuideDepth()).arg(distance)));
    }
  }

  void theHandleAndTheWheelSetTheAngle_data() {
    QTest::addColumn<int>("angle");
    QTest::addColumn<int>("notches");
    QTest::newRow("down to the right") << 30 << 2;
    QTest::newRow("up to the right") << -60 << -1;
    QTest::newRow("upright, the wheel stops at 90") << 89 << 3;
  }
  void theHandleAndTheWheelSetTheAngle() {
    QFETCH(int, angle);
    QFETCH(int, notches);
    Load(RandomPicture(400, 300, 5));
    const TPoint c = Centre();
    form().Image2MouseUp(Qt::LeftButton, {}, c.X, c.Y);
    Drag(form().Image2->HandlePosition().toPoint(), At(c, angle, 120, 0));
    QCOMPARE(form().TrackBarAngle->value(), angle);
    QCOMPARE(form().Point(), c);
    QWheelEvent wheel(QPointF(50, 50), form().Image2->mapToGlobal(QPointF(50, 50)), {}, {0, 120 * notches},
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(form().Image2, &wheel);
    QCOMPARE(form().TrackBarAngle->value(), std::min(angle + notches, 90));
  }

  void aControlMovedDuringTheWorkNeverShowsAStaleResult_data() {
    QTest::addColumn<bool>("workDone");  // the work has ended, its completion not yet run
    QTest::newRow("moved while it runs") << false;
    QTest::newRow("moved after it ended") << true;
  }
  void aControlMovedDuringTheWorkNeverShowsAStaleResult() {
    QFETCH(bool, workDone);
    w_ = std::make_unique<TShownWindows>(false);
    const TBitmap picture = RandomPicture(800, 600, 9);
    Load(picture);
    form().BitBtnEffects->click();
    form().Work().Wait();
    form().MenuCP->trigger();
    form().LivePreview().StartExactNow();  // for blur 7
    if (workDone) QThreadPool::globalInstance()->waitForDone();
    form().TrackBarBlur->setValue(12);
    form().LivePreview().ExactWork().Wait();
    QCOMPARE(form().LivePreview().State(), TState::Draft);
    QTRY_COMPARE_WITH_TIMEOUT(form().LivePreview().State(), TState::Exact, 20000);
    QVERIFY(ViewShows(form().Image1->Picture(), Expected(picture, true, form().Point(), 12)));
  }
};

QTEST_MAIN(TestPreview)
#include "preview_test.moc"
