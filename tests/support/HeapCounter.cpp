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

void CountedBytes(int64_t bytes) {
  const int64_t live = gLive += bytes;
  int64_t peak = gPeak.load();
  while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
  }
}

void Counted(void* p) { CountedBytes(static_cast<int64_t>(malloc_usable_size(p))); }

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

// Aligned blocks (a type declared with a large alignas) are counted too. The
// Windows runtime has neither posix_memalign nor a size for its own aligned
// blocks: there they are carved out of plain ones.
namespace {
#ifdef _WIN32
// The block is taken from malloc with room to align it, the start of that room
// and the bytes asked for kept just before the aligned address. The bytes asked
// for are counted, as the aligned allocator of the POSIX build wastes nothing
// worth counting either.
struct TAlignedHeader {
  void* Block;
  size_t Bytes;
};
void* AllocateAligned(size_t size, std::align_val_t align) {
  const size_t alignment = static_cast<size_t>(align);
  void* block = std::malloc(size + alignment + sizeof(TAlignedHeader));
  if (!block) throw std::bad_alloc();
  const uintptr_t start =
      (reinterpret_cast<uintptr_t>(block) + sizeof(TAlignedHeader) + alignment - 1) &
      ~(static_cast<uintptr_t>(alignment) - 1);
  TAlignedHeader* header = reinterpret_cast<TAlignedHeader*>(start) - 1;
  header->Block = block;
  header->Bytes = size;
  CountedBytes(static_cast<int64_t>(size));
  return reinterpret_cast<void*>(start);
}
void ReleaseAligned(void* p, std::align_val_t) {
  if (!p) return;
  const TAlignedHeader* header = static_cast<TAlignedHeader*>(p) - 1;
  gLive -= static_cast<int64_t>(header->Bytes);
  std::free(header->Block);
}
#else
void* AllocateAligned(size_t size, std::align_val_t align) {
  void* p = nullptr;
  if (posix_memalign(&p, static_cast<size_t>(align), size ? size : 1) != 0) throw std::bad_alloc();
  Counted(p);
  return p;
}
void ReleaseAligned(void* p, std::align_val_t) { Release(p); }
#endif
}  // namespace

void* operator new(size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void* operator new[](size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void operator delete(void* p, std::align_val_t align) noexcept { ReleaseAligned(p, align); }
void operator delete[](void* p, std::align_val_t align) noexcept { ReleaseAligned(p, align); }
void operator delete(void* p, size_t, std::align_val_t align) noexcept { ReleaseAligned(p, align); }
void operator delete[](void* p, size_t, std::align_val_t align) noexcept {
  ReleaseAligned(p, align);
}
