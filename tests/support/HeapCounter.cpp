#include "tests/support/HeapCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Signed: a block allocated before counting began may be freed while counting.
std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gPeak{0};

void Counted(void* p) {
  const int64_t live = gLive += static_cast<int64_t>(malloc_usable_size(p));
  int64_t peak = gPeak.load();
  while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
  }
}

void* Allocate(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  Counted(p);
  return p;
}

void Release(void* p) {
  if (!p) return;
  gLive -= static_cast<int64_t>(malloc_usable_size(p));
  std::free(p);
}

}  // namespace

namespace heap_counter {
size_t Live() { return static_cast<size_t>(gLive.load()); }
size_t Peak() { return static_cast<size_t>(gPeak.load()); }
void ResetPeak() { gPeak = gLive.load(); }

void* Malloc(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p) Counted(p);
  return p;
}
void Free(void* p) { Release(p); }
void* Realloc(void* p, size_t size) {
  const int64_t old = p ? static_cast<int64_t>(malloc_usable_size(p)) : 0;
  void* q = std::realloc(p, size ? size : 1);
  if (!q) return nullptr;
  gLive -= old;
  Counted(q);
  return q;
}
char* Strdup(const char* s) {
  const size_t n = std::strlen(s) + 1;
  auto* p = static_cast<char*>(Malloc(n));
  if (p) std::memcpy(p, s, n);
  return p;
}
}  // namespace heap_counter

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

// Aligned blocks (a type declared with a large alignas) are counted too.
void* operator new(size_t size, std::align_val_t align) {
  void* p = nullptr;
  if (posix_memalign(&p, static_cast<size_t>(align), size ? size : 1) != 0) throw std::bad_alloc();
  Counted(p);
  return p;
}
void* operator new[](size_t size, std::align_val_t align) { return operator new(size, align); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { Release(p); }
