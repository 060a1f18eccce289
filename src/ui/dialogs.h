// Every message box and file dialog of the windows goes through TDialogs,
// so that tests can answer them. DefaultDialogs() shows the real ones.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // An information box with the buttons Yes and No; false only for No
  // (closing the box counts as No).
  virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
  // An error box with one OK button.
  virtual void ShowError(QWidget* parent, const QString& text) = 0;
  // An information box with one OK button.
  virtual void ShowInformation(QWidget* parent, const QString& text) = 0;
  // The picture dialogs: the chosen full path, or empty when cancelled.
  // Each starts in the folder of `fileName` with that name selected; the
  // save dialog asks before it replaces an existing file.
  virtual QString OpenPicture(QWidget* parent, const QString& fileName) = 0;
  virtual QString SavePicture(QWidget* parent, const QString& fileName) = 0;
  // The same for a look's recipe (JSON); by default the picture dialogs'.
  virtual QString OpenLook(QWidget* parent, const QString& fileName) { return OpenPicture(parent, fileName); }
  virtual QString SaveLook(QWidget* parent, const QString& fileName) { return SavePicture(parent, fileName); }
};

TDialogs& DefaultDialogs();

// The filter of both picture dialogs: six entries, each "label (patterns)"
// where the label is shown as it stands and the patterns, separated by
// spaces, decide which files are listed.
struct TPictureFilter {
  QString label;
  QStringList patterns;
};
const QList<TPictureFilter>& PictureFilters();
// The entries in the form QFileDialog takes ("label (p1 p2)"); shown with
// the details hidden, each reads exactly as its label.
QStringList PictureNameFilters();
