/*
 * Marking bracketed pass-through HTML before rendering: in an item's loaded
 * record list, every "[<" and ">]" that stand in text runs of their own
 * become the two ends of a native pass-through run (HTMLBEGIN and HTMLEND
 * records spliced into the list), their text carrying visible markers.
 *
 * This rewrites the list in memory only; nothing is written to the note.
 */
#ifndef VELKO_RENDER_DELIMITED_HTML_H
#define VELKO_RENDER_DELIMITED_HTML_H

#include "velko/velko.h"

struct body_context;

/* Default markers. */
constexpr const char *kDelimitedStartMarker = "<!--DelimitedStart-->";
constexpr const char *kDelimitedEndMarker = "<!--DelimitedEnd-->";

/* Marks the bracketed HTML of the record list; start and end are the
 * marker texts (null: the defaults). Returns 0, or 263 when a record
 * cannot be rebuilt or a marker made for want of memory: the records
 * before it are marked, it and those after it are left as they were (a
 * later call marks them), and the list stays whole. */
STATUS MarkDelimitedHTML(LSXLsiSession *session, body_context *body, const char *start,
                         const char *end);

#endif
