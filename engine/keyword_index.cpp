/*
 * The index of a keyword table that the keyword matching action reads: the
 * keywords in running order and the window filter (see keyword_index.h).
 *
 * Every keyword of two bytes or more is filed under `step` windows side
 * by side of its compared bytes (at most the first 80). A text is scanned
 * every `step` bytes, so that one of each keyword's windows falls on a
 * scanned byte wherever the keyword stands: the window starting there is
 * folded, hashed and tested against one bit; only a set bit leads to the
 * windows filed in the slot of the hash, and from a keyword's window to
 * its last window and then to the whole keyword, compared without regard
 * to case.
 *
 * A keyword is first filed where its bytes are least common in running
 * text and least shared with other keywords. Texts differ: a window that
 * keeps standing in the text without its keyword moves the keyword to
 * other windows of its own, so that common words cost a look at one bit.
 * Which window a keyword is filed under never changes what is found.
 */
#include "engine/keyword_index.h"

#include <strings.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "host/osmem.h"
#include "host/textlist.h"
#include "store/session.h"

namespace {

constexpr size_t kKeywordCompare = 80;
constexpr int kSlotBits = 16;
constexpr DWORD kSlots = DWORD{1} << kSlotBits;
/* The bits of the filter (a finer cut of the same hash as the slots): with
 * one bit per slot most set bits a text's windows met were other windows'
 * of the slot, each a call that finds nothing. */
constexpr int kMarkBits = 20;
constexpr DWORD kMarks = DWORD{1} << kMarkBits;
static_assert(kMarkBits >= kSlotBits);
constexpr WORD kWidestWindow = 4;
constexpr WORD kWidestStep = 4;
/* Misses a window may have before its keyword moves: twice as many after
 * every move, up to the last. */
constexpr DWORD kFirstMissLimit = 16;
constexpr WORD kLastDoubling = 12;

/* The window's bytes with bit 5 set in each, the first byte lowest. A
 * byte and its other case (tolower and toupper differ in that bit) fold
 * alike, so folding never parts two texts that compare equal. */
uint32_t FoldedWindow(const BYTE* bytes, WORD width) {
  uint32_t value = 0;
  for (WORD i = 0; i < width; ++i)
    value |= static_cast<uint32_t>(bytes[i] | 0x20) << (8 * i);
  return value;
}

uint32_t HashOf(uint32_t folded) { return folded * 2654435761u; }
DWORD SlotOf(uint32_t folded) { return HashOf(folded) >> (32 - kSlotBits); }
DWORD MarkOf(uint32_t folded) { return HashOf(folded) >> (32 - kMarkBits); }

bool Marked(const uint64_t* marks, DWORD mark) { return (marks[mark / 64] >> (mark % 64) & 1) != 0; }

/* How often a byte stands in running text, roughly: letters by their
 * frequency in English, blanks most often; one table, made once. */
struct byte_weights {
  uint8_t of[256];
  constexpr byte_weights() : of() {
    constexpr char kByFrequency[] = "etaoinshrdlcumwfgypbvkjxqz";
    for (int byte = 0; byte < 256; ++byte)
      of[byte] = byte == ' ' ? 30 : byte < 0x80 ? 4 : 2;
    for (size_t rank = 0; kByFrequency[rank] != '\0'; ++rank) {
      const auto weight = static_cast<uint8_t>(sizeof kByFrequency - rank);
      of[static_cast<BYTE>(kByFrequency[rank])] = weight;
      of[static_cast<BYTE>(kByFrequency[rank] - 'a' + 'A')] = weight;
    }
  }
};
constexpr byte_weights kByteWeights;

uint64_t ByteWeight(BYTE byte) { return kByteWeights.of[byte]; }

/* How many windows are filed under each folded value: open addressing
 * over a power of two of places, value 0 (never a folded window, whose
 * bytes all have bit 5 set) marking a free one. */
class filed_windows {
public:
  explicit filed_windows(size_t windows) {
    size_t places = 16;
    while (places < windows * 2) {
      places *= 2;
      ++bits_;
    }
    values_.assign(places, 0);
    counts_.assign(places, 0);
  }
  DWORD Count(uint32_t value) const {
    for (size_t at = Place(value);; at = (at + 1) & (values_.size() - 1)) {
      if (values_[at] == value)
        return counts_[at];
      if (values_[at] == 0)
        return 0;
    }
  }
  void Add(uint32_t value) {
    size_t at = Place(value);
    while (values_[at] != value && values_[at] != 0)
      at = (at + 1) & (values_.size() - 1);
    values_[at] = value;
    ++counts_[at];
  }

private:
  size_t Place(uint32_t value) const { return (value * 2654435761u) >> (32 - bits_); }
  int bits_ = 4;
  std::vector<uint32_t> values_;
  std::vector<DWORD> counts_;
};

const BYTE* KeywordBytes(const keyword_index& index, DWORD k) {
  return reinterpret_cast<const BYTE*>(index.texts.data() + index.places[k]);
}

size_t ComparedLength(const keyword_index& index, DWORD k) {
  return std::min<size_t>(index.lengths[k], kKeywordCompare);
}

bool Tried(const keyword_window& window, size_t offset) {
  return (window.tried[offset / 64] >> (offset % 64) & 1) != 0;
}

/* The offset of the keyword's windows with the rarest bytes in running
 * text, each window counted as often again for every window already filed
 * under its bytes, among those it has not stood at since it tried them
 * all. */
WORD ChooseWindow(keyword_index* index, DWORD k, const filed_windows* filed) {
  keyword_window& window = index->windows[k];
  const size_t last = ComparedLength(*index, k) - index->width - (index->step - 1u);
  bool fresh = false;
  for (size_t offset = 0; offset <= last && !fresh; ++offset)
    fresh = !Tried(window, offset);
  if (!fresh)
    window.tried[0] = window.tried[1] = 0;
  const BYTE* keyword = KeywordBytes(*index, k);
  // The cost of the window at each place, found once: the windows side by
  // side from neighbouring offsets share all but one.
  uint64_t placeCosts[kKeywordCompare];
  for (size_t place = 0; place < last + index->step; ++place) {
    uint64_t one = 1;
    for (WORD i = 0; i < index->width; ++i)
      one *= ByteWeight(keyword[place + i]);
    if (filed != nullptr)
      one *= 1 + uint64_t{filed->Count(FoldedWindow(keyword + place, index->width))};
    placeCosts[place] = one;
  }
  WORD best = 0;
  uint64_t bestCost = UINT64_MAX;
  for (size_t offset = 0; offset <= last; ++offset) {
    if (Tried(window, offset))
      continue;
    uint64_t cost = 0;
    for (WORD j = 0; j < index->step; ++j)
      cost += placeCosts[offset + j];
    if (cost < bestCost) {
      bestCost = cost;
      best = static_cast<WORD>(offset);
    }
  }
  return best;
}

/* Files keyword k under the windows from `offset` on. */
void SetWindow(keyword_index* index, DWORD k, WORD offset) {
  keyword_window& window = index->windows[k];
  const BYTE* keyword = KeywordBytes(*index, k);
  window.offset = offset;
  for (WORD j = 0; j < index->step; ++j)
    index->entry_values[k * index->step + j] = FoldedWindow(keyword + offset + j, index->width);
  window.tried[offset / 64] |= uint64_t{1} << (offset % 64);
  window.misses = 0;
}

/* Reads every keyword of the table's lists, in running order. */
void ReadKeywords(const link_matching_info& table, keyword_index* index) {
  for (int list = 0; list < kKeywordListHandles; ++list) {
    const DHANDLE handle = table.keyword_lists[list];
    if (handle == NULLHANDLE)
      break;
    const void* keywords = OSLockObject(handle);
    const WORD count = ListGetNumEntries(keywords, TRUE);
    // The texts stand back to back: each starts where the one before ends,
    // so only the first is looked up by its place.
    char* next = nullptr;
    for (WORD entry = 0; entry < count; ++entry) {
      WORD length = 0;
      if (ListGetText(keywords, TRUE, entry, entry == 0 ? &next : nullptr, &length) != NOERROR)
        length = 0;
      const char* keyword = next;
      next += length;
      index->places.push_back(static_cast<DWORD>(index->texts.size()));
      index->lengths.push_back(length);
      index->texts.insert(index->texts.end(), keyword, keyword + length);
      index->texts.push_back('\0');
    }
    OSUnlockObject(handle);
  }
}

bool HasWindow(const keyword_index& index, DWORD k) { return index.lengths[k] >= 2; }

/* The width and step of the windows when the shortest compared keyword
 * has `shortest` bytes: windows of four bytes where they leave a step of
 * two or more, else of three with a step of two, up to a step of four;
 * the step leaves the shortest keywords of six bytes or more two places
 * for their windows, so that keywords that begin alike need not all be
 * filed under their common first bytes. */
void ChooseWidthAndStep(size_t shortest, WORD* width, WORD* step) {
  *step = 1;
  if (shortest <= 3) {
    *width = static_cast<WORD>(shortest);
    return;
  }
  *width = shortest >= 5 ? kWidestWindow : 3;
  *step = static_cast<WORD>(std::min<size_t>(std::max<size_t>(shortest - *width, 2), kWidestStep));
}

/* The shortest compared length of the keywords still looked for, 0 when
 * none is. */
size_t ShortestLooked(const keyword_index& index) {
  for (size_t length = 2; length < index.looked_lengths.size(); ++length)
    if (index.looked_lengths[length] != 0)
      return length;
  return 0;
}

/* Files every keyword long enough for windows of `width` bytes `step`
 * side by side under its first windows; shorter keywords are not looked
 * for while these hold. A width and step met before file them as then. */
void FileWindows(keyword_index* index, WORD width, WORD step) {
  const DWORD count = static_cast<DWORD>(index->lengths.size());
  index->width = width;
  index->step = step;
  index->entry_next.assign(size_t{count} * step, kNoKeyword);
  for (const keyword_index::first_filing& filing : index->first_filings) {
    if (filing.width == width && filing.step == step) {
      index->windows = filing.windows;
      index->entry_values = filing.entry_values;
      return;
    }
  }
  index->windows.assign(count, {});
  index->entry_values.assign(size_t{count} * step, 0);
  if (width == 0)
    return;
  filed_windows filed(size_t{count} * step);
  for (DWORD k = 0; k < count; ++k) {
    if (!HasWindow(*index, k) || ComparedLength(*index, k) < size_t{width} + step - 1u)
      continue;
    SetWindow(index, k, ChooseWindow(index, k, &filed));
    for (WORD j = 0; j < step; ++j)
      filed.Add(index->entry_values[k * step + j]);
    index->windows[k].tail =
        FoldedWindow(KeywordBytes(*index, k) + ComparedLength(*index, k) - width, width);
  }
  index->first_filings.push_back({width, step, index->windows, index->entry_values});
}

bool FoundUnderSingleMatch(const link_matching_info& table, DWORD keyword) {
  return table.SingleMatch != 0 && table.matched_words != nullptr &&
         table.matched_words[keyword] != 0;
}

void Link(keyword_index* index, DWORD k) {
  for (DWORD entry = k * index->step; entry < (k + 1) * index->step; ++entry) {
    const DWORD slot = SlotOf(index->entry_values[entry]);
    const DWORD mark = MarkOf(index->entry_values[entry]);
    index->entry_next[entry] = index->slot_first[slot];
    index->slot_first[slot] = entry;
    index->live_bits[mark / 64] |= uint64_t{1} << (mark % 64);
  }
}

void Unlink(keyword_index* index, DWORD k) {
  for (DWORD entry = k * index->step; entry < (k + 1) * index->step; ++entry) {
    const DWORD slot = SlotOf(index->entry_values[entry]);
    const DWORD mark = MarkOf(index->entry_values[entry]);
    DWORD* link = &index->slot_first[slot];
    while (*link != kNoKeyword && *link != entry)
      link = &index->entry_next[*link];
    if (*link == kNoKeyword)
      continue;
    *link = index->entry_next[entry];
    // The mark stays while another window of the slot has it.
    bool shared = false;
    for (DWORD other = index->slot_first[slot]; other != kNoKeyword && !shared;
         other = index->entry_next[other])
      shared = MarkOf(index->entry_values[other]) == mark;
    if (!shared)
      index->live_bits[mark / 64] &= ~(uint64_t{1} << (mark % 64));
  }
}

/* Empties the slots and the filter of a walk. Every keyword looked for is
 * linked under its windows, and nothing else is: clearing the slots and
 * the filter words of those windows clears them all, without writing the
 * whole of either. */
void ClearLinks(keyword_index* index) {
  for (DWORD k = 0; k < index->looked.size(); ++k) {
    if (index->looked[k] == 0)
      continue;
    for (DWORD entry = k * index->step; entry < (k + 1) * index->step; ++entry) {
      index->slot_first[SlotOf(index->entry_values[entry])] = kNoKeyword;
      index->live_bits[MarkOf(index->entry_values[entry]) / 64] = 0;
    }
  }
}

/* Files the keywords anew when the shortest one still looked for allows
 * other windows than those they are filed under, and links every keyword
 * looked for into fresh slots: wider windows and a longer step make the
 * scan cheaper once the short keywords are found. A walk's start clears
 * the slots and the filter whole: little of them is still in the cache
 * then. */
void FitWindowsToLooked(keyword_index* index, bool relink) {
  WORD width = 0;
  WORD step = 1;
  ChooseWidthAndStep(ShortestLooked(*index), &width, &step);
  if (width == index->width && step == index->step && !relink)
    return;
  if (relink) {
    index->slot_first.assign(kSlots, kNoKeyword);
    index->live_bits.assign(kMarks / 64, 0);
  } else {
    ClearLinks(index);
  }
  if (width != index->width || step != index->step)
    FileWindows(index, width, step);
  for (DWORD k = 0; k < index->looked.size(); ++k)
    if (index->looked[k] != 0)
      Link(index, k);
}

/* A window that stood where its keyword did not; true when it has done
 * so often enough for the keyword to move. */
bool CountMiss(keyword_index* index, DWORD k) {
  keyword_window& window = index->windows[k];
  return ++window.misses == kFirstMissLimit << std::min(window.moves, kLastDoubling);
}

/* Moves the keyword to the window it has least tried. Kept out of the
 * scan that calls it: inlined there, it leaves the scan's loop too few
 * registers for its place in the text. */
[[gnu::noinline]] void MoveWindow(keyword_index* index, DWORD k) {
  keyword_window& window = index->windows[k];
  Unlink(index, k);
  SetWindow(index, k, ChooseWindow(index, k, nullptr));
  if (window.moves < kLastDoubling)
    ++window.moves;
  Link(index, k);
}

/* What a scan of a text gathers: the keywords found, and those to move to
 * another window once the scan is over (moving one during the scan could
 * pass over a place already scanned). */
struct scan_result {
  std::vector<DWORD> found;
  std::vector<DWORD> moving;
};

/* The keywords with a window filed in the slot that stands at byte `at`
 * of the text (folded to `value`) and whose compared bytes all stand
 * there. */
[[gnu::noinline]] void CheckSlot(keyword_index* index, const link_matching_info& table, DWORD slot,
               uint32_t value, const char* text, DWORD length, DWORD at, scan_result* scan) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text);
  const WORD width = index->width;
  for (DWORD entry = index->slot_first[slot]; entry != kNoKeyword;
       entry = index->entry_next[entry]) {
    if (index->entry_values[entry] != value)
      continue;
    const DWORD k = entry / index->step;
    const keyword_window& window = index->windows[k];
    const DWORD offset = window.offset + entry % index->step;
    const size_t compared = ComparedLength(*index, k);
    const DWORD start = at - offset;
    // The keyword's last window rules out most other keywords before the
    // whole keyword is compared.
    if (offset <= at && start + compared <= length &&
        FoldedWindow(bytes + start + compared - width, width) == window.tail &&
        strncasecmp(text + start, index->texts.data() + index->places[k], compared) == 0) {
      if (!FoundUnderSingleMatch(table, k))
        scan->found.push_back(k);
    } else if (CountMiss(index, k)) {
      scan->moving.push_back(k);
    }
  }
}

/* The scan of the places where four bytes remain (the text has four or
 * more), for windows of four bytes every STEP bytes; where it stopped. */
template <WORD STEP>
DWORD ScanFourByteWindows(keyword_index* index, const link_matching_info& table, const char* text,
                          DWORD length, scan_result* scan) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text);
  const uint64_t* marks = index->live_bits.data();
  const BYTE* const end = bytes + length - 3;
  const BYTE* at = bytes;
  for (; at < end; at += STEP) {
    uint32_t raw;
    std::memcpy(&raw, at, sizeof raw);
    const uint32_t value = raw | 0x20202020u;
    if (Marked(marks, MarkOf(value))) [[unlikely]]
      CheckSlot(index, table, SlotOf(value), value, text, length, static_cast<DWORD>(at - bytes),
                scan);
  }
  return static_cast<DWORD>(at - bytes);
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
  if (table->session == nullptr || table->session->internal == nullptr)
    return index;
  // A table built again of the keywords of the last one dropped takes over
  // its index: the keywords need not be filed again. Where they stand now
  // in the filter changes nothing that is found.
  auto& spare = table->session->internal->spare_keyword_index;
  if (spare != nullptr && spare->texts == index->texts && spare->lengths == index->lengths) {
    table->index = std::move(spare);
    table->index->next_pass.clear();
    table->index->looked_text = nullptr;
  }
  spare = nullptr;
  return table->index.get();
}

void StartKeywordWalk(keyword_index* index, const link_matching_info* table) {
  index->next_pass.clear();
  index->looked_text = nullptr;
  const DWORD count = static_cast<DWORD>(index->lengths.size());
  index->looked.assign(count, 0);
  index->looked_lengths.assign(kKeywordCompare + 1, 0);
  for (DWORD k = 0; k < count; ++k) {
    if (HasWindow(*index, k) && !FoundUnderSingleMatch(*table, k)) {
      index->looked[k] = 1;
      ++index->looked_lengths[ComparedLength(*index, k)];
    }
  }
  FitWindowsToLooked(index, true);
}

void DropFoundKeyword(keyword_index* index, DWORD keyword) {
  if (keyword >= index->looked.size() || index->looked[keyword] == 0)
    return;
  index->looked[keyword] = 0;
  --index->looked_lengths[ComparedLength(*index, keyword)];
  Unlink(index, keyword);
  FitWindowsToLooked(index, false);
}

std::vector<DWORD> KeywordsInText(keyword_index* index, const link_matching_info& table,
                                  const char* text, DWORD length) {
  scan_result scan;
  const WORD width = index->width;
  const WORD step = index->step;
  if (width == 0 || length < width)
    return scan.found;
  const auto* bytes = reinterpret_cast<const BYTE*>(text);
  const uint64_t* marks = index->live_bits.data();
  DWORD at = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // While four bytes remain the window is read four at a time, the bytes
    // past it masked off; windows of four bytes with a step of three (most
    // keywords) take a loop of their own, its step and fold constants.
    const uint32_t mask = width == 4 ? 0xFFFFFFFFu : (uint32_t{1} << (8 * width)) - 1;
    if (width == 4 && step == 3)
      at = ScanFourByteWindows<3>(index, table, text, length, &scan);
    else if (width == 4 && step == 2)
      at = ScanFourByteWindows<2>(index, table, text, length, &scan);
    else if (width == 4 && step == 4)
      at = ScanFourByteWindows<4>(index, table, text, length, &scan);
    const uint32_t fold = 0x20202020u & mask;
    for (; at + 4 <= length; at += step) {
      uint32_t raw;
      std::memcpy(&raw, bytes + at, sizeof raw);
      const uint32_t value = (raw & mask) | fold;
      if (Marked(marks, MarkOf(value))) [[unlikely]]
        CheckSlot(index, table, SlotOf(value), value, text, length, at, &scan);
    }
  }
  for (; at + width <= length; at += step) {
    const uint32_t value = FoldedWindow(bytes + at, width);
    if (Marked(marks, MarkOf(value)))
      CheckSlot(index, table, SlotOf(value), value, text, length, at, &scan);
  }
  for (const DWORD k : scan.moving)
    MoveWindow(index, k);
  std::vector<DWORD>& found = scan.found;
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
