/*
 * Finding a named element (table, button, layer) or a text run among the
 * loaded records of a chunk's item, by its name or text under a match
 * mode, and the comparison they share. The chunk methods FindNamedChunk
 * and FindTextChunk learn the chunk's record range from the engine and
 * call these.
 *
 * Nothing here changes a record; stepping through targets by reading the
 * stored values is the engine's (engine/find.h).
 */
#ifndef VELKO_CHUNK_FIND_H
#define VELKO_CHUNK_FIND_H

#include "generate/font_string.h"
#include "velko/velko.h"

/* Match modes of the find methods. */
enum : WORD {
  FIND_MATCH_ANY = 0,
  FIND_MATCH_EXACT = 1,
  FIND_MATCH_STARTS = 2,
  FIND_MATCH_ENDS = 3,
  FIND_MATCH_SUBSTRING = 4,
  FIND_MATCH_EVENT = 5, /* matches anything, as every other mode not named */
};

/* 1 when the pattern matches the text under the mode, else 0: mode 0 (and
 * any mode not named above) always; exact: found at 0 covering the whole
 * text; starts: found at 0; ends: found so that the match ends with the
 * text; substring: found anywhere. An empty pattern is found at 0 with a
 * match length of 0. The flags and the character-set information go to
 * SearchBuffer; *matchLength (when given) receives the bytes covered. */
int MatchStringInBuffer(const char* text, WORD textLength, const char* pattern, WORD patternLength,
                        WORD mode, BOOL wildcards, BOOL caseSensitive, BOOL accentSensitive,
                        BOOL wordBoundaries, BOOL regularExpression, WORD* matchLength,
                        NLS_PINFO info);

/* The number of the first table (target type 1), button (3) or layer (29)
 * of the chunk's item whose name matches the pattern under the mode and
 * that has a record within [first, last] (within not 0) or after last
 * (within 0), by record number. Elements are counted from the start of the
 * item. 0 when none matches, when first or last is 0, for other target
 * types, and for a number past 65535. The chunk's search flags apply. */
WORD FindNamedChunkInternal(VelkoRTChunk* chunk, int within, DWORD first, DWORD last,
                            const char* pattern, WORD patternLength, WORD mode, WORD targetType);

/* The number of the first text run of the chunk's item, within or after
 * the range as above, whose font passes the filter and whose text record
 * matches the pattern under the mode. Runs are counted from the start of
 * the item: a CDBEGIN/CDEND bracket of text records is one run, a text
 * record outside a bracket another. 0 as for FindNamedChunkInternal. */
WORD FindTextChunkInternal(VelkoRTChunk* chunk, int within, DWORD first, DWORD last,
                           const char* pattern, WORD patternLength, WORD mode,
                           const font_spec* font, const font_spec_mask* mask);

#endif
