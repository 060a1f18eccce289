// The window's lens look: the look and shape items, the depth map, and
// the protect brush with its tint.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <algorithm>
#include <cmath>

#include "codecs/picture_io.h"
#include "engine/focus_mask.h"
#include "engine/recipe.h"
#include "ui/form1.h"
#include "ui/guide_overlay.h"
#include "ui/live_preview.h"

void TForm1::MenuCOClick() {
  UpdateLensControls();
  UpdateLensStatus();
  PutLine();  // the ellipse or the lines; the preview follows
}

void TForm1::MenuCHClick() {
  PutLine();
}

void TForm1::MenuFDClick() {
  if (!engine_.PictureLoaded() || work_->Busy()) return;
  const QString fileName = dialogs_.OpenPicture(this, currentFileName_);
  if (fileName.isEmpty()) return;
  TBitmap map;
  std::string error;
  if (!ReadPicture(fileName.toLocal8Bit().toStdString(), map, error)) throw std::runtime_error(error);
  engine_.SetDepthMap(map);
  depthName_ = QFileInfo(fileName).fileName();
  MenuCON->setChecked(true);  // a depth map is for the lens look
  UpdateLensControls();
  UpdateLensStatus();
  live_->EngineChanged();
}

void TForm1::MenuEMClick() {
  if (work_->Busy()) return;
  engine_.SetDepthMap(TBitmap(0, 0, pf8bit));
  UpdateLensStatus();
  live_->EngineChanged();
}

void TForm1::MenuEPClick() {
  if (MenuEP->isChecked() && !MenuCON->isChecked()) {
    MenuCON->setChecked(true);  // what is protected shows in the lens look
    UpdateLensControls();
    live_->Update();
  }
  Image2->SetBrush(MenuEP->isChecked(), brushRadius_);
  UpdateTint();
  UpdateLensStatus();
}

void TForm1::MenuECClick() {
  if (work_->Busy() || engine_.Protection().Width() == 0) return;
  engine_.SetProtection(TBitmap(0, 0, pf8bit));
  UpdateTint();
  live_->EngineChanged();
}

void TForm1::ResizeBrush(double factor) {
  brushRadius_ = std::clamp(brushRadius_ * factor, 2.0, 400.0);
  Image2->SetBrush(true, brushRadius_);
  UpdateLensStatus();
}

QPointF TForm1::PicturePoint(QPointF p) const {
  const int w = engine_.ModifiedBMP().Width(), h = engine_.ModifiedBMP().Height();
  const double ratio = FitRatio(Image2->width(), Image2->height(), w, h);
  return {(p.x() - Image2->width() / 2.0) / ratio + w / 2.0,
          (p.y() - Image2->height() / 2.0) / ratio + h / 2.0};
}

void TForm1::PaintProtection(QPointF p, bool erase, bool first) {
  if (!engine_.PictureLoaded() || work_->Busy()) return;
  const TBitmap& picture = engine_.ModifiedBMP();
  const int w = picture.Width(), h = picture.Height();
  if (first || stroke_.Width() != w || stroke_.Height() != h) {
    stroke_ = engine_.Protection().Width() == w ? engine_.Protection() : TBitmap(w, h, pf8bit);
    strokeLast_ = p;
  }
  // The brush's radius is in pixels on screen, at every zoom.
  const double radius = brushRadius_ / viewport_.Scale();
  // Dabs along the way from the last one, a quarter of the brush apart (on screen).
  const double length = std::hypot(p.x() - strokeLast_.x(), p.y() - strokeLast_.y()) * viewport_.Scale() /
                        FitRatio(Image2->width(), Image2->height(), w, h);
  const int steps = std::max(1, int(std::ceil(length / std::max(1.0, brushRadius_ / 4))));
  for (int i = 1; i <= steps; ++i) {
    const QPointF at = PicturePoint(strokeLast_ + (p - strokeLast_) * (double(i) / steps));
    const int x0 = std::max(0, int(at.x() - radius - 1)), x1 = std::min(w - 1, int(at.x() + radius + 1));
    const int y0 = std::max(0, int(at.y() - radius - 1)), y1 = std::min(h - 1, int(at.y() + radius + 1));
    for (int y = y0; y <= y1; ++y) {
      std::uint8_t* row = stroke_.ScanLine(y);
      for (int x = x0; x <= x1; ++x) {
        const double cover =
            std::clamp(radius + 0.5 - std::hypot(x + 0.5 - at.x(), y + 0.5 - at.y()), 0.0, 1.0);
        row[x] = erase ? std::uint8_t(std::lround(row[x] * (1 - cover)))
                       : std::max(row[x], std::uint8_t(std::lround(255 * cover)));
      }
    }
  }
  strokeLast_ = p;
  UpdateTint();
}

void TForm1::EndStroke() {
  if (stroke_.Width() == 0) return;
  engine_.SetProtection(stroke_);
  stroke_ = TBitmap(0, 0, pf8bit);
  UpdateTint();
  live_->EngineChanged();
}

void TForm1::UpdateTint() {
  const TBitmap& mask = stroke_.Width() > 0 ? stroke_ : engine_.Protection();
  if (!Image2->Brush() || mask.Width() == 0 || Image2->width() < 1 || Image2->height() < 1) {
    Image2->SetTint(QImage());
    return;
  }
  QImage tint(Image2->size(), QImage::Format_ARGB32_Premultiplied);
  tint.fill(Qt::transparent);
  // Sampled where the views draw the picture, at every zoom.
  const QPointF origin = viewport_.ToPicture({0.5, 0.5});
  const double step = 1 / viewport_.Scale();
  for (int y = 0; y < tint.height(); ++y) {
    const int py = int(std::floor(origin.y() + y * step));
    if (py < 0 || py >= mask.Height()) continue;
    const std::uint8_t* row = mask.ScanLine(py);
    auto* out = reinterpret_cast<QRgb*>(tint.scanLine(y));
    for (int x = 0; x < tint.width(); ++x) {
      const int px = int(std::floor(origin.x() + x * step));
      if (px < 0 || px >= mask.Width() || row[px] == 0) continue;
      const int a = row[px] * 110 / 255;
      out[x] = qRgba(a, a * 20 / 255, a * 120 / 255, a);
    }
  }
  Image2->SetTint(std::move(tint));
}

void TForm1::UpdateLensStatus() {
  QStringList parts;
  const TBitmap& depth = engine_.DepthMap();
  if (depth.Width() > 0) {
    const QString size = QString("%1 x %2").arg(depth.Width()).arg(depth.Height());
    parts << (engine_.DepthFromPhoto() ? "Depth map: the photo's own (" + size + ")"
                                       : "Depth map: " + depthName_ + " (" + size + ")");
    if (!MenuCON->isChecked()) parts.back() += ", used by the lens look";
  }
  if (Image2->Brush())
    parts << QString("Protect brush: the left button paints, the right one erases, [ and ] size (%1 px)")
                 .arg(std::lround(brushRadius_));
  LensStatus->setText(parts.join("   |   "));
  statusBar()->setVisible(!parts.isEmpty());
}

// ---- Looks as recipes ----

void TForm1::MenuFLClick() {
  const QString proposed = !lookFileName_.isEmpty() ? lookFileName_
                           : currentFileName_.isEmpty()
                               ? QString("look.json")
                               : QFileInfo(currentFileName_).dir().filePath("look.json");
  const QString fileName = dialogs_.SaveLook(this, proposed);
  if (fileName.isEmpty()) return;
  QFile file(fileName);
  const QByteArray text = QByteArray::fromStdString(LookRecipeText(CurrentLook()));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
      !file.flush())
    throw std::runtime_error("cannot write the look: " + file.errorString().toStdString() + ": " +
                             fileName.toStdString());
  lookFileName_ = fileName;
}

void TForm1::MenuFAClick() {
  const QString fileName = dialogs_.OpenLook(this, lookFileName_);
  if (fileName.isEmpty()) return;
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw std::runtime_error("cannot read the look: " + file.errorString().toStdString() + ": " +
                             fileName.toStdString());
  // Read and checked whole before anything changes; a bad key is named.
  const Recipe recipe =
      ParseRecipe(file.readAll().toStdString(), QFileInfo(fileName).fileName().toStdString(), CurrentLook());
  SetLook(recipe.keyframes.front().look);
  lookFileName_ = fileName;
}
