// A small pool of worker threads for the toolkit's fast paths: a routine
// splits its rows into ranges and the pool runs them at once, the calling
// thread taking part. Every fast routine computes each output pixel the
// same way whichever range it falls in, so results never depend on the
// number of threads or on how the rows are split.
//
// Idle workers sleep on a condition variable; nothing spins. One job runs
// at a time: a second caller does its tasks itself on its own thread while
// the first job has the workers, and a call made from inside a job (a
// routine calling another) runs inline on its thread. An exception thrown
// by a task is rethrown to the caller once every task of the job has
// finished or been skipped.
#pragma once

#include <atomic>
#include <exception>
#include <functional>

// Threads the fast paths use, the calling thread included. Read once from
// the environment variable TESSARIN_THREADS (1 .. 256) when it is set and
// valid, otherwise the number of hardware threads.
int ThreadCount();

// Changes the count for the rest of the process (clamped to 1 .. 256), for
// example so that tests can compare one thread with several.
void SetThreadCount(int count);

// Runs body(i) for every i in 0 .. tasks - 1 and returns when all are done.
void ParallelFor(int tasks, const std::function<void(int)>& body);

// Splits rows 0 .. rows - 1 into contiguous ranges of at least minRows rows
// (the last may be shorter) and runs body(first, end) for each, `end`
// exclusive.
void ParallelRows(int rows, int minRows, const std::function<void(int, int)>& body);

// Work that may be given up: while a TCancelScope lives on a thread, every
// ParallelFor and ParallelRows called from that thread checks its flag
// before each task and, once the flag is set, skips the rest and throws
// TCancelled. The routines leave their output unfinished then; the
// engine's operations, which make their results aside, leave nothing
// changed.
class TCancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

class TCancelScope {
 public:
  explicit TCancelScope(const std::atomic<bool>& flag);
  ~TCancelScope();
  TCancelScope(const TCancelScope&) = delete;
  TCancelScope& operator=(const TCancelScope&) = delete;

 private:
  const std::atomic<bool>* outer_;
};
