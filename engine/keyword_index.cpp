/*
 * The index of a keyword table that the keyword matching action reads: the
 * keywords in running order and the window filter (see keyword_index.h).
 *
 * Every keyword of two bytes or more is filed under one window of its
 * compared bytes (at most the first 80), chosen where its letters are
 * least common in running text, so that ordinary words rarely hit a
 * keyword's window. A text is scanned one byte at a time: the window
 * starting at each byte is folded, hashed to a slot and tested against one
 * bit; only a set bit leads to the slot's windows and from a window to the
 * whole keyword, compared without regard to case.
 */
#include "engine/keyword_index.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "host/osmem.h"
#include "host/textlist.h"
#include "store/session.h"

namespace {

constexpr size_t kKeywordCompare = 80;
constexpr int kSlotBits = 16;
constexpr DWORD kSlots = DWORD{1} << kSlotBits;
constexpr WORD kWidestWindow = 4;

/* The window's bytes with bit 5 set in each, the first byte lowest. A
 * byte and its other case (tolower and toupper differ in that bit) fold
 * alike, so folding never parts two texts that compare equal. */
uint32_t FoldedWindow(const BYTE* bytes, WORD width) {
  uint32_t value = 0;
  for (WORD i = 0; i < width; ++i)
    value |= static_cast<uint32_t>(bytes[i] | 0x20) << (8 * i);
  return value;
}

DWORD SlotOf(uint32_t folded) { return (folded * 2654435761u) >> (32 - kSlotBits); }

/* How often a byte stands in running text, roughly: letters by their
 * frequency in English, blanks most often. */
uint32_t ByteWeight(BYTE byte) {
  static constexpr char kByFrequency[] = "etaoinshrdlcumwfgypbvkjxqz";
  const BYTE lower = byte >= 'A' && byte <= 'Z' ? static_cast<BYTE>(byte | 0x20) : byte;
  if (const char* at = std::strchr(kByFrequency, lower); at != nullptr && lower != 0)
    return static_cast<uint32_t>(sizeof kByFrequency - (at - kByFrequency));
  if (byte == ' ')
    return 30;
  return byte < 0x80 ? 4 : 2;
}

/* Where in the keyword's compared bytes the window of its rarest bytes
 * starts. */
WORD RarestWindow(const char* keyword, size_t compared, WORD width) {
  WORD best = 0;
  uint64_t bestWeight = UINT64_MAX;
  for (size_t offset = 0; offset + width <= compared; ++offset) {
    uint64_t weight = 1;
    for (WORD i = 0; i < width; ++i)
      weight *= ByteWeight(static_cast<BYTE>(keyword[offset + i]));
    if (weight < bestWeight) {
      bestWeight = weight;
      best = static_cast<WORD>(offset);
    }
  }
  return best;
}

/* Reads every keyword of the table's lists, in running order. */
void ReadKeywords(const link_matching_info& table, keyword_index* index) {
  for (int list = 0; list < kKeywordListHandles; ++list) {
    const DHANDLE handle = table.keyword_lists[list];
    if (handle == NULLHANDLE)
      break;
    const void* keywords = OSLockObject(handle);
    const WORD count = ListGetNumEntries(keywords, TRUE);
    for (WORD entry = 0; entry < count; ++entry) {
      char* keyword = nullptr;
      WORD length = 0;
      if (ListGetText(keywords, TRUE, entry, &keyword, &length) != NOERROR)
        length = 0;
      index->places.push_back(static_cast<DWORD>(index->texts.size()));
      index->lengths.push_back(length);
      index->texts.insert(index->texts.end(), keyword, keyword + length);
      index->texts.push_back('\0');
    }
    OSUnlockObject(handle);
  }
}

/* Files every keyword of two bytes or more under its window. */
void FileWindows(keyword_index* index) {
  const DWORD count = static_cast<DWORD>(index->lengths.size());
  size_t narrowest = kWidestWindow;
  for (const WORD length : index->lengths)
    if (length >= 2)
      narrowest = std::min(narrowest, std::min<size_t>(length, kKeywordCompare));
  index->width = std::any_of(index->lengths.begin(), index->lengths.end(),
                             [](WORD length) { return length >= 2; })
                     ? static_cast<WORD>(narrowest)
                     : 0;
  index->slot_of.assign(count, kNoKeywordSlot);
  index->slot_start.assign(kSlots + 1, 0);
  if (index->width == 0)
    return;
  std::vector<keyword_window> windows;
  for (DWORD k = 0; k < count; ++k) {
    if (index->lengths[k] < 2)
      continue;
    const char* keyword = index->texts.data() + index->places[k];
    const size_t compared = std::min<size_t>(index->lengths[k], kKeywordCompare);
    const WORD offset = RarestWindow(keyword, compared, index->width);
    const uint32_t value =
        FoldedWindow(reinterpret_cast<const BYTE*>(keyword) + offset, index->width);
    windows.push_back({k, offset, value});
    index->slot_of[k] = SlotOf(value);
    ++index->slot_start[index->slot_of[k] + 1];
  }
  for (DWORD slot = 0; slot < kSlots; ++slot)
    index->slot_start[slot + 1] += index->slot_start[slot];
  index->windows.resize(windows.size());
  std::vector<DWORD> filled(index->slot_start.begin(), index->slot_start.end() - 1);
  for (const keyword_window& window : windows)
    index->windows[filled[index->slot_of[window.keyword]]++] = window;
}

bool FoundUnderSingleMatch(const link_matching_info& table, DWORD keyword) {
  return table.SingleMatch != 0 && table.matched_words != nullptr &&
         table.matched_words[keyword] != 0;
}

/* The keywords of the slot whose window stands at byte `at` of the text
 * (folded to `value`) and whose compared bytes all stand there. */
void CheckSlot(const keyword_index& index, const link_matching_info& table, DWORD slot,
               uint32_t value, const char* text, DWORD length, DWORD at,
               std::vector<DWORD>* found) {
  for (DWORD w = index.slot_start[slot]; w < index.slot_start[slot + 1]; ++w) {
    const keyword_window& window = index.windows[w];
    if (window.value != value || window.offset > at)
      continue;
    const DWORD k = window.keyword;
    const DWORD start = at - window.offset;
    const size_t compared = std::min<size_t>(index.lengths[k], kKeywordCompare);
    if (start + compared > length || FoundUnderSingleMatch(table, k))
      continue;
    if (strncasecmp(text + start, index.texts.data() + index.places[k], compared) == 0)
      found->push_back(k);
  }
}

} // namespace

keyword_index* TableKeywordIndex(link_matching_info* table) {
  if (table->index != nullptr)
    return table->index.get();
  if (table->keyword_lists[0] == NULLHANDLE)
    return nullptr;
  auto* index = new keyword_index;
  table->index = {index, [](keyword_index* made) { delete made; }};
  ReadKeywords(*table, index);
  FileWindows(index);
  return index;
}

void StartKeywordWalk(keyword_index* index, const link_matching_info* table) {
  index->live.assign(kSlots, 0);
  index->live_bits.assign(kSlots / 64, 0);
  index->next_pass.clear();
  for (DWORD k = 0; k < index->slot_of.size(); ++k) {
    const DWORD slot = index->slot_of[k];
    if (slot == kNoKeywordSlot || FoundUnderSingleMatch(*table, k))
      continue;
    ++index->live[slot];
    index->live_bits[slot / 64] |= uint64_t{1} << (slot % 64);
  }
}

void DropFoundKeyword(keyword_index* index, DWORD keyword) {
  const DWORD slot = index->slot_of[keyword];
  if (slot == kNoKeywordSlot || index->live[slot] == 0)
    return;
  if (--index->live[slot] == 0)
    index->live_bits[slot / 64] &= ~(uint64_t{1} << (slot % 64));
}

std::vector<DWORD> KeywordsInText(const keyword_index& index, const link_matching_info& table,
                                  const char* text, DWORD length) {
  std::vector<DWORD> found;
  const WORD width = index.width;
  if (width == 0 || length < width)
    return found;
  const auto* bytes = reinterpret_cast<const BYTE*>(text);
  const uint64_t* bits = index.live_bits.data();
  // The window's bytes are read four at a time while four remain, the
  // bytes past the window masked off.
  const uint32_t mask = width == 4 ? 0xFFFFFFFFu : (uint32_t{1} << (8 * width)) - 1;
  const uint32_t fold = 0x20202020u & mask;
  DWORD at = 0;
  for (; at + 4 <= length; ++at) {
    const uint32_t value = ((static_cast<uint32_t>(bytes[at]) |
                             static_cast<uint32_t>(bytes[at + 1]) << 8 |
                             static_cast<uint32_t>(bytes[at + 2]) << 16 |
                             static_cast<uint32_t>(bytes[at + 3]) << 24) &
                            mask) |
                           fold;
    const DWORD slot = SlotOf(value);
    if ((bits[slot / 64] >> (slot % 64) & 1) != 0)
      CheckSlot(index, table, slot, value, text, length, at, &found);
  }
  for (; at + width <= length; ++at) {
    const uint32_t value = FoldedWindow(bytes + at, width);
    const DWORD slot = SlotOf(value);
    if ((bits[slot / 64] >> (slot % 64) & 1) != 0)
      CheckSlot(index, table, slot, value, text, length, at, &found);
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

bool KeywordPassNeeded(const link_matching_info* table) {
  if (table == nullptr || table->index == nullptr)
    return false;
  const std::vector<DWORD>& noted = table->index->next_pass;
  return std::any_of(noted.begin(), noted.end(),
                     [&](DWORD k) { return !FoundUnderSingleMatch(*table, k); });
}
