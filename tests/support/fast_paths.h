// Helpers for the tests that compare a routine's fast form with its plain
// form byte for byte: every instruction set this CPU runs, at one thread
// and at several, and case counts scaled down in the slow Debug and
// sanitizer builds.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/parallel.h"
#include "imaging/simd.h"

// Full case counts in the optimised build; a twentieth (at least 1) in the
// Debug and sanitizer builds, where every case costs ten to fifty times as
// much.
// Under an emulator (TESSARIN_EMULATED set, as `make test-arm64` does) the
// same twentieth.
inline int CaseCount(int full) {
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
  if (std::getenv("TESSARIN_EMULATED") == nullptr) return full;
#endif
  return full / 20 > 0 ? full / 20 : 1;
}

struct FastVariant {
  std::int64_t target;
  int threads;
  bool oneLane;  // the one-lane set, which normal runs never use
  std::string Name() const { return SimdTargetName(target) + " x" + std::to_string(threads); }
};

// The best instruction set at 1 and at 3 threads (the split into row
// ranges is the same code on every set), then every other runnable set at
// 1 thread.
inline const std::vector<FastVariant>& FastVariants() {
  static const std::vector<FastVariant> variants = [] {
    std::vector<FastVariant> out;
    const std::vector<std::int64_t> targets = RunnableSimdTargets();
    for (std::size_t i = 0; i < targets.size(); ++i) {
      const std::string name = SimdTargetName(targets[i]);
      out.push_back({targets[i], 1, name == "SCALAR" || name == "EMU128"});
      if (i == 0) out.push_back({targets[i], 3, false});
    }
    return out;
  }();
  return variants;
}

// For routines without vector code: the best set at 1 and at 3 threads.
inline std::vector<FastVariant> ThreadVariants() {
  const std::vector<FastVariant>& all = FastVariants();
  return {all[0], all[1]};
}

// Restores the thread count a test changed.
class ThreadsScope {
 public:
  explicit ThreadsScope(int threads) : before_(ThreadCount()) { SetThreadCount(threads); }
  ~ThreadsScope() { SetThreadCount(before_); }

 private:
  int before_;
};

// Puts one variant in force and the defaults back on destruction.
class VariantScope {
 public:
  explicit VariantScope(const FastVariant& v) : threads_(ThreadCount()) {
    SetSimdTarget(v.target);
    SetThreadCount(v.threads);
  }
  ~VariantScope() {
    SetSimdTarget(0);
    SetThreadCount(threads_);
  }
  VariantScope(const VariantScope&) = delete;
  VariantScope& operator=(const VariantScope&) = delete;

 private:
  int threads_;
};

// Whether fast() gives `want` under every variant; names the first that
// does not. fast() must build its result afresh from copies of its inputs.
// The one-lane set, slow and never used by normal runs, takes every fourth
// case (by caseIndex).
template <class T, class Fast>
bool SameUnderEveryVariant(const T& want, const Fast& fast, std::string& failed, int caseIndex = 0,
                           const std::vector<FastVariant>& variants = FastVariants()) {
  for (const FastVariant& v : variants) {
    if (v.oneLane && caseIndex % 4 != 0) continue;
    VariantScope scope(v);
    if (!(fast() == want)) {
      failed = v.Name();
      return false;
    }
  }
  return true;
}
