#include "imaging/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kMaxThreads = 256;

int ThreadsFromEnvironment() {
  if (const char* text = std::getenv("TESSARIN_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && n >= 1 && n <= kMaxThreads) return int(n);
  }
  const unsigned hw = std::thread::hardware_concurrency();
  return hw == 0 ? 1 : std::min(int(hw), kMaxThreads);
}

// Set while a thread runs tasks of a job, so that nested calls run inline.
thread_local bool insideJob = false;
// The flag of the innermost TCancelScope on this thread.
thread_local const std::atomic<bool>* cancelFlag = nullptr;

class Pool {
 public:
  ~Pool() { StopWorkers(); }

  int Threads() const { return threads_.load(); }

  void SetThreads(int count) {
    std::lock_guard<std::mutex> lock(jobMutex_);
    count = std::clamp(count, 1, kMaxThreads);
    if (count == threads_.load()) return;
    StopWorkers();
    threads_.store(count);
  }

  void Run(int tasks, const std::function<void(int)>& body) {
    if (tasks <= 0) return;
    if (insideJob || tasks == 1) {
      for (int i = 0; i < tasks; ++i) body(i);
      return;
    }
    // While another thread's job has the workers, this one does its own
    // tasks rather than wait for them.
    std::unique_lock<std::mutex> jobLock(jobMutex_, std::try_to_lock);
    if (!jobLock.owns_lock() || threads_.load() == 1) {
      RunInline(tasks, body);
      return;
    }
    StartWorkers();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      body_ = &body;
      tasks_ = tasks;
      next_.store(0);
      busy_ = int(workers_.size());
      error_ = nullptr;
      ++generation_;
    }
    wake_.notify_all();
    Work();
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
    body_ = nullptr;
    if (error_) {
      std::exception_ptr error = error_;
      error_ = nullptr;
      std::rethrow_exception(error);
    }
  }

 private:
  static void RunInline(int tasks, const std::function<void(int)>& body) {
    insideJob = true;
    try {
      for (int i = 0; i < tasks; ++i) body(i);
    } catch (...) {
      insideJob = false;
      throw;
    }
    insideJob = false;
  }

  // Takes tasks of the current job until none is left. After the first
  // failure the remaining tasks are skipped.
  void Work() {
    insideJob = true;
    for (;;) {
      const int i = next_.fetch_add(1);
      if (i >= tasks_) break;
      try {
        (*body_)(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!error_) error_ = std::current_exception();
        next_.store(tasks_);
      }
    }
    insideJob = false;
  }

  // `seen` is the generation current when the worker was made: it takes
  // part in later jobs only, never in one that ended before it started.
  void WorkerLoop(std::uint64_t seen) {
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
      }
      Work();
      std::lock_guard<std::mutex> lock(mutex_);
      if (--busy_ == 0) done_.notify_one();
    }
  }

  // Called with jobMutex_ held.
  void StartWorkers() {
    if (!workers_.empty()) return;
    std::uint64_t generation;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = false;
      generation = generation_;
    }
    for (int i = 1; i < threads_.load(); ++i)
      workers_.emplace_back([this, generation] { WorkerLoop(generation); });
  }

  void StopWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
  }

  std::mutex jobMutex_;  // one job at a time; guards changes of threads_ and workers_
  std::atomic<int> threads_{ThreadsFromEnvironment()};
  std::vector<std::thread> workers_;

  std::mutex mutex_;  // guards the fields below
  std::condition_variable wake_, done_;
  const std::function<void(int)>* body_ = nullptr;
  int tasks_ = 0;
  std::atomic<int> next_{0};
  int busy_ = 0;
  std::uint64_t generation_ = 0;
  bool stop_ = false;
  std::exception_ptr error_;
};

Pool& ThePool() {
  static Pool pool;
  return pool;
}

}  // namespace

int ThreadCount() {
  return ThePool().Threads();
}

void SetThreadCount(int count) {
  ThePool().SetThreads(count);
}

void ParallelFor(int tasks, const std::function<void(int)>& body) {
  const std::atomic<bool>* cancel = insideJob ? nullptr : cancelFlag;
  if (cancel == nullptr) {
    ThePool().Run(tasks, body);
    return;
  }
  ThePool().Run(tasks, [&](int i) {
    if (cancel->load(std::memory_order_relaxed)) throw TCancelled();
    body(i);
  });
}

TCancelScope::TCancelScope(const std::atomic<bool>& flag) : outer_(cancelFlag) {
  cancelFlag = &flag;
}

TCancelScope::~TCancelScope() {
  cancelFlag = outer_;
}

void ParallelRows(int rows, int minRows, const std::function<void(int, int)>& body) {
  if (rows <= 0) return;
  minRows = std::max(minRows, 1);
  // A few ranges per thread even out threads that run at different speeds.
  const int maxRanges = insideJob ? 1 : ThreadCount() * 4;
  const int ranges = std::max(1, std::min((rows + minRows - 1) / minRows, maxRanges));
  ParallelFor(ranges, [&](int i) {
    const int first = int(std::int64_t(rows) * i / ranges);
    const int end = int(std::int64_t(rows) * (i + 1) / ranges);
    if (first < end) body(first, end);
  });
}
