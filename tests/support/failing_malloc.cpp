#include "support/failing_malloc.h"

#include <dlfcn.h>
#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

// Open-addressing sets of block addresses (no allocation of their own).
constexpr std::size_t kSlots = std::size_t(1) << 18;
void* const kTombstone = reinterpret_cast<void*>(1);

struct PointerSet {
  void* slots[kSlots];
  std::size_t count;

  static std::size_t Hash(void* p) {
    return (reinterpret_cast<std::uintptr_t>(p) >> 4) * 0x9E3779B97F4A7C15ull >> 46;
  }
  void Insert(void* p) {
    for (std::size_t i = Hash(p);; i = (i + 1) & (kSlots - 1)) {
      if (slots[i] == nullptr || slots[i] == kTombstone || slots[i] == p) {
        if (slots[i] != p) ++count;
        slots[i] = p;
        return;
      }
    }
  }
  bool Erase(void* p) {
    for (std::size_t i = Hash(p);; i = (i + 1) & (kSlots - 1)) {
      if (slots[i] == nullptr) return false;
      if (slots[i] == p) {
        slots[i] = kTombstone;
        --count;
        return true;
      }
    }
  }
  void Clear() {
    std::memset(slots, 0, sizeof slots);
    count = 0;
  }
};

PointerSet gLive, gFreed;
std::atomic_flag gLock = ATOMIC_FLAG_INIT;
bool gWatching = false;
long gFailAt = -1, gCount = 0, gDoubleFrees = 0;
std::size_t gLargest = 0;
bool gFailed = false;

struct Locked {
  Locked() {
    while (gLock.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Locked() { gLock.clear(std::memory_order_release); }
};

// Whether `caller` lies in the OpenMP runtime, which ends the process on
// a failed allocation by design (libimagequant's threads come from it):
// such an allocation is let through and the next one fails instead.
bool FromOpenMp(void* caller) {
  Dl_info info;
  return dladdr(caller, &info) != 0 && info.dli_fname != nullptr &&
         std::strstr(info.dli_fname, "libgomp") != nullptr;
}

// Whether this allocation of `size` bytes, made from `caller`, is the one
// to fail.
bool Fails(void* caller, std::size_t size) {
  if (!gWatching) return false;
  if (size > gLargest) gLargest = size;
  if (gCount++ != gFailAt) return false;
  if (FromOpenMp(caller)) {
    ++gFailAt;
    return false;
  }
  gFailed = true;
  return true;
}

void Allocated(void* p) {
  if (!gWatching || p == nullptr) return;
  gLive.Insert(p);
  gFreed.Erase(p);
}

// False when `p` was already freed while watching (then it is not freed
// again, so the test can report it instead of the heap breaking).
bool Freeing(void* p) {
  if (!gWatching || p == nullptr) return true;
  if (gLive.Erase(p)) {
    if (gFreed.count < kSlots / 2) gFreed.Insert(p);
    return true;
  }
  if (gFreed.Erase(p)) {
    ++gDoubleFrees;
    return false;
  }
  return true;  // a block from before the watch
}

}  // namespace

namespace failing_malloc {

void Watch(long failAt) {
  Locked lock;
  gLive.Clear();
  gFreed.Clear();
  gFailAt = failAt;
  gCount = 0;
  gDoubleFrees = 0;
  gFailed = false;
  gLargest = 0;
  gWatching = true;
}

Report Stop() {
  Locked lock;
  gWatching = false;
  return Report{gCount, gFailed, gLive.count, gDoubleFrees, gLargest};
}

}  // namespace failing_malloc

namespace {

void* AlignedFrom(void* caller, std::size_t alignment, std::size_t size) {
  Locked lock;
  if (Fails(caller, size)) {
    errno = ENOMEM;
    return nullptr;
  }
  void* p = __libc_memalign(alignment, size);
  Allocated(p);
  return p;
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) {
  Locked lock;
  if (Fails(__builtin_return_address(0), size)) {
    errno = ENOMEM;
    return nullptr;
  }
  void* p = __libc_malloc(size);
  Allocated(p);
  return p;
}

void* calloc(std::size_t count, std::size_t size) {
  Locked lock;
  if (Fails(__builtin_return_address(0), count * size)) {
    errno = ENOMEM;
    return nullptr;
  }
  void* p = __libc_calloc(count, size);
  Allocated(p);
  return p;
}

void* realloc(void* old, std::size_t size) {
  Locked lock;
  if (Fails(__builtin_return_address(0), size)) {
    errno = ENOMEM;
    return nullptr;
  }
  if (old != nullptr && !Freeing(old)) return nullptr;
  void* p = __libc_realloc(old, size);
  if (p == nullptr && old != nullptr && size != 0) Allocated(old);  // the old block stays
  Allocated(p);
  return p;
}

void free(void* p) {
  Locked lock;
  if (Freeing(p)) __libc_free(p);
}

void* memalign(std::size_t alignment, std::size_t size) {
  return AlignedFrom(__builtin_return_address(0), alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return AlignedFrom(__builtin_return_address(0), alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  void* p = AlignedFrom(__builtin_return_address(0), alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}

void* valloc(std::size_t size) {
  return AlignedFrom(__builtin_return_address(0), 4096, size);
}
void* pvalloc(std::size_t size) {
  return AlignedFrom(__builtin_return_address(0), 4096, (size + 4095) & ~std::size_t(4095));
}

}  // extern "C"
