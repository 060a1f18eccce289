// The main window driven through its controls: start state, captions,
// the two "Apply" buttons, guide lines, files, questions, drops, the Edit
// commands and the error guard.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <optional>

#include "engine/miniature_engine.h"
#include "engine/recipe.h"
#include "engine/version.h"
#include "imaging/rotation.h"
#include "ui/guide_overlay.h"
#include "ui/image_view.h"
#include "ui/widgets.h"
#include "ui_test_support.h"

// Large allocations fail while this is set: the way a test runs the
// window out of memory in the middle of a step.
static bool gFailLargeAllocations = false;

void* operator new(std::size_t size) {
  if (gFailLargeAllocations && size >= (std::size_t(1) << 19)) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
// The array forms too, so that memory from new[] anywhere in the program
// (libraries included) is given back the way it was taken.
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
// And the nothrow forms, which the decoders use for their rows.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (gFailLargeAllocations && size >= (std::size_t(1) << 19)) return nullptr;
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace {

const QString kDiscard = "Current picture not saved yet.\nDo you want to discard it and load a new picture ?";
const QString kClose = "Current picture not saved yet.\nDo you want to finish work anyway ?";

QColor OverlayPixel(const TGuideOverlay& overlay, int x, int y) {
  return overlay.Picture().pixelColor(x, y);
}

bool IsRed(const QColor& c) {
  return c == QColor(255, 0, 0);
}
bool IsYellow(const QColor& c) {
  return c == QColor(255, 255, 0);
}

// A miniature made by the engine alone, the way the window should make it.
TBitmap EngineMiniature(const TBitmap& picture, TPoint point, const FocusSettings& focus, int blur,
                        std::optional<RECEFFECT> tone = {}) {
  MiniatureEngine engine;
  engine.LoadPicture(picture);
  if (tone) engine.ApplyTone(tone->Saturation, tone->Contrast, tone->Brightness);
  engine.ApplyMiniature(point, focus, blur);
  return engine.TargetBMP();
}

}  // namespace

class TestForm1 : public TWindowTest {
  Q_OBJECT

  // A 640 x 480 picture with a diagonal gradient and noise.
  TBitmap Photo(int w = 640, int h = 480, std::uint32_t seed = 7) {
    TBitmap picture = RandomPicture(w, h, seed);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        Rgb c = PixelAt(picture, x, y);
        SetPixel(picture, x, y, {(c.r / 4 + x * 191 / w), (c.g / 4 + y * 191 / h), (c.b / 4 + 60)});
      }
    return picture;
  }

  QString Load(const TBitmap& picture, const QString& name = "boat.png") {
    const QString path = WriteTestPicture(dir_, name, picture);
    w_->Open(path);
    return path;
  }

 private slots:
  void init() { w_ = std::make_unique<TShownWindows>(); }
  void cleanup() {
    gFailLargeAllocations = false;
    w_.reset();
  }

  void startState() {
    QCOMPARE(form().windowTitle(), QString("Tessarin"));
    QCOMPARE(form().PageControl1->currentWidget(), form().TabSheetModified);
    const QList<QLabel*> labels = {form().LabelSaturation, form().LabelContrast, form().LabelBrightness,
                                   form().LabelAngle,      form().LabelDepth,    form().LabelBlur};
    QStringList texts;
    for (QLabel* l : labels) texts << l->text();
    QCOMPARE(texts, QStringList({"40", "10", "-5", "0", "50", "7"}));
    QVERIFY(form().Image2->isVisible());
    QCOMPARE(form().Image2->geometry(), form().Image1->geometry());
    QCOMPARE(form().Image1->geometry(), form().TabSheetModified->rect());
    QCOMPARE(form().Point(), (TPoint{form().Image2->width() / 2, form().Image2->height() / 2}));
    QVERIFY(form().MenuCL->isChecked());
    QVERIFY(!form().MenuC1->isChecked() && form().MenuC2->isChecked() && !form().MenuC3->isChecked());
    QCOMPARE(form().centralWidget()->size(), QSize(944, 584));
    QCOMPARE(form().Panel1->geometry(), QRect(944 - 176, 0, 176, 584));
    // Both tabs show a grey area of the view's size until a picture is read.
    QCOMPARE(form().Image1->Picture().size(), form().Image1->size());
    QCOMPARE(form().Image3->Picture().size(), form().Image1->size());
  }

  void sliders_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("tick");
    QTest::newRow("saturation") << "TrackBarSaturation" << 34 << 0 << 100 << 5 << 20 << 5;
    QTest::newRow("contrast") << "TrackBarContrast" << 90 << 0 << 50 << 5 << 10 << 5;
    QTest::newRow("brightness") << "TrackBarBrightness" << 146 << -50 << 50 << 5 << 20 << 5;
    QTest::newRow("angle") << "TrackBarAngle" << 258 << -90 << 90 << 5 << 20 << 5;
    QTest::newRow("depth") << "TrackBarDepth" << 314 << 1 << 200 << 5 << 20 << 5;
    QTest::newRow("blur") << "TrackBarBlur" << 370 << 0 << 20 << 5 << 2 << 1;
  }

  void sliders() {
    QFETCH(QString, name);
    auto* s = form().findChild<QSlider*>(name);
    QVERIFY(s);
    QFETCH(int, top);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, line);
    QFETCH(int, page);
    QFETCH(int, tick);
    QCOMPARE(s->geometry(), QRect(12, top, 150, 25));
    QCOMPARE(s->orientation(), Qt::Horizontal);
    QCOMPARE(QList<int>({s->minimum(), s->maximum(), s->singleStep(), s->pageStep(), s->tickInterval()}),
             QList<int>({minimum, maximum, line, page, tick}));
    // The value label keeps its right edge at 151 whatever its text.
    const QString valueName = "Label" + name.mid(QString("TrackBar").size());
    auto* value = form().findChild<QLabel*>(valueName);
    QVERIFY(value);
    s->setValue(minimum);
    QCOMPARE(value->text(), QString::number(minimum));
    QCOMPARE(value->geometry().right() + 1, 151);
    QVERIFY(value->fontMetrics().horizontalAdvance(value->text()) <= value->width());
  }

  void tabOrder() {
    QList<QWidget*> chain;
    QWidget* w = form().PageControl1;
    for (int i = 0; i < 9; ++i, w = w->nextInFocusChain()) {
      while (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(&form()) ||
             !(w == form().PageControl1 || w->parentWidget() == form().Panel1))
        w = w->nextInFocusChain();
      chain << w;
    }
    const QList<QWidget*> expected = {
        form().PageControl1,       form().TrackBarSaturation, form().TrackBarContrast,
        form().TrackBarBrightness, form().BitBtnEffects,      form().TrackBarAngle,
        form().TrackBarDepth,      form().TrackBarBlur,       form().BitBtnBlur};
    QCOMPARE(chain, expected);
  }

  void captionClicks_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("slider");
    QTest::addColumn<int>("moved");
    QTest::addColumn<int>("fallback");
    QTest::addColumn<bool>("redraws");
    QTest::newRow("Saturation") << "Label5"
                                << "TrackBarSaturation" << 75 << 40 << false;
    QTest::newRow("Contrast") << "Label3"
                              << "TrackBarContrast" << 0 << 10 << false;
    QTest::newRow("Brightness") << "Label7"
                                << "TrackBarBrightness" << 30 << -5 << false;
    QTest::newRow("Angle") << "Label1"
                           << "TrackBarAngle" << -45 << 0 << true;
    QTest::newRow("Depth") << "Label2"
                           << "TrackBarDepth" << 80 << 50 << true;
    QTest::newRow("Blur") << "Label4"
                          << "TrackBarBlur" << 3 << 7 << false;
  }

  void captionClicks() {
    QFETCH(QString, caption);
    QFETCH(QString, slider);
    QFETCH(int, moved);
    QFETCH(int, fallback);
    QFETCH(bool, redraws);
    auto* label = form().findChild<TCaptionLabel*>(caption);
    auto* s = form().findChild<QSlider*>(slider);
    QVERIFY(label && s);
    // At the default a click changes nothing, not even the guide lines.
    const qint64 before = form().Image2->Picture().cacheKey();
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(form().Image2->Picture().cacheKey(), before);
    s->setValue(moved);
    const qint64 afterMove = form().Image2->Picture().cacheKey();
    QCOMPARE(afterMove != before, redraws);
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(s->value(), fallback);
    QCOMPARE(form().findChild<QLabel*>("Label" + slider.mid(8))->text(), QString::number(fallback));
    QCOMPARE(form().Image2->Picture().cacheKey() != afterMove, redraws);
    QVERIFY(!engine().Modified());
  }

  void guideLinesFollowPointAngleAndDepth() {
    const int w = form().Image2->width(), h = form().Image2->height();
    const int depth = int(std::nearbyint(50.0L / 600 * std::min(w, h)));
    const TPoint p = form().Point();
    // Level band: the red line on the point's row, the yellow ones depth - 1
    // above and below (the angle's trip through a float shortens them).
    QVERIFY(IsRed(OverlayPixel(*form().Image2, 5, p.Y)));
    QVERIFY(IsYellow(OverlayPixel(*form().Image2, 5, p.Y - (depth - 1))));
    QVERIFY(IsYellow(OverlayPixel(*form().Image2, w - 5, p.Y + (depth - 1))));
    QCOMPARE(OverlayPixel(*form().Image2, 5, p.Y + 3).alpha(), 0);
    // A right-button release moves the focus point too.
    QTest::mouseClick(form().Image2, Qt::RightButton, {}, QPoint(100, 60));
    QCOMPARE(form().Point(), (TPoint{100, 60}));
    QVERIFY(IsRed(OverlayPixel(*form().Image2, 5, 60)));
    QVERIFY(!IsRed(OverlayPixel(*form().Image2, 5, p.Y)));
    // Upright band at 90 degrees: the red line runs down the point's column.
    form().TrackBarAngle->setValue(90);
    QVERIFY(IsRed(OverlayPixel(*form().Image2, 100, 5)));
    QVERIFY(IsRed(OverlayPixel(*form().Image2, 100, h - 5)));
    // At 45 degrees the line through (100, 60) falls one pixel per pixel.
    form().TrackBarAngle->setValue(45);
    QVERIFY(IsRed(OverlayPixel(*form().Image2, 150, 110)));
    QVERIFY(IsRed(OverlayPixel(*form().Image2, 60, 20)));
    QCOMPARE(form().LabelAngle->text(), QString("45"));
  }

  void hiddenGuideLinesTakeNoClicks() {
    form().MenuCL->trigger();
    QVERIFY(!form().MenuCL->isChecked());
    QVERIFY(!form().Image2->isVisible());
    const TPoint before = form().Point();
    QTest::mouseClick(form().Image1, Qt::LeftButton, {}, QPoint(30, 40));
    QCOMPARE(form().Point(), before);
    // The slider still redraws the hidden overlay; shown again it has the new lines.
    form().TrackBarAngle->setValue(90);
    form().MenuCL->trigger();
    QVERIFY(form().Image2->isVisible());
    QVERIFY(IsRed(OverlayPixel(*form().Image2, before.X, 3)));
  }

  void slopeItemsActAsOneGroup() {
    form().MenuC3->trigger();
    QVERIFY(!form().MenuC1->isChecked() && !form().MenuC2->isChecked() && form().MenuC3->isChecked());
    form().MenuC3->trigger();  // choosing the checked item keeps it checked
    QVERIFY(form().MenuC3->isChecked());
    form().MenuC1->trigger();
    QVERIFY(form().MenuC1->isChecked() && !form().MenuC2->isChecked() && !form().MenuC3->isChecked());
  }

  void nothingWithoutAPicture() {
    form().BitBtnEffects->click();
    form().BitBtnBlur->click();
    form().MenuEL->trigger();
    form().MenuER->trigger();
    form().MenuES->trigger();
    form().MenuFS->trigger();
    QVERIFY(!engine().Modified());
    QVERIFY(!Form2->isVisible());
    QCOMPARE(dialogs().saveProposals.size(), 0);
    QCOMPARE(form().windowTitle(), QString("Tessarin"));
    QCOMPARE(engine().TargetBMP().Width(), 0);
    QVERIFY(dialogs().errors.isEmpty());
  }

  void openShowsThePictureAndNamesIt() {
    const TBitmap photo = Photo();
    const QString path = Load(photo, "boat.png");
    QCOMPARE(form().windowTitle(), QString("Tessarin (boat.png) 640 x 480"));
    QCOMPARE(form().SaveFileName(), dir_.filePath("Tessarin_boat.png"));
    QCOMPARE(form().CurrentFileName(), path);
    for (const TBitmap* b :
         {&engine().OriginalBMP(), &engine().ResizedBMP(), &engine().ModifiedBMP(), &engine().TargetBMP()})
      QVERIFY(*b == photo);
    QVERIFY(ViewShows(form().Image1->Picture(), photo));
    QVERIFY(ViewShows(form().Image3->Picture(), photo));
    QCOMPARE(form().PageControl1->currentWidget(), form().TabSheetModified);
    QVERIFY(dialogs().questions.isEmpty());
    // The open dialog starts from the file last read.
    w_->Open(QString());
    QCOMPARE(dialogs().openProposals.last(), path);
  }

  void titleShowsTheNameAsWritten() {
    // "[*]" would otherwise be taken for Qt's unsaved-changes mark and vanish.
    Load(Photo(4, 3), "odd [*] name.png");
    QCOMPARE(form().windowHandle()->title(), QString("Tessarin (odd [*] name.png) 4 x 3"));
  }

  void toneApplyUsesTheThreeSliders() {
    const TBitmap photo = Photo();
    Load(photo);
    form().TrackBarSaturation->setValue(65);
    form().TrackBarContrast->setValue(25);
    form().TrackBarBrightness->setValue(-20);
    QTest::mouseClick(form().BitBtnEffects, Qt::LeftButton);
    MiniatureEngine reference;
    reference.LoadPicture(photo);
    reference.ApplyTone(65, 25, -20);
    QVERIFY(engine().TargetBMP() == reference.TargetBMP());
    QVERIFY(engine().ModifiedBMP() == reference.TargetBMP());
    QVERIFY(ViewShows(form().Image1->Picture(), reference.TargetBMP()));
    QVERIFY(engine().Modified());
    QVERIFY(engine().Effect().Applied);
    QCOMPARE(engine().Effect().Saturation, 65);
    QCOMPARE(engine().Effect().Contrast, 25);
    QCOMPARE(engine().Effect().Brightness, -20);
    QVERIFY(ViewShows(form().Image3->Picture(), photo));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
  }

  void toneOfZeroCopiesExactly() {
    const TBitmap photo = Photo();
    Load(photo);
    form().TrackBarSaturation->setValue(0);
    form().TrackBarContrast->setValue(0);
    form().TrackBarBrightness->setValue(0);
    form().BitBtnEffects->click();
    QVERIFY(engine().TargetBMP() == photo);
    QVERIFY(engine().Modified());
  }

  void movingSlidersChangesNoPicture() {
    const TBitmap photo = Photo();
    Load(photo);
    for (QSlider* s : {form().TrackBarSaturation, form().TrackBarContrast, form().TrackBarBrightness,
                       form().TrackBarAngle, form().TrackBarDepth, form().TrackBarBlur})
      s->setValue(s->maximum());
    QVERIFY(engine().TargetBMP() == photo);
    QVERIFY(!engine().Modified());
  }

  void miniatureApplyUsesPointAngleDepthSlopeAndBlur_data() {
    QTest::addColumn<QString>("slopeItem");
    QTest::addColumn<int>("slope");
    QTest::addColumn<int>("angle");
    QTest::newRow("narrow, -60") << "MenuC1" << int(BlurSlope::Narrow) << -60;
    QTest::newRow("medium, 15") << "MenuC2" << int(BlurSlope::Medium) << 15;
    QTest::newRow("wide, 30") << "MenuC3" << int(BlurSlope::Wide) << 30;
  }

  void miniatureApplyUsesPointAngleDepthSlopeAndBlur() {
    QFETCH(QString, slopeItem);
    QFETCH(int, slope);
    QFETCH(int, angle);
    const TBitmap photo = Photo();
    Load(photo);
    form().TrackBarAngle->setValue(angle);
    form().TrackBarDepth->setValue(80);
    form().TrackBarBlur->setValue(4);
    form().findChild<QAction*>(slopeItem)->trigger();
    QTest::mouseClick(form().Image2, Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseClick(form().BitBtnBlur, Qt::LeftButton);
    const FocusSettings focus{form().Image2->width(), form().Image2->height(), angle, 80, BlurSlope(slope)};
    const TBitmap expected = EngineMiniature(photo, {200, 150}, focus, 4);
    QVERIFY(expected != photo);
    QVERIFY(engine().TargetBMP() == expected);
    QVERIFY(ViewShows(form().Image1->Picture(), expected));
    QVERIFY(engine().Modified());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    // Twice gives the same; a tone Apply drops the blur again.
    form().BitBtnBlur->click();
    QVERIFY(engine().TargetBMP() == expected);
    form().BitBtnEffects->click();
    MiniatureEngine toned;
    toned.LoadPicture(photo);
    toned.ApplyTone(40, 10, -5);
    QVERIFY(engine().TargetBMP() == toned.TargetBMP());
    // Pressed again, the miniature comes back on the new tones.
    form().BitBtnBlur->click();
    RECEFFECT tone{true, 40, 10, -5};
    QVERIFY(engine().TargetBMP() == EngineMiniature(photo, {200, 150}, focus, 4, tone));
  }

  void miniatureWithBlurZeroKeepsThePicture() {
    const TBitmap photo = Photo(64, 48);
    Load(photo);
    form().TrackBarBlur->setValue(0);
    form().BitBtnBlur->click();
    QVERIFY(engine().TargetBMP() == photo);
    QVERIFY(engine().Modified());
  }

  void rotationsTurnTheWholeChain() {
    const TBitmap photo = Photo();
    Load(photo, "turn.bmp");
    form().BitBtnBlur->click();
    const TBitmap blurred = engine().TargetBMP();
    form().MenuER->trigger();
    QCOMPARE(form().windowTitle(), QString("Tessarin (turn.bmp) 480 x 640"));
    for (const TBitmap* b :
         {&engine().OriginalBMP(), &engine().ResizedBMP(), &engine().ModifiedBMP(), &engine().TargetBMP()}) {
      QCOMPARE(b->Width(), 480);
      QCOMPARE(b->Height(), 640);
    }
    // Clockwise: the new top-left pixel is the old bottom-left one, and
    // new (x, y) is old (y, 479 - x); the blur turns with the picture.
    for (TPoint q : {TPoint{0, 0}, TPoint{479, 0}, TPoint{17, 300}, TPoint{479, 639}}) {
      QCOMPARE(PixelAt(engine().OriginalBMP(), q.X, q.Y), PixelAt(photo, q.Y, 479 - q.X));
      QCOMPARE(PixelAt(engine().TargetBMP(), q.X, q.Y), PixelAt(blurred, q.Y, 479 - q.X));
    }
    QVERIFY(ViewShows(form().Image1->Picture(), engine().TargetBMP()));
    QVERIFY(ViewShows(form().Image3->Picture(), engine().OriginalBMP()));
    form().MenuEL->trigger();
    QVERIFY(engine().OriginalBMP() == photo);
    QVERIFY(engine().TargetBMP() == blurred);
    QCOMPARE(form().windowTitle(), QString("Tessarin (turn.bmp) 640 x 480"));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
  }

  void rotationAloneAsksNothingOnClose() {
    Load(Photo(40, 30));
    form().MenuEL->trigger();
    form().close();
    QVERIFY(!form().isVisible());
    QVERIFY(dialogs().questions.isEmpty());
  }

  void closeQuestion_data() {
    QTest::addColumn<bool>("modified");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closed");
    QTest::newRow("nothing to save") << false << QList<bool>{false} << false << true;
    QTest::newRow("modified, No") << true << QList<bool>{false} << true << false;
    QTest::newRow("modified, Yes") << true << QList<bool>{true} << true << true;
  }

  void closeQuestion() {
    QFETCH(bool, modified);
    QFETCH(QList<bool>, answers);
    QFETCH(bool, asked);
    QFETCH(bool, closed);
    const TBitmap photo = Photo(40, 30);
    Load(photo);
    if (modified) form().BitBtnEffects->click();
    const TBitmap shown = engine().TargetBMP();
    dialogs().answers = answers;
    form().MenuFX->trigger();  // File > Exit is the close button
    QCOMPARE(dialogs().questions, asked ? QStringList{kClose} : QStringList{});
    QCOMPARE(!form().isVisible(), closed);
    QVERIFY(engine().TargetBMP() == shown);
  }

  void discardQuestion_data() {
    QTest::addColumn<bool>("answer");
    QTest::newRow("No keeps the picture") << false;
    QTest::newRow("Yes reads the new one") << true;
  }

  void discardQuestion() {
    QFETCH(bool, answer);
    const TBitmap first = Photo(64, 48, 1), second = Photo(30, 20, 2);
    const QString firstPath = Load(first, "first.png");
    const QString secondPath = WriteTestPicture(dir_, "second.bmp", second);
    form().BitBtnEffects->click();
    const TBitmap toned = engine().TargetBMP();
    dialogs().answers = {answer};
    w_->Open(secondPath);
    QCOMPARE(dialogs().questions, QStringList{kDiscard});
    if (answer) {
      QVERIFY(engine().TargetBMP() == second);
      QCOMPARE(form().windowTitle(), QString("Tessarin (second.bmp) 30 x 20"));
      QVERIFY(!engine().Modified());
      QVERIFY(!engine().Effect().Applied);
    } else {
      // Title, save name and the name of the file shown all stay with the
      // picture on screen.
      QVERIFY(engine().TargetBMP() == toned);
      QCOMPARE(form().windowTitle(), QString("Tessarin (first.png) 64 x 48"));
      QCOMPARE(form().CurrentFileName(), firstPath);
      QCOMPARE(form().SaveFileName(), dir_.filePath("Tessarin_first.png"));
      QVERIFY(engine().Modified());
      form().MenuER->trigger();
      QCOMPARE(form().windowTitle(), QString("Tessarin (first.png) 48 x 64"));
    }
  }

  void readingANewFileResetsTheChainButNotTheSliders() {
    Load(Photo(64, 48, 1));
    form().TrackBarAngle->setValue(20);
    form().BitBtnEffects->click();
    form().BitBtnBlur->click();
    form().MenuER->trigger();
    const TBitmap next = Photo(50, 40, 3);
    dialogs().answers = {true};
    Load(next, "next.jpg.png");
    for (const TBitmap* b :
         {&engine().OriginalBMP(), &engine().ResizedBMP(), &engine().ModifiedBMP(), &engine().TargetBMP()})
      QVERIFY(*b == next);
    QVERIFY(!engine().Effect().Applied && !engine().Modified());
    QCOMPARE(form().TrackBarAngle->value(), 20);
  }

  void refusedFilesChangeNothing_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");  // a part of the error box's text
    QTest::newRow("unknown extension") << "notes.txt" << QByteArray("hello") << "unsupported file extension";
    QTest::newRow("no extension") << "picture" << QByteArray("BM") << "no extension";
    QTest::newRow("damaged PNG") << "broken.png" << QByteArray("\x89PNG\r\n\x1a\nbroken", 14) << "PNG";
    QTest::newRow("empty JPEG") << "empty.jpg" << QByteArray() << "empty";
    QTest::newRow("missing file") << "missing.gif" << QByteArray("-") << "cannot open";
  }

  void refusedFilesChangeNothing() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    const TBitmap photo = Photo(64, 48);
    const QString good = Load(photo, "good.png");
    form().BitBtnEffects->click();
    const TBitmap toned = engine().TargetBMP();
    const QString path = dir_.filePath(name);
    if (bytes != "-") {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(bytes);
    }
    dialogs().answers = {true};
    w_->Open(path);
    QCOMPARE(dialogs().errors.size(), 1);
    QVERIFY2(dialogs().errors[0].contains(message), qPrintable(dialogs().errors[0]));
    QVERIFY2(dialogs().errors[0].contains(path), qPrintable(dialogs().errors[0]));
    QVERIFY(engine().TargetBMP() == toned);
    QVERIFY(engine().OriginalBMP() == photo);
    QVERIFY(engine().Modified() && engine().Effect().Applied);
    QCOMPARE(form().windowTitle(), QString("Tessarin (good.png) 64 x 48"));
    QCOMPARE(form().CurrentFileName(), good);
  }

  void drops_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("read");
    QTest::newRow("one file") << QStringList{"drop.bmp"} << QString() << true;
    QTest::newRow("two files") << QStringList{"drop.bmp", "other.bmp"} << "Multi files not allowed." << false;
    QTest::newRow("a folder") << QStringList{"folder"} << "no extension" << false;
    QTest::newRow("a folder named like a picture")
        << QStringList{"folder.png"} << "not a regular file" << false;
  }

  void drops() {
    QFETCH(QStringList, names);
    QFETCH(QString, error);
    QFETCH(bool, read);
    Load(Photo(64, 48), "shown.png");
    form().BitBtnEffects->click();  // modified: a read asks first
    const TBitmap dropped = Photo(20, 10, 5);
    WriteTestPicture(dir_, "drop.bmp", dropped);
    WriteTestPicture(dir_, "other.bmp", dropped);
    QDir(dir_.path()).mkdir("folder");
    QDir(dir_.path()).mkdir("folder.png");
    QList<QUrl> urls;
    for (const QString& n : names) urls << QUrl::fromLocalFile(dir_.filePath(n));
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&form(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&form(), &drop);
    if (read) {
      QCOMPARE(dialogs().questions, QStringList{kDiscard});
      QVERIFY(engine().TargetBMP() == dropped);
      QCOMPARE(form().windowTitle(), QString("Tessarin (drop.bmp) 20 x 10"));
      QVERIFY(dialogs().errors.isEmpty());
    } else {
      QCOMPARE(dialogs().errors.size(), 1);
      QVERIFY2(dialogs().errors[0].contains(error), qPrintable(dialogs().errors[0]));
      if (names.size() > 1) QVERIFY(dialogs().questions.isEmpty());
      QCOMPARE(form().windowTitle(), QString("Tessarin (shown.png) 64 x 48"));
      QVERIFY(engine().Modified());
    }
  }

  void saveWritesTheShownPicture() {
    const TBitmap photo = Photo(64, 48);
    Load(photo, "boat.bmp");
    form().BitBtnBlur->click();
    const QString target = dir_.filePath("Tessarin_boat.bmp");
    dialogs().saveResults << target;
    form().MenuFS->trigger();
    QCOMPARE(dialogs().saveProposals, QStringList{target});
    QVERIFY(!engine().Modified());
    TBitmap written;
    std::string error;
    QVERIFY(ReadPicture(QFile::encodeName(target).toStdString(), written, error));
    QVERIFY(written == engine().TargetBMP());
    // The next Save proposes the path chosen; a cancelled one changes nothing.
    form().BitBtnEffects->click();
    form().MenuFS->trigger();
    QCOMPARE(dialogs().saveProposals.last(), target);
    QVERIFY(engine().Modified());
  }

  // File > Save Look writes the controls as a recipe of one keyframe; Load
  // Look sets them back; the recipe makes the bytes of the two Apply buttons.
  void looksSaveAndLoadAsRecipes() {
    const TBitmap photo = Photo(320, 240);
    Load(photo);
    const QList<QPair<QSlider*, int>> values = {
        {form().TrackBarSaturation, 70}, {form().TrackBarContrast, 20}, {form().TrackBarBrightness, 5},
        {form().TrackBarAngle, -20},     {form().TrackBarDepth, 80},    {form().TrackBarBlur, 12},
        {form().TrackBarBokeh, 70}};
    for (const auto& [slider, value] : values) slider->setValue(value);
    form().MenuC3->trigger();
    form().MenuCON->trigger();
    form().MenuCHE->trigger();
    form().Image2MouseUp(Qt::LeftButton, {}, 100, 90);
    const Look saved = form().CurrentLook();
    const QString path = dir_.filePath("look.json");
    dialogs().saveResults << path;
    form().MenuFL->trigger();
    for (const auto& [slider, value] : values) slider->setValue(slider->minimum());
    form().MenuC1->trigger();
    form().MenuCOC->trigger();
    form().MenuCHB->trigger();
    form().Image2MouseUp(Qt::LeftButton, {}, 10, 10);
    dialogs().openResults << path;
    form().MenuFA->trigger();
    QVERIFY(form().CurrentLook() == saved);

    for (QAction* look : {form().MenuCON, form().MenuCOC}) {
      look->trigger();
      dialogs().saveResults << path;
      form().MenuFL->trigger();
      form().BitBtnEffects->click();
      form().BitBtnBlur->click();
      TBitmap picture = photo, target;
      TFocusMaskCache masks;
      MiniatureEngine::RenderLook(
          picture, ReadRecipe(QFile::encodeName(path).toStdString(), {}).keyframes[0].look, masks, target);
      QVERIFY(target == engine().TargetBMP());
    }

    // A bad look: an error box naming the key, and nothing changes.
    const Look before = form().CurrentLook();
    QFile bad(dir_.filePath("bad.json"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(R"({"keyframes": [{"frame": 0, "angle": 10, "bokeh": 400}]})");
    bad.close();
    dialogs().openResults << bad.fileName();
    form().MenuFA->trigger();
    QCOMPARE(dialogs().errors.size(), 1);
    QVERIFY2(dialogs().errors[0].contains("bokeh"), qPrintable(dialogs().errors[0]));
    QVERIFY(form().CurrentLook() == before);
  }

  void failedSaveKeepsTheChangesFlag_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown extension") << "result.psd"
                                       << "unsupported file extension";
    QTest::newRow("missing folder") << "gone/result.png"
                                    << "gone";
  }

  void failedSaveKeepsTheChangesFlag() {
    QFETCH(QString, target);
    QFETCH(QString, message);
    Load(Photo(64, 48));
    form().BitBtnEffects->click();
    dialogs().saveResults << dir_.filePath(target);
    form().MenuFS->trigger();
    QCOMPARE(dialogs().errors.size(), 1);
    QVERIFY2(dialogs().errors[0].contains(message), qPrintable(dialogs().errors[0]));
    QVERIFY(engine().Modified());
    QVERIFY(!QFileInfo::exists(dir_.filePath(target)));
  }

  void fullDiskKeepsTheChangesFlagAndTheOldFile() {
    QTemporaryDir disk;
    const QString target = WriteTestPicture(disk, "photo.png", Photo(64, 48));
    w_->Open(target);
    form().BitBtnBlur->click();
    const QByteArray before = [&] {
      QFile f(target);
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }();
    // The disk fills up after a few bytes of the new file.
    SetWriteFunctionForTesting([](int, const void*, size_t count) -> ssize_t {
      errno = ENOSPC;
      return count > 16 ? -1 : ssize_t(count);
    });
    dialogs().saveResults << target;
    form().MenuFS->trigger();
    SetWriteFunctionForTesting(nullptr);
    QCOMPARE(dialogs().errors.size(), 1);
    QVERIFY2(dialogs().errors[0].contains("No space left on device"), qPrintable(dialogs().errors[0]));
    QVERIFY(engine().Modified());
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary left
  }

  void resizeMenuOpensTheDialogAndRetitles() {
    Load(Photo(), "wide.png");
    QTimer::singleShot(0, [this] {
      QVERIFY(Form2->isVisible());
      Form2->EditWidth->setText("320");
      Form2->EditHeight->setText("240");
      Form2->ButtonApply->click();
    });
    form().MenuES->trigger();
    QVERIFY(!Form2->isVisible());
    QCOMPARE(form().windowTitle(), QString("Tessarin (wide.png) 320 x 240"));
    QCOMPARE(engine().TargetBMP().Width(), 320);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
  }

  void metadataGoesWithThePicture() {
    // Read as a JPEG from a camera, turned and resized, saved as PNG: the
    // camera data and the profile go along, brought up to date.
    const QString camera =
        QString::fromLocal8Bit(qgetenv("TESSARIN_SOURCE_DIR")) + "/tests/codecs/fixtures/metadata/camera.jpg";
    w_->Open(camera);
    QVERIFY(dialogs().informations.isEmpty());
    const TPictureMetadata read = engine().Metadata();
    QVERIFY(!read.icc.empty() && !read.xmp.empty() && !read.exif.empty());
    form().MenuER->trigger();
    const QString target = dir_.filePath("turned.png");
    dialogs().saveResults << target;
    form().MenuFS->trigger();
    QVERIFY(dialogs().errors.isEmpty());
    TBitmap picture;
    TPictureMetadata saved;
    std::string error;
    QVERIFY(ReadPicture(QFile::encodeName(target).toStdString(), picture, &saved, error, nullptr));
    QCOMPARE(picture.Width(), 48);  // 64 x 48 turned
    QVERIFY(saved.icc == read.icc);
    QVERIFY(saved.xmp == read.xmp);
    QVERIFY(saved.exif != read.exif);  // brought up to date: 48 x 64, orientation 1, no thumbnail
    // Reading another picture replaces it.
    Load(Photo(8, 6), "plain.bmp");
    QVERIFY(engine().Metadata().Empty());
  }

  void portraitPhotosStandUpright() {
    // Stored 32 x 48 on its side with orientation 6: shown 48 x 32.
    const QString sideways = QString::fromLocal8Bit(qgetenv("TESSARIN_SOURCE_DIR")) +
                             "/tests/codecs/fixtures/metadata/orient6.jpg";
    w_->Open(sideways);
    QCOMPARE(form().windowTitle(), QString("Tessarin (orient6.jpg) 48 x 32"));
    QCOMPARE(PixelAt(engine().OriginalBMP(), 8, 8).r > 200, true);  // red at the top left
  }

  void damagedCameraDataIsSaidOnceAndThePictureOpens() {
    const QString damaged = QString::fromLocal8Bit(qgetenv("TESSARIN_SOURCE_DIR")) +
                            "/tests/codecs/fixtures/metadata/damaged-loop.jpg";
    w_->Open(damaged);
    QCOMPARE(engine().OriginalBMP().Width(), 64);
    QCOMPARE(dialogs().informations.size(), 1);
    QVERIFY2(dialogs().informations[0].contains("camera data"), qPrintable(dialogs().informations[0]));
    QVERIFY(dialogs().errors.isEmpty());
    QVERIFY(engine().Metadata().Empty());
  }

  void versionBox() {
    form().MenuCV->trigger();
    QCOMPARE(dialogs().informations.size(), 1);
    const QStringList lines = dialogs().informations[0].split('\n');
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QString("[Tessarin] Version ") + kTessarinVersion);
    QVERIFY(lines[1].contains("2026"));
    QCOMPARE(lines[2], QString());
  }

  void runningOutOfMemoryLeavesTheWindowUsable() {
    const TBitmap photo = Photo(1000, 800);
    Load(photo);
    gFailLargeAllocations = true;
    form().BitBtnBlur->click();
    gFailLargeAllocations = false;
    QCOMPARE(dialogs().errors, QStringList{"Not enough memory for this operation."});
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(!engine().Modified());
    QVERIFY(ViewShows(form().Image1->Picture(), photo));
    // The window goes on working.
    form().TrackBarBlur->setValue(1);
    form().BitBtnBlur->click();
    QVERIFY(engine().Modified());
    QVERIFY(engine().TargetBMP() != photo);
  }
};

QTEST_MAIN(TestForm1)
#include "form1_test.moc"
