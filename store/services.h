/*
 * Services of higher layers that the rich-text store calls: copying a whole
 * rich-text item (the chunk layer), turning a MIME item into rich text
 * (the export layer) and taking generated records into a running HTML
 * import (the import layer). Declared here once; each is defined by the
 * layer that owns it. Until a layer provides the real operation, its
 * definition reports that the operation is not available.
 */
#ifndef VELKO_STORE_SERVICES_H
#define VELKO_STORE_SERVICES_H

#include <stddef.h>

#include "velko/velko.h"

struct chunkdef_info;

/* ---- chunk definitions (the engine's parser) ---- */

/* Parses `text` into a new chain of clauses that the caller owns (free it
 * with DeleteChunkDefinitions). `previous` is the clause the new ones will
 * follow (or null); it is read for the Row and Column rule and not linked.
 * The upper-cased copy of the text is made in the session's first scratch
 * text. *simple (when given) becomes 1 when every clause is a Contains
 * clause with exactly one index that is not a range, else 0.
 *
 * Null when the text does not parse, is empty or longer than 4095
 * characters, or a clause lists more than 100 indexes (callers report
 * VELKO_ERR_BAD_ARGUMENT); *shortOfMemory (when given) becomes true when
 * the text could not be parsed for want of memory (callers report 263). */
chunkdef_info* ParseDefinition(LSXLsiSession* session, WORD unused, chunkdef_info* previous,
                               const char* text, DWORD* simple, bool* shortOfMemory = nullptr);

/* Writes the canonical text of `chain` ("Everything" for an empty chain)
 * into `out`. False, with `out` left empty, when the text does not fit in
 * outSize bytes with its NUL, or the chain holds what the text cannot
 * express: a match text holding ';' or all three quote characters, or more
 * than 100 indexes in a clause. */
bool CalculateDefinition(const chunkdef_info* chain, char* out, size_t outSize);

/* Target type of the chain's last clause (0 for an empty chain). */
WORD DefinitionTargetType(const chunkdef_info* chain);

/* Frees a chain of clauses with the texts they own. */
void DeleteChunkDefinitions(chunkdef_info* first);

/* ---- the chunk's private state (the chunk layer) ---- */

/* Gives the chunk a new clause chain (owned by the chunk from now on; null
 * for none) and its simple-definition flag; the old chain is freed. */
void SetChunkDefinitions(VelkoRTChunk* chunk, chunkdef_info* chain, DWORD simple);

/* ---- the chunk object (the chunk layer) ----
 *
 * The item makes its chunks and the session and the item delete the ones
 * still alive; design-element creation checks, removes and appends an
 * image chunk. These members of VelkoRTChunk (velko/velko.h) are defined
 * by the chunk layer:
 *   seam: VelkoRTChunk::VelkoRTChunk
 *   seam: VelkoRTChunk::~VelkoRTChunk
 *   seam: VelkoRTChunk::CleanupEventRetString
 *   seam: VelkoRTChunk::Exists
 *   seam: VelkoRTChunk::Remove
 *   seam: VelkoRTChunk::AppendGraphic
 */

/* ---- services of the chunk and export layers ---- */

/* Copies the whole body of `from` into the item of `to` and writes it as
 * that item's value. `previous` is a note holding the target item's values
 * as they were before the copy began (the caller's backup): once the new
 * value is written, the attachments and OLE objects that only those old
 * values named are removed (NULLHANDLE: none is). 0 on success; 1298
 * counts as success for the caller. On failure the caller puts the item's
 * old values back; what the copy attached is taken out again. */
STATUS CopyRTItem(VelkoRTItem* from, VelkoRTItem* to, int sameNote, NOTEHANDLE previous);

/* Turns the MIME item of the open note into a rich-text item of the same
 * name. The caller reads the item's data type again afterwards. */
STATUS ConvertFromMIMEBackend(VelkoRTItem* item, NOTEHANDLE note, const char* itemName,
                              const char* a, WORD aLength, const char* b, WORD bLength);

struct html_import_state;

/* While an HTML import runs, the record emitter hands every record here:
 * the import keeps a copy in its own record list. 0, or 263 when memory
 * runs out. */
STATUS CopyCDUpdatedToRec(void* record, WORD signature, DWORD length,
                          struct html_import_state* state);

/* ---- attachments (the export layer) ---- */

/* Copies the external file name of the note's attachment whose internal
 * name is `internalName` (compared without regard to case) into `name`
 * (room for MAXPATH bytes) and returns 0; the item-not-found status when
 * the note has no such attachment. */
STATUS ExternalFileNameFromInternal(NOTEHANDLE note, const char* internalName, char* name);

/* After the item's body has been committed to the note: removes from the
 * note the attachments and OLE objects of the item's released names that
 * no rich-text item of the note names any more, and forgets the names.
 * Failures are logged. */
void DetachReleasedAttachments(VelkoRTItem* item, NOTEHANDLE note);

/* ---- reading an item's stored values again (the engine) ---- */

/* Writes the checksum digits of the note's items of the name into out
 * (lengthDigits + 2 * sumDigits characters and a NUL): the last
 * lengthDigits decimal digits of the total value length of every item,
 * then the last sumDigits digits of the sum of their value bytes, then of
 * the first item's bytes weighted by (offset AND 127). Every field is '0'
 * digits first, and stays so when the first item cannot be read, whose
 * status is returned. */
STATUS CalculateCRC(NOTEHANDLE note, const char* itemName, char* out, WORD lengthDigits,
                    WORD sumDigits);

#endif
