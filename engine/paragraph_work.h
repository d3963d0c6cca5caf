/*
 * The work definition the paragraph-changing actions (ChangeParagraph and
 * the hide formula) rebuild a paragraph definition in, and the session's
 * list of saved definitions they renumber through: a definition saved
 * there keeps its place for the paragraphs outside the chunk, while the
 * chunk's paragraphs take the entry's new PABID.
 */
#ifndef VELKO_ENGINE_PARAGRAPH_WORK_H
#define VELKO_ENGINE_PARAGRAPH_WORK_H

#include "host/cdrecords.h"
#include "velko/host_types.h"

struct chunk_process_state;
struct chunk_record_output;

/* The state's work definition. */
_CDPABDEFEXT* Work(chunk_process_state* state);

/* True when the chunk is the whole item, whose definitions change in place. */
bool ChangesWholeItem(const chunk_process_state* state);

/* The table level of the walk, as an index of the per-level stores. */
DWORD WalkLevel(const chunk_process_state* state);

/* The new PABID of the saved entry at the index, into *id: above every
 * PABID the item had before the operation. One that would pass 65535 is
 * refused through the emitter (1027). */
STATUS NewIdOfEntry(chunk_process_state* state, int index, WORD* id);

/* The index of the saved definition of the PABID, or -1. */
int SavedIndex(const chunk_process_state* state, WORD id);

/* Copies the record into the work definition, zero-filled and cut to 92
 * bytes. */
void LoadWork(const char* record, DWORD length, chunk_process_state* state);

/* The definition in effect for paragraphs that refer to the PABID, into
 * the work definition: the walk's current one when it has that PABID,
 * else the last one of the PABID before the current record. */
void LoadDefinitionInEffect(WORD id, chunk_process_state* state);

/* Saves the work definition unchanged in the session's list and gives it
 * the new PABID of its entry (also the state's last new id). A full list
 * leaves it its PABID (and says so); a copy that cannot be had, or a new
 * PABID past 65535, ends the operation. */
STATUS SaveAndRenumber(chunk_process_state* state);

/* The reference record, with the PABID, as the step's output. */
void OutputReference(WORD id, chunk_record_output* output, chunk_process_state* state);

#endif
