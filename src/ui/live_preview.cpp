#include "ui/live_preview.h"

#include <QLabel>
#include <cmath>

#include "imaging/parallel.h"
#include "ui/engine_job.h"
#include "ui/image_view.h"
#include "ui/work_runner.h"

TLivePreview::TLivePreview(TImageView* view, QLabel* mark, std::function<Look()> look,
                           std::function<const MiniatureEngine&()> engine, std::function<bool()> idle,
                           QObject* parent)
    : QObject(parent),
      view_(view),
      mark_(mark),
      look_(std::move(look)),
      engine_(std::move(engine)),
      idle_(std::move(idle)),
      exactWork_(new TWorkRunner(this, false)) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, [this] { StartExact(); });
  remake_.setSingleShot(true);
  remake_.setInterval(kSettleMs);
  connect(&remake_, &QTimer::timeout, this, [this] {
    sourceOf_ = TBitmap();
    Update();
  });
  mark_->hide();
}

TLivePreview::~TLivePreview() {
  CancelExact();  // the runner, destroyed after this, waits for it
}

void TLivePreview::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled) {
    Update();
    return;
  }
  CancelExact();
  settle_.stop();
  remake_.stop();
  exact_.reset();
  preview_.Clear();
  sourceOf_ = TBitmap();
  if (!suspended_) ShowApplied();
  ShowState(TState::Off);
}

void TLivePreview::SetSuspended(bool suspended) {
  if (suspended == suspended_) return;
  suspended_ = suspended;
  if (!enabled_) return;
  if (suspended) {
    CancelExact();
    settle_.stop();
    view_->ClearPreview();
    mark_->hide();
  } else {
    Update();
  }
}

void TLivePreview::SetWindow(std::optional<TWindow> window) {
  if (window == window_) return;
  window_ = window;
  if (enabled_ && state_ == TState::Draft) Update();
}

void TLivePreview::EngineChanged(std::optional<Look> applied) {
  ++version_;
  applied_ = applied;
  exact_.reset();
  CancelExact();
  Update();
}

std::shared_ptr<MiniatureEngine> TLivePreview::ExactFor(const Look& look) const {
  if (!exact_ || exact_->toneStep || !(exact_->look == look)) return nullptr;
  return exact_->engine;
}

void TLivePreview::ShowApplied() {
  view_->ClearPreview();
  const MiniatureEngine& engine = engine_();
  if (engine.PictureLoaded()) view_->SetPicture(engine.TargetBMP());
}

void TLivePreview::ShowState(TState state, const QString& text) {
  state_ = state;
  // Whether the lower "Apply" alone makes it, or the tone "Apply" first.
  const QString pending = state == TState::Failed || engine_().ToneApplied(look_())
                              ? tr("not applied")
                              : tr("tone and miniature not applied");
  switch (state) {
    case TState::Draft:
      mark_->setText(tr("Preview, reduced \u2013 %1").arg(pending));
      break;
    case TState::Exact:
      mark_->setText(tr("Preview, full size \u2013 %1").arg(pending));
      break;
    case TState::Failed:
      mark_->setText(tr("No preview: %1").arg(text));
      break;
    default:
      break;
  }
  const bool marked = state == TState::Draft || state == TState::Exact || state == TState::Failed;
  if (marked) {
    mark_->adjustSize();
    mark_->raise();
  }
  mark_->setVisible(marked);
  emit Shown(state);
}

QSize TLivePreview::FrameSize() const {
  // Every device pixel, up to a bound that keeps a frame within the time
  // of a screen refresh on a high-density screen (drawn enlarged there).
  const QRect rect = view_->FitRect();
  const double pixels = double(rect.width()) * rect.height();
  const double scale =
      std::min(view_->devicePixelRatioF(), pixels > 0 ? std::sqrt(kMaxFramePixels / pixels) : 1.0);
  return {std::max(1, int(std::lround(rect.width() * scale))),
          std::max(1, int(std::lround(rect.height() * scale)))};
}

void TLivePreview::Update() {
  // While a command runs the view is its own (it may show a first look at
  // what it makes); its completion brings the preview back.
  if (!enabled_ || suspended_ || !idle_()) return;
  const MiniatureEngine& engine = engine_();
  if (!engine.PictureLoaded()) {
    view_->ClearPreview();
    ShowState(TState::Off);
    return;
  }
  const Look look = look_();
  if (applied_ && *applied_ == look) {
    settle_.stop();
    CancelExact();
    ShowApplied();
    ShowState(TState::Applied);
    return;
  }
  if (exact_ && exact_->look == look) {
    settle_.stop();
    view_->ClearPreview();
    view_->SetPicture(exact_->engine->TargetBMP());
    ShowState(TState::Exact);
    return;
  }
  const QSize size = FrameSize();
  const bool same = TImageView::SamePixels(sourceOf_, engine.ResizedBMP()) && window_ == sourceWindow_;
  if (!same && window_) {
    preview_.SetWindow(engine.ResizedBMP(), window_->part, window_->scale);
    sourceOf_ = engine.ResizedBMP();
    sourceWindow_ = window_;
  } else if (!same) {
    preview_.SetPicture(engine.ResizedBMP(), size.width(), size.height());
    sourceOf_ = engine.ResizedBMP();
    sourceWindow_.reset();
    sourceFor_ = size;
  } else if (!window_ && size != sourceFor_) {
    remake_.start();  // the frame is drawn scaled until the size settles
  }
  // A job for other settings stops; this one starts once they keep still.
  if (runningLook_ && !(*runningLook_ == look)) cancel_->store(true);
  settle_.start();
  try {
    view_->ShowPreview(preview_.Render(look, engine.Maps()),
                       sourceWindow_ ? std::optional(sourceWindow_->at) : std::nullopt);
  } catch (const std::exception& error) {
    view_->ClearPreview();
    ShowState(TState::Failed, QString::fromStdString(error.what()));
    return;
  }
  ShowState(TState::Draft);
}

void TLivePreview::StartExactNow() {
  settle_.stop();
  StartExact();
}

void TLivePreview::StartExact() {
  if (!enabled_ || suspended_ || !idle_() || state_ != TState::Draft) return;
  const Look look = look_();
  if (exactWork_->Busy()) return;  // started again when the running job ends
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  cancel_ = cancel;
  runningLook_ = look;
  const bool toneStep = !engine_().ToneApplied(look);
  auto prepared = std::make_shared<TImageView::TPrepared>();
  const std::uint64_t version = version_;
  RunOnEngineCopy(
      *exactWork_, tr("Making the full-size preview"), engine_(),
      [=](MiniatureEngine& next) {
        const TCancelScope scope(*cancel);
        next.ApplyLook(look);
        if (cancel->load()) throw TCancelled();
        *prepared = TImageView::Prepare(next.TargetBMP());
      },
      [=, this](std::shared_ptr<MiniatureEngine> next, std::exception_ptr error) {
        runningLook_.reset();
        const bool current = enabled_ && !suspended_ && version == version_ && look == look_();
        if (current && !error) {
          exact_ = TExact{look, toneStep, next};
          view_->Show(std::move(*prepared));
          ShowState(TState::Exact);
          return;
        }
        if (current && error) {
          try {
            std::rethrow_exception(error);
          } catch (const TCancelled&) {
          } catch (const std::exception& e) {
            // The settings cannot make a picture (the frame could): said, not tried again.
            ShowState(TState::Failed, QString::fromStdString(e.what()));
            return;
          }
        }
        // The settings moved on while it ran: once they keep still, again.
        if (!settle_.isActive()) StartExact();
      });
}

void TLivePreview::CancelExact() {
  if (cancel_) cancel_->store(true);
}
