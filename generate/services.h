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

#endif
