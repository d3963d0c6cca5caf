// The heap's growth while a measurement is open, counted by this binary's
// own malloc family (heap_count.cpp): every block made is counted by its
// usable size and every block freed is taken off, so that the count is the
// heap's growth since the measurement opened, and its highest value the
// peak. The session's tracked pool and the host's memory objects are made
// with malloc and new inside the process, so they count too. Only the
// benchmark's own thread allocates while a case measures.
#ifndef VELKO_BENCH_HEAP_COUNT_H
#define VELKO_BENCH_HEAP_COUNT_H

#include <cstdint>

/* One measurement: opened by construction, closed by Peak, which returns
 * the highest growth of the heap while it was open. */
class heap_growth {
public:
  heap_growth();
  ~heap_growth();
  heap_growth(const heap_growth&) = delete;
  heap_growth& operator=(const heap_growth&) = delete;

  int64_t Peak();
};

#endif
