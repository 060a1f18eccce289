// Helpers for the window tests: dialogs that answer from a script, picture
// files in a scratch folder, and a shown main window with its resize dialog.
#pragma once

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "codecs/picture_io.h"
#include "support/pictures.h"
#include "ui/dialogs.h"
#include "ui/form1.h"
#include "ui/form2.h"

// Answers every box and dialog from what the test put in, and records
// what was asked.
class TFakeDialogs : public TDialogs {
 public:
  QStringList questions, errors, informations;
  QList<bool> answers;        // the next answers to AskYesNo; Yes when empty
  QStringList openResults;    // the next paths the open dialog returns; cancelled when empty
  QStringList saveResults;    // the same for the save dialog
  QStringList openProposals;  // what each dialog was given
  QStringList saveProposals;

  bool AskYesNo(QWidget*, const QString& text) override {
    questions << text;
    return answers.isEmpty() || answers.takeFirst();
  }
  void ShowError(QWidget*, const QString& text) override { errors << text; }
  void ShowInformation(QWidget*, const QString& text) override { informations << text; }
  QString OpenPicture(QWidget*, const QString& fileName) override {
    openProposals << fileName;
    return openResults.isEmpty() ? QString() : openResults.takeFirst();
  }
  QString SavePicture(QWidget*, const QString& fileName) override {
    saveProposals << fileName;
    return saveResults.isEmpty() ? QString() : saveResults.takeFirst();
  }
};

// Writes `picture` into the scratch folder as `name` and returns the path.
inline QString WriteTestPicture(const QTemporaryDir& dir, const QString& name, const TBitmap& picture) {
  const QString path = dir.filePath(name);
  std::string error;
  if (!WritePicture(QFile::encodeName(path).toStdString(), picture, error)) qFatal("%s", error.c_str());
  return path;
}

// The main window and the resize dialog as the program makes them, shown.
struct TShownWindows {
  TFakeDialogs dialogs;
  std::unique_ptr<TForm1> form1;
  std::unique_ptr<TForm2> form2;

  // Commands run at once, so that a test sees their results as soon as it
  // has clicked (the tests of the work itself turn this off).
  explicit TShownWindows(bool inlineWork = true) {
    TWorkRunner::SetInline(inlineWork);
    form1 = std::make_unique<TForm1>(dialogs);
    Form1 = form1.get();
    form2 = std::make_unique<TForm2>(dialogs, form1.get());
    Form2 = form2.get();
    form1->show();
    if (!QTest::qWaitForWindowExposed(form1.get())) qFatal("the main window was not shown");
  }
  ~TShownWindows() {  // the dialog goes first: it is the window's child
    form2.reset();
    form1.reset();
    Form1 = nullptr;
    Form2 = nullptr;
  }

  // File > Open with the dialog answering `path`.
  void Open(const QString& path) {
    dialogs.openResults << path;
    form1->MenuFO->trigger();
  }
};

// What the window tests share: a scratch folder and the shown windows
// (made by each test's init), with the main window, its dialogs and its
// engine at hand.
class TWindowTest : public QObject {
 protected:
  QTemporaryDir dir_;
  std::unique_ptr<TShownWindows> w_;
  TForm1& form() { return *w_->form1; }
  TFakeDialogs& dialogs() { return w_->dialogs; }
  const MiniatureEngine& engine() { return w_->form1->Engine(); }
};

// Bytes of row y of a view's copy equal those of the working bitmap.
inline bool ViewShows(const QImage& copy, const TBitmap& picture) {
  if (copy.width() != picture.Width() || copy.height() != picture.Height()) return false;
  for (int y = 0; y < picture.Height(); ++y)
    if (std::memcmp(copy.constScanLine(y), picture.ScanLine(y), picture.RowBytes()) != 0) return false;
  return true;
}
