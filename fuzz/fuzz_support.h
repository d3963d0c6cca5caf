/*
 * What the fuzz targets share: the check that traps on a broken invariant,
 * and the storing of a body's bytes as the rich-text items of a note.
 */
#ifndef VELKO_FUZZ_FUZZ_SUPPORT_H
#define VELKO_FUZZ_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include "tests/support/note_fixture.h"
#include "velko/status.h"

/* A broken invariant traps; the fuzzer reports the input. */
inline void check(bool condition) {
  if (!condition)
    __builtin_trap();
}

/* The largest piece stored as one item: an item value less its type word. */
constexpr size_t kLargestPiece = 65533;

/* Splits the bytes into `pieces` about equal parts (the last takes the
 * rest), each cut to kLargestPiece, and appends each as a TYPE_COMPOSITE
 * value of the item (Body unless named) to the note. */
inline void AppendPieces(NOTEHANDLE note, const uint8_t* data, size_t size, int pieces,
                         const char* itemName = "Body") {
  const size_t each = size / pieces;
  for (int piece = 0; piece < pieces; ++piece) {
    const size_t from = piece * each;
    size_t length = piece == pieces - 1 ? size - from : each;
    if (length > kLargestPiece)
      length = kLargestPiece;
    const note_testing::Bytes value(data + from, data + from + length);
    check(note_testing::AppendRecords(note, itemName, value) == NOERROR);
  }
}

#endif
