/*
 * The serials of a working note's items: which serial to give a new item,
 * and where the item of a live serial stands in the note's items, each in
 * constant time however many items the note holds.
 *
 * Serials are given rising from 1. Once 65535 was given, the lowest serial
 * no live item holds is given again, found through a two-level bitmap of
 * the free serials. Positions are kept per serial; the note places every
 * item it adds and, after items left, every item that moved. Placing and
 * freeing need no memory, so a removal cannot fail part-way; only Next
 * allocates. Serial 0 is never given and never found. Private to host/.
 */
#ifndef VELKO_HOST_ITEM_SERIALS_H
#define VELKO_HOST_ITEM_SERIALS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "velko/host_types.h"

namespace velko::host {

class ItemSerials {
public:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  // The serial for a new item, with room made to place it: above the last
  // given while any is left, then the lowest free one; 0 when every serial
  // is live. Short memory throws std::bad_alloc and gives none.
  WORD Next();

  // The item of the serial stands at the position. Needs no memory for a
  // serial Next gave.
  void Place(WORD serial, size_t position);
  // No item holds the serial any more. Needs no memory.
  void Free(WORD serial);
  // Where the item of the serial stands; kNone when no item holds it.
  size_t PositionOf(WORD serial) const;

  // Forgets every serial, as a new note has none.
  void Clear();

private:
  static constexpr size_t kWordBits = 64;
  static constexpr size_t kFreeWords = 65536 / kWordBits;
  static constexpr size_t kSummaryWords = kFreeWords / kWordBits;

  void MarkFree(WORD serial);
  void MarkTaken(WORD serial);
  // Builds the free bitmap from the positions, once the serials ran out.
  void CollectFree();

  WORD last_ = 0;
  // The position of each serial's item, kNone for none; as long as the
  // highest serial given.
  std::vector<uint32_t> positions_;
  // Set once the serials ran out: a bit per free serial, and a bit per
  // word of it that has any.
  std::vector<uint64_t> free_;
  std::array<uint64_t, kSummaryWords> summary_ = {};
};

} // namespace velko::host

#endif
