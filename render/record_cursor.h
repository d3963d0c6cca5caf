/*
 * A position that moves forward through a record list with the rendering
 * walk, reading every record it passes exactly once. Renderers that would
 * otherwise look back through the list at every record (for the paragraph
 * in force, for the text before a run) keep what they need as the cursor
 * reads, so that rendering stays linear in the list.
 *
 * Records are in list order with non-decreasing ordinals; the cursor
 * relies on that only to tell a record behind it from one ahead. A
 * question about a record behind it is for its owner to answer by looking
 * back.
 */
#ifndef VELKO_RENDER_RECORD_CURSOR_H
#define VELKO_RENDER_RECORD_CURSOR_H

#include "store/body.h"

struct record_cursor {
  const record_storage *next = nullptr;      /* the first record not read; null at the end */
  const record_storage *last_read = nullptr; /* null before the first */
  bool started = false;
};

/* Moves the cursor onto `at`, handing every record it passes to read (a
 * callable taking the record). The first move starts at the head of at's
 * list. True when the cursor stands on `at`; false when `at` lies behind
 * it (what was read stays read). */
template <typename Read>
bool MoveCursorTo(record_cursor &cursor, const record_storage *at, Read &&read) {
  if (!cursor.started) {
    const record_storage *head = at;
    while (head->previous != nullptr)
      head = head->previous;
    cursor.next = head;
    cursor.started = true;
  }
  if (cursor.last_read != nullptr && at->ordinal < cursor.last_read->ordinal)
    return false;
  while (cursor.next != nullptr && cursor.next != at) {
    if (cursor.next->ordinal > at->ordinal)
      return false; // passed where `at` would stand: it lies behind
    read(cursor.next);
    cursor.last_read = cursor.next;
    cursor.next = cursor.next->next;
  }
  return cursor.next == at;
}

#endif
