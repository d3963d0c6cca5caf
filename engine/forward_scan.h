/*
 * Forward scans over a record list that many records ask in list order
 * (the start tests, the finds): a scan's stop is kept for the records it
 * passed over, so that nested or unclosed structures are read through
 * once rather than once per record that asks.
 */
#ifndef VELKO_ENGINE_FORWARD_SCAN_H
#define VELKO_ENGINE_FORWARD_SCAN_H

#include "store/body.h"

/* Where a forward scan from a record of the walk stopped, kept for the
 * records it passed over: a scan that begins at one of them stops at the
 * same record. */
struct forward_scan {
  const record_storage* cursor = nullptr; /* the record last answered; null: nothing kept */
  const record_storage* stop = nullptr;   /* where the scan stopped; null: the body's end */
};

/* The first record from `from` on that the test stops at (null: none up
 * to the body's end). A record that the last scan passed over gets that
 * scan's stop without a scan of its own: the cursor moves on from the
 * record answered last to `from`, or gives up at the stop. The walk asks
 * in record order, so each record is stepped over at most twice per walk
 * however many records ask, where a scan per record would read to the
 * body's end from each of them. */
template <typename Test>
const record_storage* ScanForward(forward_scan* scan, const record_storage* from, Test stops) {
  if (scan->cursor != nullptr) {
    const record_storage* node = scan->cursor;
    while (node != nullptr && node != from && node != scan->stop)
      node = node->next;
    if (node == from) {
      scan->cursor = from;
      return scan->stop;
    }
  }
  const record_storage* node = from;
  while (node != nullptr && !stops(node))
    node = node->next;
  scan->cursor = from;
  scan->stop = node;
  return node;
}

#endif
