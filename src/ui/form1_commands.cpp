// The main window's commands that change the picture or its file: the two
// "Apply" buttons, File > Open and Save, dropped files, and the Edit menu.
// Each one reads its controls here, then runs its engine operation off the
// user-interface thread on a copy of the engine (RunOnEngineCopy), which
// becomes the engine when it completes. The copy shares the pictures'
// pixels, and an operation that fails leaves the engine as it was, so an
// error shows its box and nothing has changed.
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QUrl>
#include <atomic>
#include <future>
#include <memory>
#include <optional>

#include "codecs/picture_io.h"
#include "ui/engine_job.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/guard.h"
#include "ui/guide_overlay.h"
#include "ui/image_view.h"
#include "ui/live_preview.h"
#include "ui/window_title.h"

namespace {

const QString kDiscardQuestion =
    QStringLiteral("Current picture not saved yet.\nDo you want to discard it and load a new picture ?");
const QString kMultiFiles = QStringLiteral("Multi files not allowed.");

std::string LocalPath(const QString& fileName) {
  return QFile::encodeName(fileName).toStdString();
}

QString FromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

void TForm1::RunCommand(const QString& what, std::function<void(MiniatureEngine&)> command,
                        std::function<void()> after, std::function<TBitmap()> firstView,
                        std::optional<Look> applied) {
  // The views' copies of new pictures are made beside the command too.
  struct TViews {
    std::optional<TImageView::TPrepared> target, original;
    std::atomic<bool> commandDone = false;
    bool firstShown = false;
  };
  auto views = std::make_shared<TViews>();
  const TBitmap shownTarget = engine_.TargetBMP(), shownOriginal = engine_.OriginalBMP();
  const auto same = &TImageView::SamePixels;
  // A first view for the eyes only, made beside the command: it goes into
  // both views, never into the engine, and the command's result replaces it.
  const auto showFirst = [this, views, firstView] {
    if (views->commandDone) return;
    const TBitmap picture = firstView();
    if (picture.Width() == 0 || views->commandDone) return;
    auto prepared = std::make_shared<TImageView::TPrepared>(TImageView::Prepare(picture));
    work_->Interim([this, views, prepared] {
      views->firstShown = true;
      Image3->Show(*prepared);
      Image1->Show(std::move(*prepared));
    });
  };
  RunOnEngineCopy(
      *work_, what, engine_,
      [=, command = std::move(command)](MiniatureEngine& next) {
        std::future<void> first;
        if (firstView && TWorkRunner::Inline()) {
          showFirst();
        } else if (firstView) {
          first = std::async(std::launch::async, [showFirst] {
            try {
              showFirst();
            } catch (...) {
              // Only a first view is lost; the command goes on.
            }
          });
        }
        command(next);
        views->commandDone = true;
        if (!same(next.TargetBMP(), shownTarget)) views->target = TImageView::Prepare(next.TargetBMP());
        if (!same(next.OriginalBMP(), shownOriginal) && !same(next.OriginalBMP(), next.TargetBMP()))
          views->original = TImageView::Prepare(next.OriginalBMP());
      },
      [this, views, applied, after = std::move(after)](std::shared_ptr<MiniatureEngine> next,
                                                       std::exception_ptr error) {
        RunGuarded(dialogs_, this, [&] {
          // A failed command puts back the pictures a first view replaced.
          if (error && views->firstShown) ShowPictures();
          if (error) std::rethrow_exception(error);
          engine_ = std::move(*next);
          if (views->target && !showingBefore_) Image1->Show(std::move(*views->target));
          if (views->original) Image3->Show(std::move(*views->original));
          after();
          live_->EngineChanged(applied);
        });
        UpdateCommands();
      });
  UpdateCommands();
}

void TForm1::UpdateCommands() {
  const bool idle = !work_->Busy();
  for (QAction* a : {MenuFO, MenuFS, MenuEL, MenuER, MenuES}) a->setEnabled(idle);
  BitBtnEffects->setEnabled(idle);
  BitBtnBlur->setEnabled(idle);
  MenuEU->setEnabled(idle && engine_.CanUndo());
  MenuED->setEnabled(idle && engine_.CanRedo());
}

void TForm1::ShowPictures() {
  Image1->SetPicture(showingBefore_ ? engine_.OriginalBMP() : engine_.TargetBMP(), Image3);
  Image3->SetPicture(engine_.OriginalBMP(), Image1);
  AnchorPoint();
  ApplyViewport();
  UpdateLensStatus();
}

// ---- The tone settings and the miniature effect ----

void TForm1::BitBtnEffectsClick() {
  if (!engine_.PictureLoaded() || work_->Busy()) return;
  const int saturation = TrackBarSaturation->value(), contrast = TrackBarContrast->value(),
            brightness = TrackBarBrightness->value();
  RunCommand(
      "Applying the tone settings",
      [=](MiniatureEngine& e) { e.ApplyTone(saturation, contrast, brightness); }, [this] { ShowPictures(); });
}

void TForm1::ApplyMiniature() {
  const Look look = CurrentLook();
  // With the tone settings the picture has, the result is all of the look.
  std::optional<Look> applied;
  if (engine_.ToneApplied(look)) applied = look;
  RunCommand(
      "Making the miniature", [look](MiniatureEngine& e) { e.ApplyMiniature(look); },
      [this] { ShowPictures(); }, {}, applied);
}

void TForm1::BitBtnBlurClick() {
  if (!engine_.PictureLoaded() || work_->Busy()) return;
  // The live preview may have made this very result already.
  const Look look = CurrentLook();
  if (const std::shared_ptr<MiniatureEngine> exact = live_->ExactFor(look)) {
    engine_ = *exact;
    EngineReplaced(look);
    return;
  }
  ApplyMiniature();
}

// ---- Picture files ----

void TForm1::SetTitle() {
  QString title = FromUtf8(
      WindowTitle(currentFileName_.toStdString(), engine_.TargetBMP().Width(), engine_.TargetBMP().Height()));
  // "[*]" would be taken for Qt's unsaved-changes mark; doubled it is shown as written.
  title.replace("[*]", "[*][*]");
  setWindowTitle(title);
}

void TForm1::OpenFile(const QString& fileName) {
  // A name relative to the folder the program was started in: the save
  // dialog then proposes that folder too.
  ReadFile(fileName.isEmpty() ? fileName : QFileInfo(fileName).absoluteFilePath());
}

void TForm1::ReadFile(const QString& fileName) {
  if (work_->Busy()) return;
  if (engine_.Modified() && !dialogs_.AskYesNo(this, kDiscardQuestion)) return;
  auto warnings = std::make_shared<std::vector<std::string>>();
  const std::string path = LocalPath(fileName);
  RunCommand(
      "Opening " + QFileInfo(fileName).fileName(),
      [path, warnings](MiniatureEngine& e) {
        std::string error;
        // Nothing changes on failure: the picture on screen, its name and the flags stay.
        if (!e.ReadFile(path, error, warnings.get())) throw std::runtime_error(error);
      },
      [this, fileName, warnings] {
        currentFileName_ = fileName;
        viewport_.SetFit();  // a new photo is first seen whole
        ShowPictures();
        saveFileName_ = QFileInfo(fileName).dir().filePath(FromUtf8(DefaultSaveName(LocalPath(fileName))));
        SetTitle();
        ShowWarnings("The picture is open, but not all of the file could be used:", *warnings);
      },
      [path, box = Image1->size() * Image1->devicePixelRatioF()] {
        TBitmap reduced;
        ReadReducedPicture(path, box.width(), box.height(), reduced);
        return reduced;
      });
}

void TForm1::ShowWarnings(const QString& heading, const std::vector<std::string>& warnings) {
  if (warnings.empty()) return;
  QString text = heading + "\n";
  for (const std::string& w : warnings) text += "\n" + FromUtf8(w);
  dialogs_.ShowInformation(this, text);
}

void TForm1::MenuFOClick() {
  if (work_->Busy()) return;
  const QString fileName = dialogs_.OpenPicture(this, currentFileName_);
  if (fileName.isEmpty()) return;
  ReadFile(fileName);
}

void TForm1::MenuFSClick() {
  if (!engine_.PictureLoaded() || work_->Busy()) return;
  const QString fileName = dialogs_.SavePicture(this, saveFileName_);
  if (fileName.isEmpty()) return;
  saveFileName_ = fileName;
  const TSaveOptions options{kDefaultJpegQuality, MenuFK->isChecked()};
  auto warnings = std::make_shared<std::vector<std::string>>();
  const std::string path = LocalPath(fileName);
  RunCommand(
      "Saving " + QFileInfo(fileName).fileName(),
      [path, options, warnings](MiniatureEngine& e) {
        std::string error;
        // The unsaved-changes flag stays set: nothing was saved.
        if (!e.WriteFile(path, options, error, warnings.get())) throw std::runtime_error(error);
      },
      [this, warnings] {
        ShowWarnings("The picture is saved, but not all of its camera data could go with it:", *warnings);
      });
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  RunGuarded(dialogs_, this, [&] { WMDropFiles(*event->mimeData()); });
}

void TForm1::WMDropFiles(const QMimeData& drop) {
  const QList<QUrl> urls = drop.urls();
  if (urls.size() > 1) {
    dialogs_.ShowError(this, kMultiFiles);
    return;
  }
  if (urls.isEmpty()) return;
  if (!urls.first().isLocalFile()) {
    dialogs_.ShowError(this, "Only files on this computer can be opened: " + urls.first().toString());
    return;
  }
  if (work_->Busy()) {
    dialogs_.ShowError(this, work_->What() + " ...\nOpen the picture again when this is done.");
    return;
  }
  ReadFile(urls.first().toLocalFile());
}

// ---- Edit commands ----

void TForm1::RotateChain(bool plus) {
  if (!engine_.PictureLoaded() || work_->Busy()) return;
  RunCommand(
      "Turning the picture", [plus](MiniatureEngine& e) { e.Rotate90(plus); },
      [this] {
        ShowPictures();
        SetTitle();
      });
}

void TForm1::MenuELClick() {
  RotateChain(false);
}
void TForm1::MenuERClick() {
  RotateChain(true);
}

void TForm1::MenuESClick() {
  if (!engine_.PictureLoaded() || work_->Busy()) return;
  // The dialog waits for the user without the busy cursor; the resize
  // itself runs as the other commands do.
  if (Form2 != nullptr) Form2->exec();
}

void TForm1::ResizePicture(int width, int height, TResizeMode mode) {
  if (work_->Busy()) return;
  MiniatureEngine::CheckSize(width, height);
  RunCommand(
      "Resizing the picture", [=](MiniatureEngine& e) { e.Resize(width, height, mode); },
      [this] {
        ShowPictures();
        SetTitle();
      });
}

void TForm1::EngineReplaced(std::optional<Look> applied) {
  ShowPictures();
  SetTitle();
  live_->EngineChanged(applied);
  UpdateCommands();
}

void TForm1::MenuEUClick() {
  if (work_->Busy() || !engine_.CanUndo()) return;
  engine_.Undo();
  EngineReplaced();
}

void TForm1::MenuEDClick() {
  if (work_->Busy() || !engine_.CanRedo()) return;
  engine_.Redo();
  EngineReplaced();
}
