// What the benchmarks share: a deterministic number sequence for the
// generated input, the storing of a body's item values as a note, and the
// thread's CPU clock for the benchmarks that time two cases in pairs.
#ifndef VELKO_BENCH_BENCH_SUPPORT_H
#define VELKO_BENCH_BENCH_SUPPORT_H

#include <time.h>

#include <cstdint>
#include <vector>

#include "host/nsfnote.h"
#include "tests/support/note_fixture.h"

/* A small deterministic generator, so that every run times the same input. */
class Sequence {
public:
  explicit Sequence(uint32_t seed) : state_(seed) {}

  uint32_t Next(uint32_t bound) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % bound;
  }

private:
  uint32_t state_;
};

/* A new note of the database holding the values as items of the name, in
 * order; its note id. */
inline NOTEID StoreItems(DBHANDLE db, const char* name,
                         const std::vector<note_testing::Bytes>& values) {
  NOTEHANDLE note = NULLHANDLE;
  NSFNoteCreate(db, &note);
  for (const auto& value : values)
    note_testing::AppendRecords(note, name, value);
  NSFNoteUpdate(note, UPDATE_FORCE);
  NOTEID id = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &id);
  NSFNoteClose(note);
  return id;
}

/* Seconds of this thread's CPU time. */
inline double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

#endif
