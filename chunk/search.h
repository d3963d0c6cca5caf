/*
 * Finding and replacing text inside the text of one text run (LMBCS bytes
 * with an explicit length, no NUL needed).
 *
 * The engine calls these for its find, highlight, replace and link-matching
 * actions; walking the records and writing changed records back is the
 * engine's. Nothing here reads or writes records.
 */
#ifndef VELKO_CHUNK_SEARCH_H
#define VELKO_CHUNK_SEARCH_H

#include <stdint.h>

#include "velko/host_types.h"

class LSXLsiSession;
struct chunk_process_state;

/* Finds the first occurrence of pattern in text and returns its byte
 * offset (always the start of a character), or -1. *matchLength (when
 * given) receives the number of text bytes the match covers.
 *
 * With wildcards, '?' before the first '*' matches any one character; the
 * first '*' matches any run of characters, and the part after it (the
 * suffix) is compared byte by byte without regard to ASCII case, '?'
 * matching any one byte. Characters are compared with IntlTextCompare,
 * case-sensitive and accent-sensitive as asked. With word boundaries a
 * match neither starts after a letter nor ends before one. The
 * regular-expression argument is not read. */
int32_t SearchBuffer(const char* text, WORD textLength, const char* pattern, WORD patternLength,
                     BOOL wildcards, BOOL caseSensitive, BOOL accentSensitive, BOOL wordBoundaries,
                     BOOL regularExpression, WORD* matchLength, NLS_PINFO info);

/* The new text of a replacement. */
struct replaced_text {
  char* text = nullptr; /* NUL-terminated; a block of the session's tracked pool */
  DWORD length = 0;     /* bytes, without the NUL */
  DWORD matches = 0;    /* occurrences replaced; 0: the text is an unchanged copy */
};

/* Replaces every occurrence of the state's search text (s2, its length p2
 * or, when 0, its string length) in text by the replacement (s1, its length
 * p1 or its string length; none: the empty text), searching with the
 * operation chunk's CaseSensitive, AccentSensitive and SearchWordBoundaries
 * flags, and with wildcards when the chunk's TextWildcards or the state's
 * text_wildcards is set. For action 2399 each occurrence is replaced
 * by as many bytes of the replacement as the occurrence covers (at most
 * the replacement's length). The bytes of the latest occurrence are left,
 * NUL-terminated and cut to fit, in the session's first scratch text.
 *
 * The new text goes into a tracked block sized for it; the caller releases
 * it with ReleaseReplacedText. A result longer than `capacity` bytes
 * replaces nothing: 20017 is returned and set as the secondary status of
 * the state and of the chunk, and *result stays empty. 263 when memory cannot be had; 1028 for
 * a state without session or chunk. A null or empty search text matches
 * nothing. */
STATUS ReplaceTextInBuffer(const char* text, WORD length, chunk_process_state* state,
                           DWORD capacity, replaced_text* result);

/* Returns the block of a replacement to the session's pool and empties it. */
void ReleaseReplacedText(LSXLsiSession* session, replaced_text* result);

#endif
