// The picture views' display rule, the scaled copy they paint from, and
// the filters of the picture dialogs.
#include <QComboBox>
#include <QFileDialog>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>

#include "support/pictures.h"
#include "ui/dialogs.h"
#include "ui/image_view.h"
#include "ui/view_geometry.h"
#include "ui/widgets.h"
#include "ui/window_title.h"

class TestViews : public QObject {
  Q_OBJECT

 private slots:
  void displayRect_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("control");
    QTest::addColumn<QRect>("expected");
    // Landscape, width first: 400 x 300 in 800 x 400 is height-bound: 533 x 400.
    QTest::newRow("wide view") << QSize(400, 300) << QSize(800, 400) << QRect(133, 0, 533, 400);
    QTest::newRow("tall view") << QSize(400, 300) << QSize(300, 900) << QRect(0, 337, 300, 225);
    // Upright and square pictures fit the height first.
    QTest::newRow("upright") << QSize(300, 400) << QSize(800, 400) << QRect(250, 0, 300, 400);
    QTest::newRow("upright, narrow view") << QSize(300, 400) << QSize(150, 900) << QRect(0, 350, 150, 200);
    QTest::newRow("square") << QSize(50, 50) << QSize(101, 60) << QRect(20, 0, 60, 60);
    // Small pictures are enlarged too.
    QTest::newRow("enlarged") << QSize(10, 5) << QSize(700, 500) << QRect(0, 75, 700, 350);
    // The fitted side is truncated: 764 / (6000 / 4000) = 509.33.
    QTest::newRow("truncated") << QSize(6000, 4000) << QSize(764, 560) << QRect(0, 25, 764, 509);
    // Extended precision: 3 x (1000 / 3 as a double) lies just below 1000.
    QTest::newRow("extended product") << QSize(1000, 3) << QSize(2000, 3) << QRect(500, 0, 999, 3);
    // A control of the picture's own shape: the side tried first is kept whole.
    QTest::newRow("exact fit, wide") << QSize(1000, 3) << QSize(1000, 3) << QRect(0, 0, 1000, 3);
    QTest::newRow("exact fit, tall") << QSize(3, 1000) << QSize(3, 1000) << QRect(0, 0, 3, 1000);
    QTest::newRow("zero side") << QSize(0, 30) << QSize(70, 50) << QRect(0, 0, 70, 50);
  }

  void displayRect() {
    QFETCH(QSize, picture);
    QFETCH(QSize, control);
    QFETCH(QRect, expected);
    const TRect r = DisplayRect(picture.width(), picture.height(), control.width(), control.height());
    QCOMPARE(QRect(r.Left, r.Top, r.Width(), r.Height()), expected);
  }

  void scaledCopyFollowsPictureAndSize() {
    TImageView view;
    view.resize(300, 200);
    // Left half red, right half blue: the copy keeps the split wherever the
    // pyramid level it came from.
    const TBitmap picture = MakePicture(4000, 1000, [](int x, int) {
      return x < 2000 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
    });
    view.SetPicture(picture);
    QCOMPARE(view.PictureRect(), QRect(0, 62, 300, 75));
    const QImage& copy = view.ScaledCopy();
    QCOMPARE(copy.size(), QSize(300, 75));
    QCOMPARE(copy.pixelColor(10, 30), QColor(255, 0, 0));
    QCOMPARE(copy.pixelColor(290, 30), QColor(0, 0, 255));
    const qint64 key = view.ScaledCopy().cacheKey();
    QCOMPARE(view.ScaledCopy().cacheKey(), key);  // made once, not at every paint
    // A new size gets a quick copy at once and the full one when it settles.
    view.resize(600, 600);
    QCOMPARE(view.ScaledCopy().size(), QSize(600, 150));
    QVERIFY(!view.ScaledCopyIsFinal());
    QTRY_VERIFY(view.ScaledCopyIsFinal());
    QCOMPARE(view.ScaledCopy().size(), QSize(600, 150));
    QCOMPARE(view.ScaledCopy().pixelColor(290, 70), QColor(255, 0, 0));
    QCOMPARE(view.ScaledCopy().pixelColor(310, 70), QColor(0, 0, 255));
    // A small picture is enlarged pixel by pixel.
    view.SetPicture(MakePicture(2, 1, [](int x, int) { return x ? Rgb{0, 255, 0} : Rgb{0, 0, 0}; }));
    QCOMPARE(view.ScaledCopy().size(), QSize(600, 300));
    QCOMPARE(view.ScaledCopy().pixelColor(299, 10), QColor(0, 0, 0));
    QCOMPARE(view.ScaledCopy().pixelColor(300, 10), QColor(0, 255, 0));
  }

  void filterLabelsAsWrittenAndTheRightFilesListed() {
    QTemporaryDir dir;
    for (const char* name :
         {"a.gif", "b.JPG", "c.jpeg", "d.png", "e.bmp", "f.txt", "g.jpg.psd", "h.HEIC", "i.tif"}) {
      QFile f(dir.filePath(name));
      QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QFileDialog dialog(nullptr, "Open", dir.path());
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(PictureNameFilters());
    auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
    QVERIFY(types);
    QStringList shown;
    for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
    QCOMPARE(
        shown,
        QStringList(
            {QString::fromUtf8(
                 "すべて (*.gif;*.jpg;*.jpeg;*.png;*.bmp;*.heic;*.heif;*.avif;*.webp;*.tif;*.tiff;*.jxl)"),
             QString::fromUtf8("GIF 画像 (*.gif)"), QString::fromUtf8("JPEG イメージファイル (*.jpg)"),
             QString::fromUtf8("JPEG イメージファイル (*.jpeg)"),
             QString("Portable Network Graphics (*.png)"), QString::fromUtf8("ビットマップ (*.bmp)"),
             QString::fromUtf8("HEIF 画像 (*.heic;*.heif)"), QString::fromUtf8("AVIF 画像 (*.avif)"),
             QString::fromUtf8("WebP 画像 (*.webp)"), QString::fromUtf8("TIFF 画像 (*.tif;*.tiff)"),
             QString::fromUtf8("JPEG XL 画像 (*.jxl)")}));
    auto* list = dialog.findChild<QListView*>("listView");
    QVERIFY(list);
    dialog.show();
    const auto listed = [&] {
      QStringList names;
      QAbstractItemModel* model = list->model();
      const QModelIndex root = list->rootIndex();
      for (int r = 0; r < model->rowCount(root); ++r) names << model->index(r, 0, root).data().toString();
      names.sort();
      return names;
    };
    QTRY_COMPARE(listed(), QStringList({"a.gif", "b.JPG", "c.jpeg", "d.png", "e.bmp", "h.HEIC", "i.tif"}));
    dialog.selectNameFilter(PictureNameFilters()[2]);
    QTRY_COMPARE(listed(), QStringList({"b.JPG"}));
  }

  void titleAndSaveName() {
    QCOMPARE(WindowTitle("/pics/boat.jpg", 640, 480), std::string("Tessarin (boat.jpg) 640 x 480"));
    QCOMPARE(WindowTitle("boat.PNG", 1, 65535), std::string("Tessarin (boat.PNG) 1 x 65535"));
    QCOMPARE(DefaultSaveName("/pics/boat.jpg"), std::string("Tessarin_boat.jpg"));
    QCOMPARE(DefaultSaveName("/home/u/my.pics/photo"), std::string("Tessarin_photo"));
  }

  // A frame keeps all four sides at every scale factor (a stroked
  // rectangle lost its left and top sides at 1.5).
  void framesAreWholeAtEveryScale() {
    TShape shape(QColor(255, 0, 0), nullptr);
    shape.resize(161, 217);
    for (qreal dpr : {1.0, 1.25, 1.5, 1.75, 2.0, 3.0}) {
      QImage image(QSize(qCeil(161 * dpr), qCeil(217 * dpr)), QImage::Format_ARGB32_Premultiplied);
      image.setDevicePixelRatio(dpr);
      image.fill(Qt::transparent);
      shape.render(&image);
      const auto red = [&](int x, int y) { return image.pixelColor(x, y) == QColor(255, 0, 0); };
      const int w = qFloor(161 * dpr) - 1, h = qFloor(217 * dpr) - 1, mx = w / 2, my = h / 2;
      QVERIFY2(red(0, my) && red(mx, 0) && red(w, my) && red(mx, h), qPrintable(QString::number(dpr)));
      QVERIFY2(!red(mx, my), qPrintable(QString::number(dpr)));
    }
  }
};

QTEST_MAIN(TestViews)
#include "view_test.moc"
