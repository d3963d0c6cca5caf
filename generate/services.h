/*
 * Services of higher layers that record generation calls: the chunk
 * layer's font override, which applies a parsed font spec to a FONTID (a
 * table's tab font). Declared here once; defined by the layer that owns it
 * (chunk/font_override.h describes it in full).
 */
#ifndef VELKO_GENERATE_SERVICES_H
#define VELKO_GENERATE_SERVICES_H

#include "generate/font_string.h"
#include "host/cdrecords.h"
#include "velko/host_types.h"

/* Overwrites the parts of *font whose mask entry is set (face, size,
 * colour with *rgb, colour flags, attributes set, added and removed).
 * Returns 0. */
STATUS ApplyFontOverride(FONTID* font, DWORD* rgb, WORD* colorFlags, const font_spec* spec,
                         const DWORD mask[7]);

/* ---- the chunk layer's paragraph update (chunk/paragraph_style.h) ---- */

struct paragraph_spec;

/* Rewrites definition (room for 92 bytes) with the new values of spec, as
 * an operation's paragraph parameters change the definitions it writes;
 * setImplied is the operation's implied-properties switch. */
void ApplyParagraphSpec(paragraph_spec* spec, _CDPABDEFEXT* definition, DWORD setImplied);

/* Parses text as a paragraph-style string for the item and rewrites
 * definition with its new values. 0, or the parser's status (the
 * definition then unchanged). */
STATUS ApplyParagraphStyleText(VelkoRTItem* item, const char* text, _CDPABDEFEXT* definition);

#endif
