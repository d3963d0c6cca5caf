/*
 * The keyword matching action's index of a keyword table (the session's
 * link_matching_info): the keywords' texts in running order, and a filter
 * that names, from one look at every window of a few bytes that starts
 * at a scanned byte of a text (every byte, or every second to fourth byte
 * when the keywords are long enough), the keywords that stand in it in any
 * case. The index is made once per table,
 * at its first use; the session keeps it when the table is dropped, for a
 * table built again of the same keywords. Which keywords the filter still
 * looks for is set anew for every walk.
 *
 * It does not match: the action (engine/actions_link_matching.cpp) applies
 * the mode's rules to the keywords the filter names. It also carries, from
 * a matching pass to the method that runs the passes, the keywords a
 * further pass could still find.
 */
#ifndef VELKO_ENGINE_KEYWORD_INDEX_H
#define VELKO_ENGINE_KEYWORD_INDEX_H

#include <stdint.h>

#include <vector>

#include "velko/host_types.h"

struct link_matching_info;

/* The windows a keyword is filed under: `step` windows side by side from
 * `offset` in the keyword; the keyword's last window of compared bytes,
 * folded (bit 5 set in each byte, so that a byte and its other case give
 * the same value), the first byte lowest; how often a window stood in a
 * text where the keyword did not, how often the keyword has moved to other
 * windows, and the offsets it has stood at since it last tried them all. */
struct keyword_window {
  WORD offset = 0;
  WORD moves = 0;
  DWORD misses = 0;
  uint32_t tail = 0;
  uint64_t tried[2] = {};
};

struct keyword_index {
  /* Keyword k: its text, ending in a NUL, at texts[places[k]], and its
   * length. */
  std::vector<char> texts;
  std::vector<DWORD> places;
  std::vector<WORD> lengths;
  /* Bytes in a window (2 to 4) and the windows side by side each keyword
   * is filed under (1 to 4), as the shortest compared keyword looked for
   * allows (width + step - 1 bytes at most); a text is looked at every step
   * bytes, where one window of each keyword's stands whatever byte the
   * keyword starts at. Set anew when the shortest keyword still looked for
   * changes; width 0 when no keyword of two bytes or more is. */
  WORD width = 0;
  WORD step = 1;
  /* Keyword k's windows; keywords of fewer than two bytes, which never
   * match, have none and are never filed. */
  std::vector<keyword_window> windows;
  /* How the keywords were first filed under each width and step met so
   * far: choosing the windows again would give the same. */
  struct first_filing {
    WORD width;
    WORD step;
    std::vector<keyword_window> windows;
    std::vector<uint32_t> entry_values;
  };
  std::vector<first_filing> first_filings;
  /* Window j of keyword k is entry k * step + j: its bytes folded, and the
   * next entry filed in the same slot (kNoKeyword ends the chain). */
  std::vector<uint32_t> entry_values;
  std::vector<DWORD> entry_next;
  /* Per walk: the first entry filed in each slot (a hash of the folded
   * window), kNoKeyword when none, and the filter's bits (a finer cut of
   * the same hash), each set while a keyword still to be found is filed
   * under a window of its hash. */
  std::vector<DWORD> slot_first;
  std::vector<uint64_t> live_bits;
  /* Per walk: 1 for each keyword still looked for, and how many of them
   * have each compared length; the shortest sets the width and step. */
  std::vector<uint8_t> looked;
  std::vector<DWORD> looked_lengths;
  /* The keywords that a further pass could find in the text runs this
   * pass wrote around its matches. */
  std::vector<DWORD> next_pass;
  /* What the walk's lane found in the text of a record it then left to the
   * per-record step (null when nothing waits): the step takes it instead
   * of scanning the same text again. */
  const char* looked_text = nullptr;
  std::vector<DWORD> looked_found;
};

constexpr DWORD kNoKeyword = 0xFFFFFFFF;

/* The table's index, made at the first call (or taken over from the last
 * table dropped, when its keywords are the same); null when the table has
 * no keyword list. */
keyword_index* TableKeywordIndex(link_matching_info* table);

/* Readies the index for a walk: every keyword not yet found under
 * SingleMatch= is looked for, and no further pass is wanted yet. */
void StartKeywordWalk(keyword_index* index, const link_matching_info* table);

/* A keyword linked under SingleMatch=: the filter stops looking for it,
 * and files the keywords still looked for under wider windows or a longer
 * step when it was the last of the shortest. Not during a scan. */
void DropFoundKeyword(keyword_index* index, DWORD keyword);

/* The keywords whose compared bytes stand in the text in any case, in
 * running order, each once; keywords found under SingleMatch= left out.
 * A keyword whose window keeps standing in texts without it is filed
 * under other windows of its own. */
std::vector<DWORD> KeywordsInText(keyword_index* index, const link_matching_info& table,
                                  const char* text, DWORD length);

/* After a pass that matched: whether one more pass over the body it wrote
 * could match a keyword, that is one it noted in the text it wrote around
 * its matches and has not since found under SingleMatch=. */
bool KeywordPassNeeded(const link_matching_info* table);

#endif
