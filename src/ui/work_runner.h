// Long commands off the user-interface thread. A job runs on a thread of
// the pool while the window goes on repainting; the busy cursor shows for
// as long as it runs, and its completion is handed back on the
// user-interface thread with the error it threw, if any. One job at a
// time: the window keeps the commands that would start another disabled
// until Finished.
#pragma once

#include <QObject>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "ui/busy_cursor.h"

class TWorkRunner : public QObject {
  Q_OBJECT

 public:
  // `showBusy`: the busy cursor shows while a job runs (work the user
  // waits for); work done ahead of need runs without it.
  explicit TWorkRunner(QObject* parent = nullptr, bool showBusy = true);
  // Waits for a running job; its completion is not run.
  ~TWorkRunner() override;

  bool Busy() const { return busy_; }
  // What the running job does ("Opening big.jpg"), empty when idle.
  const QString& What() const { return what_; }

  // Runs `work` on a pool thread, then `done` here with what it threw
  // (null when it completed). Must not be called while Busy.
  void Run(const QString& what, std::function<void()> work, std::function<void(std::exception_ptr)> done);

  // Blocks until the running job has ended and its completion has run.
  void Wait();

  // Shows a first result of the running job before it ends: called from
  // the job's work (or a thread it waits for), runs `show` here soon
  // after, unless the job has ended by then. Emits InterimShown once it ran.
  void Interim(std::function<void()> show);

  // Runs every job at once on the calling thread (tests that check the
  // results of commands rather than their timing).
  static void SetInline(bool inlineJobs);
  static bool Inline();

 signals:
  void Started(const QString& what);
  // A first result of the running job is shown.
  void InterimShown();
  // The job has ended; its completion runs right after.
  void Finished();

 private:
  struct Job;
  void Complete(const std::shared_ptr<Job>& job);

  bool showBusy_;
  bool busy_ = false;
  std::optional<TBusyCursor> busyCursor_;  // for as long as a job runs
  QString what_;
  std::shared_ptr<Job> job_;
};
