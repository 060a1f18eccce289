#include "ui/work_runner.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

namespace {

bool gInline = false;

}  // namespace

struct TWorkRunner::Job {
  std::function<void(std::exception_ptr)> done;
  std::exception_ptr error;
  QFuture<void> future;
  bool completed = false;
};

TWorkRunner::TWorkRunner(QObject* parent, bool showBusy) : QObject(parent), showBusy_(showBusy) {}

TWorkRunner::~TWorkRunner() {
  if (job_) job_->future.waitForFinished();
}

void TWorkRunner::SetInline(bool inlineJobs) {
  gInline = inlineJobs;
}

bool TWorkRunner::Inline() {
  return gInline;
}

void TWorkRunner::Interim(std::function<void()> show) {
  // job_ is this job until its work has returned, and the work waits for
  // whoever calls this.
  const std::shared_ptr<Job> job = job_;
  if (!job) return;
  QMetaObject::invokeMethod(
      this,
      [this, job, show = std::move(show)] {
        if (job->completed) return;
        show();
        emit InterimShown();
      },
      gInline ? Qt::DirectConnection : Qt::QueuedConnection);
}

void TWorkRunner::Run(const QString& what, std::function<void()> work,
                      std::function<void(std::exception_ptr)> done) {
  auto job = std::make_shared<Job>();
  job->done = std::move(done);
  busy_ = true;
  what_ = what;
  job_ = job;
  if (showBusy_) busyCursor_.emplace();
  emit Started(what);
  const auto body = [job, work = std::move(work)] {
    try {
      work();
    } catch (...) {
      job->error = std::current_exception();
    }
  };
  if (gInline) {
    body();
    Complete(job);
    return;
  }
  job->future = QtConcurrent::run(body);
  // The watcher lives until the job's completion has run.
  auto* watcher = new QFutureWatcher<void>(this);
  connect(watcher, &QFutureWatcher<void>::finished, this, [this, job, watcher] {
    watcher->deleteLater();
    Complete(job);
  });
  watcher->setFuture(job->future);
}

void TWorkRunner::Wait() {
  if (!job_) return;
  const std::shared_ptr<Job> job = job_;
  job->future.waitForFinished();
  Complete(job);
}

void TWorkRunner::Complete(const std::shared_ptr<Job>& job) {
  if (job->completed) return;
  job->completed = true;
  if (job_ == job) job_.reset();
  busy_ = false;
  what_.clear();
  busyCursor_.reset();
  emit Finished();
  job->done(job->error);
}
