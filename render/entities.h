/*
 * The HTML entity table: the 252 named character references of HTML 4.01
 * (the Latin-1, symbol and special sets), each with its Unicode code point
 * and its LMBCS form as the host writes it. The renderers look names up by
 * code point after reading an LMBCS character; the HTML import looks them up
 * by name.
 *
 * This file writes nothing; escaping and numeric references are the output
 * primitive's (render/output_buffer.h).
 */
#ifndef VELKO_RENDER_ENTITIES_H
#define VELKO_RENDER_ENTITIES_H

#include <stddef.h>

#include "velko/host_types.h"

/* One named character reference. */
struct html_entity {
  const char *name; /* without "&" and ";" */
  DWORD code;       /* Unicode code point */
  BYTE lmbcs[3];    /* the character in LMBCS */
  BYTE lmbcs_length;
};

constexpr int kHtmlEntityCount = 252;

/* The table, in ascending order of code point (every code point once). */
extern const html_entity kHtmlEntities[kHtmlEntityCount];

/* The row of a code point, or null. */
const html_entity *LookupEntityByCode(DWORD codePoint);

/* The row of a name (case counts, as in HTML: "Aacute" and "aacute" are
 * two characters), or null. length: bytes of name. */
const html_entity *LookupEntityByName(const char *name, size_t length);

/* The entity name of the LMBCS character of `length` bytes at `character`,
 * or null when it has none. The character is read as its code point, so
 * every LMBCS spelling of it finds the same name. info: the session's
 * character-set information (the text is LMBCS either way). */
const char *lookupExtended(NLS_PINFO info, const char *character, WORD length);

#endif
