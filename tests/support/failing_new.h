// The global operator new (and new[], and their nothrow forms) replaced by
// one that, once armed, throws std::bad_alloc (or answers null) at its Nth
// call, for the sweeps that run an operation once for every N until it
// meets no failure. Unarmed, it is malloc. Replacement allocation
// functions are defined once per program: include this header in exactly
// one source file of a test binary.
#ifndef VELKO_TESTS_SUPPORT_FAILING_NEW_H
#define VELKO_TESTS_SUPPORT_FAILING_NEW_H

#include <atomic>
#include <cstdlib>
#include <new>

namespace failing_new {

inline std::atomic<long> calls{0};   /* counted while armed */
inline std::atomic<long> fail_at{0}; /* 0: disarmed */

/* The Nth call from now fails. */
inline void Arm(long nth) {
  calls = 0;
  fail_at = nth;
}

inline void Disarm() { fail_at = 0; }

/* Whether the run armed at nth reached its Nth call. */
inline bool Fired(long nth) { return calls >= nth; }

/* The test's own allocations while armed (keeping what a call answered,
 * reporting a finding) are neither counted nor failed. */
class Unarmed {
public:
  Unarmed() : nth_(fail_at.exchange(0)) {}
  ~Unarmed() { fail_at = nth_; }
  Unarmed(const Unarmed&) = delete;
  Unarmed& operator=(const Unarmed&) = delete;

private:
  long nth_;
};

inline void* Allocate(std::size_t size) {
  const long nth = fail_at.load(std::memory_order_relaxed);
  if (nth > 0 && calls.fetch_add(1, std::memory_order_relaxed) + 1 == nth)
    throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size))
    return block;
  throw std::bad_alloc();
}

inline void* AllocateNoThrow(std::size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

} // namespace failing_new

/* Every form that allocates through malloc is paired with a delete that
 * frees through free, so that AddressSanitizer sees matching calls. */
void* operator new(std::size_t size) { return failing_new::Allocate(size); }
void* operator new[](std::size_t size) { return failing_new::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return failing_new::AllocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return failing_new::AllocateNoThrow(size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

#endif
