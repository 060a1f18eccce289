// The resize dialog: shows the picture's size, takes a new width and
// height that keep the picture's aspect ratio when an edit is left, and
// resamples the picture as loaded (and turned) by one of nine methods.
// It resizes through the main window (Form1), whose engine owns the pictures.
#pragma once

#include <QDialog>

#include "imaging/resample.h"
#include "ui/dialogs.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(TDialogs& dialogs = DefaultDialogs(), QWidget* parent = nullptr);

  // The method Apply passes to BmpResize.
  TResizeMode ResizeMode() const { return resizeMode_; }

  // Handlers, named after their control and event.
  void FormShow();
  // A typed character; set to 0 it is discarded.
  void EditWidthKeyPress(QChar& key);
  void EditHeightKeyPress(QChar& key);
  void EditWidthExit();
  void EditHeightExit();
  void RBNearestClick();
  void ButtonApplyClick();
  void ButtonCancelClick();

  // Escape and the close button cancel, like the Cancel button.
  void reject() override;

  QLabel* Label1;
  QLabel* Label4;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* LabelWidth;
  QLabel* LabelHeight;
  QLineEdit* EditWidth;
  QLineEdit* EditHeight;
  QPushButton* ButtonCancel;
  QPushButton* ButtonApply;
  QGroupBox* GroupBox1;
  QRadioButton* RBNearest;
  QRadioButton* RBBilinear;
  QRadioButton* RBBicubic;
  QRadioButton* RBBSpline;
  QRadioButton* RBHermite;
  QRadioButton* RBMitchell;
  QRadioButton* RBBell;
  QRadioButton* RBLanczos;
  QRadioButton* RBLagrange;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The nine method buttons in the order of TResizeMode.
  QList<QRadioButton*> MethodButtons() const;

  TDialogs& dialogs_;
  double ratio_ = 1;  // height / width of the current picture
  TResizeMode resizeMode_ = rmBilinear;
};

// The text of an edit as a 32-bit integer: an optional sign and decimal
// digits. Anything else throws, with the message "'<text>' は整数ではありません".
int StrToInt(const QString& text);
