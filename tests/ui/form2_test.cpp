// The resize dialog driven through its edits, buttons and method buttons.
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "imaging/resample.h"
#include "ui/image_view.h"
#include "ui_test_support.h"

class TestForm2 : public TWindowTest {
  Q_OBJECT

  TForm1& form1() { return *w_->form1; }
  TForm2& form2() { return *w_->form2; }

  void Load(const TBitmap& picture) { w_->Open(WriteTestPicture(dir_, "p.bmp", picture)); }

  // Shows the dialog as Edit > Resize does, without its modal loop, and
  // gives it the keyboard.
  void ShowDialog() {
    form2().show();
    form2().activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &form2());
  }

 private slots:
  void init() { w_ = std::make_unique<TShownWindows>(); }
  void cleanup() {
    form2().hide();
    w_.reset();
  }

  void showsTheCurrentSize() {
    Load(RandomPicture(640, 480, 1));
    ShowDialog();
    QCOMPARE(form2().LabelWidth->text(), QString("640 Pixels"));
    QCOMPARE(form2().LabelHeight->text(), QString("480 Pixels"));
    QCOMPARE(form2().LabelHeight->geometry().right() + 1, 181);
    QCOMPARE(form2().LabelWidth->x(), 128);
    QCOMPARE(form2().EditWidth->text(), QString("640"));
    QCOMPARE(form2().EditHeight->text(), QString("480"));
    QCOMPARE(form2().windowTitle(), QString("Resize"));
    QCOMPARE(form2().size(), QSize(585, 179));
    QCOMPARE(QApplication::focusWidget(), form2().EditWidth);
    // Every method's caption fits its button.
    for (QRadioButton* rb : form2().GroupBox1->findChildren<QRadioButton*>()) {
      QCOMPARE(rb->size(), QSize(65, 17));
      QVERIFY2(rb->sizeHint().width() <= 65, qPrintable(rb->text()));
    }
  }

  void leavingAnEditKeepsTheAspect_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<bool>("widthEdit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("other");
    QTest::newRow("640x480, width 320") << 640 << 480 << true << "320"
                                        << "240";
    QTest::newRow("640x480, height 300") << 640 << 480 << false << "300"
                                         << "400";
    // Ties go to the even neighbour: 5 x 0.5 = 2.5 gives 2, 7 x 0.5 = 3.5 gives 4.
    QTest::newRow("4x2, width 5") << 4 << 2 << true << "5"
                                  << "2";
    QTest::newRow("4x2, width 7") << 4 << 2 << true << "7"
                                  << "4";
    QTest::newRow("2x4, height 5") << 2 << 4 << false << "5"
                                   << "2";
    // The ratio is the double just below 2/3, so 3 / ratio lies 2.5e-16 above
    // 4.5: kept in extended precision it gives 5 (a double quotient would
    // round to 4.5 exactly and give 4).
    QTest::newRow("3x2, height 3") << 3 << 2 << false << "3"
                                   << "5";
  }

  void leavingAnEditKeepsTheAspect() {
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(bool, widthEdit);
    QFETCH(QString, typed);
    QFETCH(QString, other);
    Load(RandomPicture(w, h, 2));
    ShowDialog();
    QLineEdit* edit = widthEdit ? form2().EditWidth : form2().EditHeight;
    QLineEdit* coupled = widthEdit ? form2().EditHeight : form2().EditWidth;
    edit->setFocus(Qt::TabFocusReason);
    edit->selectAll();
    QTest::keyClicks(edit, typed);
    const QString before = coupled->text();
    QCOMPARE(coupled->text(), before);  // typing alone changes nothing else
    QTest::keyClick(edit, widthEdit ? Qt::Key_Tab : Qt::Key_Backtab);
    QCOMPARE(coupled->text(), other);
  }

  void keyFilter_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");
    QTest::newRow("digits") << "1234567890"
                            << "1234567890";
    QTest::newRow("letters, minus, space") << "1a-b 2"
                                           << "12";
    QTest::newRow("backspace") << "123\b4"
                               << "124";
  }

  void keyFilter() {
    QFETCH(QString, keys);
    QFETCH(QString, text);
    Load(RandomPicture(8, 8, 3));
    ShowDialog();
    form2().EditWidth->clear();
    for (QChar c : keys) {
      if (c == '\b')
        QTest::keyClick(form2().EditWidth, Qt::Key_Backspace);
      else
        QTest::keyClick(form2().EditWidth, c.toLatin1());
    }
    QCOMPARE(form2().EditWidth->text(), text);
  }

  void controlCharactersAreDiscardedButEditingKeysWork() {
    Load(RandomPicture(8, 8, 4));
    ShowDialog();
    QApplication::clipboard()->setText("999");
    QLineEdit* e = form2().EditWidth;
    e->setText("123");
    e->setCursorPosition(3);
    QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);  // paste: a control character
    QCOMPARE(e->text(), QString("123"));
    QTest::keyClick(e, Qt::Key_Left);
    QTest::keyClick(e, Qt::Key_Delete);
    QCOMPARE(e->text(), QString("12"));
  }

  void enterAppliesTheTypedWidthAtOnce() {
    const TBitmap photo = RandomPicture(640, 480, 5);
    Load(photo);
    ShowDialog();
    form2().EditWidth->selectAll();
    QTest::keyClicks(form2().EditWidth, "320");
    QTest::keyClick(form2().EditWidth, Qt::Key_Return);
    QVERIFY(!form2().isVisible());
    // The focus never left the width edit: the height stayed 480.
    QCOMPARE(engine().TargetBMP().Width(), 320);
    QCOMPARE(engine().TargetBMP().Height(), 480);
    QVERIFY(engine().OriginalBMP() == photo);
  }

  void escapeAndCancelChangeNothing() {
    const TBitmap photo = RandomPicture(60, 40, 6);
    Load(photo);
    for (bool escape : {true, false}) {
      ShowDialog();
      form2().EditWidth->setText("30");
      form2().EditHeight->setText("20");
      if (escape)
        QTest::keyClick(form2().EditWidth, Qt::Key_Escape);
      else
        form2().ButtonCancel->click();
      QVERIFY(!form2().isVisible());
      QVERIFY(engine().TargetBMP() == photo);
      QVERIFY(engine().ResizedBMP() == photo);
    }
  }

  void sizesThatCloseWithoutChange_data() {
    QTest::addColumn<QString>("w");
    QTest::addColumn<QString>("h");
    QTest::newRow("zero width") << "0"
                                << "40";
    QTest::newRow("zero height") << "30"
                                 << "0";
    QTest::newRow("current size") << "60"
                                  << "40";
  }

  void sizesThatCloseWithoutChange() {
    QFETCH(QString, w);
    QFETCH(QString, h);
    const TBitmap photo = RandomPicture(60, 40, 7);
    Load(photo);
    form1().BitBtnBlur->click();
    const TBitmap blurred = engine().TargetBMP();
    ShowDialog();
    form2().RBLanczos->click();
    form2().EditWidth->setText(w);
    form2().EditHeight->setText(h);
    form2().ButtonApply->click();
    QVERIFY(!form2().isVisible());
    QVERIFY(engine().TargetBMP() == blurred);
    QVERIFY(engine().ResizedBMP() == photo);
    QVERIFY(dialogs().errors.isEmpty());
  }

  void refusedSizesKeepTheDialogOpen_data() {
    QTest::addColumn<QString>("w");
    QTest::addColumn<QString>("h");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << ""
                           << "40" << QString::fromUtf8("'' は整数ではありません");
    QTest::newRow("not a number") << "12a"
                                  << "40" << QString::fromUtf8("'12a' は整数ではありません");
    QTest::newRow("beyond 32 bits") << "30"
                                    << "2147483648" << QString::fromUtf8("'2147483648' は整数ではありません");
    QTest::newRow("negative") << "-30"
                              << "40"
                              << "at least 1 pixel";
    QTest::newRow("side too long") << "100000" << "10" << "100000 x 10";
    QTest::newRow("too many pixels") << "20000" << "20000" << "20000 x 20000";
  }

  void refusedSizesKeepTheDialogOpen() {
    QFETCH(QString, w);
    QFETCH(QString, h);
    QFETCH(QString, message);
    const TBitmap photo = RandomPicture(60, 40, 8);
    Load(photo);
    ShowDialog();
    form2().EditWidth->setText(w);
    form2().EditHeight->setText(h);
    form2().ButtonApply->click();
    QCOMPARE(dialogs().errors.size(), 1);
    QVERIFY2(dialogs().errors[0].contains(message), qPrintable(dialogs().errors[0]));
    QVERIFY(form2().isVisible());
    QVERIFY(engine().ResizedBMP() == photo);
    QVERIFY(engine().TargetBMP() == photo);
  }

  void leavingAnEditWithNoNumberKeepsTheOther() {
    Load(RandomPicture(60, 40, 9));
    ShowDialog();
    form2().EditWidth->setFocus(Qt::TabFocusReason);
    form2().EditWidth->setText("x1");  // as pasted text could leave it
    form2().EditHeight->setFocus(Qt::TabFocusReason);
    QCOMPARE(dialogs().errors, QStringList{QString::fromUtf8("'x1' は整数ではありません")});
    QCOMPARE(form2().EditHeight->text(), QString("40"));
    QVERIFY(form2().isVisible());
  }

  void nineMethods_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("mode");
    const char* names[] = {"RBNearest",  "RBBilinear", "RBBicubic", "RBBSpline", "RBHermite",
                           "RBMitchell", "RBBell",     "RBLanczos", "RBLagrange"};
    for (int i = 0; i < 9; ++i) QTest::newRow(names[i]) << names[i] << i;
  }

  void nineMethods() {
    QFETCH(QString, button);
    QFETCH(int, mode);
    const TBitmap photo = RandomPicture(37, 23, 10);
    Load(photo);
    ShowDialog();
    form2().findChild<QRadioButton*>(button)->click();
    QCOMPARE(int(form2().ResizeMode()), mode);
    form2().EditWidth->setText("50");
    form2().EditHeight->setText("17");
    form2().ButtonApply->click();
    TBitmap expected = photo;
    QVERIFY(BmpResize(expected, 50, 17, TResizeMode(mode)));
    QVERIFY(engine().ResizedBMP() == expected);
    QVERIFY(engine().ModifiedBMP() == expected);
    QVERIFY(engine().TargetBMP() == expected);
    QVERIFY(ViewShows(form1().Image1->Picture(), expected));
    QVERIFY(engine().OriginalBMP() == photo);
    QVERIFY(!engine().Modified());  // resizing leaves the flag alone
  }

  void theCheckedButtonIsTheMethodUsed() {
    const TBitmap photo = RandomPicture(30, 20, 11);
    Load(photo);
    ShowDialog();
    QVERIFY(form2().RBBilinear->isChecked());
    QCOMPARE(form2().ResizeMode(), rmBilinear);
    form2().RBLanczos->click();
    form2().ButtonCancel->click();
    ShowDialog();
    QVERIFY(form2().RBLanczos->isChecked());
    QCOMPARE(form2().ResizeMode(), rmLanczos);
    form2().EditWidth->setText("15");
    form2().EditHeight->setText("10");
    form2().ButtonApply->click();
    TBitmap expected = photo;
    BmpResize(expected, 15, 10, rmLanczos);
    QVERIFY(engine().ResizedBMP() == expected);
  }

  void resizeStartsFromTheLoadedPictureAndReappliesTones() {
    const TBitmap photo = RandomPicture(64, 48, 12);
    Load(photo);
    form1().TrackBarSaturation->setValue(70);
    form1().BitBtnEffects->click();
    form1().TrackBarSaturation->setValue(0);  // the recorded tones are used, not the slider
    form1().BitBtnBlur->click();
    for (auto [w, h] : {std::pair{32, 24}, std::pair{64, 48}}) {
      ShowDialog();
      form2().EditWidth->setText(QString::number(w));
      form2().EditHeight->setText(QString::number(h));
      form2().ButtonApply->click();
      TBitmap resized = photo;
      BmpResize(resized, w, h, rmBilinear);
      MiniatureEngine reference;
      reference.LoadPicture(resized);
      reference.ApplyTone(70, DefaultContrast, DefaultBrightness);
      QVERIFY(engine().TargetBMP() == reference.TargetBMP());  // toned, and the blur is gone
    }
    // Back at the loaded size, bilinear gives the loaded picture itself.
    QVERIFY(engine().ResizedBMP() == photo);
  }
};

QTEST_MAIN(TestForm2)
#include "form2_test.moc"
