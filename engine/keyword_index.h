/*
 * The keyword matching action's index of a keyword table (the session's
 * link_matching_info): the keywords' texts in running order, and a filter
 * that names, from one look at each window of a few bytes of a text, the
 * keywords that stand in it in any case. The index is made once per table,
 * at its first use, and dropped with the table; which keywords the filter
 * still looks for is set anew for every walk.
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

/* The filter's window of one keyword: the keyword, where the window
 * starts in it, and its bytes folded (bit 5 set in each, so that a byte
 * and its other case give the same value), the first byte lowest. */
struct keyword_window {
  DWORD keyword;
  WORD offset;
  uint32_t value;
};

struct keyword_index {
  /* Keyword k: its text, ending in a NUL, at texts[places[k]], and its
   * length. */
  std::vector<char> texts;
  std::vector<DWORD> places;
  std::vector<WORD> lengths;
  /* Bytes in a window (2 to 4: the shortest compared keyword, at most 4);
   * 0 when no keyword has two bytes or more. */
  WORD width = 0;
  /* The windows by slot (a hash of the folded window): those of slot s
   * are windows[slot_start[s]] up to windows[slot_start[s + 1]]. */
  std::vector<DWORD> slot_start;
  std::vector<keyword_window> windows;
  /* Keyword k's slot; kNoKeywordSlot for a keyword of fewer than two
   * bytes, which never matches. */
  std::vector<DWORD> slot_of;
  /* Per walk: how many keywords still to be found each slot holds, and
   * one bit per slot, set while it holds any. */
  std::vector<WORD> live;
  std::vector<uint64_t> live_bits;
  /* The keywords that a further pass could find in the text runs this
   * pass wrote around its matches. */
  std::vector<DWORD> next_pass;
};

constexpr DWORD kNoKeywordSlot = 0xFFFFFFFF;

/* The table's index, made at the first call; null when the table has no
 * keyword list. */
keyword_index* TableKeywordIndex(link_matching_info* table);

/* Readies the index for a walk: every keyword not yet found under
 * SingleMatch= is looked for, and no further pass is wanted yet. */
void StartKeywordWalk(keyword_index* index, const link_matching_info* table);

/* A keyword linked under SingleMatch=: the filter stops looking for it. */
void DropFoundKeyword(keyword_index* index, DWORD keyword);

/* The keywords whose compared bytes stand in the text in any case, in
 * running order, each once; keywords found under SingleMatch= left out. */
std::vector<DWORD> KeywordsInText(const keyword_index& index, const link_matching_info& table,
                                  const char* text, DWORD length);

/* Whether one more pass of the matching action over the body the last
 * pass wrote could match a keyword: one it noted in the text it wrote
 * around its matches, not since found under SingleMatch=. */
bool KeywordPassNeeded(const link_matching_info* table);

#endif
