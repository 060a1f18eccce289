#include "imaging/simd.h"

#include <hwy/highway.h>
#include <hwy/targets.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::int64_t Runnable() {
  return hwy::SupportedTargets() & HWY_TARGETS;
}

// Without any vector instruction set the fast forms would run their
// kernels one lane at a time, slower than the plain loops: use those.
bool VectorsAvailable() {
  const std::int64_t best = Runnable() & -Runnable();
  return best != HWY_SCALAR && best != HWY_EMU128;
}

std::atomic<int>& PlainFlag() {
  static std::atomic<int> flag{[] {
    const char* text = std::getenv("TESSARIN_PLAIN");
    return (text != nullptr && std::strcmp(text, "1") == 0) || !VectorsAvailable() ? 1 : 0;
  }()};
  return flag;
}

}  // namespace

bool PlainPaths() {
  return PlainFlag().load(std::memory_order_relaxed) != 0;
}

void SetPlainPaths(bool plain) {
  PlainFlag().store(plain ? 1 : 0);
}

std::string SimdTargetName(std::int64_t target) {
  return hwy::TargetName(target);
}

std::string SimdTargetName() {
  const std::int64_t targets = Runnable();
  return SimdTargetName(targets & -targets);
}

std::vector<std::int64_t> RunnableSimdTargets() {
  std::vector<std::int64_t> out;
  for (std::int64_t t = Runnable(); t != 0; t &= t - 1) out.push_back(t & -t);
  return out;
}

void SetSimdTarget(std::int64_t target) {
  hwy::SetSupportedTargetsForTest(target);
}
