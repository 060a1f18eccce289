// Config > Live Preview: the Modified tab shows what the two "Apply"
// buttons would make of the current settings, as they change.
//
// Each change draws a frame at once from a reduced copy of the picture at
// the size on screen (MiniaturePreview), marked as a preview. Once the
// controls have been still for a moment the exact full-size result is
// made in the background on a copy of the engine (ApplyLook) and shown in
// its place; a change meanwhile cancels it and starts again later, and a
// result made for other settings or another picture is never shown. The
// lower "Apply" takes that result when it is what the button would make,
// so it completes at once. A mark on the view says whether what is shown
// is a reduced preview or the exact result not yet applied.
#pragma once

#include <QObject>
#include <QRectF>
#include <QSize>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "engine/preview.h"

class QLabel;
class TImageView;
class TWorkRunner;

class TLivePreview : public QObject {
  Q_OBJECT

 public:
  // What the view shows.
  enum class TState {
    Off,      // the preview is off (or suspended): the applied picture
    Applied,  // the settings are the applied picture's
    Draft,    // a reduced preview
    Exact,    // the exact result, not applied
    Failed    // the settings cannot make a picture (the mark says why)
  };

  // `look` reads the controls, `engine` the window's engine, `idle` says
  // that no command is running.
  TLivePreview(TImageView* view, QLabel* mark, std::function<Look()> look,
               std::function<const MiniatureEngine&()> engine, std::function<bool()> idle,
               QObject* parent = nullptr);
  ~TLivePreview() override;

  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }
  // While suspended the view is left to the window (the picture as read
  // shown in its place); resuming shows the preview again.
  void SetSuspended(bool suspended);

  // The zoomed view's visible part: the picture's pixels it shows (with a
  // margin), the scale of a frame of them and where they lie in the view.
  // Frames are made of that part alone; none at Fit.
  struct TWindow {
    TRect part;
    double scale = 1;
    QRectF at;
    bool operator==(const TWindow&) const = default;
  };
  void SetWindow(std::optional<TWindow> window);

  // A setting, the focus point or the view's size has changed.
  void Update();
  // The engine has changed (a command completed, Undo, Redo). `applied`:
  // the settings the new TargetBMP is the result of, when it is.
  void EngineChanged(std::optional<Look> applied = std::nullopt);

  // The exact result for `look`, when it is ready, was made from the
  // engine as it is and needed no tone step: what the lower "Apply" makes.
  std::shared_ptr<MiniatureEngine> ExactFor(const Look& look) const;

  TState State() const { return state_; }
  // How long the controls stay still before the exact result is made.
  static constexpr int kSettleMs = 60;
  // The most pixels a reduced frame has.
  static constexpr double kMaxFramePixels = 800'000;
  // Starts the exact result now instead of after the pause (tests).
  void StartExactNow();
  TWorkRunner& ExactWork() { return *exactWork_; }

 signals:
  // A new frame or the exact result is on the view.
  void Shown(TState state);

 private:
  void ShowState(TState state, const QString& text = {});
  void ShowApplied();
  QSize FrameSize() const;
  void StartExact();
  void CancelExact();

  struct TExact {
    Look look;
    bool toneStep = false;  // the tone settings were applied first
    std::shared_ptr<MiniatureEngine> engine;
  };

  TImageView* view_;
  QLabel* mark_;
  std::function<Look()> look_;
  std::function<const MiniatureEngine&()> engine_;
  std::function<bool()> idle_;
  bool enabled_ = false;
  bool suspended_ = false;
  TState state_ = TState::Off;
  MiniaturePreview preview_;
  TBitmap sourceOf_;                              // the ResizedBMP the reduced copy was made from
  QSize sourceFor_;                               // and the size on screen it was made for
  std::optional<TWindow> window_, sourceWindow_;  // wanted, and the one the copy is of
  std::uint64_t version_ = 0;                     // counts changes of the engine
  std::optional<Look> applied_;                   // what TargetBMP is the result of
  std::optional<TExact> exact_;                   // made from the engine as it is (dropped when it changes)
  TWorkRunner* exactWork_;
  std::shared_ptr<std::atomic<bool>> cancel_;  // of the running exact job
  std::optional<Look> runningLook_;
  QTimer settle_;  // starts the exact result once the controls are still
  QTimer remake_;  // remakes the reduced copy once a resize settles
};
