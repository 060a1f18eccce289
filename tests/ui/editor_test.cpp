// The window as an editor: commands off the user-interface thread, Undo
// and Redo, the keys, the minimum size, the views' sizes whichever tab is
// in front, the focus point through a resize, and saving without the
// camera data.
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <optional>

#include "imaging/resample.h"
#include "imaging/rotation.h"
#include "ui/guide_overlay.h"
#include "ui/image_view.h"
#include "ui/widgets.h"
#include "ui_test_support.h"

class TestEditor : public TWindowTest {
  Q_OBJECT

  QString Load(const TBitmap& picture, const QString& name = "p.png") {
    const QString path = WriteTestPicture(dir_, name, picture);
    w_->Open(path);
    return path;
  }

  // Resizes the dialog's way: Edit > Resize, the new width, Apply.
  void ResizeTo(int width, int height) {
    QTimer::singleShot(0, [=] {
      Form2->EditWidth->setText(QString::number(width));
      Form2->EditHeight->setText(QString::number(height));
      Form2->ButtonApply->click();
    });
    form().MenuES->trigger();
  }

  // Where the focus point lies on the picture, in picture pixels from its
  // centre, as the mask maps it.
  QPointF OnPicture(TPoint p) {
    const QSize v = form().Image2->size();
    const TBitmap& m = engine().ModifiedBMP();
    const double ratio = std::min(double(v.width()) / m.Width(), double(v.height()) / m.Height());
    return {(p.X - v.width() / 2.0) / ratio, (p.Y - v.height() / 2.0) / ratio};
  }

 private slots:
  void init() { w_ = std::make_unique<TShownWindows>(); }
  void cleanup() { w_.reset(); }

  void undoAndRedoRestoreEveryCommand_data() {
    QTest::addColumn<QString>("command");
    for (const char* c : {"tone", "miniature", "rotate left", "rotate right", "resize"})
      QTest::newRow(c) << c;
  }
  void undoAndRedoRestoreEveryCommand() {
    QFETCH(QString, command);
    Load(RandomPicture(90, 60, 3));
    form().BitBtnEffects->click();  // a toned chain, so that every stage differs
    const MiniatureEngine before = engine();
    if (command == "tone") {
      form().TrackBarSaturation->setValue(90);
      form().BitBtnEffects->click();
    } else if (command == "miniature") {
      form().BitBtnBlur->click();
    } else if (command == "rotate left") {
      form().MenuEL->trigger();
    } else if (command == "rotate right") {
      form().MenuER->trigger();
    } else {
      ResizeTo(45, 30);
    }
    const MiniatureEngine after = engine();
    QVERIFY(!(after.TargetBMP() == before.TargetBMP()));
    form().activateWindow();
    QTRY_VERIFY(form().isActiveWindow());
    QTest::keyClick(&form(), Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(engine().TargetBMP() == before.TargetBMP() && engine().OriginalBMP() == before.OriginalBMP());
    QVERIFY(engine().ResizedBMP() == before.ResizedBMP() && engine().ModifiedBMP() == before.ModifiedBMP());
    QCOMPARE(engine().Effect().Saturation, before.Effect().Saturation);
    QCOMPARE(engine().Modified(), before.Modified());
    QVERIFY(ViewShows(form().Image1->Picture(), before.TargetBMP()));
    QTest::keyClick(&form(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(engine().TargetBMP() == after.TargetBMP() && engine().OriginalBMP() == after.OriginalBMP());
    QCOMPARE(engine().Effect().Saturation, after.Effect().Saturation);
    QCOMPARE(engine().Modified(), after.Modified());
    QVERIFY(!form().MenuED->isEnabled());
  }

  void focusedCancelTakesEnter() {
    const TBitmap photo = RandomPicture(60, 40, 1);
    Load(photo);
    QTimer::singleShot(0, [] {
      Form2->EditWidth->setText("30");
      Form2->ButtonCancel->setFocus();
      QTest::keyClick(Form2->ButtonCancel, Qt::Key_Return);
      if (Form2->isVisible()) Form2->reject();
    });
    form().MenuES->trigger();
    QCOMPARE(engine().TargetBMP().Width(), 60);
    QVERIFY(!engine().CanUndo());
  }

  void noBusyCursorWhileTheDialogWaits() {
    Load(RandomPicture(60, 40, 1));
    std::optional<bool> busy;
    QTimer::singleShot(0, [&] {
      busy = QGuiApplication::overrideCursor() != nullptr;
      Form2->reject();
    });
    form().MenuES->trigger();
    QVERIFY(busy.has_value());
    QVERIFY(!*busy);
  }

  void bothPagesHaveTheVisibleSize_data() {
    QTest::addColumn<bool>("originalInFront");
    QTest::newRow("Original in front") << true;
    QTest::newRow("Modified in front") << false;
  }
  void bothPagesHaveTheVisibleSize() {
    QFETCH(bool, originalInFront);
    const TBitmap photo = RandomPicture(200, 100, 9);
    Load(photo);
    if (originalInFront) form().PageControl1->setCurrentWidget(form().TabSheetOriginal);
    form().resize(form().width() + 160, form().height() + 90);
    QTRY_COMPARE(form().TabSheetModified->size(), form().PageControl1->currentWidget()->size());
    QCOMPARE(form().Image2->size(), form().TabSheetOriginal->size());
    // The miniature is placed in the overlay's new size.
    form().BitBtnBlur->click();
    FocusSettings focus{form().Image2->width(), form().Image2->height(), DefaultAngle, DefaultDepth,
                        BlurSlope::Medium};
    MiniatureEngine reference;
    reference.LoadPicture(photo);
    reference.ApplyMiniature(form().Point(), focus, DefaultBlur);
    QVERIFY(engine().TargetBMP() == reference.TargetBMP());
  }

  void theFocusPointKeepsItsSpotThroughAResize_data() {
    QTest::addColumn<QSize>("grow");
    QTest::newRow("wider") << QSize(300, 0);
    QTest::newRow("taller") << QSize(0, 200);
    QTest::newRow("smaller") << QSize(-150, -60);
  }
  void theFocusPointKeepsItsSpotThroughAResize() {
    QFETCH(QSize, grow);
    Load(RandomPicture(300, 200, 4));
    QTest::mouseClick(form().Image2, Qt::LeftButton, {}, QPoint(250, 130));
    const QPointF spot = OnPicture(form().Point());
    const QImage linesBefore = form().Image2->Picture();
    form().resize(form().size() + grow);
    QTRY_VERIFY(form().Image2->Picture().size() != linesBefore.size());
    const QPointF now = OnPicture(form().Point());
    // Within the rounding of the point to whole view pixels.
    const double ratio = double(form().Image2->height()) / 200;
    QVERIFY2(std::abs(now.x() - spot.x()) <= 0.5 / ratio + 1e-9 &&
                 std::abs(now.y() - spot.y()) <= 0.5 / ratio + 1e-9,
             qPrintable(QString("%1,%2 -> %3,%4").arg(spot.x()).arg(spot.y()).arg(now.x()).arg(now.y())));
    // The lines were drawn again for the new size, through the point.
    QCOMPARE(form().Image2->Picture().size() / form().Image2->Picture().devicePixelRatio(),
             form().Image2->size());
    QCOMPARE(form().Image2->Picture().pixelColor(form().Point().X, form().Point().Y), QColor(255, 0, 0));
  }

  void theWindowKeepsEveryControlWhole() {
    form().resize(120, 100);
    QTRY_VERIFY(form().width() > 120);
    const QRect client = form().centralWidget()->rect();
    for (QWidget* control :
         {static_cast<QWidget*>(form().BitBtnBlur), static_cast<QWidget*>(form().TrackBarBlur),
          static_cast<QWidget*>(form().Shape2)}) {
      const QRect at(control->mapTo(form().centralWidget(), QPoint(0, 0)), control->size());
      QVERIFY2(client.contains(at), qPrintable(control->objectName()));
    }
  }

  void savingWithoutCameraDataKeepsTheProfile() {
    const QString camera =
        QString::fromLocal8Bit(qgetenv("TESSARIN_SOURCE_DIR")) + "/tests/codecs/fixtures/metadata/camera.jpg";
    w_->Open(camera);
    const TPictureMetadata read = engine().Metadata();
    QVERIFY(!read.exif.empty() && !read.xmp.empty() && !read.icc.empty());
    QVERIFY(form().MenuFK->isChecked());
    form().MenuFK->trigger();
    for (const char* name : {"plain.jpg", "plain.png"}) {
      const QString target = dir_.filePath(name);
      dialogs().saveResults << target;
      form().MenuFS->trigger();
      TBitmap picture;
      TPictureMetadata saved;
      std::string error;
      QVERIFY(ReadPicture(QFile::encodeName(target).toStdString(), picture, &saved, error, nullptr));
      QVERIFY2(saved.exif.empty() && saved.xmp.empty() && saved.iptc.empty(), name);
      QVERIFY2(saved.icc == read.icc, name);
    }
  }

  void backslashShowsThePictureAsRead() {
    const TBitmap photo = RandomPicture(60, 40, 8);
    Load(photo);
    form().BitBtnEffects->click();
    const TBitmap toned = engine().TargetBMP();
    QTest::keyPress(&form(), Qt::Key_Backslash);
    QVERIFY(ViewShows(form().Image1->Picture(), photo));
    QTest::keyRelease(&form(), Qt::Key_Backslash);
    QVERIFY(ViewShows(form().Image1->Picture(), toned));
  }

  // The first view must be a 1/2, 1/4 or 1/8 reduction that still covers
  // the picture's place in the view (the largest such), with the picture's
  // colours where they belong; the engine, the title and the commands
  // never see it, and the full picture (or, when that cannot be read, the
  // picture shown before) takes its place.
  void aLargeJpegShowsAReducedFirstViewUntilItIsRead_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("firstView");
    QTest::addColumn<bool>("readFails");
    QTest::newRow("large JPEG") << "big.jpg" << QSize(3200, 2400) << true << false;
    QTest::newRow("large JPEG, no memory for all of it") << "big.jpg" << QSize(3200, 2400) << true << true;
    QTest::newRow("JPEG that fits the view") << "small.jpg" << QSize(400, 300) << false << false;
    QTest::newRow("large PNG") << "big.png" << QSize(3200, 2400) << false << false;
  }
  void aLargeJpegShowsAReducedFirstViewUntilItIsRead() {
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(bool, firstView);
    QFETCH(bool, readFails);
    const int w = size.width(), h = size.height();
    const Rgb colours[4] = {{220, 30, 30}, {30, 200, 40}, {40, 40, 210}, {240, 240, 240}};
    const QString path = WriteTestPicture(dir_, name, MakePicture(w, h, [&](int x, int y) {
                                            return colours[2 * (2 * y >= h) + (2 * x >= w)];
                                          }));
    Load(RandomPicture(30, 20, 1));
    const TBitmap before = engine().TargetBMP();
    QImage shown;
    int firstViews = 0;
    bool engineKept = false;
    connect(&form().Work(), &TWorkRunner::InterimShown, [&] {
      ++firstViews;
      shown = form().Image1->Picture();
      QCOMPARE(form().Image3->Picture(), shown);
      engineKept = engine().TargetBMP() == before && form().windowTitle().contains("30 x 20");
      form().MenuER->trigger();  // refused while the picture is read
    });
    if (readFails) SetDecodeMemoryBudget(std::uint64_t(w) * h * 3);
    w_->Open(path);
    SetDecodeMemoryBudget(kDefaultDecodeMemoryBudget);
    QCOMPARE(firstViews, firstView ? 1 : 0);
    if (firstView) {
      QVERIFY(engineKept);
      const double dpr = form().Image1->devicePixelRatioF();
      const double fit = std::min(form().Image1->width() * dpr / w, form().Image1->height() * dpr / h);
      const auto covers = [&](int n) { return (w + n - 1) / n >= w * fit && (h + n - 1) / n >= h * fit; };
      int n = 8;
      while (n > 1 && !covers(n)) n /= 2;
      QVERIFY(n > 1);
      QCOMPARE(shown.size(), QSize((w + n - 1) / n, (h + n - 1) / n));
      for (int q = 0; q < 4; ++q) {
        const QColor c =
            shown.pixelColor((2 * (q % 2) + 1) * shown.width() / 4, (2 * (q / 2) + 1) * shown.height() / 4);
        QVERIFY2(std::abs(c.red() - colours[q].r) + std::abs(c.green() - colours[q].g) +
                         std::abs(c.blue() - colours[q].b) <=
                     30,
                 qPrintable(QString("quadrant %1").arg(q)));
      }
    }
    const TBitmap& now = engine().TargetBMP();
    QCOMPARE(dialogs().errors.size(), readFails ? 1 : 0);
    QCOMPARE(QSize(now.Width(), now.Height()), readFails ? QSize(30, 20) : size);
    QVERIFY(!engine().CanUndo());
    QVERIFY(ViewShows(form().Image1->Picture(), now));
    QVERIFY(ViewShows(form().Image3->Picture(), now));
  }

  void commandsRunOffTheUserInterfaceThread() {
    w_ = std::make_unique<TShownWindows>(false);
    const TBitmap photo = RandomPicture(1600, 1200, 2);
    const QString path = Load(photo);
    QVERIFY(form().Work().Busy());  // the read runs in the background
    QVERIFY(!form().MenuFO->isEnabled() && !form().BitBtnBlur->isEnabled());
    QVERIFY(QGuiApplication::overrideCursor() != nullptr);
    QTRY_VERIFY(!form().Work().Busy());
    QVERIFY(engine().OriginalBMP() == photo);
    QCOMPARE(form().windowTitle(), QString("Tessarin (p.png) 1600 x 1200"));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    // The miniature: the same bytes as the engine alone makes.
    form().TrackBarBlur->setValue(12);
    form().BitBtnBlur->click();
    QVERIFY(form().Work().Busy());
    form().BitBtnEffects->click();  // refused while the work runs
    QTRY_VERIFY(!form().Work().Busy());
    MiniatureEngine reference;
    reference.LoadPicture(photo);
    reference.ApplyMiniature(
        form().Point(), {form().Image2->width(), form().Image2->height(), DefaultAngle, DefaultDepth}, 12);
    QVERIFY(engine().TargetBMP() == reference.TargetBMP());
    QVERIFY(!engine().Effect().Applied);
    QVERIFY(form().MenuEU->isEnabled() && form().BitBtnEffects->isEnabled());
    // An error in the background: the same box, nothing changed.
    QFile::resize(path, 100);
    w_->Open(path);
    QTRY_VERIFY(!form().Work().Busy());
    QCOMPARE(dialogs().errors.size(), 1);
    QVERIFY(dialogs().errors[0].contains("p.png"));
    QVERIFY(engine().TargetBMP() == reference.TargetBMP());
  }
};

QTEST_MAIN(TestEditor)
#include "editor_test.moc"
