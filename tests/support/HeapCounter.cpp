#include "tests/support/HeapCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> gLive{0};
std::atomic<size_t> gPeak{0};

void* Allocate(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  const size_t live = gLive += malloc_usable_size(p);
  size_t peak = gPeak.load();
  while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
  }
  return p;
}

void Release(void* p) {
  if (!p) return;
  gLive -= malloc_usable_size(p);
  std::free(p);
}

}  // namespace

namespace heap_counter {
size_t Live() { return gLive; }
size_t Peak() { return gPeak; }
void ResetPeak() { gPeak = gLive.load(); }
}  // namespace heap_counter

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
