// The real message boxes and picture dialogs.
//
// The picture dialogs are Qt's own file dialog rather than the desktop's:
// only it shows the six filter labels exactly as they are written (the
// desktop dialogs cut a label at its first parenthesis) and lets us add a
// preview of the selected picture.
#include "ui/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "codecs/picture_io.h"

const QList<TPictureFilter>& PictureFilters() {
  static const QList<TPictureFilter> filters = [] {
    // The five of the first formats, as they have always been; then one
    // entry for each format added since, labelled in the same style. The
    // first entry lists every extension the program reads.
    QList<TPictureFilter> list = {
        {QString::fromUtf8("GIF 画像 (*.gif)"), {"*.gif"}},
        {QString::fromUtf8("JPEG イメージファイル (*.jpg)"), {"*.jpg"}},
        {QString::fromUtf8("JPEG イメージファイル (*.jpeg)"), {"*.jpeg"}},
        {QString::fromUtf8("Portable Network Graphics (*.png)"), {"*.png"}},
        {QString::fromUtf8("ビットマップ (*.bmp)"), {"*.bmp"}},
    };
    QStringList every = {"*.gif", "*.jpg", "*.jpeg", "*.png", "*.bmp"};
    for (const TPictureFormat& format : PictureFormats()) {
      QStringList patterns;
      for (const std::string& e : format.extensions) {
        const QString pattern = "*" + QString::fromStdString(e);
        if (!every.contains(pattern)) patterns << pattern;
      }
      if (patterns.isEmpty()) continue;
      every << patterns;
      list << TPictureFilter{
          QString::fromStdString(format.name) + QString::fromUtf8(" 画像 (") + patterns.join(';') + ")",
          patterns};
    }
    list.prepend({QString::fromUtf8("すべて (") + every.join(';') + ")", every});
    return list;
  }();
  return filters;
}

QStringList PictureNameFilters() {
  // QFileDialog takes the patterns from the last parenthesis and, with the
  // details hidden, shows what stands before it: the label as written.
  QStringList out;
  for (const TPictureFilter& f : PictureFilters()) out << f.label + " (" + f.patterns.join(' ') + ")";
  return out;
}

namespace {

const QString kTitle = QStringLiteral("Tessarin");

// A small picture and its size beside the file list, for the file under
// the cursor. Only the header and a reduced picture are decoded, and
// Qt's allocation limit keeps a lying header from costing much.
class TPreview : public QWidget {
 public:
  explicit TPreview(QWidget* parent) : QWidget(parent) {
    setObjectName("Preview");
    auto* layout = new QVBoxLayout(this);
    image_ = new QLabel(this);
    image_->setFixedSize(kSide, kSide);
    image_->setAlignment(Qt::AlignCenter);
    image_->setFrameShape(QFrame::StyledPanel);
    size_ = new QLabel(this);
    size_->setAlignment(Qt::AlignHCenter);
    layout->addWidget(image_);
    layout->addWidget(size_);
    layout->addStretch();
  }

  void Show(const QString& path) {
    image_->clear();
    size_->clear();
    if (!QFileInfo(path).isFile()) return;
    QImageReader reader(path);
    const QSize full = reader.size();
    if (!full.isValid()) return;
    reader.setScaledSize(full.scaled(kSide, kSide, Qt::KeepAspectRatio).expandedTo({1, 1}));
    const QImage picture = reader.read();
    if (!picture.isNull()) image_->setPixmap(QPixmap::fromImage(picture));
    size_->setText(QString("%1 x %2").arg(full.width()).arg(full.height()));
  }

 private:
  static constexpr int kSide = 160;
  QLabel* image_;
  QLabel* size_;
};

QString StartFolder(const QString& fileName) {
  const QFileInfo info(fileName);
  if (info.isAbsolute() && info.dir().exists()) return info.absolutePath();
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  return QDir(pictures).exists() ? pictures : QDir::homePath();
}

QString RunPictureDialog(QWidget* parent, const QString& fileName, QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent, mode == QFileDialog::AcceptOpen ? "Open" : "Save", StartFolder(fileName));
  dialog.setObjectName(mode == QFileDialog::AcceptOpen ? "OpenPictureDialog1" : "SavePictureDialog1");
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  dialog.setAcceptMode(mode);
  dialog.setNameFilters(PictureNameFilters());
  dialog.selectNameFilter(PictureNameFilters().first());
  if (mode == QFileDialog::AcceptSave) {
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix("jpg");
  } else {
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (!fileName.isEmpty()) dialog.selectFile(QFileInfo(fileName).fileName());
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
    auto* preview = new TPreview(&dialog);
    grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, preview, &TPreview::Show);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString RunLookDialog(QWidget* parent, const QString& fileName, QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent, mode == QFileDialog::AcceptOpen ? "Load Look" : "Save Look",
                     StartFolder(fileName));
  dialog.setObjectName(mode == QFileDialog::AcceptOpen ? "OpenLookDialog" : "SaveLookDialog");
  dialog.setOptions(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(mode);
  dialog.setNameFilters({"Looks (*.json)", "All files (*)"});
  dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (mode == QFileDialog::AcceptSave) dialog.setDefaultSuffix("json");
  if (!fileName.isEmpty()) dialog.selectFile(QFileInfo(fileName).fileName());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

class TQtDialogs : public TDialogs {
 public:
  bool AskYesNo(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Information, kTitle, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() != QMessageBox::No;
  }
  void ShowError(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Critical, kTitle, text, QMessageBox::Ok, parent);
    box.exec();
  }
  void ShowInformation(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Information, kTitle, text, QMessageBox::Ok, parent);
    box.exec();
  }
  QString OpenPicture(QWidget* parent, const QString& fileName) override {
    return RunPictureDialog(parent, fileName, QFileDialog::AcceptOpen);
  }
  QString SavePicture(QWidget* parent, const QString& fileName) override {
    return RunPictureDialog(parent, fileName, QFileDialog::AcceptSave);
  }
  QString OpenLook(QWidget* parent, const QString& fileName) override {
    return RunLookDialog(parent, fileName, QFileDialog::AcceptOpen);
  }
  QString SaveLook(QWidget* parent, const QString& fileName) override {
    return RunLookDialog(parent, fileName, QFileDialog::AcceptSave);
  }
};

}  // namespace

TDialogs& DefaultDialogs() {
  static TQtDialogs dialogs;
  return dialogs;
}
