#include "imaging/simd.h"

#include <hwy/highway.h>
#include <hwy/targets.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<int>& PlainFlag() {
  static std::atomic<int> flag{[] {
    const char* text = std::getenv("TESSARIN_PLAIN");
    return text != nullptr && std::strcmp(text, "1") == 0 ? 1 : 0;
  }()};
  return flag;
}

std::int64_t Runnable() { return hwy::SupportedTargets() & HWY_TARGETS; }

}  // namespace

bool PlainPaths() { return PlainFlag().load(std::memory_order_relaxed) != 0; }

void SetPlainPaths(bool plain) { PlainFlag().store(plain ? 1 : 0); }

std::string SimdTargetName(std::int64_t target) { return hwy::TargetName(target); }

std::string SimdTargetName() {
  const std::int64_t targets = Runnable();
  return SimdTargetName(targets & -targets);
}

std::vector<std::int64_t> RunnableSimdTargets() {
  std::vector<std::int64_t> out;
  for (std::int64_t t = Runnable(); t != 0; t &= t - 1) out.push_back(t & -t);
  return out;
}

void SetSimdTarget(std::int64_t target) { hwy::SetSupportedTargetsForTest(target); }
