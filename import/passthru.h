/*
 * Marking pass-through HTML for the importer: in a loaded record list, text
 * between two caller-chosen delimiters is escaped and wrapped in "[" ...
 * "]", so that the importer takes it as text and the result carries it as
 * bracketed pass-through HTML. A native pass-through run (HTMLBEGIN ..
 * HTMLEND) around such a region is closed before it and reopened after it.
 *
 * The list is rewritten in memory only (its body's arena); nothing is
 * written to a note. Not here: turning bracketed text into native runs for
 * rendering (render/delimited_html.h).
 */
#ifndef VELKO_IMPORT_PASSTHRU_H
#define VELKO_IMPORT_PASSTHRU_H

#include "velko/velko.h"

struct body_context;
struct html_import_state;

/* The longest text record the marking writes, header included; a longer
 * rebuilt text continues in further text records with the same header. */
constexpr DWORD kLongestMarkedText = 64382;

/* Marks the regions between the state's start and end delimiters in the
 * text records of the list. A null or empty delimiter leaves the list as
 * it is. A delimiter is recognised wherever it lies whole inside one text
 * record; a region may span records. 0, or 263 when memory runs out (the
 * list then stays whole, the records before the failing one marked). */
STATUS EncodePassthruHTML(body_context* body, html_import_state* state);

#endif
