#include "imaging/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/fast_paths.h"

// Catches ranges that overlap, leave rows out or run past the end, for
// every split the pool may choose.
TEST(ParallelRows, EveryRowExactlyOnce) {
  for (int threads : {1, 2, 3, 8}) {
    ThreadsScope scope(threads);
    for (int rows : {0, 1, 2, 7, 64, 65, 1000}) {
      for (int minRows : {1, 3, 16, 2000}) {
        std::vector<std::atomic<int>> seen(std::size_t(rows) + 1);
        ParallelRows(rows, minRows, [&](int first, int end) {
          ASSERT_LT(first, end);
          ASSERT_GE(first, 0);
          ASSERT_LE(end, rows);
          for (int y = first; y < end; ++y) seen[std::size_t(y)]++;
        });
        for (int y = 0; y < rows; ++y)
          ASSERT_EQ(seen[std::size_t(y)].load(), 1) << rows << " rows, row " << y;
      }
    }
  }
}

TEST(ParallelFor, ExceptionReachesTheCallerAndThePoolGoesOn) {
  ThreadsScope scope(3);
  EXPECT_THROW(ParallelFor(50,
                           [](int i) {
                             if (i == 17) throw std::runtime_error("task 17");
                           }),
               std::runtime_error);
  std::atomic<int> sum{0};
  ParallelFor(100, [&](int i) { sum += i; });
  EXPECT_EQ(sum.load(), 4950);
}

// A routine called from inside a task runs inline instead of waiting for
// the pool it is running on.
TEST(ParallelFor, NestedCallsRunInline) {
  ThreadsScope scope(4);
  std::atomic<int> count{0};
  ParallelFor(8, [&](int) { ParallelRows(100, 1, [&](int first, int end) { count += end - first; }); });
  EXPECT_EQ(count.load(), 800);
}

// Two threads using the pool at once (say, the window and a test harness)
// take turns.
TEST(ParallelFor, CallersOnSeveralThreadsTakeTurns) {
  ThreadsScope scope(3);
  std::atomic<long> total{0};
  auto work = [&] {
    for (int k = 0; k < 50; ++k) ParallelFor(20, [&](int i) { total += i; });
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(total.load(), 2 * 50 * 190);
}

// Work given up: a set flag stops a job before its next task, on any
// number of threads; once the scope ends the thread's calls run whole again.
TEST(ParallelFor, ACancelScopeStopsTheJobAndEndsWithIt) {
  for (int threads : {1, 3}) {
    ThreadsScope scope(threads);
    std::atomic<bool> flag{true};
    std::atomic<int> ran{0};
    {
      const TCancelScope cancel(flag);
      EXPECT_THROW(ParallelFor(40, [&](int) { ++ran; }), TCancelled) << threads;
      EXPECT_EQ(ran.load(), 0) << threads;
      flag = false;
      // The first task sets the flag before anything else, so that however
      // the threads are scheduled no task starts after it.
      EXPECT_THROW(ParallelRows(4000, 1,
                                [&](int, int) {
                                  flag = true;
                                  ++ran;
                                }),
                   TCancelled)
          << threads;
      EXPECT_LE(ran.load(), threads) << threads;  // the tasks already under way, no more
    }
    ran = 0;
    ParallelFor(40, [&](int) { ++ran; });  // the flag is still set, the scope gone
    EXPECT_EQ(ran.load(), 40) << threads;
  }
}

TEST(ThreadCount, ClampedToAtLeastOne) {
  ThreadsScope scope(0);
  EXPECT_EQ(ThreadCount(), 1);
  SetThreadCount(100000);
  EXPECT_EQ(ThreadCount(), 256);
}

// Workers made anew after a change of the thread count must wait for the
// next job: one that woke for the job before it started ran that job's
// end a second time and the caller waited for ever. Catches workers that
// start from generation 0. A watchdog turns a hang into a failure.
TEST(ParallelFor, NewWorkersAfterACountChangeNeverHang) {
  const int before = ThreadCount();
  auto done = std::async(std::launch::async, [] {
    long total = 0;
    for (int round = 0; round < 3000; ++round) {
      SetThreadCount(round % 2 ? 3 : 2);
      std::atomic<int> sum{0};
      ParallelFor(4, [&](int i) { sum += i; });
      total += sum.load();
    }
    return total;
  });
  if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "the pool hung";
    std::_Exit(1);
  }
  EXPECT_EQ(done.get(), 3000L * 6);
  SetThreadCount(before);
}
