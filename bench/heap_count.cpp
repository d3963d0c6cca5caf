// The counting malloc family behind heap_count.h.
#include "bench/heap_count.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

/*
 * While a measurement is open, every block made is counted by its usable
 * size and every block freed is taken off, so that the count is the heap's
 * growth since the measurement opened (blocks made before it and freed
 * during it count as the shrinking they are); the highest count is its
 * peak. Outside a measurement the functions only pass the call on. Only
 * the benchmark's own thread allocates while a case measures. */

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<int64_t> live_heap{0};
std::atomic<int64_t> peak_heap{0};

void* Counted(void* block) {
  if (block == nullptr || !counting.load(std::memory_order_relaxed))
    return block;
  const auto size = static_cast<int64_t>(malloc_usable_size(block));
  const int64_t live = live_heap.fetch_add(size, std::memory_order_relaxed) + size;
  if (live > peak_heap.load(std::memory_order_relaxed))
    peak_heap.store(live, std::memory_order_relaxed);
  return block;
}

void Uncount(void* block) {
  if (block != nullptr && counting.load(std::memory_order_relaxed))
    live_heap.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
}

} // namespace

extern "C" {
void* malloc(size_t size) noexcept { return Counted(__libc_malloc(size)); }
void* calloc(size_t count, size_t size) noexcept { return Counted(__libc_calloc(count, size)); }
void free(void* block) noexcept {
  Uncount(block);
  __libc_free(block);
}
void* realloc(void* block, size_t size) noexcept {
  if (block == nullptr)
    return malloc(size);
  if (size == 0) {
    free(block);
    return nullptr;
  }
  const size_t before = counting.load(std::memory_order_relaxed) ? malloc_usable_size(block) : 0;
  void* moved = __libc_realloc(block, size);
  if (moved == nullptr)
    return nullptr;
  live_heap.fetch_sub(static_cast<int64_t>(before), std::memory_order_relaxed);
  return Counted(moved);
}
void* memalign(size_t alignment, size_t size) noexcept {
  return Counted(__libc_memalign(alignment, size));
}
void* aligned_alloc(size_t alignment, size_t size) noexcept {
  return Counted(__libc_memalign(alignment, size));
}
int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
  void* block = Counted(__libc_memalign(alignment, size));
  if (block == nullptr)
    return ENOMEM;
  *out = block;
  return 0;
}
void* valloc(size_t size) noexcept { return Counted(__libc_memalign(4096, size)); }
void* pvalloc(size_t size) noexcept {
  return Counted(__libc_memalign(4096, (size + 4095) & ~size_t{4095}));
}
}

heap_growth::heap_growth() {
  live_heap.store(0);
  peak_heap.store(0);
  counting.store(true);
}

heap_growth::~heap_growth() { counting.store(false); }

int64_t heap_growth::Peak() {
  counting.store(false);
  return peak_heap.load();
}
