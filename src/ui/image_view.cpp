#include "ui/image_view.h"

#include <QCoreApplication>
#include <QPainter>
#include <QThread>
#include <cmath>
#include <cstring>
#include <functional>

#include "imaging/parallel.h"
#include "imaging/shrink.h"
#include "ui/view_geometry.h"

namespace {

// Levels stop halving below this side; smaller pictures scale fast anyway.
constexpr int kSmallestLevel = 256;

// Runs body(first, end) over rows 0 .. rows - 1: in bands on the toolkit's
// threads when called beside a command, at once on the user-interface
// thread, which must never wait for the pool while a command holds it.
void ForRows(int rows, int minRows, const std::function<void(int, int)>& body) {
  const QCoreApplication* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() == app->thread()) {
    body(0, rows);
  } else {
    ParallelRows(rows, minRows, body);
  }
}

// The picture's pixels as a BGR888 image (the layout of its rows).
QImage FullCopy(const TBitmap& picture) {
  QImage full(picture.Width(), picture.Height(), QImage::Format_BGR888);
  // Row addresses are taken here, once; the copy runs in bands.
  std::vector<uchar*> rows(std::size_t(full.height()));
  for (int y = 0; y < full.height(); ++y) rows[std::size_t(y)] = full.scanLine(y);
  ForRows(full.height(), 64, [&](int first, int end) {
    for (int y = first; y < end; ++y)
      std::memcpy(rows[std::size_t(y)], picture.ScanLine(y), picture.RowBytes());
  });
  return full;
}

// Halvings of `last` down to kSmallestLevel, each the area average of the
// level before it (the toolkit's ShrinkPicture).
void AddHalvings(std::vector<QImage>& levels, TBitmap last) {
  while (last.Width() > kSmallestLevel && last.Height() > kSmallestLevel) {
    last = ShrinkPicture(last, last.Width() / 2, last.Height() / 2);
    levels.push_back(FullCopy(last));
  }
}

}  // namespace

// How long the size must stay put before a quick copy is remade.
constexpr int kSettleMs = 150;

TImageView::TImageView(QWidget* parent) : QWidget(parent) {
  refine_.setSingleShot(true);
  refine_.setInterval(kSettleMs);
  connect(&refine_, &QTimer::timeout, this, [this] {
    MakeScaledCopy(false);
    update();
  });
}

bool TImageView::SamePixels(const TBitmap& a, const TBitmap& b) {
  return a.PixelsId() != nullptr && a.PixelsId() == b.PixelsId() && a.Width() == b.Width() &&
         a.Height() == b.Height() && a.PixelFormat() == b.PixelFormat();
}

bool TImageView::Shows(const TBitmap& picture) const {
  return SamePixels(picture, shown_);
}

TImageView::TPrepared TImageView::Prepare(const TBitmap& picture) {
  if (picture.PixelFormat() != pf24bit || !picture.Width() || !picture.Height()) return {};
  const int w = picture.Width(), h = picture.Height();
  if (w <= kSmallestLevel || h <= kSmallestLevel) return {picture, {FullCopy(picture)}};
  // The first halving is made from the picture itself; the full-size copy
  // waits until something asks for it (FullLevel).
  std::vector<QImage> levels{QImage()};
  AddHalvings(levels, picture);
  return {picture, std::move(levels)};
}

const QImage& TImageView::FullLevel() const {
  if (levels_.front().isNull()) levels_.front() = FullCopy(shown_);
  return levels_.front();
}

QSize TImageView::FullSize() const {
  if (levels_.empty()) return {};
  return levels_.front().isNull() ? QSize(shown_.Width(), shown_.Height()) : levels_.front().size();
}

void TImageView::ShowPreview(const TBitmap& frame, std::optional<QRectF> at) {
  if (frame.PixelFormat() != pf24bit || !frame.Width() || !frame.Height()) return;
  previewAt_ = at;
  // Into the image of the last frame when it fits (no new memory per frame).
  if (preview_.width() != frame.Width() || preview_.height() != frame.Height())
    preview_ = QImage(frame.Width(), frame.Height(), QImage::Format_RGB32);
  for (int y = 0; y < frame.Height(); ++y) {
    const std::uint8_t* s = frame.ScanLine(y);
    auto* d = reinterpret_cast<QRgb*>(preview_.scanLine(y));
    for (int x = 0; x < frame.Width(); ++x) d[x] = qRgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
  }
  update();
}

void TImageView::ClearPreview() {
  if (preview_.isNull()) return;
  preview_ = QImage();
  update();
}

void TImageView::Show(TPrepared prepared) {
  preview_ = QImage();
  shown_ = std::move(prepared.source);
  levels_ = std::move(prepared.levels);
  scaledValid_ = false;
  refine_.stop();
  update();
}

void TImageView::SetPicture(const TBitmap& picture, const TImageView* other) {
  if (Shows(picture)) return;
  if (other != nullptr && other->Shows(picture)) {
    Show({other->shown_, other->levels_});  // the images share their pixels
    return;
  }
  Show(Prepare(picture));
}

void TImageView::FillClient(const QColor& color, QSize size) {
  shown_ = TBitmap();
  preview_ = QImage();
  if (!size.isValid()) size = this->size();
  TBitmap full(std::max(1, size.width()), std::max(1, size.height()), pf24bit);
  full.Fill(RGBColor(std::uint8_t(color.red()), std::uint8_t(color.green()), std::uint8_t(color.blue())));
  levels_ = {FullCopy(full)};
  AddHalvings(levels_, full);
  scaledValid_ = false;
  refine_.stop();
  update();
}

QRect TImageView::PictureRect() const {
  return placement_ ? placement_->toAlignedRect() : FitRect();
}

void TImageView::SetPlacement(std::optional<QRectF> rect) {
  if (rect == placement_) return;
  placement_ = rect;
  update();
}

QRect TImageView::FitRect() const {
  const QSize p = FullSize();
  const TRect r = DisplayRect(p.width(), p.height(), width(), height());
  return QRect(r.Left, r.Top, r.Width(), r.Height());
}

const QImage& TImageView::ScaledCopy() {
  if (!scaledValid_) {
    MakeScaledCopy(false);
  } else if (scaledFor_ != size()) {
    MakeScaledCopy(true);
    refine_.start();
  }
  return scaled_;
}

void TImageView::MakeScaledCopy(bool quick) {
  scaledValid_ = true;
  scaledFor_ = size();
  scaled_ = QImage();
  const QRect rect = PictureRect();
  if (levels_.empty() || rect.isEmpty()) return;
  // A quick copy is made at one pixel per logical pixel and drawn enlarged
  // on a high-density screen; the final one has every device pixel.
  const qreal dpr = quick ? 1.0 : devicePixelRatioF();
  const int tw = std::max(1, int(std::lround(rect.width() * dpr)));
  const int th = std::max(1, int(std::lround(rect.height() * dpr)));
  // The smallest level still at least as large as the target.
  std::size_t level = 0;
  while (level + 1 < levels_.size() && levels_[level + 1].width() >= tw && levels_[level + 1].height() >= th)
    ++level;
  const QImage& src = level == 0 ? FullLevel() : levels_[level];
  // Shrinking averages; enlarging keeps the pixels crisp; a quick copy
  // samples, at a cost that depends only on its own size.
  const bool enlarging = tw > src.width() || th > src.height();
  const Qt::TransformationMode mode = quick || enlarging ? Qt::FastTransformation : Qt::SmoothTransformation;
  scaled_ = src.scaled(tw, th, Qt::IgnoreAspectRatio, mode);
  if (scaled_.format() != QImage::Format_RGB32) scaled_.convertTo(QImage::Format_RGB32);
  scaled_.setDevicePixelRatio(dpr);
}

void TImageView::PaintPlaced(QPainter& painter) {
  const QRectF& target = *placement_;
  const QSize full = FullSize();
  if (levels_.empty() || target.isEmpty() || full.isEmpty()) return;
  // Device pixels per picture pixel, and the smallest level with as many.
  const double dpr = devicePixelRatioF();
  const double zoom = target.width() * dpr / full.width();
  std::size_t level = 0;
  while (level + 1 < levels_.size() && levels_[level + 1].width() >= full.width() * zoom * (1 - 1e-9))
    ++level;
  const QImage& image = level == 0 ? FullLevel() : levels_[level];
  // The visible part, widened to whole pixels of the level so that each is
  // drawn whole (the rest is clipped).
  const double sx = target.width() / image.width(), sy = target.height() / image.height();
  const QRectF visible = target.intersected(QRectF(rect()));
  if (visible.isEmpty()) return;
  const int x0 = std::max(0, int(std::floor((visible.left() - target.left()) / sx)));
  const int y0 = std::max(0, int(std::floor((visible.top() - target.top()) / sy)));
  const int x1 = std::min(image.width(), int(std::ceil((visible.right() - target.left()) / sx)));
  const int y1 = std::min(image.height(), int(std::ceil((visible.bottom() - target.top()) / sy)));
  if (x1 <= x0 || y1 <= y0) return;
  const QRect source(x0, y0, x1 - x0, y1 - y0);
  const QRectF drawn(target.left() + x0 * sx, target.top() + y0 * sy, source.width() * sx,
                     source.height() * sy);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, image.width() > target.width() * dpr * (1 + 1e-9));
  if (dpr == 1 && std::abs(sx - 1) < 1e-9 && std::abs(sy - 1) < 1e-9) {
    painter.drawImage(drawn.topLeft(), image, source);  // the level's own pixels
  } else {
    painter.drawImage(drawn, image, source);
  }
}

void TImageView::paintEvent(QPaintEvent*) {
  if (placement_) {
    QPainter painter(this);
    if (!preview_.isNull()) {
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(previewAt_ ? *previewAt_ : *placement_, preview_);
    } else {
      PaintPlaced(painter);
    }
    return;
  }
  if (!preview_.isNull()) {
    // Made at the size on screen: a blit, scaled only while a resize waits
    // for a new one.
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(PictureRect()), preview_);
    return;
  }
  const QImage& copy = ScaledCopy();
  if (copy.isNull()) return;
  QPainter painter(this);
  painter.drawImage(PictureRect().topLeft(), copy);
}
