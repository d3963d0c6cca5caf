/*
 * Services of higher layers that record generation calls: the chunk
 * layer's font override, which applies a parsed font spec to a FONTID (a
 * table's tab font), its paragraph update (a layer's or reply section's
 * paragraph style), and its appends of imported files and image
 * resources; the export layer's import filters. Declared here once;
 * defined by the layer that owns it (chunk/font_override.h describes the
 * override in full; the others are defined in the owner's pending.cpp until
 * they are built, and until then answer 1028 or find nothing).
 */
#ifndef VELKO_GENERATE_SERVICES_H
#define VELKO_GENERATE_SERVICES_H

#include "generate/font_string.h"
#include "host/cdrecords.h"
#include "velko/host_types.h"

struct generation_context;

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

/* Appends the records of an image resource of the database (named by
 * name) to the output at the width and height given (0: its own), with the
 * properties of the graphic. */
STATUS AppendImageResourceRecords(generation_context* context, const char* name, WORD width,
                                  WORD height, const char* properties);

/* Appends every record of a CD file written by an import filter to the
 * output, starting with a fresh default paragraph definition. */
STATUS AppendImportFile(const char* path, generation_context* context);

/* ---- the export layer ---- */

/* Looks through the notes.ini import (import 1) or export filter entries for
 * the file name's extension (the whole name when wholeName is 1); on a hit
 * copies the filter's library and format names out (each at least 256
 * bytes) and returns 1, else 0. */
DWORD DetermineImportExportDLL(LSXLsiSession* session, char* fileName, char* library, char* format,
                               DWORD import, DWORD wholeName);

/* Runs the import filter's library on the file and writes the path of the
 * CD file it leaves into cdPath (at least 1024 bytes); 0 on success. */
STATUS ImportFile(generation_context* context, const char* path, const char* library,
                  const char* format, char* cdPath, WORD firstSetting, WORD secondSetting);

#endif
