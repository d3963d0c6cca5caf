/*
 * Services the chunk engine calls that belong to other layers or to engine
 * actions built later: the chunk layer's paragraph-style parser and chunk
 * append, the renderer's XML stream, the export layer's attachment removal,
 * and the action cases and chunk-edge work of the actions not built yet.
 *
 * Declared here once; each is defined by the folder that owns it (its
 * pending.cpp until the service is built), and until then reports that it
 * is not available (1028) and changes nothing.
 */
#ifndef VELKO_ENGINE_SERVICES_H
#define VELKO_ENGINE_SERVICES_H

#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "velko/velko.h"

struct chunk_process_state;
struct body_context;
struct chunk_record_output;
struct emitter_lane;
struct generation_context;
struct font_spec;
struct html_render_info;
struct paragraph_spec;
struct record_storage;

/* The status of a service that is not available yet. */
constexpr STATUS kServiceNotAvailable = 1028;

/* ---- the chunk layer ---- */

/* Parses a paragraph-style string (and the second string, may be null)
 * into a new paragraph spec for the item: a tracked block of the session
 * that the caller releases with VelkoDeallocatePtr. */
STATUS ParseParagraphString(VelkoRTItem* item, const char* text, const char* second,
                            paragraph_spec** spec);

/* Copies the records of the chunk (the part the state's append target
 * names) into the operation's output, with PABIDs from `base` on. */
STATUS AppendChunk(VelkoRTChunk* chunk, chunk_process_state* state, WORD base);

/* Writes the paragraph definition as text at `out` (an empty text on
 * entry, 4096 bytes of room): mode 0 a paragraph-style string, any other
 * mode attribute text; with omitDefaults the values a new definition has
 * are left out. */
void DumpParagraph(WORD mode, const _CDPABDEFEXT* definition, char* out, DWORD omitDefaults);

/* 1 when the definition meets the selection the paragraph spec holds (its
 * second entry, list masks and criteria), else 0. */
int MatchParagraphSpec(const _CDPABDEFEXT* definition, const paragraph_spec* spec);

/* Applies the parts a font spec gives (mask) to the font; a colour also
 * to *rgb and the colour flags to *colorFlags when they are given. */
STATUS ApplyFontOverride(FONTID* font, DWORD* rgb, WORD* colorFlags, const font_spec* spec,
                         const DWORD mask[7]);

/* Rewrites the definition (room for 92 bytes) with the new values of the
 * paragraph spec; setImplied is the operation's implied-properties switch. */
void ApplyParagraphSpec(paragraph_spec* spec, _CDPABDEFEXT* definition, DWORD setImplied);

/* 1 when the font passes the filter font spec (mask entries 0-6). */
int FontNotFiltered(const FONTID* font, const font_spec* spec, const DWORD mask[7]);

/* The same with the run's colour value (null: none) and the colour flags
 * tested too (mask entries 0-8). */
int FontNotFilteredExt(const FONTID* font, const COLOR_VALUE* color, const font_spec* spec,
                       const DWORD mask[9]);

/* Applies the font spec to the run's font and colour value (null: none);
 * *colorRecordNeeded when the run then needs a colour record (without a
 * colour value the font_spec's own colour value is filled for it),
 * *effectNeeded when its attributes hold an effect. */
STATUS ApplyFontOverrideExt(FONTID* font, COLOR_VALUE* color, DWORD* colorRecordNeeded,
                            DWORD* effectNeeded, font_spec* spec, const DWORD mask[9]);

/* Finds the pattern in the text (LMBCS, explicit lengths): the byte offset
 * of the first match or -1, the bytes it covers in *matchLength (may be
 * null). '*' and '?' are wildcards only with wildcards set; the
 * regular-expression flag is not read. */
int32_t SearchBuffer(const char* text, WORD textLength, const char* pattern, WORD patternLength,
                     BOOL wildcards, BOOL caseSensitive, BOOL accentSensitive, BOOL wordBoundaries,
                     BOOL regularExpression, WORD* matchLength, NLS_PINFO info);

/* Replaces every occurrence of the operation's search text (s2, p2) in the
 * text by its replacement (s1, p1; for action 2399 as many bytes as each
 * occurrence covers) under the chunk's search flags, the latest occurrence
 * left in the session's first scratch text. *newText is the new text, a
 * tracked block of the session (released with VelkoDeallocatePtr), or null
 * when nothing matched. A new text longer than capacity replaces nothing
 * and returns 20017, also set as the secondary status of the operation and
 * the chunk; 263 when memory cannot be had. */
STATUS ReplaceOperationText(const char* text, WORD length, chunk_process_state* state,
                            DWORD capacity, char** newText, DWORD* newLength);

/* ---- the renderer ---- */

/* Renders the records of the context from its first to its current record
 * as HTML; mode 0, 1 (deferred output) or 2 (the final flush). */
STATUS ProcessXMLStream(html_render_info* context, WORD beginSignature, WORD depth, WORD mode);

/* Maps equal paragraph definitions of the records to one id before
 * rendering. */
STATUS ConsolidateParagraphForXML(chunk_process_state* state, html_render_info* context);

/* Before the walk of a rendering (action 2419): the target type of the
 * last clause, the render-at-end flag when the operation has extra
 * clauses, and the lookup arrays of paragraph definitions and style names
 * from the item's records. */
STATUS PrepareXMLRendering(chunk_process_state* state, html_render_info* context,
                           DWORD hasExtraClauses);

/* After the walk of a rendering: when the context renders at the end, the
 * consolidation, the character set and replica information, and the final
 * ProcessXMLStream. 0 when there is nothing to render. */
STATUS FinishXMLRendering(chunk_process_state* state, html_render_info* context);

/* Inside the chunk of a rendering: the record becomes the context's
 * current record; the first one of the chunk is remembered. */
void MarkXMLRenderRecord(html_render_info* context, record_storage* record);

/* Where the chunk of a rendering closes: renders the chunk from its
 * remembered first record to the last record marked (consolidating
 * paragraph definitions first when the options ask for it), in mode 1
 * when the operation renders at the end, else 0; then forgets the first
 * record. 0 when no record was marked. */
STATUS RenderXMLChunk(chunk_process_state* state, html_render_info* context);

/* ---- the export layer ---- */

/* The size of the note's attachment whose internal name is `name` (same
 * length, compared without regard to case): with fromObject 0 the file
 * size the attachment records, else the size of its stored object. 546
 * when no attachment matches. */
STATUS FileSizeFromInternal(DBHANDLE db, NOTEHANDLE note, const char* name, DWORD* size,
                            DWORD fromObject);

/* Removes the attachments that the chunk's last target names. */
STATUS RemoveAttachmentsFromChunk(VelkoRTChunk* chunk, chunk_process_state* state);

/* Writes the image whose header is the node (the image segments after it)
 * to the named file; 1028 when the file cannot be written. */
STATUS GenerateGraphicFileFromCDRecords(LSXLsiSession* session, const char* fileName,
                                        const record_storage* header);

/* Emits GIF image records in place of the bitmap whose header is the node
 * (the bitmap's records after it). */
STATUS GenerateGIFRecordsFromBitmapRecords(chunk_process_state* state,
                                           const record_storage* header);

/* The external file name of the note's attachment of the internal name
 * into name (MAXPATH bytes): 0, or the item-not-found status when the note
 * has none of that name. */
STATUS ExternalFileNameFromInternal(NOTEHANDLE note, const char* internalName, char* name);

/* The names of the note's attachments, as ExternalFileNameFromInternal
 * finds them. */
STATUS ListAttachmentNames(NOTEHANDLE note, std::vector<std::string>* names);

/* The object ID of the note's attachment of the internal name (compared
 * without regard to case): 0, or the item-not-found status when the note
 * has none of that name. */
STATUS FileObjectFromInternal(NOTEHANDLE note, const char* name, DWORD* objectID);

/* ---- imports of files (the record generators' seams, generate/services.h) ---- */

/* Appends every record of a CD file to the output. */
STATUS AppendImportFile(const char* path, generation_context* context);
/* Finds the import filter of the file name's extension: 1 with its library
 * and format names, else 0. */
DWORD DetermineImportExportDLL(LSXLsiSession* session, char* fileName, char* library, char* format,
                               DWORD import, DWORD wholeName);
/* Converts the file with the filter into a CD file whose path it writes
 * into cdPath (1024 bytes). */
STATUS ImportFile(generation_context* context, const char* path, const char* library,
                  const char* format, char* cdPath, WORD firstSetting, WORD secondSetting);

/* ---- the import layer ---- */

/* The lines of a text file as paragraphs of at most lineLength characters. */
STATUS GenerateCDRecordsFromTextFile(const char* path, WORD lineLength,
                                     chunk_process_state* state);
/* The HTML of a file, of a text (length 0: up to its NUL), or of the item's
 * HTML-import body contexts, as records; options is the append's option
 * string. */
STATUS GenerateCDRecordsFromHTMLFile(const char* path, const char* options,
                                     chunk_process_state* state);
STATUS GenerateCDRecordsFromHTMLInline(const char* text, DWORD length, const char* options,
                                       chunk_process_state* state, DWORD first, DWORD second);
STATUS GenerateCDRecordsFromHTMLBodyContext(body_context* const contexts[2], const char* options,
                                            chunk_process_state* state);

/* ---- engine actions built later (engine/pending.cpp) ---- */

/* True for an action code whose case or chunk-edge work below is not built
 * yet; the driver refuses it with kServiceNotAvailable before the walk. */
bool ActionIsPending(WORD action);

/* The case of an action for one record of the open chunk. `output` starts
 * as the record itself; a case may change it (see chunk_record_output). 0
 * lets the frame emit the output; any other status ends the walk at once
 * (546: the answer is complete). */

/* Property queries and settings, sort keys and graphic properties. */
STATUS ProcessPropertyAction(const char* record, WORD signature, DWORD length,
                             chunk_record_output* output, chunk_process_state* state);
/* The property settings and sort keys among them (ProcessPropertyAction
 * hands them on). */
STATUS ProcessPropertySetAction(const char* record, WORD signature, DWORD length,
                                chunk_record_output* output, chunk_process_state* state);
/* The text run that starts at the record (a text record, text effect or
 * CDBEGIN of a text run), for the font actions: re-emitted with a font
 * change, split around a search text, or its font read into the third
 * scratch text (action 13, the part p1 names). */
STATUS ProcessTextStream(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state);
/* Queries of whole chunks (2304, 2305, 2407, 2414, 2421, 2436). */
STATUS ProcessQueryAction(const char* record, WORD signature, DWORD length,
                          chunk_record_output* output, chunk_process_state* state);
/* Link properties (2362). */
STATUS ProcessLinkPropertyAction(const char* record, WORD signature, DWORD length,
                                 chunk_record_output* output, chunk_process_state* state);
/* Text runs and fonts (2363, 2368, 2372, 2373). */
STATUS ProcessTextRunAction(const char* record, WORD signature, DWORD length,
                            chunk_record_output* output, chunk_process_state* state);
/* Paragraphs and cells (2364, 2405, 2406). */
STATUS ProcessParagraphAction(const char* record, WORD signature, DWORD length,
                              chunk_record_output* output, chunk_process_state* state);
/* Removals and other record actions (2366, 2367, 2389-2391, 2396, 2397,
 * 2447, 2807). */
STATUS ProcessRemovalAction(const char* record, WORD signature, DWORD length,
                            chunk_record_output* output, chunk_process_state* state);
/* Search and replace (2385, 2392, 2398, 2399, 2430). */
STATUS ProcessSearchAction(const char* record, WORD signature, DWORD length,
                           chunk_record_output* output, chunk_process_state* state);
/* Whether the replacements (2392, 2399) replace in text runs (their scope's
 * text flag). */
bool ReplacesInTextRuns(const chunk_process_state* state);

/* Text records the walk's lane may take: TextRunsMayStay tells whether the
 * action's case (ChangeFont, Highlight, HighlightText, ReplaceTextQuick
 * in text runs) may leave a text record that is a run of its own as it
 * is, change its FONTID alone, or split it around its matches into text
 * records that need no other record. For such a record, TextRunStays
 * returns 0 when the case builds it otherwise, or else how it is emitted
 * and what the case does besides: EmitLaneTextRun hands it (or its
 * pieces, with the last match kept) to the lane (as EmitLaneRecord, with
 * the changed FONTID when the case changes it), and PassTextRun does the
 * rest once the lane has taken it (marks the item modified, takes its
 * header as the default text header, keeps its text as the last match). */
bool TextRunsMayStay(const chunk_process_state* state);
BYTE TextRunStays(const record_storage* node, chunk_process_state* state);
STATUS EmitLaneTextRun(emitter_lane* lane, const record_storage* node, BYTE kind, BYTE stays,
                       chunk_process_state* state, bool* taken);
void PassTextRun(const record_storage* node, BYTE stays, chunk_process_state* state);
/* A record of a lasting input body (one the output takes over when the
 * operation succeeds) whose FONTID alone changes is emitted where it lies
 * and changed there: CopyWalkedTextHeader makes the current text header of
 * such a record as the walk met it, and RestoreLaneFonts, for an output
 * body that is discarded, gives the records their own FONTIDs back. */
void CopyWalkedTextHeader(const record_storage* text, chunk_process_state* state);
void RestoreLaneFonts(chunk_process_state* state);
/* Keyword and wiki links (2386, 2816). */
STATUS ProcessLinkMatchingAction(const char* record, WORD signature, DWORD length,
                                 chunk_record_output* output, chunk_process_state* state);
/* Whether keyword matching (2386) leaves the text run of the node as it
 * is, so that the walk's lane may take it: no envelope held, and no
 * keyword still looked for stands in its text. What it finds is kept for
 * the per-record step of the same record. */
bool LinkMatchingLeavesTextRun(const record_storage* node, chunk_process_state* state);
/* Table actions (2355, 2393, 2394, 2413, 2416, 2422, 2437); the wrapping
 * actions 2387 and 2388 have their work at the chunk's edges only. */
STATUS ProcessTableAction(const char* record, WORD signature, DWORD length,
                          chunk_record_output* output, chunk_process_state* state);

/* The appends of an action where the chunk opens or closes: records
 * inserted before the chunk or after it, imports and attachments. */
STATUS AppendAtChunkStart(const char* record, WORD signature, DWORD length,
                          chunk_process_state* state);
STATUS AppendAtChunkStop(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state);

/* The other work of an action where the chunk opens or closes: wrapping,
 * once-only records, rendering, property and sort work. */
STATUS EdgeWorkAtChunkStart(const char* record, WORD signature, DWORD length,
                            chunk_process_state* state);
STATUS EdgeWorkAtChunkStop(const char* record, WORD signature, DWORD length,
                           chunk_process_state* state);

/* Where the chunk of a removal closes: the begins of the structures it
 * dropped and did not close are written again, and after Remove the
 * paragraph after the removed range is mended. */
STATUS RemovalWorkAtChunkStop(const char* record, WORD signature, DWORD length,
                              chunk_process_state* state);

#endif
