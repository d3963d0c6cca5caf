/*
 * The replacement-pattern expander of regular-expression matches: a
 * pattern whose "$n" marks stand for the groups of one match. Nothing in
 * the engine calls it yet; it is kept with the search actions, whose
 * replacement texts it would expand.
 */
#ifndef VELKO_ENGINE_SEARCH_PATTERN_H
#define VELKO_ENGINE_SEARCH_PATTERN_H

#include <stdint.h>

#include "velko/host_types.h"

/* One group of a match: its start and end offsets in the matched text
 * (end not included). */
struct regex_group {
  WORD start = 0;
  WORD end = 0;
};

/* Writes into out (capacity bytes, the NUL included) the pattern with each
 * qualifying "$n" replaced by the text of group n, and returns the bytes
 * written before the NUL. groups holds groupCount + 1 entries, entry 0 the
 * whole match. A "$" qualifies when it is not the pattern's last
 * character, is not preceded by a backslash, and the decimal number after
 * it is at most 33 and at most groupCount; the copy goes on after one
 * digit for n up to 9, after two otherwise. A "$" that does not qualify is
 * copied as it is. A null or empty pattern gives the text of entry 0.
 * Group offsets are bounded by textLength; the output is cut at its
 * capacity and always NUL-terminated (capacity 0: nothing written). */
DWORD GenerateBufferFromRegexPattern(char* out, WORD capacity, const char* text, WORD textLength,
                                     const regex_group* groups, int32_t groupCount,
                                     const char* pattern);

#endif
