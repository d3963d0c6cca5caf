/*
 * The serials of a working note's items (host/item_serials.h).
 */
#include "host/item_serials.h"

#include <cassert>

namespace velko::host {

namespace {

constexpr WORD kLargestSerial = 0xFFFF;
constexpr uint32_t kNoPosition = UINT32_MAX;

} // namespace

WORD ItemSerials::Next() {
  if (last_ != kLargestSerial) {
    const WORD serial = static_cast<WORD>(last_ + 1);
    if (positions_.size() <= serial)
      positions_.resize(size_t{serial} + 1, kNoPosition);
    last_ = serial;
    return serial;
  }
  if (free_.empty())
    CollectFree();
  for (size_t group = 0; group < kSummaryWords; ++group) {
    if (summary_[group] == 0)
      continue;
    const size_t word = group * kWordBits + static_cast<size_t>(__builtin_ctzll(summary_[group]));
    return static_cast<WORD>(word * kWordBits + static_cast<size_t>(__builtin_ctzll(free_[word])));
  }
  return 0;
}

void ItemSerials::Place(WORD serial, size_t position) {
  if (serial == 0)
    return;
  assert(serial < positions_.size() && position < kNoPosition);
  positions_[serial] = static_cast<uint32_t>(position);
  if (!free_.empty())
    MarkTaken(serial);
}

void ItemSerials::Free(WORD serial) {
  if (serial == 0 || serial >= positions_.size())
    return;
  positions_[serial] = kNoPosition;
  if (!free_.empty())
    MarkFree(serial);
}

size_t ItemSerials::PositionOf(WORD serial) const {
  if (serial == 0 || serial >= positions_.size() || positions_[serial] == kNoPosition)
    return kNone;
  return positions_[serial];
}

void ItemSerials::Clear() {
  last_ = 0;
  positions_.clear();
  free_.clear();
  summary_ = {};
}

void ItemSerials::MarkFree(WORD serial) {
  const size_t word = serial / kWordBits;
  free_[word] |= uint64_t{1} << (serial % kWordBits);
  summary_[word / kWordBits] |= uint64_t{1} << (word % kWordBits);
}

void ItemSerials::MarkTaken(WORD serial) {
  const size_t word = serial / kWordBits;
  free_[word] &= ~(uint64_t{1} << (serial % kWordBits));
  if (free_[word] == 0)
    summary_[word / kWordBits] &= ~(uint64_t{1} << (word % kWordBits));
}

void ItemSerials::CollectFree() {
  free_.assign(kFreeWords, 0);
  summary_ = {};
  for (size_t serial = 1; serial <= kLargestSerial; ++serial) {
    if (positions_[serial] == kNoPosition)
      MarkFree(static_cast<WORD>(serial));
  }
}

} // namespace velko::host
